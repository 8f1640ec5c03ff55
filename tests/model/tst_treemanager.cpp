#include "../support/TestSupport.h"
#include "Graftal.h"
#include "LoggerOutput.h"
#include "TreeManager.h"

#include <QAction>
#include <QMainWindow>
#include <QPainter>
#include <QSignalSpy>
#include <QTreeWidget>

using testsupport::ScopedWorkDir;

namespace {
void store(const QString &base, const QByteArray &xml)
{
    QDir().mkpath(Graftal::Directory);
    QFile f(Graftal::Directory + "/" + base + ".xml");
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(xml);
}

void storeGraftal(const QString &base, const QString &name, int id)
{
    store(base, QStringLiteral("<config><baseSize type=\"6\">1.01</baseSize><id type=\"3\">%1</id>"
                               "<name type=\"10\">%2</name></config>")
                    .arg(id)
                    .arg(name)
                    .toUtf8());
}

QStringList treeTexts(QTreeWidget *tree)
{
    QStringList names;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        names << tree->topLevelItem(i)->text(0);
    return names;
}

// A library on its own tree inside a window, as the main window sets it up.
struct Library
{
    QMainWindow window;
    QTreeWidget *tree = new QTreeWidget(&window);
    TreeManager manager{tree};
    QStringList events;

    Library()
    {
        window.setCentralWidget(tree);
        QObject::connect(&manager, &TreeManager::graftalAdded, &manager,
                         [this](Graftal *g) { events << "added " + g->name(); });
        QObject::connect(&manager, &TreeManager::selectedChanged, &manager, [this](Graftal *g) {
            events << "selected " + (g ? g->name() : QStringLiteral("none"));
        });
    }
};
} // namespace

class TestTreeManager : public QObject
{
    Q_OBJECT
private slots:
    void emptyDirectoryListsNothing();
    void newGraftalsAreNumberedAndSelected();
    void storedGraftalsAreListedSortedAndCounted();
    void untitledNumbering_data();
    void untitledNumbering();
    void setSelectedEmissions();
    void savingAndCursors();
    void pixmapChangeIsRelayedInOrder();
    void flushUploadsLoadedGraftalsOnly();
    void parametersUpdateTheTree();
    void damagedGraftalIsSkippedAndNeverOverwritten();
    void collidingNamesKeepSeparateFiles();
    void collidingFilesRoundTripAcrossRuns();
    void failedUserSaveShowsWarning();
    void processWideInstance();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestTreeManager::emptyDirectoryListsNothing()
{
    ScopedWorkDir work;
    Library lib;
    QVERIFY(!lib.manager.loadAllGraftals());
    QCOMPARE(lib.manager.nextGraftalId(), 1);
    QCOMPARE(lib.manager.nextUntitledNumber(), 1);
    QCOMPARE(lib.tree->topLevelItemCount(), 0);
    QVERIFY(lib.manager.currentGraftal() == nullptr);
}

void TestTreeManager::newGraftalsAreNumberedAndSelected()
{
    ScopedWorkDir work;
    Library lib;
    lib.manager.addGraftal();
    lib.manager.addGraftal();
    QCOMPARE(lib.events, (QStringList{"added Untitled 1", "selected Untitled 1", "added Untitled 2",
                                      "selected Untitled 2"}));
    QCOMPARE(treeTexts(lib.tree), (QStringList{"Untitled 1", "Untitled 2"}));
    Graftal *second = lib.manager.currentGraftal();
    QCOMPARE(second->id(), 2u);
    QCOMPARE(lib.manager.graftalById(1)->name(), QStringLiteral("Untitled 1"));
    QVERIFY(lib.manager.containsId(2));
    QVERIFY(!lib.manager.containsId(3));
    QVERIFY(lib.manager.graftalById(3) == nullptr);
    QCOMPARE(lib.tree->currentItem()->text(0), QStringLiteral("Untitled 2"));

    QAction newAction;
    newAction.setData(1);
    lib.manager.treeAction(&newAction);
    QCOMPARE(lib.manager.currentGraftal()->name(), QStringLiteral("Untitled 3"));
    QAction other;
    other.setData(9);
    lib.manager.treeAction(&other);
    QCOMPARE(lib.tree->topLevelItemCount(), 3);
}

void TestTreeManager::storedGraftalsAreListedSortedAndCounted()
{
    ScopedWorkDir work;
    storeGraftal("Untitled_3", "Untitled 3", 7);
    storeGraftal("bark", "bark", 2);
    Library lib;
    QVERIFY(lib.manager.loadAllGraftals());
    QCOMPARE(treeTexts(lib.tree), (QStringList{"Untitled 3", "bark"}));
    QCOMPARE(lib.events, (QStringList{"added Untitled 3", "added bark", "selected Untitled 3"}));
    QCOMPARE(lib.manager.currentGraftal()->name(), QStringLiteral("Untitled 3"));
    QCOMPARE(lib.manager.nextUntitledNumber(), 4);
    QCOMPARE(lib.manager.nextGraftalId(), 8);
    lib.manager.addGraftal();
    QCOMPARE(lib.manager.currentGraftal()->name(), QStringLiteral("Untitled 4"));
    QCOMPARE(lib.manager.currentGraftal()->id(), 8u);
    QCOMPARE(treeTexts(lib.tree).last(), QStringLiteral("Untitled 4"));
}

void TestTreeManager::untitledNumbering_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("next");
    QTest::newRow("leading zeros") << "Untitled 007" << 8;
    QTest::newRow("lower case") << "untitled 5" << 1;
    QTest::newRow("suffix") << "Untitled 5b" << 1;
    QTest::newRow("trailing blank") << "Untitled 5 " << 1;
    QTest::newRow("plain") << "Untitled 12" << 13;
}

