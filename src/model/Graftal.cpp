#include "Graftal.h"

#include "LevelMemory.h"
#include "Logger.h"
#include "SafeFile.h"
#include "XmlConfig.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QRegularExpression>
#include <QSet>
#include <QtConcurrent/QtConcurrentMap>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>

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

bool isRegularFile(const QString &file)
{
    return safefile::kindOf(inDirectory(file)) == safefile::Kind::Regular;
}

// A level image of the largest size stored without any compression is about 5 MB.
constexpr qint64 MaxLevelFileBytes = qint64(8) << 20;
// Level files up to this size are kept in memory as they are listed; larger ones are read
// again when they are used.
constexpr qint64 KeptAtListingBytes = qint64(1) << 20;

bool readLevelFile(const QString &path, QByteArray &bytes, QString &why)
{
    return safefile::read(path, MaxLevelFileBytes, bytes, why);
}

// Reads a level image's size from its header: larger images than a level can hold are
// refused before any pixel is decoded.
bool levelHeaderFits(QImageReader &reader, const QString &path, QString &why)
{
    const QSize size = reader.size();
    if (!size.isValid()) {
        why = QStringLiteral("%1 could not be read").arg(path);
        return false;
    }
    if (size.width() > Graftal::MaxLevelImageWidth ||
        size.height() > Graftal::MaxLevelImageHeight) {
        why = QStringLiteral("%1 is %2 x %3 pixels, larger than a level image can be (%4 x %5)")
                  .arg(path)
                  .arg(size.width())
                  .arg(size.height())
                  .arg(Graftal::MaxLevelImageWidth)
                  .arg(Graftal::MaxLevelImageHeight);
        return false;
    }
    return true;
}

bool levelImageFits(const QByteArray &bytes, const QString &path, QString &why)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return levelHeaderFits(reader, path, why);
}

QImage decodeLevelImage(const QByteArray &bytes, const QString &path, QString &why)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    if (!levelHeaderFits(reader, path, why))
        return QImage();
    QImage image = reader.read();
    if (image.isNull())
        why = QStringLiteral("%1 could not be read").arg(path);
    return image;
}

qint64 pixmapBytes(const QPixmap &pixmap)
{
    return pixmap.isNull() ? 0 : qint64(pixmap.width()) * pixmap.height() * 4;
}

// A level file is "<base>_<digits>.png"; anything else gives an empty number.
struct LevelFileName
{
    QString base;
    QStringView number; // the digits without leading zeros
};

bool parseLevelFileName(const QString &file, LevelFileName &parsed)
{
    if (!file.endsWith(QLatin1String(".png")))
        return false;
    const qsizetype end = file.size() - 4;
    qsizetype start = end;
    while (start > 0 && file[start - 1] >= QLatin1Char('0') && file[start - 1] <= QLatin1Char('9'))
        --start;
    if (start == end || start == 0 || file[start - 1] != QLatin1Char('_'))
        return false;
    parsed.base = file.left(start - 1);
    qsizetype first = start;
    while (first < end - 1 && file[first] == QLatin1Char('0'))
        ++first;
    parsed.number = QStringView(file).mid(first, end - first);
    return true;
}

// Level files in the order of their numbers, however many digits; files with the same
// number keep their given order.
void sortByNumber(QList<QPair<QStringView, QString>> &files)
{
    std::stable_sort(files.begin(), files.end(), [](const auto &a, const auto &b) {
        return a.first.size() != b.first.size() ? a.first.size() < b.first.size()
                                                : a.first < b.first;
    });
}

QStringList filesOf(const QList<QPair<QStringView, QString>> &numbered)
{
    QStringList files;
    files.reserve(numbered.size());
    for (const auto &entry : numbered)
        files.append(entry.second);
    return files;
}

// Moves a file within the graftal directory without ever replacing one that is there:
// one rename(2), so that at every instant exactly one of the two names exists.
bool moveFile(const QString &from, const QString &to, QString &why)
{
    const QByteArray source = QFile::encodeName(inDirectory(from));
    const QByteArray target = QFile::encodeName(inDirectory(to));
    int result =
        ::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE);
    if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without that flag: the library has made sure nothing is there.
        if (QFileInfo::exists(inDirectory(to))) {
            errno = EEXIST;
        } else {
            result = ::rename(source.constData(), target.constData());
        }
    }
    if (result == 0)
        return true;
    why = QStringLiteral("%1 could not be moved to %2: %3")
              .arg(inDirectory(from), inDirectory(to), QString::fromLocal8Bit(strerror(errno)));
    return false;
}

