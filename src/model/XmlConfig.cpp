#include "XmlConfig.h"

#include "Logger.h"
#include "SafeFile.h"

#include <QFile>
#include <QTextStream>
#include <QXmlStreamReader>
#include <algorithm>

namespace {
const QString EncodingAttribute = QStringLiteral("encoding");
const QString PercentEncoding = QStringLiteral("percent");

// Characters an XML 1.0 document cannot carry at all (control characters, the two
// non-characters, surrogates out of pair), and line breaks and tabs, which a reader
// folds or drops, make a value travel percent-encoded.
bool needsPercentEncoding(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x20 || c == 0xfffe || c == 0xffff)
            return true;
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() &&
            QChar::isLowSurrogate(text[i + 1].unicode())) {
            ++i;
            continue;
        }
        if (QChar::isSurrogate(c))
            return true;
    }
    return false;
}

// Text of nothing but blanks (of any kind: no-break, ideographic, line separators...) is
// dropped by the XML reader unless it stands in a CDATA section.
bool onlyBlanks(const QString &text)
{
    return !text.isEmpty() &&
           std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isSpace(); });
}
// Resource paths are the program's own; anything else is a file of the workspace, which
// may be a link or a special file standing where a store was expected.
bool present(const QString &path)
{
    if (path.isEmpty())
        return false;
    if (path.startsWith(QLatin1Char(':')))
        return QFile::exists(path);
    return safefile::exists(path);
}

bool readSource(const QString &path, QByteArray &bytes, QString &why)
{
    if (path.startsWith(QLatin1Char(':'))) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        bytes = file.readAll();
        return true;
    }
    return safefile::read(path, XmlConfig::MaxFileBytes, bytes, why);
}

// Whether no element of the document lies deeper than a store's elements can; the position
// of the first one that does otherwise. Malformed text is left to the parser's own message.
bool shallowEnough(const QByteArray &bytes, QString &message, int &line, int &column)
{
    QXmlStreamReader reader(bytes);
    int depth = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement && ++depth > XmlConfig::MaxDepth) {
            message = QStringLiteral("elements are nested deeper than %1 levels")
                          .arg(XmlConfig::MaxDepth);
            line = int(reader.lineNumber());
            column = int(reader.columnNumber());
            return false;
        }
        if (token == QXmlStreamReader::EndElement)
            --depth;
    }
    return true;
}
} // namespace

XmlConfig::XmlConfig(const QString &fileName, const QString &fallbackFileName)
    : logger(std::make_unique<Logger>(QStringLiteral("app.xmlconfig")))
{
    const QString chosen = present(fileName) ? fileName : fallbackFileName;
    if (chosen.isEmpty() || !present(chosen)) {
        document.setContent(QStringLiteral("<config></config>"));
        root = document.documentElement();
        return;
    }
    QByteArray bytes;
    QString why;
    if (!readSource(chosen, bytes, why)) {
        error = QStringLiteral("Could not open %1 for reading").arg(chosen);
        if (!why.isEmpty())
            error += QStringLiteral(" (%1)").arg(why);
        isValid = false;
        return;
    }
    QString message;
    int line = 0, column = 0;
    // The document tree is built only for a document of a store's shape: nesting beyond
    // that would only cost stack and time (a shared file may be made to exhaust both).
    if (!shallowEnough(bytes, message, line, column) ||
        !document.setContent(bytes, false, &message, &line, &column)) {
        error =
            QStringLiteral("Message: %1\nLine: %2\nColumn: %3").arg(message).arg(line).arg(column);
        isValid = false;
        document = QDomDocument();
        return;
    }
    root = document.documentElement();
}

XmlConfig::~XmlConfig() = default;

QDomElement XmlConfig::element(const QString &key) const
{
    if (root.isNull())
        return {};
    return root.firstChildElement(key);
}

bool XmlConfig::contains(const QString &key) const
{
    return !element(key).isNull();
}

QString XmlConfig::text(const QString &key) const
{
    const QDomElement e = element(key);
    if (e.attribute(EncodingAttribute) == PercentEncoding)
        return QString::fromUtf8(QByteArray::fromPercentEncoding(e.text().toLatin1()));
    return e.text();
}

QVariant XmlConfig::value(const QString &key) const
{
    const QDomElement e = element(key);
    if (e.isNull())
        return {};
    const QString text = this->text(key);
    const QString type = e.attribute(QStringLiteral("type"));
    if (text.isEmpty() || type.isEmpty())
        return {};
    QVariant v(text);
    v.convert(QMetaType(type.toInt()));
    return v;
}

void XmlConfig::setValue(const QString &key, const QVariant &value)
{
    if (root.isNull())
        return;
    QDomElement e = root.firstChildElement(key);
    if (e.isNull()) {
        e = document.createElement(key);
        root.appendChild(e);
    }
    e.setAttribute(QStringLiteral("type"), value.typeId());
    const QString plain = value.toString();
    QDomText text;
    if (needsPercentEncoding(plain)) {
        e.setAttribute(EncodingAttribute, PercentEncoding);
        text = document.createTextNode(QString::fromLatin1(plain.toUtf8().toPercentEncoding()));
    } else {
        e.removeAttribute(EncodingAttribute);
        text =
            onlyBlanks(plain) ? document.createCDATASection(plain) : document.createTextNode(plain);
    }
    if (e.firstChild().isText())
        e.replaceChild(text, e.firstChild());
    else
        e.appendChild(text);
}

QString XmlConfig::toString() const
{
    return document.toString(2);
}

bool XmlConfig::save(const QString &fileName, QString *errorOut) const
{
    if (!isValid) {
        if (errorOut)
            *errorOut = QStringLiteral("%1 was not saved because it could not be read: %2")
                            .arg(fileName, error);
        return false;
    }
    QByteArray bytes;
    {
        QTextStream stream(&bytes);
        document.save(stream, 2);
    }
    QString why;
    if (!safefile::write(fileName, bytes, why)) {
        if (errorOut)
            *errorOut = why;
        return false;
    }
    return true;
}
