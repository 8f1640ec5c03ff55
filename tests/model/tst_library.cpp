// The graftal library with odd files in its directory, saves killed at any instant, and
// what quitting must leave alone: sequences of real use across restarts, each stating
// what the user finds afterwards.
#include "../support/GlTestMain.h"
#include "../support/LibrarySession.h"
#include "../support/TestSupport.h"
#include "Graftal.h"
#include "GraftalPainter.h"
#include "LoggerOutput.h"
#include "TextureManager.h"
#include "TreeManager.h"
#include "Tuftmill.h"

#include <QAction>
#include <QMessageBox>
#include <QPainter>
#include <QTimer>
#include <cerrno>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <functional>

using namespace testsupport;
using Session = LibrarySession;

// Every removal and renaming of a file in this process passes through here, so that a
// test can refuse a removal (as a file system may) or keep the disk as a kill -9 at that
// instant would leave it; every directory entry read is counted.
namespace {
std::function<void(const char *)> beforeChange;
std::function<bool(const char *)> refuseRemoving;
qint64 entriesRead = 0;
template <typename Fn> Fn next(const char *name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}
} // namespace
extern "C" int unlink(const char *path)
{
    static const auto real = next<int (*)(const char *)>("unlink");
    if (refuseRemoving && refuseRemoving(path)) {
        errno = EBUSY;
        return -1;
    }
    if (beforeChange)
        beforeChange(path);
    return real(path);
}
extern "C" int rename(const char *from, const char *to)
{
    static const auto real = next<int (*)(const char *, const char *)>("rename");
    if (beforeChange)
        beforeChange(to);
    return real(from, to);
}
extern "C" int renameat2(int fromDir, const char *from, int toDir, const char *to,
                         unsigned int flags)
{
    static const auto real =
        next<int (*)(int, const char *, int, const char *, unsigned int)>("renameat2");
    if (beforeChange)
        beforeChange(to);
    return real(fromDir, from, toDir, to, flags);
}
extern "C" int linkat(int fromDir, const char *from, int toDir, const char *to, int flags)
{
    static const auto real = next<int (*)(int, const char *, int, const char *, int)>("linkat");
    if (beforeChange)
        beforeChange(to);
    return real(fromDir, from, toDir, to, flags);
}
extern "C" struct dirent64 *readdir64(DIR *dir)
{
    static const auto real = next<struct dirent64 *(*)(DIR *)>("readdir64");
    ++entriesRead;
    return real(dir);
}

namespace {
// Gives the parameter file of `base` (a copy of the sample, id 3) another id.
void setStoredId(const QString &base, int id)
{
    const QString path = Graftal::Directory + "/" + base + ".xml";
    QByteArray xml = readBytes(path);
    xml.replace("<id type=\"3\">3</id>",
                QByteArray("<id type=\"3\">") + QByteArray::number(id) + "</id>");
    QVERIFY(writeBytes(path, xml));
}
} // namespace

