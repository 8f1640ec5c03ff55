// The graftal library over many sessions of real use: each session loads the library
// the way the program starts, the user works, and the session ends the way quitting
// does. What is listed and what is on disk is counted and compared after each restart.
#include "../support/GlTestMain.h"
#include "../support/LibrarySession.h"
#include "../support/TestSupport.h"
#include "Graftal.h"
#include "LoggerOutput.h"
#include "TreeManager.h"
#include "Tuftmill.h"

#include <QMainWindow>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTreeWidget>

using testsupport::ScopedWorkDir;

using namespace testsupport;
using Session = LibrarySession;

class TestSessions : public QObject
{
    Q_OBJECT
private slots:
    void renameLeavesOneSetOfFiles();
    void copiedParameterFileNeverMultiplies();
    void namesRoundTripExactly_data();
    void namesRoundTripExactly();
    void partlyFailedSavesKeepTheStorage();
    void unreadableLevelSurvivesRestarts();
    void saveAllReachesGraftalsSharingAnId();
    void largeIdsAndNumbersDoNotOverflow();
    void autosaveWritesChangesAndReportsFailureOnce();
    void windowShowsProblemsAndSavesEveryHalfMinute();
    void cleanup() { TreeManager::destroyInstance(); }
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestSessions::renameLeavesOneSetOfFiles()
{
    ScopedWorkDir work;
    QDir().mkpath(Graftal::Directory);
    unsigned int id = 0;
    {
        Session s;
        Graftal *g = s.library.currentGraftal();
        id = g->id();
        s.draw(g, 0, Qt::red);
        s.library.saveCurrentGraftal();
        s.rename(g, "Moss");
        g->addLevel();
        s.draw(g, 1, Qt::blue);
        s.quit();
    }
    const QStringList mossFiles{"Moss.xml", "Moss_001.png", "Moss_002.png"};
    for (int run = 0; run < 3; ++run) {
        Session s;
        QCOMPARE(s.listed(), QStringList{"Moss"});
        QCOMPARE(onDisk(), mossFiles);
        Graftal *g = s.graftal("Moss");
        QCOMPARE(s.library.graftalById(int(id)), g); // what painted scenes refer to
        QCOMPARE(colourOf(g, 0), QColor(Qt::red));
        QCOMPARE(colourOf(g, 1), QColor(Qt::blue));
        if (run == 1) { // renamed back and forth before the next save: nothing moves
            s.rename(g, "Fern");
            s.rename(g, "Moss");
        }
        s.quit();
    }
    // Renamed to a name whose files another graftal has: each keeps its own.
    {
        Session s;
        s.library.addGraftal();
        s.draw(s.library.currentGraftal(), 0, Qt::green);
        s.rename(s.graftal("Moss"), "Untitled 1");
        s.quit();
    }
    Session s;
    QCOMPARE(s.listed(), (QStringList{"Untitled 1", "Untitled 1"}));
    QCOMPARE(onDisk(), (QStringList{"Untitled_1.xml", "Untitled_1_001.png", "Untitled_1_2.xml",
                                    "Untitled_1_2_001.png", "Untitled_1_2_002.png"}));
    QCOMPARE(s.library.listedGraftals()[0]->levels().size() +
                 s.library.listedGraftals()[1]->levels().size(),
             3);
}

void TestSessions::copiedParameterFileNeverMultiplies()
{
    ScopedWorkDir work;
    copySample("Leaf");
    QVERIFY(QFile::copy("graftals/Leaf.xml", "graftals/leaf_copy.xml"));
    const QStringList files{"Leaf.xml",     "Leaf_001.png",  "Leaf_002.png",     "Leaf_003.png",
                            "Leaf_004.png", "leaf_copy.xml", "leaf_copy_001.png"};
    for (int run = 0; run < 3; ++run) {
        Session s;
        QCOMPARE(s.listed(), (QStringList{"Leaf", "Leaf"}));
        const QList<Graftal *> graftals = s.library.listedGraftals();
        QCOMPARE(graftals[0]->fileName(), QStringLiteral("Leaf"));
        QCOMPARE(graftals[0]->levels().size(), 4);
        for (int i = 0; i < 4; ++i)
            QVERIFY(samePixels(graftals[0]->levels()[i].first.toImage(), sampleTexture(i)));
        QCOMPARE(graftals[1]->fileName(), QStringLiteral("leaf_copy"));
        s.quit();
        QCOMPARE(onDisk(), files);
    }
    // A new graftal named like them takes none of their files.
    {
        Session s;
        s.library.addGraftal();
        s.rename(s.library.currentGraftal(), "Leaf");
        s.quit();
    }
    Session s;
    QCOMPARE(s.listed(), (QStringList{"Leaf", "Leaf", "Leaf"}));
    QStringList withNew = files + QStringList{"Leaf_2.xml", "Leaf_2_001.png"};
    withNew.sort();
    QCOMPARE(onDisk(), withNew);
}

void TestSessions::namesRoundTripExactly_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("spaces only") << "  ";
    QTest::newRow("one space") << " ";
    QTest::newRow("padded") << "  Leaf  ";
    QTest::newRow("markup") << "<Leaf & \"Bark\">";
    QTest::newRow("control characters") << QStringLiteral("Leaf\x01\n\tBark");
    QTest::newRow("non-ASCII") << QStringLiteral("草 été");
    QTest::newRow("empty") << "";
    QTest::newRow("longer than a file name may be") << QString(300, QLatin1Char('w'));
    QTest::newRow("no-break space") << QStringLiteral("\u00a0");
    QTest::newRow("ideographic spaces") << QStringLiteral("\u3000\u3000");
    QTest::newRow("line separator") << QStringLiteral("\u2028");
    QTest::newRow("em spaces around a space") << QStringLiteral("\u2003 \u2003");
}