void TestTreeManager::untitledNumbering()
{
    QFETCH(QString, name);
    QFETCH(int, next);
    ScopedWorkDir work;
    storeGraftal("g", name, 4);
    Library lib;
    QVERIFY(lib.manager.loadAllGraftals());
    QCOMPARE(lib.manager.currentGraftal()->name(), name);
    QCOMPARE(lib.manager.nextUntitledNumber(), next);
}

void TestTreeManager::setSelectedEmissions()
{
    ScopedWorkDir work;
    Library lib;
    lib.manager.addGraftal();
    lib.manager.addGraftal();
    Graftal *first = lib.manager.graftalById(1);
    QSignalSpy spy(&lib.manager, &TreeManager::selectedChanged);

    auto stranger = Graftal::create(99, QStringLiteral("stranger"));
    lib.manager.setSelected(stranger.get());
    QCOMPARE(spy.size(), 0);
    QCOMPARE(lib.manager.currentGraftal()->id(), 2u);

    // Told once, by the tree's new current item; a graftal selected again is told again.
    lib.manager.setSelected(first);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.last().first().value<Graftal *>(), first);
    QCOMPARE(lib.manager.currentGraftal(), first);
    QCOMPARE(lib.tree->currentItem()->text(0), QStringLiteral("Untitled 1"));
    lib.manager.setSelected(first);
    QCOMPARE(spy.size(), 2);
}

void TestTreeManager::savingAndCursors()
{
    ScopedWorkDir work;
    QDir().mkpath(Graftal::Directory);
    Library lib;
    lib.manager.saveCurrentGraftal(); // nothing selected
    QVERIFY(QDir(Graftal::Directory).isEmpty());
    QCOMPARE(lib.window.cursor().shape(), Qt::ArrowCursor);

    lib.manager.addGraftal();
    lib.manager.addGraftal();
    QAction save;
    save.setData(2);
    lib.manager.treeAction(&save); // saves the selected one only
    QCOMPARE(QDir(Graftal::Directory).entryList(QDir::Files),
             (QStringList{"Untitled_2.xml", "Untitled_2_001.png"}));
    lib.manager.saveAllGraftals();
    QCOMPARE(QDir(Graftal::Directory).entryList(QDir::Files).size(), 4);
    QCOMPARE(lib.window.cursor().shape(), Qt::ArrowCursor);

    lib.manager.addGraftal();
    lib.manager.beforeQuitHook();
    QCOMPARE(QDir(Graftal::Directory).entryList(QDir::Files).size(), 6);
}

