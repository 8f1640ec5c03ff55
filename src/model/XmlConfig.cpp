#include "XmlConfig.h"

#include "Logger.h"

#include <QFile>
#include <QSaveFile>
#include <QTextStream>

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

QVariant XmlConfig::value(const QString &key) const
{
    const QDomElement e = element(key);
    if (e.isNull())
        return {};
    const QString text = e.text();
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
    const QDomText text = document.createTextNode(value.toString());
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