void TestSessions::namesRoundTripExactly()
{
    QFETCH(QString, name);
    ScopedWorkDir work;
    QDir().mkpath(Graftal::Directory);
    {
        Session s;
        s.rename(s.library.currentGraftal(), name);
        s.quit();
    }
    const QStringList files = onDisk();
    QCOMPARE(files.size(), 2);
    for (int run = 0; run < 3; ++run) {
        Session s;
        QCOMPARE(s.listed(), QStringList{name});
        QCOMPARE(s.tree->topLevelItem(0)->text(0), name);
        QVERIFY(s.problems.isEmpty());
        s.quit();
        QCOMPARE(onDisk(), files);
    }
}

void TestSessions::partlyFailedSavesKeepTheStorage()
{
    ScopedWorkDir work;
    QDir().mkpath(Graftal::Directory);
    // The parameter file is written, a level image is not (a directory stands in its way).
    QVERIFY(QDir().mkdir("graftals/Fern_002.png"));
    {
        Session s;
        Graftal *g = s.library.currentGraftal();
        s.rename(g, "Fern");
        g->addLevel();
        s.draw(g, 0, Qt::red);
        s.draw(g, 1, Qt::blue);
        s.library.autosave();
        QCOMPARE(onDisk(), (QStringList{"Fern.xml", "Fern_001.png"}));
        s.draw(g, 0, Qt::green);
        s.library.autosave();
        s.quit();
        QCOMPARE(onDisk(), (QStringList{"Fern.xml", "Fern_001.png"}));
    }
    for (int run = 0; run < 2; ++run) {
        Session s;
        QCOMPARE(s.listed(), QStringList{"Fern"});
        QCOMPARE(colourOf(s.graftal("Fern"), 0), QColor(Qt::green));
        s.quit();
        QCOMPARE(onDisk(), (QStringList{"Fern.xml", "Fern_001.png"}));
    }

    // A rename whose new files cannot all be written leaves the old files the only
    // listed ones: what was written under the new name goes again.
    QVERIFY(QDir().mkdir("graftals/Oak_002.png"));
    {
        Session s;
        Graftal *g = s.graftal("Fern");
        g->addLevel();
        s.draw(g, 1, Qt::blue);
        s.rename(g, "Oak");
        s.quit();
        QCOMPARE(onDisk(), (QStringList{"Fern.xml", "Fern_001.png"}));
    }
    QVERIFY(QDir().rmdir("graftals/Oak_002.png"));
    {
        Session s;
        QCOMPARE(s.listed(), QStringList{"Fern"});
        s.rename(s.graftal("Fern"), "Oak");
        s.quit();
    }
    Session s;
    QCOMPARE(s.listed(), QStringList{"Oak"});
    QCOMPARE(onDisk(), (QStringList{"Oak.xml", "Oak_001.png"}));
    QCOMPARE(colourOf(s.graftal("Oak"), 0), QColor(Qt::green));
}

