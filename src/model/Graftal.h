#pragma once

#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPixmap>
#include <QSet>
#include <memory>

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

    const QList<LevelPair> &levels() const { return levelList; }
    void addLevel();
    void setLevel(int index, const LevelPair &pair);
    QPixmap levelPreview(int index) const;
    QImage levelTexture(int index, const QSize &size) const;
    QImage levelMask(int index, const QSize &size) const;

    // The file of a level whose image could not be read, or empty. Such a level shows
    // empty, and its file is kept as it is until the user draws on the level.
    QString unreadableLevelFile(int index) const;
    // What went wrong while loading, one line each (unreadable level images).
    const QStringList &loadWarnings() const { return warnings; }

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
    // Whether the file names of `levelCount` levels under `base` fit the file system.
    static bool levelNamesFit(const QString &base, int levelCount);
    // Cuts an 800 x 400 level image into texture and mask; whatever lies outside a
    // smaller image is transparent.
    static QPair<QImage, QImage> splitLevelImage(const QImage &image);

    bool texturesDirty = false;
    int currentLevel = 0;
    unsigned int textureIds[2] = {0, 0};

signals:
    void nameChanged(Graftal *g);

private:
    // Where a level is on disk and what that file shows.
    struct LevelState
    {
        QString file;            // holds the level as loaded or last saved; empty if none
        LevelPair saved;         // the images that file holds (blank when unreadable)
        bool unreadable = false; // the file could not be decoded and is kept as it is
        bool changed = false;    // the level's images differ from `saved`
    };

    Graftal();
    static QPixmap blankLevelImage();
    static LevelPair blankLevel();
    void appendLevel(const LevelPair &pair, const LevelState &state);
    bool levelBytes(int index, QByteArray &bytes, QStringList &failures) const;
    // Removes files; those that stay are remembered and tried again at the next save.
    void removeFiles(const QStringList &files);
    bool finishSave(QStringList failures, QString *error);

    unsigned int graftalId = 0;
    bool idUnusable = false;
    QString graftalName;
    QString baseFileName;
    QString storedBaseName;
    QString storedName;
    QString savedParameters;
    QSet<QString> ownFiles; // level files loaded or written, until they are removed
    double size = 1.0;
    QList<LevelPair> levelList;
    QList<LevelState> levelState;
    QStringList warnings;
    std::unique_ptr<Logger> logger;
    std::unique_ptr<XmlConfig> config;
};
