// Graftal packs and scene files from other people: links, special files, deep or huge
// documents, oversized images, clashing ids. Each shape is made at test time; each run
// goes through the library's own load, save and quit, and nothing outside the workspace
// may change.
#include "../support/GlTestMain.h"
#include "../support/LibrarySession.h"
#include "../support/Models.h"
#include "GLRender.h"
#include "LevelMemory.h"
#include "LoggerOutput.h"
#include "SafeFile.h"
#include "Scene.h"
#include "Tuftmill.h"

#include <QAbstractButton>
#include <QAction>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QMessageBox>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;

namespace {
// Everything under a folder as it is: names, link targets and contents (the program's
// own record of ids aside).
QByteArray fingerprint(const QString &root)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QDirIterator it(root, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    QStringList entries;
    while (it.hasNext())
        entries << it.next();
    entries.sort();
    for (const QString &path : std::as_const(entries)) {
        const QFileInfo info(path);
        if (info.fileName().startsWith(".tuftmill"))
            continue;
        hash.addData(path.toUtf8());
        if (info.isSymLink())
            hash.addData("->" + info.symLinkTarget().toUtf8());
        else if (info.isFile())
            hash.addData(readBytes(path));
    }
    return hash.result();
}

QByteArray levelPng(const QColor &texture, const QSize &size = {800, 400})
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(texture);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void writeGraftal(const QString &base, const QString &name, const QString &id,
                  const QList<QColor> &levels)
{
    QVERIFY(QDir().mkpath(Graftal::Directory));
    QVERIFY(writeBytes(Graftal::Directory + "/" + base + ".xml",
                       QStringLiteral("<config><name type=\"10\">%1</name><id type=\"3\">%2</id>"
                                      "<baseSize type=\"6\">1</baseSize></config>")
                           .arg(name, id)
                           .toUtf8()));
    for (int i = 0; i < levels.size(); ++i)
        QVERIFY(writeBytes(QStringLiteral("%1/%2_%3.png")
                               .arg(Graftal::Directory, base)
                               .arg(i + 1, 3, 10, QChar('0')),
                           levelPng(levels[i])));
}

// As an unpacked archive leaves a file: written long ago.
void backdate(const QString &path, int year)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime(QDate(year, 1, 1), QTime(0, 0)),
                             QFileDevice::FileModificationTime));
}

void link(const QString &target, const QString &at)
{
    QVERIFY2(QFile::link(target, at), qPrintable(at));
}

// A folder beside the workspace that packs point into.
struct Outside
{
    QTemporaryDir dir;
    Outside()
    {
        writeBytes(file("victim.png"), levelPng(Qt::yellow));
        writeBytes(file("victim.xml"), "<config><name type=\"10\">victim</name></config>");
    }
    QString file(const QString &name) const { return dir.filePath(name); }
};
} // namespace