void TestSessions::unreadableLevelSurvivesRestarts()
{
    ScopedWorkDir work;
    copySample("Leaf");
    const QByteArray damaged = testsupport::readBytes("graftals/Leaf_002.png").left(300);
    QVERIFY(testsupport::writeBytes("graftals/Leaf_002.png", damaged));
    for (int run = 0; run < 3; ++run) {
        Session s;
        Graftal *leaf = s.graftal("Leaf");
        QCOMPARE(leaf->levels().size(), 4);
        QVERIFY(samePixels(leaf->levels()[0].first.toImage(), sampleTexture(0)));
        QCOMPARE(qAlpha(leaf->levels()[1].first.toImage().pixel(200, 200)), 0);
        QVERIFY(samePixels(leaf->levels()[2].first.toImage(), sampleTexture(2)));
        if (run < 2) // drawn on in the second session
            QVERIFY(samePixels(leaf->levels()[3].first.toImage(), sampleTexture(3)));
        QCOMPARE(s.problems.size(), 1);
        QVERIFY2(s.problems.first().contains("graftals/Leaf_002.png"),
                 qPrintable(s.problems.first()));
        if (run == 1)
            s.draw(leaf, 3, Qt::yellow); // another level drawn on
        s.quit();
        QCOMPARE(testsupport::readBytes("graftals/Leaf_002.png"), damaged);
    }
    // Drawn on at last, the level is written over.
    {
        Session s;
        s.draw(s.graftal("Leaf"), 1, Qt::cyan);
        s.quit();
    }
    Session s;
    QVERIFY(s.problems.isEmpty());
    QCOMPARE(colourOf(s.graftal("Leaf"), 1), QColor(Qt::cyan));
    QCOMPARE(colourOf(s.graftal("Leaf"), 3), QColor(Qt::yellow));
}

void TestSessions::saveAllReachesGraftalsSharingAnId()
{
    ScopedWorkDir work;
    copySample("Leaf");
    QVERIFY(QFile::copy("graftals/Leaf.xml", "graftals/leaf_copy.xml"));
    unsigned int ids[2];
    {
        Session s;
        // The copy lists with an id of its own, so that scenes keep meaning the original.
        const QList<Graftal *> both = s.library.listedGraftals();
        QVERIFY(both[0]->id() != both[1]->id());
        QCOMPARE(s.library.graftalById(int(both[0]->id())), both[0]);
        ids[0] = both[0]->id();
        ids[1] = both[1]->id();
        both[0]->setBaseSize(2.5);
        both[1]->setBaseSize(3.5);
        s.library.saveAllGraftals();
        // Gone without the quit path: whatever is on disk was written by "Save all".
    }
    Session s;
    const QList<Graftal *> both = s.library.listedGraftals();
    QCOMPARE(both[0]->baseSize(), 2.5);
    QCOMPARE(both[1]->baseSize(), 3.5);
    QCOMPARE(both[0]->id(), ids[0]);
    QCOMPARE(both[1]->id(), ids[1]);
}

void TestSessions::largeIdsAndNumbersDoNotOverflow()
{
    ScopedWorkDir work;
    QDir().mkpath(Graftal::Directory);
    const auto store = [](const QString &base, const QString &name, const QString &id) {
        QVERIFY(testsupport::writeBytes(
            "graftals/" + base + ".xml",
            QStringLiteral("<config><id type=\"3\">%1</id><name type=\"10\">%2</name></config>")
                .arg(id, name)
                .toUtf8()));
    };
    store("a", "Untitled 9223372036854775806", "4294967295");
    store("b", "Untitled 99999999999999999999999", "1");
    store("c", "Untitled 2147483647", "2147483647");
    {
        Session s;
        QCOMPARE(s.listed().size(), 3);
        QCOMPARE(s.library.nextUntitledNumber(), Q_INT64_C(9223372036854775807));
        for (int i = 0; i < 3; ++i)
            s.library.addGraftal();
        QSet<unsigned int> ids;
        for (Graftal *g : s.library.listedGraftals())
            ids.insert(g->id());
        QCOMPARE(ids.size(), 6); // no id handed out twice, none wrapped onto another
        QVERIFY(!ids.contains(0));
        QCOMPARE(s.listed().mid(3),
                 (QStringList{"Untitled 9223372036854775807", "Untitled 9223372036854775807",
                              "Untitled 9223372036854775807"}));
        for (Graftal *g : s.library.listedGraftals().mid(3))
            QCOMPARE(s.library.graftalById(int(g->id())), g);
        s.quit();
    }
    Session s;
    QCOMPARE(s.listed().size(), 6);
    QCOMPARE(onDisk().filter(".xml").size(), 6);
}