void TestTreeManager::pixmapChangeIsRelayedInOrder()
{
    ScopedWorkDir work;
    Library lib;
    lib.manager.addGraftal();
    Graftal *g = lib.manager.currentGraftal();
    g->addLevel();
    g->addLevel();
    g->currentLevel = 2;
    QStringList order;
    connect(&lib.manager, &TreeManager::pixmapUpdated, this, [&](Graftal *which, int index) {
        order << QStringLiteral("pixmap %1 %2").arg(which->name()).arg(index);
    });
    connect(&lib.manager, &TreeManager::reloadTextures, this,
            [&](Graftal *which) { order << "reload " + which->name(); });
    QVERIFY(!g->texturesDirty);
    lib.manager.graftalPixmapChanged(g);
    QVERIFY(g->texturesDirty);
    QCOMPARE(order, (QStringList{"pixmap Untitled 1 2", "reload Untitled 1"}));
}

void TestTreeManager::flushUploadsLoadedGraftalsOnly()
{
    ScopedWorkDir work;
    storeGraftal("a", "a", 1);
    storeGraftal("b", "b", 2);
    Library lib;
    QVERIFY(lib.manager.loadAllGraftals());
    lib.manager.addGraftal();
    QStringList reloaded;
    connect(&lib.manager, &TreeManager::reloadTextures, this,
            [&](Graftal *g) { reloaded << g->name(); });
    lib.manager.flushChangedTexturesToOpenGL();
    reloaded.sort();
    QCOMPARE(reloaded, (QStringList{"a", "b"}));
    lib.manager.flushChangedTexturesToOpenGL(); // the flag stays set
    QCOMPARE(reloaded.size(), 4);
}

void TestTreeManager::parametersUpdateTheTree()
{
    ScopedWorkDir work;
    Library lib;
    lib.manager.addGraftal();
    Graftal *g = lib.manager.currentGraftal();
    g->setName(QStringLiteral("Pine needles"));
    QCOMPARE(lib.tree->topLevelItem(0)->text(0), QStringLiteral("Untitled 1"));
    lib.manager.graftalParametersChanged(g);
    QCOMPARE(lib.tree->topLevelItem(0)->text(0), QStringLiteral("Pine needles"));
    auto stranger = Graftal::create(5, QStringLiteral("x"));
    lib.manager.graftalParametersChanged(stranger.get()); // not listed: ignored
    QCOMPARE(lib.tree->topLevelItemCount(), 1);
}

void TestTreeManager::damagedGraftalIsSkippedAndNeverOverwritten()
{
    ScopedWorkDir work;
    const QByteArray broken("<config><name type=\"10\">Untitled 1</name");
    store("Untitled_1", broken);
    QImage level(800, 400, QImage::Format_ARGB32);
    level.fill(Qt::red);
    QVERIFY(level.save("graftals/Untitled_1_001.png"));
    const QStringList before = QDir(Graftal::Directory).entryList(QDir::Files);
    {
        Library lib;
        QVERIFY(!lib.manager.loadAllGraftals());
        QCOMPARE(lib.tree->topLevelItemCount(), 0);
        // The new untitled graftal would naturally use the damaged graftal's files.
        lib.manager.addGraftal();
        lib.manager.beforeQuitHook();
        lib.manager.saveAllGraftals();
    }
    QFile xml("graftals/Untitled_1.xml");
    QVERIFY(xml.open(QIODevice::ReadOnly));
    QCOMPARE(xml.readAll(), broken);
    QCOMPARE(QImage("graftals/Untitled_1_001.png").pixelColor(10, 10), QColor(Qt::red));
    const QStringList after = QDir(Graftal::Directory).entryList(QDir::Files);
    QCOMPARE(after, (QStringList{"Untitled_1.xml", "Untitled_1_001.png", "Untitled_1_2.xml",
                                 "Untitled_1_2_001.png"}));
    QVERIFY(!after.contains(".xml") && !after.contains("_001.png"));
}