class TestLibrary : public QObject
{
    Q_OBJECT
private slots:
    void killedAtAnyStepOfARename();
    void baseNamesWithWildcardCharacters();
    void undoneStrokeOnAnUnreadableLevel();
    void xmlThatIsNoGraftalIsLeftAlone();
    void aCopyNeverTakesTheOriginalsId();
    void idsBeyondThirtyTwoBitsGetFreshOnes();
    void baseNameTooLongForItsLevelFiles();
    void autosaveWarningGoesOnceAllIsSaved();
    void untouchedLevelFilesSurviveQuitting_data();
    void untouchedLevelFilesSurviveQuitting();
    void filesThatCouldNotBeRemovedAreNeverRemovedOnceInUse_data();
    void filesThatCouldNotBeRemovedAreNeverRemovedOnceInUse();
    void levelFileAddedWhileRunningSurvivesASave();
    void copyOfAMadeUniqueGraftalNeverTakesItsId();
    void saveAllReadsTheDirectoryAFewTimesOnly();
    void closingWhileAGraftalCannotBeWrittenTellsTheArtist();
    void renameCutShortOnAMadeUniqueBaseLeavesOneSet();
    void renameCutShortKeepsTheIdAgainstACopy();
    void autosaveWarningGoesWhenOnlyARemovalFailed();
    void failedSaveKeepsALevelWhoseFileAnotherTook();
    void levelsRearrangedAcrossARestart_data();
    void levelsRearrangedAcrossARestart();
    void graftalsDuplicatedAndRemovedAcrossARestart();
    void cleanup()
    {
        beforeChange = nullptr;
        refuseRemoving = nullptr;
        TreeManager::destroyInstance();
    }
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

// "Leaf" renamed to "Moss" and saved by the autosave. Whatever instant a kill -9 strikes,
// the next start lists exactly one graftal, with its four levels; and once the artist has
// renamed it to "Moss" again and quit, the folder holds one set of its files, no more.
void TestLibrary::killedAtAnyStepOfARename()
{
    ScopedWorkDir work;
    copyLeafAs("Leaf");
    const GraftalVariation varied{0.25, 0.1, 20, 12, 0.3};
    QVERIFY(writeBytes("graftals/Leaf.variation.json", varied.toJson()));
    int instants = 0;
    const auto keep = [&] {
        const QString dir = QStringLiteral("at-kill/%1/graftals").arg(instants++);
        QDir().mkpath(dir);
        for (const QString &file : onDisk())
            QFile::copy("graftals/" + file, dir + "/" + file);
    };
    bool keeping = false;
    beforeChange = [&](const char *path) {
        const QString p = QString::fromLocal8Bit(path);
        if (keeping || !p.contains(QLatin1String("graftals/")) || p.contains("at-kill"))
            return;
        keeping = true; // copying the directory renames files of its own
        keep();
        keeping = false;
    };
    {
        Session s;
        s.rename(s.graftal("Leaf"), "Moss");
        s.library.autosave();
        beforeChange = nullptr;
        QVERIFY(!s.graftal("Moss")->hasUnsavedChanges());
    }
    keep(); // and after the save
    QVERIFY2(instants > 6, qPrintable(QString::number(instants)));
    const QString top = QDir::currentPath();
    for (int i = 0; i < instants; ++i) {
        QVERIFY(QDir::setCurrent(QStringLiteral("%1/at-kill/%2").arg(top).arg(i)));
        const QString left = onDisk().join(", ");
        {
            Session s;
            QVERIFY2(s.listed().size() == 1,
                     qPrintable(QStringLiteral("killed at step %1 of %2: %3 listed from %4")
                                    .arg(i)
                                    .arg(instants)
                                    .arg(s.listed().join(", "), left)));
            Graftal *g = s.library.listedGraftals().first();
            QCOMPARE(g->levels().size(), 4);
            QVERIFY(samePixels(g->levels()[3].first.toImage(), sampleTexture(3)));
            QCOMPARE(g->variation(), varied);
            QVERIFY(s.problems.isEmpty());
            s.rename(g, "Moss");
            s.quit();
        }
        TreeManager::destroyInstance();
        QVERIFY2(onDisk().filter(QRegularExpression("\\.png$")).size() == 4,
                 qPrintable(QStringLiteral("killed at step %1 (%2), renamed again: %3")
                                .arg(i)
                                .arg(left, onDisk().join(", "))));
    }
    QVERIFY(QDir::setCurrent(top));
}

// A graftal stored as "Leaf [old]" keeps its level images: they are shown and never
// written over with blank levels.
void TestLibrary::baseNamesWithWildcardCharacters()
{
    ScopedWorkDir work;
    copyLeafAs("Leaf [old]");
    copyLeafAs("Leaf*");
    const QByteArray first = readBytes("graftals/Leaf [old]_001.png");
    for (int run = 0; run < 2; ++run) {
        Session s;
        QCOMPARE(s.listed(), (QStringList{"Leaf", "Leaf"}));
        for (Graftal *g : s.library.listedGraftals())
            QCOMPARE(g->levels().size(), 4);
        s.quit();
    }
    QCOMPARE(readBytes("graftals/Leaf [old]_001.png"), first);
}

// Drawn on by accident and undone at once, a level whose file could not be read keeps
// that file byte for byte.
void TestLibrary::undoneStrokeOnAnUnreadableLevel()
{
    ScopedWorkDir work;
    copyLeafAs("Leaf");
    const QByteArray damaged = readBytes("graftals/Leaf_002.png").left(300);
    QVERIFY(writeBytes("graftals/Leaf_002.png", damaged));
    {
        Session s;
        Graftal *leaf = s.graftal("Leaf");
        TextureManager panel;
        panel.setupToolBar();
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        leaf->currentLevel = 1;
        panel.graftalSelected(leaf);
        QWidget *painter = panel.painter();
        QTest::mousePress(painter, Qt::LeftButton, {}, {100, 100});
        QTest::mouseMove(painter, {200, 100});
        QTest::mouseRelease(painter, Qt::LeftButton, {}, {200, 100});
        QVERIFY(leaf->hasUnsavedChanges());
        panel.action("Undo")->trigger();
        QCOMPARE(qAlpha(leaf->levels()[1].first.toImage().pixel(150, 100)), 0); // as loaded
        QVERIFY(!leaf->hasUnsavedChanges());
        s.quit();
    }
    QCOMPARE(readBytes("graftals/Leaf_002.png"), damaged);
}

// Another program's XML files in the graftal directory are neither listed nor written.
void TestLibrary::xmlThatIsNoGraftalIsLeftAlone()
{
    ScopedWorkDir work;
    copyLeafAs("Leaf");
    const QByteArray notes = "<notes>\n  <todo>bark texture</todo>\n</notes>\n";
    const QByteArray settings = "<config><colour>green</colour></config>\n";
    QVERIFY(writeBytes("graftals/notes.xml", notes));
    QVERIFY(writeBytes("graftals/settings.xml", settings));
    for (int run = 0; run < 2; ++run) {
        Session s;
        QCOMPARE(s.listed(), QStringList{"Leaf"});
        s.quit();
    }
    QCOMPARE(readBytes("graftals/notes.xml"), notes);
    QCOMPARE(readBytes("graftals/settings.xml"), settings);
    QCOMPARE(onDisk().filter("_001.png"), QStringList{"Leaf_001.png"});
}

// A scene painted with "Leaf" refers to it by id. After the artist copies Leaf.xml to
// start a variation, that id still leads to the original, whatever order the files
// are read in, and across restarts.
void TestLibrary::aCopyNeverTakesTheOriginalsId()
{
    ScopedWorkDir work;
    copyLeafAs("Leaf");
    unsigned int id = 0;
    {
        Session s;
        id = s.graftal("Leaf")->id();
    }
    QVERIFY(QFile::copy("graftals/Leaf.xml", "graftals/leaf_variation.xml"));
    QVERIFY(QFile::copy("graftals/Leaf.xml", "graftals/A_copy.xml"));
    for (int run = 0; run < 3; ++run) {
        Session s;
        QCOMPARE(s.library.listedGraftals().size(), 3);
        Graftal *original = s.library.graftalById(int(id));
        QVERIFY(original);
        QCOMPARE(original->fileName(), QStringLiteral("Leaf"));
        QSet<unsigned int> ids;
        for (Graftal *g : s.library.listedGraftals())
            ids.insert(g->id());
        QCOMPARE(ids.size(), 3);
        s.quit();
    }
}

// A stored id no 32 bits can hold gets a fresh one, kept from then on, rather than a
// cut-off number that may be another graftal's.
void TestLibrary::idsBeyondThirtyTwoBitsGetFreshOnes()
{
    ScopedWorkDir work;
    QDir().mkpath(Graftal::Directory);
    const auto store = [](const QString &name, const QString &id) {
        QVERIFY(writeBytes("graftals/" + name + ".xml",
                           QStringLiteral("<config><id type=\"3\">%1</id><name "
                                          "type=\"10\">%2</name></config>")
                               .arg(id, name)
                               .toUtf8()));
    };
    store("Zero", "0");
    store("Small", "1");
    store("Big", "4294967296");
    store("Bigger", "18446744073709551615");
    store("Negative", "-5");
    QHash<QString, unsigned int> given;
    for (int run = 0; run < 3; ++run) {
        Session s;
        QCOMPARE(s.listed().size(), 5);
        QSet<unsigned int> ids;
        for (Graftal *g : s.library.listedGraftals()) {
            ids.insert(g->id());
            QCOMPARE(s.library.graftalById(int(g->id())), g);
            if (run == 0)
                given[g->name()] = g->id();
            QCOMPARE(g->id(), given[g->name()]);
        }
        QCOMPARE(ids.size(), 5);
        QCOMPARE(given["Zero"], 0u);
        QCOMPARE(given["Small"], 1u);
        s.quit();
    }
}

// A graftal stored under a base name whose level files cannot be named (the parameter
// file's name fits, the level files' do not) keeps what is drawn on it across a restart.
void TestLibrary::baseNameTooLongForItsLevelFiles()
{
    ScopedWorkDir work;
    const QString base(250, QLatin1Char('L'));
    copyLeafAs(base.left(247)); // the samples' level files still fit
    QVERIFY(QFile::rename("graftals/" + base.left(247) + ".xml", "graftals/" + base + ".xml"));
    {
        Session s;
        Graftal *g = s.library.listedGraftals().first();
        s.draw(g, 0, Qt::red);
        s.quit();
    }
    Session s;
    QCOMPARE(s.library.listedGraftals().size(), 1);
    QCOMPARE(colourOf(s.library.listedGraftals().first(), 0), QColor(Qt::red));
}

// After a failed autosave the status line says changes are not on disk yet; once "Save
// all" has written everything, the line goes.
void TestLibrary::autosaveWarningGoesOnceAllIsSaved()
{
    ScopedWorkDir work;
    copyLeafAs("Leaf");
    Session s;
    QStringList told;
    connect(&s.library, &TreeManager::problemReported, this,
            [&](const QString &message) { told << message; });
    QVERIFY(QFile::remove("graftals/Leaf_003.png"));
    QVERIFY(QDir().mkdir("graftals/Leaf_003.png")); // in the way of level 3
    s.draw(s.graftal("Leaf"), 0, Qt::red);
    s.library.autosave();
    QCOMPARE(told.size(), 1);
    QVERIFY(told.last().startsWith("Autosave failed"));
    QVERIFY(QDir().rmdir("graftals/Leaf_003.png"));
    s.library.saveAllGraftals();
    QVERIFY(!s.graftal("Leaf")->hasUnsavedChanges());
    QCOMPARE(told.last(), QString());
}

void TestLibrary::untouchedLevelFilesSurviveQuitting_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("cut short at 90 %") << "truncated";
    QTest::newRow("twice the size, drawn elsewhere") << "large";
    QTest::newRow("sixteen bits per channel") << "deep";
}

