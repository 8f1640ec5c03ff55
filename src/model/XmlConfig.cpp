#include "XmlConfig.h"

#include "Logger.h"

#include <QFile>
#include <QSaveFile>
#include <QTextStream>
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
} // namespace

XmlConfig::XmlConfig(const QString &fileName, const QString &fallbackFileName)
    : logger(std::make_unique<Logger>(QStringLiteral("app.xmlconfig")))
{
    const QString chosen = QFile::exists(fileName) ? fileName : fallbackFileName;
    if (!chosen.isEmpty() && QFile::exists(chosen)) {
        QFile file(chosen);
        if (!file.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("Could not open %1 for reading").arg(chosen);
            isValid = false;
            return;
        }
        QString message;
        int line = 0, column = 0;
        if (!document.setContent(&file, false, &message, &line, &column)) {
            error = QStringLiteral("Message: %1\nLine: %2\nColumn: %3")
                        .arg(message)
                        .arg(line)
                        .arg(column);
            isValid = false;
            document = QDomDocument();
            return;
        }
    } else {
        document.setContent(QStringLiteral("<config></config>"));
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
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        if (errorOut)
            *errorOut = QStringLiteral("%1: %2").arg(fileName, file.errorString());
        return false;
    }
    {
        QTextStream stream(&file);
        document.save(stream, 2);
    }
    if (!file.commit()) {
        if (errorOut)
            *errorOut = QStringLiteral("%1: %2").arg(fileName, file.errorString());
        return false;
    }
    return true;
}