bool writeFile(const QString &file, const QByteArray &bytes, QStringList &failures)
{
    QString why;
    if (safefile::write(inDirectory(file), bytes, why))
        return true;
    failures.append(why);
    return false;
}

// Removes a regular file of the graftal directory; a link or a special file there is not
// ours and stays.
bool removeRegularFile(const QString &file, QString &why)
{
    QFile f(inDirectory(file));
    if (!isRegularFile(file) || f.remove())
        return true;
    why = QStringLiteral("%1 could not be removed: %2").arg(f.fileName(), f.errorString());
    return false;
}

bool samePixmap(const QPixmap &a, const QPixmap &b)
{
    if (a.cacheKey() == b.cacheKey())
        return true;
    if (a.size() != b.size())
        return false;
    const QImage x = a.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage y = b.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const size_t rowBytes = size_t(x.width()) * 4;
    for (int row = 0; row < x.height(); ++row)
        if (memcmp(x.constScanLine(row), y.constScanLine(row), rowBytes) != 0)
            return false;
    return true;
}
} // namespace

Graftal::Graftal() : logger(std::make_unique<Logger>(QStringLiteral("app.graftal"))) {}

Graftal::~Graftal()
{
    LevelMemory &memory = LevelMemory::instance();
    memory.forget(this);
    for (const LevelState &state : std::as_const(levelState))
        memory.releaseEncoded(state.fileBytes.size());
}