// Level files nobody drew on are byte for byte what they were after quitting, while a
// level drawn on in the same graftal is written.
void TestLibrary::untouchedLevelFilesSurviveQuitting()
{
    QFETCH(QString, kind);
    ScopedWorkDir work;
    copyLeafAs("Leaf");
    const QString file = "graftals/Leaf_002.png";
    if (kind == "truncated") {
        const QByteArray whole = readBytes(file);
        QVERIFY(writeBytes(file, whole.left(whole.size() * 9 / 10)));
    } else {
        QImage big(kind == "large" ? QSize(1600, 800) : QSize(800, 400),
                   kind == "large" ? QImage::Format_ARGB32 : QImage::Format_RGBA64);
        big.fill(Qt::transparent);
        QPainter(&big).fillRect(QRect(QPoint(0, 0), big.size() / 2), Qt::darkGreen);
        QPainter(&big).fillRect(QRect(QPoint(big.width() / 2, 0), big.size() / 2), Qt::black);
        if (kind == "large")
            QPainter(&big).fillRect(QRect(400, 400, 300, 300), Qt::red); // beyond 800 x 400
        QFile::remove(file);
        QVERIFY(big.save(file));
    }
    const QByteArray before = readBytes(file);
    {
        Session s;
        s.draw(s.graftal("Leaf"), 2, Qt::yellow);
        s.quit();
    }
    QCOMPARE(readBytes(file), before);
    Session s;
    QCOMPARE(colourOf(s.graftal("Leaf"), 2), QColor(Qt::yellow));
}

