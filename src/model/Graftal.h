#pragma once

#include "GraftalVariation.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPixmap>
#include <QSet>
#include <memory>
#include <utility>

class Logger;
class XmlConfig;

// One level of detail: first the colour texture, second the mask, both 400 x 400.
using LevelPair = QPair<QPixmap, QPixmap>;

// One graftal: a named surface element with a base size and an ordered list of levels
// of detail. On disk it is "<fileName>.xml" with its parameters and one 800 x 400 PNG
// per level, "<fileName>_001.png", "<fileName>_002.png", ..., texture left, mask right,
// all in the directory "graftals".
class Graftal : public QObject
{
    Q_OBJECT
public:
    static constexpr int LevelSide = 400;
    // What is read of a graftal: level images up to twice a level file's size, and so
    // many levels; more is left on disk as it is.
    static constexpr int MaxLevelImageWidth = 1600;
    static constexpr int MaxLevelImageHeight = 800;
    static constexpr int MaxLevels = 64;
    // The side of the small picture of level 0 that lists of graftals show.
    static constexpr int ThumbnailSide = 160;
    static const QString Directory;

    // A new graftal with one blank level and the built-in default parameters.
    static std::unique_ptr<Graftal> create(int id, const QString &name);
    // The graftal stored under the file base name `name`. When its parameter file
    // cannot be read (unreadable, not well-formed XML, or no graftal's parameters at all)
    // `error` says why; such a graftal must not be listed or saved, so that the file
    // stays as it is.
    static std::unique_ptr<Graftal> load(const QString &name, QString &error);
    // The same with the graftal's level files already known (levelFilesByBase), so that
    // a library of many graftals reads its directory once.
    static std::unique_ptr<Graftal> load(const QString &name, QString &error,
                                         const QStringList &levelFiles);

    ~Graftal() override;

    unsigned int id() const { return graftalId; }
    const QString &name() const { return graftalName; }
    double baseSize() const { return size; }
    void setId(unsigned int id);
    void setName(const QString &name);
    void setBaseSize(double size);
    // How far its instances may differ from one another; kept in the file
    // GraftalVariation::fileName(base) beside the parameters, none when all is zero.
    const GraftalVariation &variation() const { return varied; }
    void setVariation(const GraftalVariation &variation) { varied = variation; }
    // The stored id was no id of 32 bits (too large, negative, not a number): the graftal
    // has id 0 until the library gives it a fresh one.
    bool storedIdUnusable() const { return idUnusable; }

    // The file-system form of the name: every character that is not an ASCII letter
    // or digit becomes "_".
    static QString fileNameFor(const QString &name);
    const QString &fileName() const { return baseFileName; }
    void updateFileName();
    // The base name a graftal of this name is stored under unless another has it: the
    // file-system form, at most 200 characters, "Unnamed" when nothing of it is left.
    static QString naturalBaseName(const QString &name);
    // The base name the next save writes under; the library chooses it so that no two
    // graftals share files.
    void setFileName(const QString &fileName) { baseFileName = fileName; }
    // The base name of this graftal's own files: the one its parameter file has (loaded
    // from, or moved to by a save). Empty for a graftal that was never on disk.
    const QString &storedFileName() const { return storedBaseName; }
    // True when the name differs from the one its own files were written with; the next
    // save then moves the graftal to files named after the new name.
    bool renamedSinceStored() const;
    // Whether files under that base name belong to this graftal: its own files, or files
    // of an earlier name that could not be removed yet.
    bool ownsBaseName(const QString &base) const;
    // Takes level files left without a parameter file by an earlier name of this graftal
    // (a rename cut short): they are removed at its next save.
    void adoptLeftovers(const QStringList &files);
    // Files of this graftal no level uses that are still on disk (a removal failed, or
    // adopted leftovers): the next save removes them.
    bool hasLeftoverFiles() const;
    // The parameters, a level or the name changed since the graftal was loaded or last
    // saved, or it is not on disk yet. A level drawn on and undone to what its file
    // holds is unchanged.
    bool hasUnsavedChanges() const;

    // The levels' images, decoded from their files if they are not in memory. Decoded
    // images are let go again when other graftals need the memory (LevelMemory).
    const QList<LevelPair> &levels() const;
    int levelCount() const { return int(levelList.size()); }
    // Lets go of every level image that can be decoded or made again; returns what the
    // images still in memory take.
    qint64 releaseLevels();
    qint64 residentBytes() const;

