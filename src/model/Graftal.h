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
    // The library gives a graftal another base name when two would share files.
    void setFileName(const QString &fileName) { baseFileName = fileName; }
    // The base name under which this graftal's files were last read or written; empty
    // for a graftal that was never on disk.
    const QString &storedFileName() const { return storedBaseName; }

    const QList<LevelPair> &levels() const { return levelList; }
    void addLevel();
    void setLevel(int index, const LevelPair &pair);
    QPixmap levelPreview(int index) const;
    QImage levelTexture(int index, const QSize &size) const;
    QImage levelMask(int index, const QSize &size) const;

    // Writes the parameter file and every level PNG, each file replaced only once its
    // new content is complete. On failure `error` names what could not be written.
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
    Graftal();
    static QPixmap blankLevelImage();

    unsigned int graftalId = 0;
    QString graftalName;
    QString baseFileName;
    QString storedBaseName;
    double size = 1.0;
    QList<LevelPair> levelList;
    std::unique_ptr<Logger> logger;
    std::unique_ptr<XmlConfig> config;
};