QPixmap Graftal::blankLevelImage()
{
    QPixmap pixmap(LevelSide, LevelSide);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

LevelPair Graftal::blankLevel()
{
    const QPixmap blank = blankLevelImage();
    return {blank, blank.copy()};
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
    return load(name, error, levelFiles(name));
}

std::unique_ptr<Graftal> Graftal::load(const QString &name, QString &error,
                                       const QStringList &files)
{
    std::unique_ptr<Graftal> g(new Graftal);
    const QString xmlPath = inDirectory(name + QStringLiteral(".xml"));
    g->config = std::make_unique<XmlConfig>(xmlPath, QString());
    XmlConfig &config = *g->config;
    if (!config.valid()) {
        error = config.errorString();
        g->warnings.append(
            QStringLiteral("%1 cannot be read and is left untouched: %2")
                .arg(xmlPath, QString(error).replace(QLatin1Char('\n'), QLatin1Char(' '))));
        g->logger->warn(g->warnings.last());
        return g;
    }
    const QString idKey = QStringLiteral("id"), nameKey = QStringLiteral("name");
    if (QFileInfo::exists(xmlPath) &&
        (config.rootTag() != QLatin1String("config") || !config.contains(nameKey))) {
        // Another program's file, or a fragment: neither listed nor ever written.
        error =
            QStringLiteral("%1 holds no graftal parameters (a name under <config>)").arg(xmlPath);
        g->logger->info(error + QStringLiteral(" and is left untouched"));
        return g;
    }
    bool idFits = false;
    const QString storedId = config.text(idKey);
    const unsigned int id = storedId.toUInt(&idFits);
    if (idFits || !config.contains(idKey)) {
        g->setId(idFits ? id : 0);
    } else {
        g->idUnusable = true;
        g->logger->warn(
            QStringLiteral("%1: the id \"%2\" is no id of 32 bits").arg(xmlPath, storedId));
    }
    g->setName(config.value(nameKey).toString());
    g->setBaseSize(config.value(QStringLiteral("baseSize")).toDouble());
    QStringList notes;
    g->varied = g->savedVariation =
        GraftalVariation::read(inDirectory(GraftalVariation::fileName(name)), notes);
    for (const QString &note : std::as_const(notes))
        g->logger->warn(note);
    g->warnings += notes;
    // The files a graftal was loaded from stay its own, whatever its name would make of
    // them: a copied parameter file or a name made unique earlier keeps its files.
    g->baseFileName = name;
    g->storedBaseName = name;
    g->storedName = g->graftalName;
    g->savedParameters = config.toString();

    // Only the headers are read now; the pixels when the levels are first used.
    QStringList readFiles = files.mid(0, MaxLevels);
    if (files.size() > MaxLevels) {
        g->warnings.append(QStringLiteral("\"%1\" has %2 level images; Tuftmill reads the first "
                                          "%3 and leaves the others as they are")
                               .arg(g->graftalName)
                               .arg(files.size())
                               .arg(MaxLevels));
        g->logger->warn(g->warnings.last());
    }
    for (const QString &file : std::as_const(readFiles))
        g->ownFiles.insert(file);
    // The files' bytes are kept (within a budget), so that a level decoded later, or
    // written again under another name, is what the file held when it was listed.
    struct Probe
    {
        QByteArray bytes;
        QString why;
    };
    const QList<Probe> probes = QtConcurrent::blockingMapped(readFiles, [](const QString &file) {
        Probe p;
        const QString path = inDirectory(file);
        QFile in;
        if (!safefile::open(path, MaxLevelFileBytes, in, p.why))
            return p;
        if (in.size() <= KeptAtListingBytes) {
            p.bytes = in.readAll();
            levelImageFits(p.bytes, path, p.why);
        } else {
            QImageReader reader(&in);
            levelHeaderFits(reader, path, p.why);
        }
        return p;
    });
    for (int i = 0; i < readFiles.size(); ++i) {
        g->appendLevel(LevelPair(), {readFiles[i], LevelPair(), false, false, {}});
        g->keepFileBytes(i, probes[i].bytes);
        if (!probes[i].why.isEmpty())
            g->markUnreadable(i, probes[i].why);
    }
    if (g->levelList.isEmpty())
        g->addLevel();
    g->currentLevel = 0;
    g->texturesDirty = true;
    return g;
}

void Graftal::markUnreadable(int index, const QString &why)
{
    // The level keeps its place, empty, and its file is left as it is.
    levelState[index].unreadable = true;
    warnings.append(
        QStringLiteral("%1: level %2 of \"%3\" is shown empty and the file is kept as it is")
            .arg(why)
            .arg(index + 1)
            .arg(graftalName));
    logger->warn(warnings.last());
}

bool Graftal::levelResident(int index) const
{
    return !levelList[index].first.isNull();
}

void Graftal::ensureLevels() const
{
    auto *self = const_cast<Graftal *>(this);
    QList<int> toDecode;
    for (int i = 0; i < levelList.size(); ++i) {
        if (levelResident(i))
            continue;
        const LevelState &state = levelState[i];
        if (state.file.isEmpty() || state.unreadable) {
            const LevelPair blank = blankLevel();
            self->levelList[i] = blank;
            self->levelState[i].saved = blank;
        } else {
            toDecode.append(i);
        }
    }
    if (!toDecode.isEmpty()) {
        struct Source
        {
            QString path;
            QByteArray bytes; // empty: read from the file now
        };
        QList<Source> sources;
        for (int i : std::as_const(toDecode))
            sources.append({inDirectory(levelState[i].file), levelState[i].fileBytes});
        // Several levels at once are decoded in parallel.
        struct Decoded
        {
            QImage image;
            QByteArray bytes;
            QString why;
        };
        const QList<Decoded> decoded =
            QtConcurrent::blockingMapped(sources, [](const Source &source) {
                Decoded d;
                d.bytes = source.bytes;
                if (d.bytes.isEmpty() && !readLevelFile(source.path, d.bytes, d.why))
                    return d;
                d.image = decodeLevelImage(d.bytes, source.path, d.why);
                return d;
            });
        for (int k = 0; k < toDecode.size(); ++k) {
            const int i = toDecode[k];
            LevelPair pair;
            if (decoded[k].image.isNull()) {
                // Changed or damaged since it was listed: shown empty, its file kept.
                pair = blankLevel();
                self->markUnreadable(i, decoded[k].why);
                emit self->problemFound(warnings.last());
            } else {
                const QPair<QImage, QImage> parts = splitLevelImage(decoded[k].image);
                pair = {QPixmap::fromImage(parts.first), QPixmap::fromImage(parts.second)};
                if (levelState[i].fileBytes.isEmpty())
                    self->keepFileBytes(i, decoded[k].bytes);
            }
            self->levelList[i] = pair;
            self->levelState[i].saved = pair;
        }
    }
    LevelMemory::instance().touch(self, residentBytes());
}

qint64 Graftal::residentBytes() const
{
    qint64 bytes = 0;
    for (const LevelPair &pair : levelList)
        bytes += pixmapBytes(pair.first) + pixmapBytes(pair.second);
    return bytes;
}

qint64 Graftal::releaseLevels()
{
    for (int i = 0; i < levelList.size(); ++i) {
        LevelState &state = levelState[i];
        // Unsaved drawing stays; everything else can be made again as it was: from its file's
        // bytes, or blank (a level never drawn on, or one whose file cannot be read).
        if (!state.changed && levelResident(i)) {
            levelList[i] = LevelPair();
            state.saved = LevelPair();
        }
    }
    return residentBytes();
}

const QList<LevelPair> &Graftal::levels() const
{
    ensureLevels();
    return levelList;
}

QPixmap Graftal::thumbnail() const
{
    if (!thumbnailImage.isNull() || thumbnailWaits())
        return thumbnailImage;
    const LevelPair pair = levelResident(0) ? levelList[0] : blankLevel();
    thumbnailImage = QPixmap::fromImage(
        previewOf(pair.first.toImage(), pair.second.toImage())
            .scaled(ThumbnailSide, ThumbnailSide, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    return thumbnailImage;
}

bool Graftal::firstLevelBlank() const
{
    const LevelState &first = levelState[0];
    return !levelResident(0) && (first.file.isEmpty() || first.unreadable);
}

bool Graftal::thumbnailWaits() const
{
    const LevelState &first = levelState[0];
    return thumbnailImage.isNull() && !levelResident(0) && !first.file.isEmpty() &&
           !first.unreadable;
}

QByteArray Graftal::thumbnailSource() const
{
    if (!thumbnailWaits())
        return QByteArray();
    const LevelState &first = levelState[0];
    QByteArray bytes = first.fileBytes;
    QString why;
    if (bytes.isEmpty())
        readLevelFile(inDirectory(first.file), bytes, why);
    return bytes;
}

QImage Graftal::thumbnailFrom(const QByteArray &bytes)
{
    QString why;
    const QImage image = decodeLevelImage(bytes, QString(), why);
    QPair<QImage, QImage> parts =
        image.isNull() ? QPair<QImage, QImage>(transparentImage(LevelSide, LevelSide),
                                               transparentImage(LevelSide, LevelSide))
                       : splitLevelImage(image);
    return previewOf(parts.first, parts.second)
        .scaled(ThumbnailSide, ThumbnailSide, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

void Graftal::setThumbnail(quint64 revision, const QImage &image)
{
    // Only while level 0 is still what the picture was made from.
    if (revision == levelZeroRevision && thumbnailWaits() && !image.isNull())
        thumbnailImage = QPixmap::fromImage(image);
}

void Graftal::keepFileBytes(int index, const QByteArray &bytes)
{
    LevelState &state = levelState[index];
    LevelMemory &memory = LevelMemory::instance();
    memory.releaseEncoded(state.fileBytes.size());
    state.fileBytes.clear();
    if (!bytes.isEmpty() && memory.reserveEncoded(bytes.size()))
        state.fileBytes = bytes;
}

QImage Graftal::previewOf(const QImage &texture, const QImage &mask)
{
    QImage preview = transparentImage(LevelSide, LevelSide);
    QPainter p(&preview);
    p.drawImage(0, 0, texture);
    p.setOpacity(0.5);
    p.drawImage(0, 0, mask);
    return preview;
}

QStringList Graftal::levelFiles(const QString &base)
{
    QList<QPair<QStringView, QString>> numbered;
    const QStringList entries =
        QDir(Directory).entryList(QDir::Files | QDir::NoSymLinks, QDir::Name);
    LevelFileName parsed;
    for (const QString &file : entries)
        if (parseLevelFileName(file, parsed) && parsed.base == base)
            numbered.append({parsed.number, file});
    sortByNumber(numbered);
    return filesOf(numbered);
}

QHash<QString, QStringList> Graftal::levelFilesByBase(const QStringList &fileNames)
{
    QHash<QString, QList<QPair<QStringView, QString>>> byBase;
    LevelFileName parsed;
    for (const QString &file : fileNames)
        if (parseLevelFileName(file, parsed))
            byBase[parsed.base].append({parsed.number, file});
    QHash<QString, QStringList> result;
    for (auto it = byBase.begin(); it != byBase.end(); ++it) {
        sortByNumber(it.value());
        result.insert(it.key(), filesOf(it.value()));
    }
    return result;
}

bool Graftal::writableBase(const QString &base, int levelCount)
{
    // A folder in the way makes the save fail, and says so; a link or a pipe a pack
    // brought along is stepped around.
    const auto writable = [](const QString &file) {
        const safefile::Kind kind = safefile::kindOf(inDirectory(file));
        return kind != safefile::Kind::Link &&
               (kind != safefile::Kind::Special || QFileInfo(inDirectory(file)).isDir());
    };
    if (!writable(base + QStringLiteral(".xml")) || !writable(GraftalVariation::fileName(base)))
        return false;
    for (int i = 0; i < levelCount; ++i)
        if (!writable(levelFileName(base, i)))
            return false;
    return true;
}

bool Graftal::levelNamesFit(const QString &base, int levelCount)
{
    constexpr qsizetype LongestFileName = 255; // bytes, on every common file system
    return QFile::encodeName(levelFileName(base, std::max(levelCount, 1) - 1)).size() <=
           LongestFileName;
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
    idUnusable = false;
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

QString Graftal::naturalBaseName(const QString &name)
{
    // A name without any letter or digit still gets a visible file name, and a very long
    // one a file name the file system can hold.
    constexpr int LongestBase = 200;
    const QString natural = fileNameFor(name).left(LongestBase);
    return natural.isEmpty() ? QStringLiteral("Unnamed") : natural;
}

void Graftal::updateFileName()
{
    baseFileName = fileNameFor(graftalName);
}

void Graftal::appendLevel(const LevelPair &pair, const LevelState &state)
{
    levelList.append(pair);
    levelState.append(state);
}

void Graftal::addLevel()
{
    // Never more levels than the next start reads back (nor over level files beyond them).
    if (levelCount() >= MaxLevels) {
        logger->warn(QStringLiteral("\"%1\" has %2 levels, as many as a graftal can have")
                         .arg(graftalName)
                         .arg(MaxLevels));
        return;
    }
    // Made blank when first used: a library of many graftals without images costs nothing.
    appendLevel(LevelPair(), {QString(), LevelPair(), false, false, {}});
}

void Graftal::levelZeroReplaced()
{
    thumbnailImage = QPixmap();
    ++levelZeroRevision;
}

bool Graftal::duplicateLevel(int index)
{
    if (index < 0 || index >= levelCount() || levelCount() >= MaxLevels)
        return false;
    ensureLevels();
    const LevelPair &source = levelList[index];
    // Not on disk yet and unlike the blank level its missing file stands for: kept in
    // memory (changed) until a save writes it.
    LevelState state;
    state.saved = blankLevel();
    state.changed = true;
    levelList.insert(index + 1, {source.first.copy(), source.second.copy()});
    levelState.insert(index + 1, state);
    arrangementChanged = true;
    LevelMemory::instance().touch(this, residentBytes());
    return true;
}

bool Graftal::removeLevel(int index)
{
    if (index < 0 || index >= levelCount() || levelCount() <= 1)
        return false;
    // The file stays among this graftal's own until a save no longer needs it.
    LevelMemory::instance().releaseEncoded(levelState[index].fileBytes.size());
    levelList.removeAt(index);
    levelState.removeAt(index);
    arrangementChanged = true;
    if (index == 0)
        levelZeroReplaced();
    currentLevel = std::min(currentLevel, levelCount() - 1);
    return true;
}

bool Graftal::moveLevel(int from, int to)
{
    if (from < 0 || from >= levelCount() || to < 0 || to >= levelCount() || from == to)
        return false;
    levelList.move(from, to);
    levelState.move(from, to);
    arrangementChanged = true;
    if (from == 0 || to == 0)
        levelZeroReplaced();
    return true;
}

std::unique_ptr<Graftal> Graftal::duplicate(int id, const QString &name) const
{
    std::unique_ptr<Graftal> copy = create(id, name);
    copy->setBaseSize(size);
    copy->varied = varied;
    const QList<LevelPair> &source = levels();
    copy->setLevel(0, {source[0].first.copy(), source[0].second.copy()});
    for (int i = 1; i < source.size(); ++i)
        copy->duplicateLevel(i - 1);
    for (int i = 1; i < source.size(); ++i)
        copy->setLevel(i, {source[i].first.copy(), source[i].second.copy()});
    return copy;
}

QStringList Graftal::storedFiles() const
{
    QStringList files;
    if (!storedBaseName.isEmpty() && isRegularFile(storedBaseName + QStringLiteral(".xml")))
        files << storedBaseName + QStringLiteral(".xml");
    if (!storedBaseName.isEmpty() && isRegularFile(GraftalVariation::fileName(storedBaseName)))
        files << GraftalVariation::fileName(storedBaseName);
    for (const QString &file : ownFiles)
        if (isRegularFile(file))
            files << file;
    return files;
}

QString Graftal::spareLevelFile(const QString &base) const
{
    for (int n = levelCount();; ++n) {
        const QString file = levelFileName(base, n);
        if (!ownFiles.contains(file) &&
            safefile::kindOf(inDirectory(file)) == safefile::Kind::Missing)
            return file;
    }
}

void Graftal::setLevel(int index, const LevelPair &pair)
{
    ensureLevels(); // what the file holds, to tell a change from an undo
    if (index == 0)
        levelZeroReplaced();
    levelList[index].first = pair.first;
    levelList[index].second = pair.second;
    // Changed unless drawn back (an undo) to what the level's file holds.
    LevelState &state = levelState[index];
    state.changed =
        !samePixmap(pair.first, state.saved.first) || !samePixmap(pair.second, state.saved.second);
}

QString Graftal::unreadableLevelFile(int index) const
{
    const LevelState &state = levelState[index];
    return state.unreadable && !state.changed ? state.file : QString();
}

bool Graftal::renamedSinceStored() const
{
    return !storedBaseName.isEmpty() && graftalName != storedName;
}

bool Graftal::ownsBaseName(const QString &base) const
{
    if (base == storedBaseName)
        return true;
    LevelFileName parsed;
    for (const QString &file : ownFiles)
        if (parseLevelFileName(file, parsed) && parsed.base == base)
            return true;
    return false;
}

void Graftal::adoptLeftovers(const QStringList &files)
{
    for (const QString &file : files)
        ownFiles.insert(file);
}

bool Graftal::hasLeftoverFiles() const
{
    QSet<QString> inUse;
    for (const LevelState &state : levelState)
        inUse.insert(state.file);
    return std::any_of(ownFiles.cbegin(), ownFiles.cend(),
                       [&](const QString &file) { return !inUse.contains(file); });
}

bool Graftal::hasUnsavedChanges() const
{
    if (storedBaseName.isEmpty() || renamedSinceStored() || arrangementChanged ||
        config->toString() != savedParameters || varied != savedVariation)
        return true;
    return std::any_of(levelState.cbegin(), levelState.cend(), [](const LevelState &state) {
        return state.changed || state.file.isEmpty();
    });
}

QPixmap Graftal::levelPreview(int index) const
{
    ensureLevels();
    QPixmap preview = blankLevelImage();
    QPainter p(&preview);
    p.drawPixmap(0, 0, levelList[index].first);
    p.setOpacity(0.5);
    p.drawPixmap(0, 0, levelList[index].second);
    return preview;
}

QImage Graftal::levelTexture(int index, const QSize &side) const
{
    ensureLevels();
    return levelList[index].first.toImage().scaled(side, Qt::IgnoreAspectRatio,
                                                   Qt::SmoothTransformation);
}

QImage Graftal::levelMask(int index, const QSize &side) const
{
    ensureLevels();
    return levelList[index].second.toImage().scaled(side, Qt::IgnoreAspectRatio,
                                                    Qt::SmoothTransformation);
}

bool Graftal::levelBytes(int index, QByteArray &bytes, QStringList &failures) const
{
    const LevelState &state = levelState[index];
    if (!state.changed && !state.file.isEmpty()) {
        // Unchanged: the file's own bytes, whatever depth or size its image has.
        const QString path = inDirectory(state.file);
        QString why;
        if (!state.fileBytes.isEmpty()) {
            bytes = state.fileBytes;
            return true;
        }
        if (readLevelFile(path, bytes, why))
            return true;
        // The images in memory then; one let go from memory whose file is gone cannot be
        // written again, and is not written blank either.
        if (!levelResident(index) && !state.unreadable) {
            failures.append(
                QStringLiteral("level %1 could not be written again: %2").arg(index + 1).arg(why));
            return false;
        }
        if (state.unreadable && safefile::exists(path)) {
            failures.append(QStringLiteral("the unreadable level file %1 could not be copied: %2")
                                .arg(path, why));
            return false;
        }
    }
    if (!levelResident(index))
        ensureLevels();
    QImage image = transparentImage(2 * LevelSide, LevelSide);
    {
        QPainter p(&image);
        p.drawPixmap(0, 0, levelList[index].first);
        p.drawPixmap(LevelSide, 0, levelList[index].second);
    }
    bytes.clear();
    QBuffer buffer(&bytes);
    if (buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "PNG"))
        return true;
    failures.append(QStringLiteral("level %1: the image could not be encoded").arg(index + 1));
    return false;
}

void Graftal::removeFiles(const QStringList &files)
{
    for (const QString &file : files) {
        QFile f(inDirectory(file));
        // A link or a special file put in its place meanwhile is not this graftal's any more:
        // it stays, and is named.
        const safefile::Kind kind = safefile::kindOf(f.fileName());
        if (kind == safefile::Kind::Link || kind == safefile::Kind::Special) {
            ownFiles.remove(file);
            logger->warn(safefile::refusal(f.fileName(), kind));
            leftAlone.append(safefile::refusal(f.fileName(), kind));
            continue;
        }
        if (kind == safefile::Kind::Missing || f.remove()) {
            ownFiles.remove(file);
            continue;
        }
        // Still this graftal's: tried again at the next save, unless a level uses it by then.
        ownFiles.insert(file);
        logger->warn(QStringLiteral("%1 of \"%2\" could not be removed (tried again at the next "
                                    "save): %3")
                         .arg(f.fileName(), graftalName, f.errorString()));
    }
}

bool Graftal::save(QString *error)
{
    const QString target = baseFileName;
    const QString earlier = storedBaseName;
    const bool moving = !earlier.isEmpty() && earlier != target;
    const bool freshBase = moving || earlier.isEmpty();
    QStringList failures;

    // Every level whose file is not as it should be. All bytes are in hand before anything
    // is written: a level may move onto the file an odd numbering gave a later level.
    struct LevelWrite
    {
        int index;
        QString file;
        QByteArray bytes;
        bool written = false;
    };
    QList<LevelWrite> writes;
    for (int i = 0; i < levelList.size(); ++i) {
        const QString file = levelFileName(target, i);
        const LevelState &state = levelState[i];
        if (!state.changed && state.file == file && isRegularFile(file))
            continue;
        QByteArray bytes;
        if (levelBytes(i, bytes, failures))
            writes.append({i, file, bytes});
    }
    // A level moving down onto a lower number (levels loaded from "_002" on) takes the file
    // an earlier level is in: only once that level is safe in its own new file.
    QHash<QString, int> levelIn;
    for (int i = 0; i < levelState.size(); ++i)
        if (!levelState[i].file.isEmpty())
            levelIn.insert(levelState[i].file, i);
    QSet<int> safe;
    for (int i = 0; i < levelState.size(); ++i)
        safe.insert(i);
    for (const LevelWrite &w : std::as_const(writes))
        safe.remove(w.index);
    QStringList written;
    // Levels that trade places (reordered levels) wait for each other: in rounds, every
    // write whose file no unsaved level holds goes first; when only waiting writes are
    // left, the file of one waiting level another waits for is moved aside under a spare
    // name (one rename, its content unchanged), which frees its old name.
    QList<LevelWrite *> waiting;
    for (LevelWrite &w : writes)
        waiting.append(&w);
    while (!waiting.isEmpty()) {
        QList<LevelWrite *> blocked;
        for (LevelWrite *w : std::as_const(waiting)) {
            const int holder = levelIn.value(w->file, w->index);
            if (holder != w->index && !safe.contains(holder)) {
                blocked.append(w);
                continue;
            }
            if ((w->written = writeFile(w->file, w->bytes, failures))) {
                written.append(w->file);
                ownFiles.insert(w->file);
                safe.insert(w->index);
            }
        }
        if (blocked.size() == waiting.size()) {
            // Only within a ring of levels that trade places does a file step aside; a level
            // whose own write failed keeps its file, and those waiting for it are not written.
            QHash<int, LevelWrite *> waitingLevel;
            for (LevelWrite *b : std::as_const(blocked))
                waitingLevel.insert(b->index, b);
            LevelWrite *w = nullptr;
            for (LevelWrite *b : std::as_const(blocked)) {
                // Whether the chain of levels waiting for one another comes back to b.
                LevelWrite *next = waitingLevel.value(levelIn.value(b->file), nullptr);
                for (int steps = 0; next && next != b && steps < blocked.size(); ++steps)
                    next = waitingLevel.value(levelIn.value(next->file), nullptr);
                if (next == b) {
                    w = b;
                    break;
                }
            }
            const int holder = w ? levelIn.value(w->file) : -1;
            const QString spare = w ? spareLevelFile(target) : QString();
            QString why;
            if (!w || !moveFile(w->file, spare, why)) {
                for (const LevelWrite *b : std::as_const(blocked))
                    failures.append(
                        QStringLiteral("%1 was not written, so that level %2 keeps "
                                       "its only copy there%3")
                            .arg(inDirectory(b->file))
                            .arg(levelIn.value(b->file) + 1)
                            .arg(why.isEmpty() ? QString() : QStringLiteral(": ") + why));
                break;
            }
            ownFiles.remove(w->file);
            ownFiles.insert(spare);
            levelState[holder].file = spare;
            levelIn.remove(w->file);
            levelIn.insert(spare, holder);
        }
        waiting = blocked;
    }

    // The variation file goes with the level files, before the parameter file moves: a save
    // cut short leaves the graftal on its earlier files with its earlier variation.
    const GraftalVariation onEarlierFiles = savedVariation;
    if (failures.isEmpty())
        saveVariation(target, freshBase, failures);
    if (moving) {
        // The parameter file moves only once every level file under the new name is
        // complete; until then the graftal stays on its earlier files.
        QString why;
        const QString earlierXml = earlier + QStringLiteral(".xml");
        if (failures.isEmpty() && isRegularFile(earlierXml) &&
            !moveFile(earlierXml, target + QStringLiteral(".xml"), why))
            failures.append(why);
        if (!failures.isEmpty()) {
            removeFiles(written);
            QString kept;
            removeRegularFile(GraftalVariation::fileName(target), kept);
            savedVariation = onEarlierFiles;
            return finishSave(failures, error);
        }
        storedBaseName = target;
        why.clear();
        if (!removeRegularFile(GraftalVariation::fileName(earlier), why))
            logger->warn(why);
    }
    for (const LevelWrite &w : std::as_const(writes)) {
        if (!w.written)
            continue;
        LevelState &state = levelState[w.index];
        state.file = w.file;
        if (state.fileBytes != w.bytes)
            keepFileBytes(w.index, w.bytes);
        if (state.changed)
            state.unreadable = false;
        if (!state.unreadable)
            state.saved = levelList[w.index];
        state.changed = false;
    }

    // A graftal saved for the first time owns its base name from now on, even when
    // something below fails: the next save goes to the same files.
    const bool newBase = moving || storedBaseName.isEmpty();
    if (storedBaseName.isEmpty())
        storedBaseName = target;
    // Files of this graftal that no level uses any more (those of an earlier name, those of
    // levels that went), and on a base name new to it the level files no graftal had there
    // (left by a save that was cut short), which would otherwise join its levels. Files it
    // never had, such as a level image dropped in while the program runs, stay.
    QSet<QString> inUse;
    for (const LevelState &state : std::as_const(levelState))
        inUse.insert(state.file);
    QStringList stale;
    for (const QString &file : std::as_const(ownFiles))
        if (!inUse.contains(file))
            stale.append(file);
    if (newBase)
        for (const QString &file : levelFiles(target))
            if (!inUse.contains(file) && !ownFiles.contains(file))
                stale.append(file);
    removeFiles(stale);

    // The parameters last: a rename cut short before this point still names the earlier
    // name inside, by which the next start finds what is left of its files.
    const QString xmlFile = target + QStringLiteral(".xml");
    const QString parameters = config->toString();
    if (parameters != savedParameters || !isRegularFile(xmlFile)) {
        QString message;
        if (config->save(inDirectory(xmlFile), &message)) {
            savedParameters = parameters;
            storedName = graftalName;
        } else {
            failures.append(message);
        }
    }

    return finishSave(failures, error);
}

void Graftal::saveVariation(const QString &base, bool newBase, QStringList &failures)
{
    // A file that could not be read is left as it is until the variation is changed.
    const QString file = GraftalVariation::fileName(base);
    if (!newBase && varied == savedVariation && (varied.none() || isRegularFile(file)))
        return;
    QString why;
    if (varied.none() ? !removeRegularFile(file, why) : !writeFile(file, varied.toJson(), failures)) {
        if (!why.isEmpty())
            failures.append(why);
        return;
    }
    savedVariation = varied;
}

bool Graftal::finishSave(QStringList failures, QString *error)
{
    if (failures.isEmpty()) {
        arrangementChanged = false;
        return true;
    }
    for (const QString &failure : std::as_const(failures))
        logger->error(
            QStringLiteral("could not save graftal \"%1\": %2").arg(graftalName, failure));
    if (error)
        *error = failures.join(QLatin1Char('\n'));
    return false;
}