void TestLibrary::filesThatCouldNotBeRemovedAreNeverRemovedOnceInUse_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("old files of a rename, then renamed back") << "back";
    QTest::newRow("new files of a failed rename, then renamed again") << "again";
}

// Removing files of "Leaf" fails once (the file system refuses); later saves write the
// graftal's levels to files of those very names. After a restart all four levels are there.
void TestLibrary::filesThatCouldNotBeRemovedAreNeverRemovedOnceInUse()
{
    QFETCH(QString, kind);
    ScopedWorkDir work;
    copyLeafAs("Leaf");
    const QString refused = kind == "back" ? "graftals/Leaf_" : "graftals/Oak_";
    refuseRemoving = [&](const char *path) {
        const QString p = QString::fromLocal8Bit(path);
        return p.contains(refused) && p.endsWith(".png");
    };
    {
        Session s;
        Graftal *g = s.graftal("Leaf");
        if (kind == "back") {
            s.rename(g, "Moss");
            s.library.autosave(); // moved to Moss; Leaf_00n.png stay behind
            refuseRemoving = nullptr;
            s.rename(g, "Leaf");
            s.library.autosave();
        } else {
            QVERIFY(QDir().mkdir("graftals/Oak_002.png")); // in the way: the move fails
            s.rename(g, "Oak");
            s.library.autosave(); // Oak_001, _003, _004.png written but not removed again
            refuseRemoving = nullptr;
            QVERIFY(QDir().rmdir("graftals/Oak_002.png"));
            s.library.autosave();
        }
        QVERIFY(!g->hasUnsavedChanges());
        s.quit();
    }
    Session s;
    QCOMPARE(s.listed().size(), 1);
    Graftal *g = s.library.listedGraftals().first();
    QVERIFY2(g->levels().size() == 4, qPrintable(onDisk().join(", ")));
    for (int level = 0; level < 4; ++level)
        QVERIFY(samePixels(g->levels()[level].first.toImage(), sampleTexture(level)));
}