class TestSharedFiles : public QObject
{
    Q_OBJECT
private slots:
    void linksAndSpecialFilesAreLeftAlone_data();
    void linksAndSpecialFilesAreLeftAlone();
    void aFileSwappedForALinkStays_data();
    void aFileSwappedForALinkStays();
    void aPackGraftalOfALongNameSaves();
    void oversizedPacksAreReadWithinLimits_data();
    void oversizedPacksAreReadWithinLimits();
    void decodedLevelsStayWithinTheirBudget();
    void idsStayWithTheWorkspace();
    void sceneFilesAreNeverFollowed_data();
    void sceneFilesAreNeverFollowed();
    void reloadAsksRefusesAndReports();
    void smallFilesCostTheirSize();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestSharedFiles::linksAndSpecialFilesAreLeftAlone_data()
{
    QTest::addColumn<QString>("shape");
    QTest::addColumn<QString>("told");
    for (const char *shape : {"first level links to a file", "first level links nowhere",
                              "second level links to a file", "lone link under the new name",
                              "lone pipe under the new name", "parameter file is a link",
                              "level is a named pipe", "level links to /dev/zero"})
        QTest::newRow(shape) << QString::fromLatin1(shape)
                             << (QString(shape).contains("pipe") ? "is not a regular file"
                                                                 : "is a link; Tuftmill leaves");
}

void TestSharedFiles::linksAndSpecialFilesAreLeftAlone()
{
    QFETCH(QString, shape);
    QFETCH(QString, told);
    ScopedWorkDir work;
    Outside outside;
    const QString g = Graftal::Directory + "/";
    if (shape == "lone link under the new name") {
        QVERIFY(QDir().mkpath(Graftal::Directory));
        link(outside.file("victim.png"), g + "Untitled_1_001.png");
    } else if (shape == "lone pipe under the new name") {
        QVERIFY(QDir().mkpath(Graftal::Directory));
        QCOMPARE(::mkfifo(QFile::encodeName(g + "Untitled_1_001.png").constData(), 0644), 0);
    } else if (shape == "parameter file is a link") {
        writeGraftal("leaf", "leaf", "2", {Qt::blue});
        link(outside.file("victim.xml"), g + "grass.xml");
    } else {
        // An id that is no id counts as a change: the pack is written at once.
        const bool second = shape.startsWith("second");
        writeGraftal("grass", "grass", "x", second ? QList<QColor>{Qt::blue} : QList<QColor>{});
        QVERIFY(writeBytes(g + "grass_002.png", levelPng(Qt::green)));
        const QString at = g + (second ? "grass_002.png" : "grass_001.png");
        QFile::remove(at);
        if (shape.contains("pipe"))
            QCOMPARE(::mkfifo(QFile::encodeName(at).constData(), 0644), 0);
        else
            link(shape.contains("zero")      ? QStringLiteral("/dev/zero")
                 : shape.contains("nowhere") ? outside.file("new.png")
                                             : outside.file("victim.png"),
                 at);
    }
    // The links and pipes themselves stay as they are.
    auto oddEntries = [] {
        QStringList odd;
        for (const QFileInfo &info :
             QDir(Graftal::Directory)
                 .entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
            if (info.isSymLink() || !info.isFile())
                odd << info.fileName() + " -> " + info.symLinkTarget();
        return odd;
    };
    const QByteArray before = fingerprint(outside.dir.path());
    const QStringList specials = oddEntries();
    for (int run = 0; run < 2; ++run) {
        LibrarySession s;
        QVERIFY2(s.problems.join(' ').contains(told), qPrintable(s.problems.join('\n')));
        for (Graftal *graftal : s.library.listedGraftals()) {
            if (graftal->name() != "grass")
                continue;
            // The level that is a file keeps its picture wherever it is written.
            const QColor kept = shape.startsWith("second") ? QColor(Qt::blue) : QColor(Qt::green);
            QCOMPARE(colourOf(graftal, 0), kept);
            s.draw(graftal, 0, kept); // drawn on: a save writes it again
        }
        QCOMPARE(s.library.saveChangedGraftals(), QStringList()); // written elsewhere
        for (Graftal *graftal : s.library.listedGraftals())
            QVERIFY(!graftal->hasUnsavedChanges());
        s.quit();
    }
    QCOMPARE(fingerprint(outside.dir.path()), before);
    QCOMPARE(oddEntries(), specials);
    QVERIFY(!QFileInfo::exists(outside.file("new.png")));
}

void TestSharedFiles::aFileSwappedForALinkStays_data()
{
    QTest::addColumn<QString>("shape");
    QTest::newRow("link to a file") << "file";
    QTest::newRow("link to nowhere") << "nowhere";
    QTest::newRow("named pipe") << "pipe";
}

// During a session a level file of a graftal is swapped for a link (or a pipe); the
// graftal is then renamed, so that its files move: what stands under the old name stays,
// and the status line names it.
void TestSharedFiles::aFileSwappedForALinkStays()
{
    QFETCH(QString, shape);
    ScopedWorkDir work;
    Outside outside;
    writeGraftal("grass", "grass", "3", {Qt::green, Qt::blue});
    const QByteArray before = fingerprint(outside.dir.path());
    LibrarySession s;
    Graftal *grass = s.graftal("grass");
    QVERIFY(grass);
    s.draw(grass, 0, Qt::red);
    s.draw(grass, 1, Qt::yellow);
    const QString at = Graftal::Directory + "/grass_001.png";
    QVERIFY(QFile::remove(at));
    if (shape == "pipe")
        QCOMPARE(::mkfifo(QFile::encodeName(at).constData(), 0644), 0);
    else
        link(outside.file(shape == "file" ? "victim.png" : "new.png"), at);
    const safefile::Kind kind = safefile::kindOf(at);
    s.rename(grass, "moss");
    QCOMPARE(s.library.saveChangedGraftals(), QStringList());
    QCOMPARE(safefile::kindOf(at), kind);
    QVERIFY2(s.problems.contains(safefile::refusal(at, kind)), qPrintable(s.problems.join('\n')));
    QStringList files = onDisk();
    files.removeAll("grass_001.png"); // listed when it links to a file
    QCOMPARE(files, (QStringList{"moss.xml", "moss_001.png", "moss_002.png"}));
    QCOMPARE(colourOf(grass, 0), QColor(Qt::red));
    s.quit();
    QCOMPARE(fingerprint(outside.dir.path()), before);
    QVERIFY(!QFileInfo::exists(outside.file("new.png")));
}

// A name that fits a folder entry (240 bytes and "_001.png") saves, the first time and
// every time after: the saves' temporary files have short names of their own.
void TestSharedFiles::aPackGraftalOfALongNameSaves()
{
    ScopedWorkDir work;
    const QString base(240, QLatin1Char('g'));
    writeGraftal(base, "long", "4", {Qt::green});
    LibrarySession s;
    Graftal *g = s.graftal("long");
    QVERIFY(g);
    for (const QColor &colour : {QColor(Qt::red), QColor(Qt::blue)}) {
        s.draw(g, 0, colour);
        QCOMPARE(s.library.saveChangedGraftals(), QStringList());
        QVERIFY(!g->hasUnsavedChanges());
    }
    QCOMPARE(onDisk(), (QStringList{base + ".xml", base + "_001.png"}));
    QCOMPARE(QImage(Graftal::Directory + "/" + base + "_001.png").pixelColor(5, 5),
             QColor(Qt::blue));
    QVERIFY(s.problems.isEmpty());
}

void TestSharedFiles::oversizedPacksAreReadWithinLimits_data()
{
    QTest::addColumn<QString>("shape");
    QTest::addColumn<QString>("told");
    QTest::addColumn<int>("levels"); // of the graftal "pack", -1: not listed
    QTest::newRow("deep XML") << "deep"
                              << "nested deeper than 8 levels" << -1;
    QTest::newRow("XML over 1 MB") << "huge"
                                   << "larger than Tuftmill reads" << -1;
    QTest::newRow("level image 8000 x 4000") << "wide"
                                             << "larger than a level image" << 2;
    QTest::newRow("70 levels") << "many"
                               << "reads the first 64" << 64;
    QTest::newRow("name not UTF-8") << "bytes"
                                    << "not valid UTF-8" << 1;
}

void TestSharedFiles::oversizedPacksAreReadWithinLimits()
{
    QFETCH(QString, shape);
    QFETCH(QString, told);
    QFETCH(int, levels);
    ScopedWorkDir work;
    const QString g = Graftal::Directory + "/";
    writeGraftal("keep", "keep", "9", {Qt::gray});
    writeGraftal("pack", "pack", "5", {Qt::red});
    if (shape == "deep") {
        QByteArray deep = "<config><name type=\"10\">pack</name>";
        deep += QByteArray("<a>").repeated(5000) + QByteArray("</a>").repeated(5000) + "</config>";
        QVERIFY(writeBytes(g + "pack.xml", deep));
    } else if (shape == "huge") {
        QVERIFY(writeBytes(g + "pack.xml", "<config><name type=\"10\">pack</name><!--" +
                                               QByteArray(1100000, 'x') + "--></config>"));
    } else if (shape == "wide") {
        QVERIFY(writeBytes(g + "pack_002.png", levelPng(Qt::green, {8000, 4000})));
    } else if (shape == "many") {
        for (int i = 2; i <= 70; ++i)
            QVERIFY(writeBytes(QStringLiteral("%1pack_%2.png").arg(g).arg(i, 3, 10, QChar('0')),
                               levelPng(QColor(i, 0, 0))));
    } else {
        const QByteArray raw = QFile::encodeName(g) + "odd\xff.xml";
        const int fd = ::open(raw.constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
    }
    const QByteArray before = fingerprint(Graftal::Directory);
    {
        LibrarySession s;
        QVERIFY2(
            s.problems.join(' ').contains(told),
            qPrintable(s.problems.join('\n') + QDir(Graftal::Directory).entryList().join(',')));
        Graftal *pack = s.graftal("pack");
        QVERIFY2((pack ? pack->levelCount() : -1) == levels, qPrintable(s.listed().join(',')));
        if (shape == "wide") // shown empty; its file stays
            QCOMPARE(qAlpha(pack->levels()[1].first.toImage().pixel(9, 9)), 0);
        if (shape == "many") { // no level beyond those read: the others stay as they are
            pack->addLevel();
            QCOMPARE(pack->levelCount(), 64);
        }
        s.quit();
    }
    QCOMPARE(fingerprint(Graftal::Directory), before); // nothing changed: nothing written
}

void TestSharedFiles::decodedLevelsStayWithinTheirBudget()
{
    ScopedWorkDir work;
    constexpr int Graftals = 12;
    for (int i = 0; i < Graftals; ++i)
        writeGraftal(QStringLiteral("g%1").arg(i, 2, 10, QChar('0')), QStringLiteral("g%1").arg(i),
                     QString::number(i + 1), {QColor(10 * i, 0, 0), QColor(0, 10 * i, 0)});
    LevelMemory &memory = LevelMemory::instance();
    const qint64 oneGraftal = 2 * 2 * 400 * 400 * 4;
    memory.setBudget(3 * oneGraftal);
    {
        LibrarySession s;
        const QList<Graftal *> all = s.library.listedGraftals();
        QCOMPARE(all.size(), Graftals);
        // Drawn on and not saved: never let go, whatever else is used.
        s.draw(all[0], 1, Qt::cyan);
        for (int round = 0; round < 2; ++round)
            for (int i = 1; i < Graftals; ++i) {
                QCOMPARE(colourOf(all[i], 1), QColor(0, 10 * i, 0)); // decoded again, the same
                QVERIFY(memory.residentBytes() <= memory.budget() + 2 * oneGraftal);
            }
        QCOMPARE(colourOf(all[0], 1), QColor(Qt::cyan));
        QVERIFY(all[0]->hasUnsavedChanges());
        s.quit();
    }
    // A level let go from memory whose file then goes (one too large to keep as listed, so
    // kept once decoded): written again as it was, never blank.
    QImage noise(800, 400, QImage::Format_ARGB32);
    QRandomGenerator random(42);
    for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 800; ++x)
            noise.setPixel(x, y, random.generate());
    QVERIFY(noise.save(Graftal::Directory + "/g05_002.png"));
    QVERIFY(QFileInfo(Graftal::Directory + "/g05_002.png").size() > (1 << 20));
    {
        LibrarySession s;
        Graftal *g5 = s.graftal("g5");
        QCOMPARE(qAlpha(g5->levels()[1].first.toImage().pixel(7, 3)), qAlpha(noise.pixel(7, 3)));
        memory.setBudget(0);
        s.graftal("g6")->levels();
        QVERIFY(QFile::remove(Graftal::Directory + "/g05_002.png"));
        s.rename(g5, "moved");
        QString error;
        QVERIFY2(s.library.saveGraftal(g5, &error), qPrintable(error));
        QCOMPARE(QImage(Graftal::Directory + "/moved_002.png").pixel(7, 3), noise.pixel(7, 3));
    }
    memory.setBudget(LevelMemory::DefaultBudget);
    LibrarySession again;
    QCOMPARE(colourOf(again.graftal("g0"), 1), QColor(Qt::cyan));
    QCOMPARE(colourOf(again.graftal("g11"), 0), QColor(110, 0, 0));
}

void TestSharedFiles::idsStayWithTheWorkspace()
{
    ScopedWorkDir work;
    writeGraftal("Grass_blades", "Grass blades", "1", {Qt::green});
    {
        LibrarySession s; // the workspace learns its graftals
        QCOMPARE(s.library.graftalById(1)->name(), QStringLiteral("Grass blades"));
    }
    QVERIFY(QFileInfo::exists(TreeManager::idsFileName()));
    // A pack's graftal with the same id and an older file, as an unpacked archive has.
    writeGraftal("Pack_fur", "Pack fur", "1", {Qt::red});
    backdate(Graftal::Directory + "/Pack_fur.xml", 2001);
    unsigned int packId = 0;
    for (int run = 0; run < 2; ++run) {
        LibrarySession s;
        QCOMPARE(s.library.graftalById(1)->name(), QStringLiteral("Grass blades"));
        const unsigned int id = s.graftal("Pack fur")->id();
        QVERIFY(id != 1);
        QVERIFY(run == 0 || id == packId); // the newcomer keeps its new id
        packId = id;
        s.quit();
    }
    // Without the record, the older file decides once, and is recorded.
    writeGraftal("Old", "Old", "1", {Qt::blue});
    QFile::remove(TreeManager::idsFileName());
    backdate(Graftal::Directory + "/Old.xml", 1999);
    {
        LibrarySession s;
        QCOMPARE(s.library.graftalById(1)->name(), QStringLiteral("Old"));
        s.quit();
    }
    LibrarySession s;
    QCOMPARE(s.library.graftalById(1)->name(), QStringLiteral("Old"));
}

void TestSharedFiles::sceneFilesAreNeverFollowed_data()
{
    QTest::addColumn<QString>("shape");
    QTest::addColumn<QString>("told");
    QTest::newRow("link to a file") << "file"
                                    << "is a link";
    QTest::newRow("link to nowhere") << "nowhere"
                                     << "is a link";
    QTest::newRow("link to /dev/zero") << "zero"
                                       << "is a link";
    QTest::newRow("named pipe") << "pipe"
                                << "is not a regular file";
}

void TestSharedFiles::sceneFilesAreNeverFollowed()
{
    QFETCH(QString, shape);
    QFETCH(QString, told);
    ScopedWorkDir work;
    Outside outside;
    QVERIFY(QDir().mkpath("scenes"));
    twoMeshModel().save("two.3ds");
    auto g = Graftal::create(1, "one");
    Scene scene;
    QString error;
    QVERIFY(scene.loadModel("two.3ds", error));
    scene.addInstance(scene.face(0), {0.2, 0.2}, g.get());
    const QByteArray at = QFile::encodeName(scene.stateFileName());
    if (shape == "pipe")
        QCOMPARE(::mkfifo(at.constData(), 0644), 0);
    else
        link(shape == "zero" ? "/dev/zero" : outside.file(shape == "file" ? "victim.xml" : "new"),
             QString::fromUtf8(at));
    const QByteArray before = fingerprint(outside.dir.path());
    QVERIFY(!scene.loadStateFrom(scene.stateFileName(), error)); // at once, never waiting
    QVERIFY2(error.contains(told), qPrintable(error));
    QCOMPARE(scene.instanceCount(), 1);
    QVERIFY(!scene.saveState());
    QVERIFY2(scene.stateError().contains(told), qPrintable(scene.stateError()));
    QCOMPARE(fingerprint(outside.dir.path()), before);
}

void TestSharedFiles::reloadAsksRefusesAndReports()
{
    ScopedWorkDir work;
    twoMeshModel().save("two.3ds");
    Tuftmill window;
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    GLRender *view = window.form().view;
    QVERIFY(view->openModel("two.3ds"));
    Scene *scene = view->scene();
    Graftal *g = TreeManager::instance()->currentGraftal();
    auto paint = [&] {
        scene->beginStroke();
        scene->addInstance(scene->face(0), {0.25, 0.25}, g);
        scene->endStroke();
    };
    QAction reload;
    reload.setData(GLRender::ReloadStateAction);
    // Unsaved graftals: asked first; Cancel keeps them and their history.
    paint();
    {
        MessageBoxCatcher cancel(QMessageBox::Cancel);
        view->dispatchAction(&reload);
        QCOMPARE(cancel.titles, QStringList{"Unsaved scene"});
    }
    QCOMPARE(scene->instanceCount(), 1);
    QVERIFY(scene->canUndo());

    // A text file is no scene: refused with a message, and what is painted stays.
    QVERIFY(writeBytes(scene->stateFileName(), "these are notes, not a scene\n"));
    {
        MessageBoxCatcher discard(QMessageBox::Discard);
        view->dispatchAction(&reload);
        QCOMPARE(discard.titles, (QStringList{"Unsaved scene", "Reload failed"}));
        QVERIFY2(discard.texts[1].contains("not a scene file"), qPrintable(discard.texts[1]));
    }
    QCOMPARE(scene->instanceCount(), 1);

    // A reload that drops records says how many.
    QSignalSpy status(view, &GLRender::statusMessage);
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_4_3);
    out << QColor(Qt::white) << qint32(3);
    for (int id : {int(g->id()), 999, 998})
        out << qint32(0) << qint32(id) << 0.2 << 0.2;
    QVERIFY(writeBytes(scene->stateFileName(), bytes));
    scene->markSaved(); // nothing left to ask about
    {
        MessageBoxCatcher none(QMessageBox::Cancel);
        view->dispatchAction(&reload);
        QVERIFY(none.titles.isEmpty());
    }
    QCOMPARE(scene->instanceCount(), 1);
    QCOMPARE(status.size(), 1);
    QVERIFY2(status[0][0].toString().startsWith("2 of the 3 graftals"),
             qPrintable(status[0][0].toString()));

    // A scene of another model under the same name is replaced only when the user says so.
    QVERIFY(QDir().mkpath("elsewhere"));
    QVERIFY(twoMeshModel().save("elsewhere/two.3ds"));
    QVERIFY(view->openModel("elsewhere/two.3ds"));
    out.device()->seek(0);
    out << QColor(Qt::white) << qint32(3);
    for (int face : {0, 500, 501})
        out << qint32(face) << qint32(g->id()) << 0.2 << 0.2;
    QVERIFY(writeBytes(scene->stateFileName(), bytes));
    paint();
    QVERIFY(QFile::setPermissions(scene->stateFileName(), QFile::ReadOwner | QFile::WriteOwner |
                                                              QFile::ReadGroup | QFile::WriteGroup |
                                                              QFile::ReadOther));
    QAction save;
    save.setData(GLRender::SaveStateAction);
    for (auto answer : {QMessageBox::Cancel, QMessageBox::Save}) {
        MessageBoxCatcher boxes(answer);
        view->dispatchAction(&save);
        QCOMPARE(boxes.titles, QStringList{"Replace scene"});
        QVERIFY2(boxes.texts[0].contains("2 of its 3 graftals"), qPrintable(boxes.texts[0]));
        QCOMPARE(readBytes(scene->stateFileName()) == bytes, answer == QMessageBox::Cancel);
    }
    QVERIFY(QFileInfo(scene->stateFileName()).permissions() & QFile::WriteGroup); // kept
    TreeManager::destroyInstance();
}

void TestSharedFiles::smallFilesCostTheirSize()
{
    // A scene's limit is some 2 GiB: reading a small one must not set that much aside, which
    // fails outright where memory is not overcommitted.
    ScopedWorkDir work;
    const QByteArray content(100, 'x');
    QVERIFY(writeBytes("small.dat", content));
    QByteArray bytes;
    QString why;
    QVERIFY(safefile::read("small.dat", qint64(2) << 30, bytes, why));
    QCOMPARE(bytes, content);
    QVERIFY2(bytes.capacity() < 4096, qPrintable(QString::number(bytes.capacity())));
}

TUFTMILL_GL_TEST_MAIN(TestSharedFiles)
#include "tst_shared_files.moc"
