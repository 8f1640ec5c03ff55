#include "Graftal.h"

#include "Logger.h"
#include "XmlConfig.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
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
    g->modified = false;
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
    // The files a graftal was loaded from stay its own, whatever its name would make of
    // them: a copied parameter file or a name made unique earlier keeps its files.
    g->baseFileName = name;
    g->storedBaseName = name;
    g->storedName = g->graftalName;

    // Decoding dominates start-up, so the level images are decoded in parallel.
    struct Decoded
    {
        QPair<QImage, QImage> pair;
        QByteArray bytes;
        bool opened = false;
    };
    const QStringList files = levelFiles(name);
    const QList<Decoded> decoded = QtConcurrent::blockingMapped(files, [](const QString &file) {
        Decoded d;
        QFile in(inDirectory(file));
        d.opened = in.open(QIODevice::ReadOnly);
        if (d.opened)
            d.bytes = in.readAll();
        const QImage image = QImage::fromData(d.bytes);
        if (!image.isNull()) {
            d.pair = splitLevelImage(image);
            d.bytes.clear();
        }
        return d;
    });
    for (int i = 0; i < decoded.size(); ++i) {
        if (decoded[i].pair.first.isNull()) {
            // The level keeps its place, empty, and its file is left as it is.
            g->addLevel();
            LevelState &state = g->levelState.last();
            state.unreadableFile = files[i];
            state.unreadableBytes = decoded[i].bytes;
            state.bytesRead = decoded[i].opened;
            g->warnings.append(
                QStringLiteral("%1 could not be read: level %2 of \"%3\" is shown empty and "
                               "the file is kept as it is")
                    .arg(inDirectory(files[i]))
                    .arg(i + 1)
                    .arg(g->graftalName));
            g->logger->warn(g->warnings.last());
            continue;
        }
        g->levelList.append({QPixmap::fromImage(decoded[i].pair.first),
                             QPixmap::fromImage(decoded[i].pair.second)});
        g->levelState.append(LevelState());
    }
    if (g->levelList.isEmpty())
        g->addLevel();
    g->currentLevel = 0;
    g->texturesDirty = true;
    g->modified = false;
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
    modified = true;
}

void Graftal::setName(const QString &name)
{
    if (!graftalName.isEmpty() && graftalName == name)
        return;
    graftalName = name;
    config->setValue(QStringLiteral("name"), name);
    updateFileName();
    modified = true;
    emit nameChanged(this);
}

void Graftal::setBaseSize(double newSize)
{
    if (newSize == size)
        return;
    size = newSize;
    config->setValue(QStringLiteral("baseSize"), newSize);
    modified = true;
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
    levelState.append(LevelState());
    modified = true;
}

void Graftal::setLevel(int index, const LevelPair &pair)
{
    levelList[index].first = pair.first;
    levelList[index].second = pair.second;
    // Drawn on: the level's own image replaces whatever its file held.
    levelState[index] = LevelState();
    modified = true;
}

bool Graftal::renamedSinceStored() const
{
    return !storedBaseName.isEmpty() && graftalName != storedName;
}

bool Graftal::ownsBaseName(const QString &base) const
{
    return base == storedBaseName || earlierBaseNames.contains(base);
}

bool Graftal::hasUnsavedChanges() const
{
    return modified || storedBaseName.isEmpty() || renamedSinceStored() ||
           !earlierBaseNames.isEmpty();
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

bool Graftal::writeLevel(int index, const QString &file, QStringList &failures)
{
    const QString path = inDirectory(file);
    LevelState &state = levelState[index];
    QByteArray bytes;
    if (!state.unreadableFile.isEmpty()) {
        // Never drawn on since it failed to load: its file stays byte for byte, and
        // moves with the graftal.
        if (state.unreadableFile == file)
            return true;
        if (!state.bytesRead) {
            failures.append(QStringLiteral("%1: the unreadable level file %2 could not be copied")
                                .arg(path, inDirectory(state.unreadableFile)));
            return false;
        }
        bytes = state.unreadableBytes;
    } else {
        QImage image = transparentImage(2 * LevelSide, LevelSide);
        {
            QPainter p(&image);
            p.drawPixmap(0, 0, levelList[index].first);
            p.drawPixmap(LevelSide, 0, levelList[index].second);
        }
        QBuffer buffer(&bytes);
        if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) {
            failures.append(QStringLiteral("%1: the image could not be encoded").arg(path));
            return false;
        }
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
        failures.append(QStringLiteral("%1: %2").arg(path, out.errorString()));
        return false;
    }
    if (!state.unreadableFile.isEmpty())
        state.unreadableFile = file;
    return true;
}

void Graftal::removeFiles(const QStringList &files, QStringList &failures) const
{
    for (const QString &file : files) {
        QFile f(inDirectory(file));
        if (f.exists() && !f.remove())
            failures.append(QStringLiteral("%1 could not be removed: %2")
                                .arg(inDirectory(file), f.errorString()));
    }
}

bool Graftal::save(QString *error)
{
    const QString target = baseFileName;
    // From here on the target holds this graftal's files, even if this save fails part
    // way: the next save goes to the same files instead of leaving these behind. Files
    // of an earlier name stay until a save under the new name is complete.
    if (!storedBaseName.isEmpty() && storedBaseName != target &&
        !earlierBaseNames.contains(storedBaseName))
        earlierBaseNames.append(storedBaseName);
    earlierBaseNames.removeAll(target);
    storedBaseName = target;
    storedName = graftalName;

    QStringList failures;
    QStringList levelNames;
    for (int i = 0; i < levelList.size(); ++i) {
        levelNames.append(levelFileName(target, i));
        writeLevel(i, levelNames.last(), failures);
    }
    // While the files of an earlier name are still complete, a parameter file under the
    // new name would make a second graftal appear at the next start: it is written only
    // once every level is.
    const QString xmlPath = inDirectory(target + QStringLiteral(".xml"));
    QString message;
    if (!failures.isEmpty() && !earlierBaseNames.isEmpty())
        failures.append(QStringLiteral("%1 was not written, so that the graftal stays on its "
                                       "earlier files")
                            .arg(xmlPath));
    else if (!config->save(xmlPath, &message))
        failures.append(message);

    if (failures.isEmpty()) {
        modified = false;
        // Every new file is written: the earlier name's files, and level files of this
        // name that no level uses any more, go.
        QStringList stale;
        for (const QString &file : levelFiles(target))
            if (!levelNames.contains(file))
                stale.append(file);
        for (const QString &base : std::as_const(earlierBaseNames))
            stale += QStringList{base + QStringLiteral(".xml")} + levelFiles(base);
        removeFiles(stale, failures);
        if (failures.isEmpty())
            earlierBaseNames.clear();
    }
    if (failures.isEmpty())
        return true;
    for (const QString &failure : failures)
        logger->error(
            QStringLiteral("could not save graftal \"%1\": %2").arg(graftalName, failure));
    if (error)
        *error = failures.join(QLatin1Char('\n'));
    return false;
}