void TestSessions::autosaveWritesChangesAndReportsFailureOnce()
{
    ScopedWorkDir work;
    copySample("Leaf");
    copySample("Fur_tuft");
    Session s;
    // What the autosave tells (other lines, such as a level that cannot be read, aside).
    QStringList problems;
    connect(&s.library, &TreeManager::problemReported, &s.library, [&](const QString &told) {
        if (told.isEmpty() || told.startsWith("Autosave failed"))
            problems << told;
    });
    s.library.startAutosave(40);
    QCOMPARE(s.library.autosaveInterval(), 40);
    // A change to the fur, once on disk, shows that an autosave ran; it did not write the
    // unchanged leaf.
    Graftal *fur = s.graftal("Fur tuft");
    auto furWritten = [](const QColor &colour) {
        return QImage("graftals/Fur_tuft_001.png").pixelColor(200, 200) == colour;
    };
    QVERIFY(QFile::remove("graftals/Leaf_004.png"));
    s.draw(fur, 0, Qt::cyan);
    QTRY_VERIFY_WITH_TIMEOUT(furWritten(Qt::cyan), 20000);
    QVERIFY(!QFile::exists("graftals/Leaf_004.png"));

    Graftal *leaf = s.graftal("Leaf");
    s.draw(leaf, 0, Qt::magenta);
    QTRY_COMPARE_WITH_TIMEOUT(QImage("graftals/Leaf_001.png").pixelColor(200, 200),
                              QColor(Qt::magenta), 20000);
    QVERIFY(QFile::exists("graftals/Leaf_004.png")); // written the way quitting writes

    // Writing fails for a while: told once; the autosave that writes the next change to
    // the fur tries the leaf again and says nothing; once writing works, the leaf is
    // written without another change and all is clear.
    QVERIFY(QDir().mkdir("graftals/Big_leaf_003.png"));
    s.draw(leaf, 2, Qt::darkGreen);
    s.rename(leaf, "Big leaf");
    QTRY_COMPARE_WITH_TIMEOUT(problems.size(), 1, 20000);
    QVERIFY2(problems.first().contains("graftals/Big_leaf_003.png"), qPrintable(problems.first()));
    s.draw(fur, 0, Qt::yellow);
    QTRY_VERIFY_WITH_TIMEOUT(furWritten(Qt::yellow), 20000);
    QCOMPARE(problems.size(), 1);
    QVERIFY(leaf->hasUnsavedChanges());
    QVERIFY(QFile::exists("graftals/Leaf.xml") && !QFile::exists("graftals/Big_leaf.xml"));
    QVERIFY(QDir().rmdir("graftals/Big_leaf_003.png"));
    QTRY_COMPARE_WITH_TIMEOUT(problems.size(), 2, 20000);
    QCOMPARE(problems.last(), QString());
    QCOMPARE(onDisk().filter("leaf", Qt::CaseInsensitive),
             (QStringList{"Big_leaf.xml", "Big_leaf_001.png", "Big_leaf_002.png",
                          "Big_leaf_003.png", "Big_leaf_004.png"}));
    QCOMPARE(QImage("graftals/Big_leaf_003.png").pixelColor(200, 200), QColor(Qt::darkGreen));
    QVERIFY(!leaf->hasUnsavedChanges());
}

void TestSessions::windowShowsProblemsAndSavesEveryHalfMinute()
{
    ScopedWorkDir work;
    copySample("Leaf");
    QVERIFY(testsupport::writeBytes("graftals/Leaf_003.png", "not a picture"));
    Tuftmill window;
    QVERIFY(window.startedUp());
    QVERIFY2(window.statusBar()->currentMessage().contains("graftals/Leaf_003.png"),
             qPrintable(window.statusBar()->currentMessage()));
    QCOMPARE(window.form().treeManager->autosaveInterval(), 30000);
}

TUFTMILL_GL_TEST_MAIN(TestSessions)
#include "tst_sessions.moc"
