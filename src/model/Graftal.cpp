#include "Graftal.h"

#include "Logger.h"
#include "XmlConfig.h"

#include <QDir>
#include <QPainter>
#include <QRegularExpression>
#include <QSaveFile>
#include <QtConcurrent/QtConcurrentMap>
#include <algorithm>

const QString Graftal::Directory = QStringLiteral("graftals");

namespace {
QString inDirectory(const QString &file)
{
    return Graftal::Directory + QLatin1Char('/') + file;
}

QString levelFileName(const QString &base, int index)
{
    return QStringLiteral("%1_%2.png").arg(base).arg(index + 1, 3, 10, QLatin1Char('0'));
}

QImage transparentImage(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}
} // namespace

Graftal::Graftal() : logger(std::make_unique<Logger>(QStringLiteral("app.graftal"))) {}

Graftal::~Graftal() = default;

QPixmap Graftal::blankLevelImage()
{
    QPixmap pixmap(LevelSide, LevelSide);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

std::unique_ptr<Graftal> Graftal::create(int id, const QString &name)
{
    std::unique_ptr<Graftal> g(new Graftal);
    g->addLevel();
    g->config = std::make_unique<XmlConfig>(QStringLiteral(":graftal_default.xml"), QString());
    g->currentLevel = 0;
    g->setId(static_cast<unsigned int>(id));
    g->setName(name);
    g->setBaseSize(g->config->value(QStringLiteral("baseSize")).toDouble());
    return g;
}

std::unique_ptr<Graftal> Graftal::load(const QString &name, QString &error)
{
    std::unique_ptr<Graftal> g(new Graftal);
    const QString xmlPath = inDirectory(name + QStringLiteral(".xml"));
    g->config = std::make_unique<XmlConfig>(xmlPath, QString());
    if (!g->config->valid()) {
        error = g->config->errorString();
        g->logger->warn(
            QStringLiteral("%1 cannot be read and is left untouched: %2")
                .arg(xmlPath, QString(error).replace(QLatin1Char('\n'), QLatin1Char(' '))));
        return g;
    }
    g->setId(g->config->value(QStringLiteral("id")).toUInt());
    g->setName(g->config->value(QStringLiteral("name")).toString());
    g->setBaseSize(g->config->value(QStringLiteral("baseSize")).toDouble());
    g->updateFileName();
    // Files written under a name made unique by the library stay this graftal's files.
    if (name != g->baseFileName && !g->baseFileName.isEmpty() &&
        QRegularExpression(
            QStringLiteral("^%1_\\d+$").arg(QRegularExpression::escape(g->baseFileName)))
            .match(name)
            .hasMatch())
        g->baseFileName = name;
    g->storedBaseName = name;

    // Decoding dominates start-up, so the level images are decoded in parallel.
    const QStringList files = levelFiles(name);
    const QList<QPair<QImage, QImage>> decoded =
        QtConcurrent::blockingMapped(files, [](const QString &file) {
            QImage image(inDirectory(file));
            if (image.isNull())
                return QPair<QImage, QImage>();
            return splitLevelImage(image);
        });
    for (int i = 0; i < decoded.size(); ++i) {
        if (decoded[i].first.isNull()) {
            g->logger->warn(
                QStringLiteral("%1 is not a readable image; skipped").arg(inDirectory(files[i])));
            continue;
        }
        g->levelList.append(
            {QPixmap::fromImage(decoded[i].first), QPixmap::fromImage(decoded[i].second)});
    }
    if (g->levelList.isEmpty())
        g->addLevel();
    g->currentLevel = 0;
    g->texturesDirty = true;
    return g;
}

QStringList Graftal::levelFiles(const QString &base)
{
    const QRegularExpression pattern(
        QStringLiteral("^%1_(\\d+)\\.png$").arg(QRegularExpression::escape(base)));
    const QStringList candidates =
        QDir(Directory).entryList({base + QStringLiteral("*.png")}, QDir::Files, QDir::Name);
    QList<QPair<qulonglong, QString>> numbered;
    for (const QString &file : candidates) {
        const QRegularExpressionMatch m = pattern.match(file);
        if (m.hasMatch())
            numbered.append({m.captured(1).toULongLong(), file});
    }
    std::stable_sort(numbered.begin(), numbered.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    QStringList result;
    for (const auto &entry : numbered)
        result.append(entry.second);
    return result;
}

QPair<QImage, QImage> Graftal::splitLevelImage(const QImage &image)
{
    const QRect textureRect(0, 0, LevelSide, LevelSide);
    const QRect maskRect(LevelSide, 0, LevelSide, LevelSide);
    const QRect whole = image.rect();
    auto cut = [&](const QRect &r) {
        if (whole.contains(r) && image.hasAlphaChannel())
            return image.copy(r);
        // Partly or wholly outside, or without alpha: paint what there is onto a
        // transparent square.
        QImage part = transparentImage(LevelSide, LevelSide);
        QPainter p(&part);
        p.drawImage(QPoint(0, 0), image, r);
        return part;
    };
    return {cut(textureRect), cut(maskRect)};
}

void Graftal::setId(unsigned int id)
{
    graftalId = id;
    config->setValue(QStringLiteral("id"), QVariant::fromValue(id));
}

void Graftal::setName(const QString &name)
{
    if (!graftalName.isEmpty() && graftalName == name)
        return;
    graftalName = name;
    config->setValue(QStringLiteral("name"), name);
    updateFileName();
    emit nameChanged(this);
}

void Graftal::setBaseSize(double newSize)
{
    if (newSize == size)
        return;
    size = newSize;
    config->setValue(QStringLiteral("baseSize"), newSize);
}

QString Graftal::fileNameFor(const QString &name)
{
    static const QRegularExpression notAlphanumeric(QStringLiteral("[^a-z0-9]"),
                                                    QRegularExpression::CaseInsensitiveOption);
    return QString(name).replace(notAlphanumeric, QStringLiteral("_"));
}

void Graftal::updateFileName()
{
    baseFileName = fileNameFor(graftalName);
}

void Graftal::addLevel()
{
    const QPixmap blank = blankLevelImage();
    levelList.append({blank, blank.copy()});
}

void Graftal::setLevel(int index, const LevelPair &pair)
{
    levelList[index].first = pair.first;
    levelList[index].second = pair.second;
}

QPixmap Graftal::levelPreview(int index) const
{
    QPixmap preview = blankLevelImage();
    QPainter p(&preview);
    p.drawPixmap(0, 0, levelList[index].first);
    p.setOpacity(0.5);
    p.drawPixmap(0, 0, levelList[index].second);
    return preview;
}

QImage Graftal::levelTexture(int index, const QSize &size) const
{
    return levelList[index].first.toImage().scaled(size, Qt::IgnoreAspectRatio,
                                                   Qt::SmoothTransformation);
}

QImage Graftal::levelMask(int index, const QSize &size) const
{
    return levelList[index].second.toImage().scaled(size, Qt::IgnoreAspectRatio,
                                                    Qt::SmoothTransformation);
}

bool Graftal::save(QString *error)
{
    QStringList failures;
    QString message;
    if (!config->save(inDirectory(baseFileName + QStringLiteral(".xml")), &message))
        failures.append(message);
    for (int i = 0; i < levelList.size(); ++i) {
        QImage image = transparentImage(2 * LevelSide, LevelSide);
        {
            QPainter p(&image);
            p.drawPixmap(0, 0, levelList[i].first);
            p.drawPixmap(LevelSide, 0, levelList[i].second);
        }
        const QString path = inDirectory(levelFileName(baseFileName, i));
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit())
            failures.append(QStringLiteral("%1: %2").arg(path, file.errorString()));
    }
    if (failures.isEmpty()) {
        storedBaseName = baseFileName;
        return true;
    }
    for (const QString &failure : failures)
        logger->error(
            QStringLiteral("could not save graftal \"%1\": %2").arg(graftalName, failure));
    if (error)
        *error = failures.join(QLatin1Char('\n'));
    return false;
}
