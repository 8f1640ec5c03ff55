#pragma once

#include <QDomDocument>
#include <QDomElement>
#include <QObject>
#include <QVariant>
#include <memory>

class Logger;

// A small persistent key/value store held as an XML document: one element per key
// under <config>, its type recorded in a "type" attribute so that values read back
// with the type they were stored with.
class XmlConfig : public QObject
{
    Q_OBJECT
public:
    // A store is a flat list of keys: documents nested deeper, or larger, are refused
    // before any tree is built.
    static constexpr int MaxDepth = 8;
    static constexpr qint64 MaxFileBytes = 1 << 20;

    // Reads fileName, or fallbackFileName when fileName does not exist. Either may be
    // a resource path. A missing file gives an empty store; a link or a special file
    // where a file was expected is refused like an unreadable one.
    XmlConfig(const QString &fileName, const QString &fallbackFileName);
    ~XmlConfig() override;

    QVariant value(const QString &key) const;
    // Whether the document has an element for `key`, and that element's text as stored
    // (before any conversion to the recorded type).
    bool contains(const QString &key) const;
    QString text(const QString &key) const;
    // The tag of the document element ("config" in every store this program writes);
    // empty when loading failed.
    QString rootTag() const { return root.tagName(); }
    void setValue(const QString &key, const QVariant &value);

    // Writes the whole document to fileName, replacing the file only once the new
    // content is complete. A store whose own file could not be read refuses to save,
    // so a damaged file is never overwritten with an empty document.
    bool save(const QString &fileName, QString *error = nullptr) const;

    bool valid() const { return isValid; }
    const QString &errorString() const { return error; }
    QString toString() const;

private:
    QDomElement element(const QString &key) const;

    std::unique_ptr<Logger> logger;
    bool isValid = true;
    QString error;
    QDomDocument document;
    QDomElement root;
};
