#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPixmap>
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
    // cannot be read (unreadable, or not well-formed XML) `error` says why; such a
    // graftal must not be listed or saved, so that the damaged file stays as it is.
    static std::unique_ptr<Graftal> load(const QString &name, QString &error);

    ~Graftal() override;

    unsigned int id() const { return graftalId; }
    const QString &name() const { return graftalName; }
    double baseSize() const { return size; }
    void setId(unsigned int id);
    void setName(const QString &name);
    void setBaseSize(double size);

    // The file-system form of the name: every character that is not an ASCII letter
    // or digit becomes "_".
    static QString fileNameFor(const QString &name);
    const QString &fileName() const { return baseFileName; }
    void updateFileName();
    // The base name the next save writes under; the library chooses it so that no two
    // graftals share files.
    void setFileName(const QString &fileName) { baseFileName = fileName; }
    // The base name of this graftal's own files: the one it was loaded from, or the one
    // its last save wrote under (even a save that failed part way). Empty for a graftal
    // that was never on disk.
    const QString &storedFileName() const { return storedBaseName; }
    // True when the name differs from the one its own files were written with; the next
    // save then moves the graftal to files named after the new name.
    bool renamedSinceStored() const;
    // Whether files under that base name belong to this graftal: its own files, or those
    // of an earlier name that are removed once a save under the new name is complete.
    bool ownsBaseName(const QString &base) const;
    // Something changed since the last complete save, or the graftal is not on disk yet.
    bool hasUnsavedChanges() const;

    const QList<LevelPair> &levels() const { return levelList; }
    void addLevel();
    void setLevel(int index, const LevelPair &pair);
    QPixmap levelPreview(int index) const;
    QImage levelTexture(int index, const QSize &size) const;
    QImage levelMask(int index, const QSize &size) const;

    // The file of a level whose image could not be read, or empty. Such a level shows
    // empty, and its file is kept as it is until the user draws on the level.
    QString unreadableLevelFile(int index) const { return levelState[index].unreadableFile; }
    // What went wrong while loading, one line each (unreadable level images).
    const QStringList &loadWarnings() const { return warnings; }

    // Writes every level PNG and then the parameter file under fileName(), each file
    // replaced only once its new content is complete. When all of them were written the
    // files of an earlier name, and level files no level uses any more, are removed.
    // On failure `error` names what could not be written.
    bool save(QString *error = nullptr);

    // The level files of base name `base` in the graftal directory: exactly the names
    // "<base>_<digits>.png", in numeric order.
    static QStringList levelFiles(const QString &base);
    // Cuts an 800 x 400 level image into texture and mask; whatever lies outside a
    // smaller image is transparent.
    static QPair<QImage, QImage> splitLevelImage(const QImage &image);

    bool texturesDirty = false;
    int currentLevel = 0;
    unsigned int textureIds[2] = {0, 0};

signals:
    void nameChanged(Graftal *g);

private:
    // What a level's file holds when its image could not be decoded: the bytes are
    // written back unchanged wherever the level is saved, until the user draws on it.
    struct LevelState
    {
        QString unreadableFile;
        QByteArray unreadableBytes;
        bool bytesRead = false;
    };

    Graftal();
    static QPixmap blankLevelImage();
    bool writeLevel(int index, const QString &file, QStringList &failures);
    void removeFiles(const QStringList &files, QStringList &failures) const;

    unsigned int graftalId = 0;
    QString graftalName;
    QString baseFileName;
    QString storedBaseName;
    QString storedName;
    QStringList earlierBaseNames;
    bool modified = false;
    double size = 1.0;
    QList<LevelPair> levelList;
    QList<LevelState> levelState;
    QStringList warnings;
    std::unique_ptr<Logger> logger;
    std::unique_ptr<XmlConfig> config;
};