// While the program runs, the artist copies a fifth level image into the folder as
// "Leaf_005.png". Drawing on Leaf and the autosave that follows leave that file alone.
void TestLibrary::levelFileAddedWhileRunningSurvivesASave()
{
    ScopedWorkDir work;
    copyLeafAs("Leaf");
    {
        Session s;
        QVERIFY(QFile::copy(Samples + "/Leaf_002.png", "graftals/Leaf_005.png"));
        s.draw(s.graftal("Leaf"), 0, Qt::red);
        s.library.autosave();
        s.quit();
    }
    QVERIFY2(QFile::exists("graftals/Leaf_005.png"), qPrintable(onDisk().join(", ")));
    Session s;
    QCOMPARE(s.graftal("Leaf")->levels().size(), 5);
}

// Two graftals named "Leaf" are stored as Leaf.xml and Leaf_2.xml. The artist copies
// Leaf_2.xml (the way file managers name copies) to start a variation: the id that
// painted scenes use still leads to the graftal of Leaf_2.xml.
void TestLibrary::copyOfAMadeUniqueGraftalNeverTakesItsId()
{
    ScopedWorkDir work;
    QDir().mkpath(Graftal::Directory);
    {
        Session s;
        s.rename(s.library.currentGraftal(), "Leaf");
        s.library.addGraftal();
        s.rename(s.library.currentGraftal(), "Leaf");
        s.quit();
    }
    QVERIFY(QFile::exists("graftals/Leaf_2.xml"));
    unsigned int id = 0;
    {
        Session s;
        for (Graftal *g : s.library.listedGraftals())
            if (g->storedFileName() == "Leaf_2")
                id = g->id();
    }
    TreeManager::destroyInstance();
    QVERIFY(QFile::copy("graftals/Leaf_2.xml", "graftals/Leaf_2 (copy).xml"));
    QVERIFY(QFile::copy("graftals/Leaf_2_001.png", "graftals/Leaf_2 (copy)_001.png"));
    for (int run = 0; run < 2; ++run) {
        Session s;
        QCOMPARE(s.listed().size(), 3);
        QVERIFY(s.library.graftalById(int(id)));
        QCOMPARE(s.library.graftalById(int(id))->storedFileName(), QStringLiteral("Leaf_2"));
        s.quit();
    }
}

