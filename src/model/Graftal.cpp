#include "Graftal.h"

#include "Logger.h"
#include "XmlConfig.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QRegularExpression>
#include <QSaveFile>
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
    return QFileInfo(inDirectory(file)).isFile();
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
    QSaveFile out(inDirectory(file));
    if (out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.commit())
        return true;
    failures.append(QStringLiteral("%1: %2").arg(inDirectory(file), out.errorString()));
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

Graftal::~Graftal() = default;

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
        g->logger->warn(
            QStringLiteral("%1 cannot be read and is left untouched: %2")
                .arg(xmlPath, QString(error).replace(QLatin1Char('\n'), QLatin1Char(' '))));
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
    // The files a graftal was loaded from stay its own, whatever its name would make of
    // them: a copied parameter file or a name made unique earlier keeps its files.
    g->baseFileName = name;
    g->storedBaseName = name;
    g->storedName = g->graftalName;
    g->savedParameters = config.toString();
    for (const QString &file : files)
        g->ownFiles.insert(file);

    // Decoding dominates start-up, so the level images are decoded in parallel.
    const QList<QImage> decoded = QtConcurrent::blockingMapped(
        files, [](const QString &file) { return QImage(inDirectory(file)); });
    for (int i = 0; i < decoded.size(); ++i) {
        if (decoded[i].isNull()) {
            // The level keeps its place, empty, and its file is left as it is.
            const LevelPair blank = blankLevel();
            g->appendLevel(blank, {files[i], blank, true, false});
            g->warnings.append(
                QStringLiteral("%1 could not be read: level %2 of \"%3\" is shown empty and "
                               "the file is kept as it is")
                    .arg(inDirectory(files[i]))
                    .arg(i + 1)
                    .arg(g->graftalName));
            g->logger->warn(g->warnings.last());
            continue;
        }
        const QPair<QImage, QImage> parts = splitLevelImage(decoded[i]);
        const LevelPair pair{QPixmap::fromImage(parts.first), QPixmap::fromImage(parts.second)};
        g->appendLevel(pair, {files[i], pair, false, false});
    }
    if (g->levelList.isEmpty())
        g->addLevel();
    g->currentLevel = 0;
    g->texturesDirty = true;
    return g;
}

QStringList Graftal::levelFiles(const QString &base)
{
    QList<QPair<QStringView, QString>> numbered;
    const QStringList entries = QDir(Directory).entryList(QDir::Files, QDir::Name);
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
    const LevelPair blank = blankLevel();
    appendLevel(blank, {QString(), blank, false, false});
}

void Graftal::setLevel(int index, const LevelPair &pair)
{
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
    if (storedBaseName.isEmpty() || renamedSinceStored() || config->toString() != savedParameters)
        return true;
    return std::any_of(levelState.cbegin(), levelState.cend(), [](const LevelState &state) {
        return state.changed || state.file.isEmpty();
    });
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

bool Graftal::levelBytes(int index, QByteArray &bytes, QStringList &failures) const
{
    const LevelState &state = levelState[index];
    if (!state.changed && !state.file.isEmpty()) {
        // Unchanged: the file's own bytes, whatever depth or size its image has.
        QFile in(inDirectory(state.file));
        if (in.open(QIODevice::ReadOnly)) {
            bytes = in.readAll();
            if (in.error() == QFileDevice::NoError)
                return true;
        }
        if (state.unreadable && QFileInfo::exists(in.fileName())) {
            failures.append(QStringLiteral("the unreadable level file %1 could not be copied: %2")
                                .arg(in.fileName(), in.errorString()));
            return false;
        }
    }
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
        if (!f.exists() || f.remove()) {
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
    for (LevelWrite &w : writes) {
        const int holder = levelIn.value(w.file, w.index);
        if (holder != w.index && !safe.contains(holder)) {
            failures.append(QStringLiteral("%1 was not written, so that level %2 keeps its only "
                                           "copy there")
                                .arg(inDirectory(w.file))
                                .arg(holder + 1));
            continue;
        }
        if ((w.written = writeFile(w.file, w.bytes, failures))) {
            written.append(w.file);
            ownFiles.insert(w.file);
            safe.insert(w.index);
        }
    }

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
            return finishSave(failures, error);
        }
        storedBaseName = target;
    }
    for (const LevelWrite &w : std::as_const(writes)) {
        if (!w.written)
            continue;
        LevelState &state = levelState[w.index];
        state.file = w.file;
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

bool Graftal::finishSave(QStringList failures, QString *error)
{
    if (failures.isEmpty())
        return true;
    for (const QString &failure : std::as_const(failures))
        logger->error(
            QStringLiteral("could not save graftal \"%1\": %2").arg(graftalName, failure));
    if (error)
        *error = failures.join(QLatin1Char('\n'));
    return false;
}
