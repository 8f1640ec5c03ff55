#pragma once
// One run of the program as far as the graftal library is concerned, and what the tests
// of the library over many sessions compare: what is listed, what is on disk, the pixels.
#include "../support/TestSupport.h"
#include "Graftal.h"
#include "TreeManager.h"

#include <QMainWindow>
#include <QTreeWidget>

namespace testsupport {
const QString Samples = QStringLiteral(TUFTMILL_SOURCE_DIR "/examples/graftals");

// One run of the program, as far as the library is concerned.
struct LibrarySession
{
    QMainWindow window;
    QTreeWidget *tree = new QTreeWidget(&window);
    TreeManager library{tree};
    QStringList problems;

    LibrarySession()
    {
        window.setCentralWidget(tree);
        QObject::connect(&library, &TreeManager::problemReported, &library,
                         [this](const QString &message) { problems << message; });
        if (!library.loadAllGraftals())
            library.addGraftal();
    }
    void quit() { library.beforeQuitHook(); }
    QStringList listed() const
    {
        QStringList names;
        for (Graftal *g : library.listedGraftals())
            names << g->name();
        return names;
    }
    Graftal *graftal(const QString &name) const
    {
        for (Graftal *g : library.listedGraftals())
            if (g->name() == name)
                return g;
        return nullptr;
    }
    // A stroke of one colour over the whole current level, as the texture panel hands
    // it over.
    void draw(Graftal *g, int level, const QColor &colour)
    {
        g->currentLevel = level;
        g->setLevel(level, {testsupport::filledLevel(colour), testsupport::filledLevel(colour)});
        library.graftalPixmapChanged(g);
    }
    void rename(Graftal *g, const QString &name)
    {
        g->setName(name);
        library.graftalParametersChanged(g);
    }
};

inline QStringList onDisk()
{
    return QDir(Graftal::Directory).entryList(QDir::Files, QDir::Name);
}

// Same pixels, whatever format each image came in.
inline bool samePixels(const QImage &a, const QImage &b)
{
    const QImage x = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (x.size() != y.size())
        return false;
    for (int row = 0; row < x.height(); ++row)
        if (memcmp(x.constScanLine(row), y.constScanLine(row), size_t(x.bytesPerLine())) != 0)
            return false;
    return true;
}

inline QImage sampleTexture(int level)
{
    return Graftal::splitLevelImage(QImage(QStringLiteral("%1/Leaf_%2.png")
                                               .arg(Samples)
                                               .arg(level + 1, 3, 10, QLatin1Char('0'))))
        .first;
}

inline QColor colourOf(const Graftal *g, int level)
{
    return g->levels()[level].first.toImage().pixelColor(200, 200);
}

inline void copySample(const QString &base)
{
    QVERIFY(QDir().mkpath(Graftal::Directory));
    for (const QString &file : QDir(Samples).entryList({base + "*"}, QDir::Files))
        QVERIFY(QFile::copy(Samples + "/" + file, Graftal::Directory + "/" + file));
}

// The sample graftal "Leaf" stored under another base name.
inline void copyLeafAs(const QString &base)
{
    QVERIFY(QDir().mkpath(Graftal::Directory));
    for (const QString &file : QDir(Samples).entryList({"Leaf*"}, QDir::Files))
        QVERIFY(QFile::copy(Samples + "/" + file, Graftal::Directory + "/" + base + file.mid(4)));
}
} // namespace testsupport