// "Save all" in a library of many graftals reads the folder a few times, not once per
// graftal: the entries read stay within a small multiple of the files there.
void TestLibrary::saveAllReadsTheDirectoryAFewTimesOnly()
{
    ScopedWorkDir work;
    QDir().mkpath(Graftal::Directory);
    constexpr int Graftals = 60;
    for (int i = 0; i < Graftals; ++i) {
        const QString base = QStringLiteral("G%1").arg(i);
        QVERIFY(writeBytes("graftals/" + base + ".xml",
                           QStringLiteral("<config><id type=\"3\">%1</id><name "
                                          "type=\"10\">%2</name></config>")
                               .arg(i + 1)
                               .arg(base)
                               .toUtf8()));
        QVERIFY(QFile::copy(Samples + "/Leaf_001.png", "graftals/" + base + "_001.png"));
    }
    Session s;
    QCOMPARE(s.listed().size(), Graftals);
    const qint64 files = onDisk().size();
    entriesRead = 0;
    s.library.saveAllGraftals();
    QVERIFY2(
        entriesRead <= 4 * (files + 2),
        qPrintable(QStringLiteral("%1 entries read for %2 files").arg(entriesRead).arg(files)));
}

// The artist draws on "Leaf" and closes the window in the half minute between two
// autosaves, while a folder stands in the way of its first level file. The drawing is not
// dropped without a word: the artist is told and may keep the window open.
void TestLibrary::closingWhileAGraftalCannotBeWrittenTellsTheArtist()
{
    ScopedWorkDir work;
    copySample("Leaf");
    QVERIFY(QFile::remove("graftals/Leaf_001.png"));
    QVERIFY(QDir().mkdir("graftals/Leaf_001.png"));
    Tuftmill window;
    QVERIFY(window.startedUp());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    TreeManager *library = window.form().treeManager;
    Graftal *leaf = library->listedGraftals().first();
    leaf->setLevel(0, {filledLevel(Qt::red), filledLevel(Qt::red)});
    library->graftalPixmapChanged(leaf);
    QStringList told;
    QTimer answering;
    connect(&answering, &QTimer::timeout, this, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            told << box->text();
            box->reject();
        }
    });
    answering.start(20);
    // Told, the artist keeps the window open (the box's Cancel).
    QVERIFY(!window.close());
    QCOMPARE(told.size(), 1);
    QVERIFY2(told.first().contains("could not be saved"), qPrintable(told.first()));
    QVERIFY(window.isVisible());
    QVERIFY(leaf->hasUnsavedChanges()); // the folder is still in the way
    // With the way clear, closing writes the drawing and asks nothing.
    QVERIFY(QDir().rmdir("graftals/Leaf_001.png"));
    QVERIFY(window.close());
    QCOMPARE(told.size(), 1);
    QCOMPARE(QImage("graftals/Leaf_001.png").pixelColor(200, 200), QColor(Qt::red));
}

// Two graftals named "Leaf", on "Leaf" and "Leaf_2". The second is renamed to "Oak" and the
// program is killed right after its parameter file moved to "Oak.xml". After a restart, a
// save of everything and a quit, the folder holds one set of files per graftal: the level
// files of "Leaf_2", which no parameter file names any more, go as they do for a graftal on
// its own name.
void TestLibrary::renameCutShortOnAMadeUniqueBaseLeavesOneSet()
{
    ScopedWorkDir work;
    copyLeafAs("Leaf");
    copyLeafAs("Leaf_2");
    copyLeafAs("Oak");
    QVERIFY(QFile::remove("graftals/Leaf_2.xml")); // moved to Oak.xml, name "Leaf" inside
    setStoredId("Oak", 9);
    {
        Session s;
        QCOMPARE(s.listed(), QStringList({"Leaf", "Leaf"}));
        s.library.saveAllGraftals();
        s.quit();
    }
    Session s;
    s.library.saveAllGraftals();
    s.quit();
    QVERIFY2(onDisk().filter("Leaf_2_").isEmpty(), qPrintable(onDisk().join(", ")));
    QCOMPARE(onDisk().filter(".png").size(), 8);
}