void TestTreeManager::collidingNamesKeepSeparateFiles()
{
    ScopedWorkDir work;
    QDir().mkpath(Graftal::Directory);
    Library lib;
    lib.manager.addGraftal();
    lib.manager.addGraftal();
    lib.manager.addGraftal();
    Graftal *a = lib.manager.graftalById(1), *b = lib.manager.graftalById(2),
            *c = lib.manager.graftalById(3);
    a->setName("a b");
    b->setName("a_b");
    c->setName("a b");
    a->setLevel(0, {testsupport::filledLevel(Qt::red), testsupport::filledLevel(Qt::red)});
    b->setLevel(0, {testsupport::filledLevel(Qt::green), testsupport::filledLevel(Qt::green)});
    c->setLevel(0, {testsupport::filledLevel(Qt::blue), testsupport::filledLevel(Qt::blue)});
    lib.manager.saveAllGraftals();
    QCOMPARE(QDir(Graftal::Directory).entryList({"*.xml"}, QDir::Files).size(), 3);
    QSet<QString> bases{a->fileName(), b->fileName(), c->fileName()};
    QCOMPARE(bases.size(), 3);
    QVERIFY(bases.contains("a_b"));
    // Saving again keeps each graftal on its own files.
    lib.manager.beforeQuitHook();
    QCOMPARE(QDir(Graftal::Directory).entryList({"*.xml"}, QDir::Files).size(), 3);

    // An empty name never makes hidden ".xml" files.
    a->setName(QString());
    lib.manager.saveCurrentGraftal();
    lib.manager.saveAllGraftals();
    QVERIFY(!QFile::exists("graftals/.xml"));
    QVERIFY(!QFile::exists("graftals/_001.png"));
}

void TestTreeManager::collidingFilesRoundTripAcrossRuns()
{
    ScopedWorkDir work;
    QDir().mkpath(Graftal::Directory);
    QMap<QString, QColor> colourByName{{"x", Qt::red}, {"x 2", Qt::green}};
    {
        Library lib;
        lib.manager.addGraftal();
        lib.manager.addGraftal();
        lib.manager.addGraftal();
        int i = 0;
        const QStringList names{"x", "x", "x 2"};
        const QColor colours[] = {Qt::red, Qt::blue, Qt::green};
        for (Graftal *g : lib.manager.listedGraftals()) {
            g->setName(names[i]);
            g->setLevel(
                0, {testsupport::filledLevel(colours[i]), testsupport::filledLevel(colours[i])});
            ++i;
        }
        lib.manager.beforeQuitHook();
    }
    for (int run = 0; run < 2; ++run) {
        Library lib;
        QVERIFY(lib.manager.loadAllGraftals());
        QCOMPARE(lib.tree->topLevelItemCount(), 3);
        QMap<QString, int> colours;
        for (Graftal *g : lib.manager.listedGraftals())
            colours[g->name() + " " + g->levels()[0].first.toImage().pixelColor(5, 5).name()]++;
        QCOMPARE(colours.value("x #ff0000"), 1);
        QCOMPARE(colours.value("x #0000ff"), 1);
        QCOMPARE(colours.value("x 2 #00ff00"), 1);
        lib.manager.beforeQuitHook();
        QCOMPARE(QDir(Graftal::Directory).entryList({"*.xml"}, QDir::Files).size(), 3);
    }
}

void TestTreeManager::failedUserSaveShowsWarning()
{
    ScopedWorkDir work;
    QDir().mkpath("graftals/Untitled_1_001.png"); // a directory where the level image must go
    Library lib;
    lib.manager.addGraftal();
    testsupport::MessageBoxCatcher catcher;
    lib.manager.saveCurrentGraftal();
    QCOMPARE(catcher.seen, 1);
    QCOMPARE(catcher.title, QStringLiteral("Save failed"));
    QVERIFY2(catcher.text.contains("graftals/Untitled_1_001.png"), qPrintable(catcher.text));
    QVERIFY(catcher.text.contains("Untitled 1"));
    QCOMPARE(lib.window.cursor().shape(), Qt::ArrowCursor);

    lib.manager.beforeQuitHook(); // at quit: logged, no box
    // A box shown by the hook, at once or from an event it posted, is answered before an
    // event posted after the hook comes back here.
    bool after = false;
    QTimer::singleShot(0, &lib.manager, [&] { after = true; });
    QTRY_VERIFY(after);
    QCOMPARE(catcher.seen, 1);
}

void TestTreeManager::processWideInstance()
{
    QTreeWidget tree;
    TreeManager *a = TreeManager::instance(&tree);
    TreeManager *b = TreeManager::instance(nullptr);
    QCOMPARE(a, b);
    TreeManager::destroyInstance();
}

QTEST_MAIN(TestTreeManager)
#include "tst_treemanager.moc"