    // Level 0 as lists of graftals show it, ThumbnailSide wide. Null while it waits for
    // its file to be decoded: thumbnailFrom(thumbnailSource()) does that on any thread, and
    // setThumbnail takes the result, unless level 0 changed since (thumbnailRevision).
    QPixmap thumbnail() const;
    // Level 0 is blank and not drawn on yet: lists may show one shared empty picture.
    bool firstLevelBlank() const;
    QByteArray thumbnailSource() const;
    quint64 thumbnailRevision() const { return levelZeroRevision; }
    static QImage thumbnailFrom(const QByteArray &levelFileBytes);
    void setThumbnail(quint64 revision, const QImage &image);
    // Adds a blank level, up to MaxLevels.
    void addLevel();
    void setLevel(int index, const LevelPair &pair);
    // Inserts a copy of level `index` after it (up to MaxLevels); false when none is made.
    bool duplicateLevel(int index);
    // Takes level `index` out; a graftal keeps at least one level. Its file goes at the
    // next save, once the other levels are written.
    bool removeLevel(int index);
    // Moves level `from` to the place `to`, the others closing up; the files follow at the
    // next save.
    bool moveLevel(int from, int to);
    // A new graftal with this one's base size, variation and a copy of every level, not on
    // disk yet.
    std::unique_ptr<Graftal> duplicate(int id, const QString &name) const;
    // The files on disk that hold this graftal: its parameter file, level files and
    // variation file.
    QStringList storedFiles() const;
    QPixmap levelPreview(int index) const;
    QImage levelTexture(int index, const QSize &size) const;
    QImage levelMask(int index, const QSize &size) const;

    // The file of a level whose image could not be read, or empty. Such a level shows
    // empty, and its file is kept as it is until the user draws on the level.
    QString unreadableLevelFile(int index) const;
    // What went wrong while loading, one line each (unreadable level images).
    const QStringList &loadWarnings() const { return warnings; }
    // The files a save found replaced by a link or a special file where one of this
    // graftal's old files stood, and left alone; one line each, since the last call.
    QStringList takeLeftAlone() { return std::exchange(leftAlone, {}); }

    // Writes what is not on disk as it is in memory: changed and new levels, level files
    // that are missing or must move, and the parameter file; files nobody changed stay
    // byte for byte. Each file is replaced only once its new content is complete. A save
    // under a new base name writes every level file first, then moves the parameter file
    // (so that the graftal never has two), then updates its content and removes the files
    // of the earlier name; when a level file cannot be written the graftal stays on its
    // earlier files. On failure `error` names what could not be written.
    bool save(QString *error = nullptr);

    // The level files of base name `base` in the graftal directory: exactly the names
    // "<base>_<digits>.png", in numeric order.
    static QStringList levelFiles(const QString &base);
    // The level files among `fileNames` by their base name, each list in numeric order.
    static QHash<QString, QStringList> levelFilesByBase(const QStringList &fileNames);
    // Whether no symbolic link, pipe or device stands under the names a save of
    // `levelCount` levels under `base` writes: a graftal whose names are taken by such
    // goes to files of another name.
    static bool writableBase(const QString &base, int levelCount);
    // Whether the file names of `levelCount` levels under `base` fit the file system.
    static bool levelNamesFit(const QString &base, int levelCount);
    // Cuts an 800 x 400 level image into texture and mask; whatever lies outside a
    // smaller image is transparent.
    static QPair<QImage, QImage> splitLevelImage(const QImage &image);

    bool texturesDirty = false;
    int currentLevel = 0;

signals:
    void nameChanged(Graftal *g);
    // A level image turned out unreadable when it was decoded.
    void problemFound(const QString &message);

private:
    // Where a level is on disk and what that file shows.
    struct LevelState
    {
        QString file;            // holds the level as loaded or last saved; empty if none
        LevelPair saved;         // the images that file holds (blank when unreadable)
        bool unreadable = false; // the file could not be decoded and is kept as it is
        bool changed = false;    // the level's images differ from `saved`
        QByteArray fileBytes;    // what `file` holds, when kept (LevelMemory's budget)
    };

    Graftal();
    static QPixmap blankLevelImage();
    static LevelPair blankLevel();
    void appendLevel(const LevelPair &pair, const LevelState &state);
    bool levelResident(int index) const;
    bool thumbnailWaits() const;
    void keepFileBytes(int index, const QByteArray &bytes);
    void ensureLevels() const;
    void markUnreadable(int index, const QString &why);
    static QImage previewOf(const QImage &texture, const QImage &mask);
    bool levelBytes(int index, QByteArray &bytes, QStringList &failures) const;
    // Removes files; those that stay are remembered and tried again at the next save.
    void removeFiles(const QStringList &files);
    bool finishSave(QStringList failures, QString *error);
    // Level 0 is another picture now: the thumbnail is made again.
    void levelZeroReplaced();
    // The variation file under `base` as the variation is now: written, or removed when
    // there is no variation. Only when it may differ from what is there.
    void saveVariation(const QString &base, bool newBase, QStringList &failures);
    // A free level file name under `base` beyond every level, for a file that must step
    // aside during a save.
    QString spareLevelFile(const QString &base) const;

    unsigned int graftalId = 0;
    bool idUnusable = false;
    QString graftalName;
    QString baseFileName;
    QString storedBaseName;
    QString storedName;
    QString savedParameters;
    QSet<QString> ownFiles; // level files loaded or written, until they are removed
    QStringList leftAlone;
    double size = 1.0;
    GraftalVariation varied;
    GraftalVariation savedVariation; // what the variation file under storedBaseName holds
    // A level whose images are null is not decoded at the moment (levelResident).
    QList<LevelPair> levelList;
    QList<LevelState> levelState;
    mutable QPixmap thumbnailImage;
    quint64 levelZeroRevision = 0;
    // Levels were duplicated, removed or moved since the last complete save.
    bool arrangementChanged = false;
    QStringList warnings;
    std::unique_ptr<Logger> logger;
    std::unique_ptr<XmlConfig> config;
};