// "Leaf" (id 3) has a copy the artist made beside it in the file manager, "Leaf_copy.xml",
// still with id 3. "Leaf" is renamed to "Oak" and the program is killed right after its
// parameter file moved. At the next start the graftal whose files were "Leaf" keeps id 3,
// so that the scenes painted with it go on showing it rather than the copy.
void TestLibrary::renameCutShortKeepsTheIdAgainstACopy()
{
    ScopedWorkDir work;
    copyLeafAs("Oak"); // the moved parameter file, "Leaf" inside, and the new level files
    copyLeafAs("Leaf");
    QVERIFY(QFile::remove("graftals/Leaf.xml"));
    copyLeafAs("Leaf_copy");
    Session s;
    Graftal *original = nullptr;
    for (Graftal *g : s.library.listedGraftals())
        if (g->storedFileName() == "Oak")
            original = g;
    QVERIFY(original);
    QCOMPARE(original->id(), 3u);
    QCOMPARE(s.library.graftalById(3), original);
}

// A rename whose old level file cannot be removed (a folder took its place) is otherwise
// written completely, after an autosave had failed. The autosave's warning that changes
// are not on disk goes: the artist's work is all written, only a stale file is left.
void TestLibrary::autosaveWarningGoesWhenOnlyARemovalFailed()
{
    ScopedWorkDir work;
    copyLeafAs("Leaf");
    Session s;
    QStringList told;
    connect(&s.library, &TreeManager::problemReported, this,
            [&](const QString &message) { told << message; });
    Graftal *g = s.graftal("Leaf");
    s.rename(g, "Oak");
    QVERIFY(QDir().mkdir("graftals/Oak_001.png")); // in the way of the first new level file
    s.library.autosave();
    QCOMPARE(told.size(), 1);
    QVERIFY(told.last().startsWith("Autosave failed"));
    QVERIFY(QDir().rmdir("graftals/Oak_001.png"));
    QVERIFY(QFile::remove("graftals/Leaf_003.png"));
    QVERIFY(QDir().mkpath("graftals/Leaf_003.png/kept")); // cannot be removed
    s.library.autosave();
    QVERIFY(QFile::exists("graftals/Oak.xml"));
    QCOMPARE(onDisk().filter("Oak_").size(), 4);
    QCOMPARE(told.last(), QString());
}

// "Leaf" lost its first level file by hand, so its levels come from "Leaf_002.png" to
// "Leaf_004.png" and each moves down one number at its next save. The artist draws on the
// last level; the autosave cannot write "Leaf_001.png" (a folder is in the way). The folder
// goes, the artist quits. After a restart "Leaf" still has its three levels, the first one
// as "Leaf_002.png" showed it: a level that could not be written is neither counted as saved
// nor replaced by the level that took its file.
void TestLibrary::failedSaveKeepsALevelWhoseFileAnotherTook()
{
    ScopedWorkDir work;
    copySample("Leaf");
    QVERIFY(QFile::remove("graftals/Leaf_001.png"));
    QVERIFY(QDir().mkdir("graftals/Leaf_001.png"));
    {
        Session s;
        Graftal *g = s.graftal("Leaf");
        QCOMPARE(g->levels().size(), 3);
        s.draw(g, 2, Qt::red);
        s.library.autosave();
        QVERIFY(QDir().rmdir("graftals/Leaf_001.png"));
        s.quit();
    }
    Session s;
    Graftal *g = s.graftal("Leaf");
    QVERIFY2(g->levels().size() == 3, qPrintable(onDisk().join(", ")));
    QVERIFY(samePixels(g->levels()[0].first.toImage(), sampleTexture(1)));
    QVERIFY(samePixels(g->levels()[1].first.toImage(), sampleTexture(2)));
    QCOMPARE(colourOf(g, 2), QColor(Qt::red));
}

// Levels duplicated, removed and moved reach the disk at the next save, numbered from 001
// without gaps, and the next start shows them in their new order.
void TestLibrary::levelsRearrangedAcrossARestart_data()
{
    QTest::addColumn<std::function<void(Graftal *)>>("change");
    QTest::addColumn<QList<QColor>>("expected");
    const QColor r(Qt::red), g(Qt::green), b(Qt::blue);
    using Change = std::function<void(Graftal *)>;
    QTest::newRow("duplicate") << Change([](Graftal *x) { x->duplicateLevel(0); })
                               << QList<QColor>{r, r, g, b};
    QTest::newRow("remove") << Change([](Graftal *x) { x->removeLevel(1); }) << QList<QColor>{r, b};
    QTest::newRow("move left") << Change([](Graftal *x) { x->moveLevel(2, 1); })
                               << QList<QColor>{r, b, g};
    // Two levels trade files: one of them steps aside while the other is written.
    QTest::newRow("swap") << Change([](Graftal *x) { x->moveLevel(0, 1); })
                          << QList<QColor>{g, r, b};
    QTest::newRow("remove, move") << Change([](Graftal *x) {
        x->removeLevel(0);
        x->moveLevel(1, 0);
    }) << QList<QColor>{b, g};
}

