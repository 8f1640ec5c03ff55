#include "GraftalVariation.h"

#include "SafeFile.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <cmath>

namespace {
const QString Format = QStringLiteral("tuftmill-variation");
constexpr int Version = 1;

struct Amount
{
    const char *key;
    double GraftalVariation::*member;
    double most;
};
// In the order the file is written.
const Amount Amounts[] = {{"size", &GraftalVariation::size, GraftalVariation::MaxSize},
                          {"width", &GraftalVariation::width, GraftalVariation::MaxWidth},
                          {"lean", &GraftalVariation::lean, GraftalVariation::MaxLean},
                          {"hue", &GraftalVariation::hue, GraftalVariation::MaxHue},
                          {"value", &GraftalVariation::value, GraftalVariation::MaxValue}};
} // namespace

QString GraftalVariation::fileName(const QString &base)
{
    return base + QStringLiteral(".variation.json");
}

QByteArray GraftalVariation::toJson() const
{
    // Written by hand, so that the keys come in a readable order.
    QByteArray json = "{\"format\": \"" + Format.toUtf8() + "\", \"version\": " +
                      QByteArray::number(Version);
    for (const Amount &a : Amounts)
        json += ", \"" + QByteArray(a.key) + "\": " +
                QByteArray::number(this->*a.member, 'g', QLocale::FloatingPointShortest);
    return json + "}\n";
}

GraftalVariation GraftalVariation::fromJson(const QByteArray &bytes, const QString &path,
                                            QStringList &notes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    const QJsonObject object = document.object();
    if (!document.isObject()) {
        notes.append(QStringLiteral("%1 is not a variation file (%2); the graftal's instances are "
                                    "drawn alike")
                         .arg(path, error.error == QJsonParseError::NoError
                                        ? QStringLiteral("no JSON object")
                                        : error.errorString()));
        return {};
    }
    if (object.value(QLatin1String("format")).toString() != Format ||
        object.value(QLatin1String("version")).toDouble() != Version) {
        notes.append(QStringLiteral("%1 is not a variation file of version %2 (its \"format\" "
                                    "or \"version\" differs); the graftal's instances are drawn "
                                    "alike")
                         .arg(path)
                         .arg(Version));
        return {};
    }
    GraftalVariation v;
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        const QString key = it.key();
        if (key == QLatin1String("format") || key == QLatin1String("version"))
            continue;
        const Amount *amount = nullptr;
        for (const Amount &a : Amounts)
            if (key == QLatin1String(a.key))
                amount = &a;
        if (!amount) {
            notes.append(QStringLiteral("%1: the key \"%2\" is not known and is ignored")
                             .arg(path, key));
            continue;
        }
        // A JSON number is finite already; the check keeps it so whatever reads it.
        const double x = it.value().toDouble(-1.0);
        if (!it.value().isDouble() || !std::isfinite(x) || x < 0.0 || x > amount->most) {
            notes.append(QStringLiteral("%1: \"%2\" must be a number from 0 to %3; it is ignored")
                             .arg(path, key)
                             .arg(amount->most));
            continue;
        }
        v.*(amount->member) = x;
    }
    return v;
}

GraftalVariation GraftalVariation::read(const QString &path, QStringList &notes)
{
    if (safefile::kindOf(path) == safefile::Kind::Missing)
        return {};
    QByteArray bytes;
    QString why;
    if (!safefile::read(path, MaxFileBytes, bytes, why)) {
        notes.append(why + QStringLiteral("; the graftal's instances are drawn alike"));
        return {};
    }
    return fromJson(bytes, path, notes);
}