void TestLibrary::levelsRearrangedAcrossARestart()
{
    QFETCH(std::function<void(Graftal *)>, change);
    QFETCH(QList<QColor>, expected);
    ScopedWorkDir work;
    QVERIFY(QDir().mkpath(Graftal::Directory));
    {
        Session s;
        Graftal *g = s.library.currentGraftal();
        s.rename(g, "Stack");
        g->addLevel();
        g->addLevel();
        const QList<QColor> colours{Qt::red, Qt::green, Qt::blue};
        for (int i = 0; i < 3; ++i)
            s.draw(g, i, colours[i]);
        s.quit();
    }
    {
        Session s;
        change(s.graftal("Stack"));
        s.quit();
    }
    QStringList files{"Stack.xml"};
    for (int i = 0; i < expected.size(); ++i)
        files << QStringLiteral("Stack_%1.png").arg(i + 1, 3, 10, QLatin1Char('0'));
    files.sort();
    QCOMPARE(onDisk(), files);
    Session s;
    Graftal *g = s.graftal("Stack");
    QCOMPARE(g->levelCount(), int(expected.size()));
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(colourOf(g, i), expected[i]);
}

// A duplicate keeps every level under a fresh id; a removed graftal's files are in the
// trash, none deleted, and the next start lists only the copy.
void TestLibrary::graftalsDuplicatedAndRemovedAcrossARestart()
{
    ScopedWorkDir work;
    QVERIFY(QDir().mkpath(Graftal::Directory));
    const QByteArray home = qgetenv("HOME"), data = qgetenv("XDG_DATA_HOME");
    qputenv("HOME", work.path().toUtf8());
    qputenv("XDG_DATA_HOME", work.file("data").toUtf8());
    QVERIFY(QDir().mkpath(work.file("data")));
    unsigned int copyId = 0;
    {
        Session s;
        Graftal *moss = s.library.currentGraftal();
        s.rename(moss, "Moss");
        moss->addLevel();
        s.draw(moss, 0, Qt::red);
        s.draw(moss, 1, Qt::blue);
        moss->setVariation({0.3, 0, 10, 0, 0});
        s.quit();
    }
    const QStringList mossFiles = onDisk();
    QVERIFY(mossFiles.contains("Moss.variation.json"));
    {
        Session s;
        Graftal *moss = s.graftal("Moss");
        Graftal *copy = s.library.duplicateGraftal(moss);
        QCOMPARE(s.library.currentGraftal(), copy);
        QCOMPARE(copy->name(), QStringLiteral("Moss copy"));
        QVERIFY(copy->id() != moss->id());
        copyId = copy->id();
        QVERIFY(s.library.removeGraftal(moss));
        QCOMPARE(s.listed(), QStringList{"Moss copy"});
        QCOMPARE(s.library.graftalById(int(moss->id())), nullptr);
        s.quit();
    }
    const QDir trash(work.file("data/Trash/files"));
    for (const QString &file : mossFiles)
        QVERIFY2(trash.exists(file) || QFile::exists(TreeManager::removedDirectory() + "/" + file),
                 qPrintable(file));
    Session s;
    QCOMPARE(s.listed(), QStringList{"Moss copy"});
    Graftal *copy = s.graftal("Moss copy");
    QCOMPARE(copy->id(), copyId);
    QCOMPARE(colourOf(copy, 0), QColor(Qt::red));
    QCOMPARE(colourOf(copy, 1), QColor(Qt::blue));
    QCOMPARE(copy->variation(), GraftalVariation({0.3, 0, 10, 0, 0}));
    qputenv("HOME", home);
    data.isNull() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", data);
}

TUFTMILL_GL_TEST_MAIN(TestLibrary)
#include "tst_library.moc"
