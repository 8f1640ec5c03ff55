#include "../support/TestSupport.h"
#include "Graftal.h"
#include "LoggerOutput.h"

#include <QPainter>
#include <QSignalSpy>

using testsupport::ScopedWorkDir;

namespace {

bool fullyTransparent(const QImage &image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(argb.pixel(x, y)) != 0)
                return false;
    return true;
}

// A level with a distinct colour for texture and mask, and a marker dot.
LevelPair numberedLevel(int i)
{
    QPixmap texture = testsupport::filledLevel(QColor(10 * i, 255 - 10 * i, 7, 255));
    QPixmap mask(Graftal::LevelSide, Graftal::LevelSide);
    mask.fill(Qt::transparent);
    QPainter p(&mask);
    p.fillRect(QRect(i * 20, 0, 20, 20), Qt::black);
    return {texture, mask};
}

void makeGraftalDir()
{
    QVERIFY(QDir().mkpath(Graftal::Directory));
}

// Size, width, lean, hue and value.
GraftalVariation variationOf(const QList<double> &a)
{
    return {a.value(0), a.value(1), a.value(2), a.value(3), a.value(4)};
}
} // namespace

class TestGraftal : public QObject
{
    Q_OBJECT
private slots:
    void createGivesOneBlankLevelAndDefaults();
    void saveWritesXmlAndTransparentPng();
    void twelveLevelsRoundTrip();
    void renameMovesToNewFilesOnceComplete();
    void unreadableLevelKeepsItsPlaceAndBytes();
    void completeSaveLeavesExactlyItsOwnLevelFiles();
    void settersIgnoreUnchangedValues();
    void fileNamesFollowTheName_data();
    void fileNamesFollowTheName();
    void levelFilesMatchOnlyTheirOwnNumberedFiles();
    void previewAndScaledLevels();
    void oddSizedPngsAreTransparentOutside();
    void damagedXmlIsReportedAndUntouched();
    void missingXmlGivesDefaultsAndPngLevels();
    void failedSaveIsReportedAndKeepsOldFiles();
    void variationFileIsReadSafely_data();
    void variationFileIsReadSafely();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestGraftal::createGivesOneBlankLevelAndDefaults()
{
    auto g = Graftal::create(1, QStringLiteral("Untitled 1"));
    QCOMPARE(g->id(), 1u);
    QCOMPARE(g->name(), QStringLiteral("Untitled 1"));
    QCOMPARE(g->fileName(), QStringLiteral("Untitled_1"));
    QCOMPARE(g->baseSize(), 1.01);
    QCOMPARE(g->levels().size(), 1);
    QCOMPARE(g->currentLevel, 0);
    QVERIFY(!g->texturesDirty);
    QCOMPARE(g->levels()[0].first.size(), QSize(400, 400));
    QCOMPARE(g->levels()[0].second.size(), QSize(400, 400));
    QVERIFY(fullyTransparent(g->levels()[0].first.toImage()));
    QVERIFY(fullyTransparent(g->levels()[0].second.toImage()));
}

void TestGraftal::saveWritesXmlAndTransparentPng()
{
    ScopedWorkDir work;
    makeGraftalDir();
    auto g = Graftal::create(1, QStringLiteral("Untitled 1"));
    QVERIFY(g->save());
    QCOMPARE(
        testsupport::readBytes(work.file("graftals/Untitled_1.xml")),
        QByteArray("<config>\n  <baseSize type=\"6\">1.01</baseSize>\n  <id type=\"3\">1</id>\n"
                   "  <name type=\"10\">Untitled 1</name>\n</config>\n"));
    const QImage png(work.file("graftals/Untitled_1_001.png"));
    QCOMPARE(png.size(), QSize(800, 400));
    QVERIFY(fullyTransparent(png));
    QCOMPARE(QDir(work.file("graftals")).entryList(QDir::Files).size(), 2);
    QCOMPARE(g->storedFileName(), QStringLiteral("Untitled_1"));
}

void TestGraftal::twelveLevelsRoundTrip()
{
    ScopedWorkDir work;
    makeGraftalDir();
    auto g = Graftal::create(5, QStringLiteral("fur tuft"));
    g->setBaseSize(2.5);
    g->setLevel(0, numberedLevel(0));
    for (int i = 1; i < 12; ++i) {
        g->addLevel();
        g->setLevel(i, numberedLevel(i));
    }
    QVERIFY(g->save());
    for (int i = 1; i <= 12; ++i)
        QVERIFY(QFile::exists(
            work.file(QStringLiteral("graftals/fur_tuft_%1.png").arg(i, 3, 10, QLatin1Char('0')))));

    QString error;
    auto back = Graftal::load(QStringLiteral("fur_tuft"), error);
    QVERIFY(error.isEmpty());
    QCOMPARE(back->id(), 5u);
    QCOMPARE(back->name(), QStringLiteral("fur tuft"));
    QCOMPARE(back->baseSize(), 2.5);
    QVERIFY(back->texturesDirty);
    QCOMPARE(back->levels().size(), 12);
    for (int i = 0; i < 12; ++i) {
        const QImage texture = back->levels()[i].first.toImage();
        const QImage mask = back->levels()[i].second.toImage();
        QCOMPARE(texture.pixelColor(200, 200), QColor(10 * i, 255 - 10 * i, 7, 255));
        QCOMPARE(qAlpha(mask.pixel(i * 20 + 5, 5)), 255);
        QCOMPARE(qAlpha(mask.pixel((i + 1) * 20 + 5 < 400 ? (i + 1) * 20 + 5 : 5, 30)), 0);
    }
}

void TestGraftal::renameMovesToNewFilesOnceComplete()
{
    ScopedWorkDir work;
    makeGraftalDir();
    auto g = Graftal::create(2, QStringLiteral("grass"));
    g->addLevel();
    QVERIFY(g->save());
    QVERIFY(!g->hasUnsavedChanges());
    QSignalSpy renamed(g.get(), &Graftal::nameChanged);
    g->setName(QStringLiteral("tall grass"));
    QCOMPARE(renamed.size(), 1);
    QCOMPARE(renamed.first().first().value<Graftal *>(), g.get());
    QVERIFY(g->renamedSinceStored() && g->hasUnsavedChanges());

    // A level file of the new name cannot be written: the graftal stays on its old files,
    // complete, and nothing of the new name is left to make a second graftal appear.
    QVERIFY(QDir().mkdir(work.file("graftals/tall_grass_002.png")));
    QString error;
    QVERIFY(!g->save(&error));
    QVERIFY2(error.contains("tall_grass_002.png"), qPrintable(error));
    QCOMPARE(QDir(work.file("graftals")).entryList(QDir::Files),
             (QStringList{"grass.xml", "grass_001.png", "grass_002.png"}));
    QCOMPARE(g->storedFileName(), QStringLiteral("grass"));
    QVERIFY(g->ownsBaseName("grass") && g->hasUnsavedChanges());

    QVERIFY(QDir().rmdir(work.file("graftals/tall_grass_002.png")));
    QVERIFY(g->save());
    QCOMPARE(QDir(work.file("graftals")).entryList(QDir::Files),
             (QStringList{"tall_grass.xml", "tall_grass_001.png", "tall_grass_002.png"}));
    QVERIFY(!g->ownsBaseName("grass") && !g->hasUnsavedChanges());
}

void TestGraftal::unreadableLevelKeepsItsPlaceAndBytes()
{
    ScopedWorkDir work;
    makeGraftalDir();
    auto g = Graftal::create(4, QStringLiteral("Leaf"));
    for (int i = 0; i < 4; ++i) {
        if (i)
            g->addLevel();
        g->setLevel(i, numberedLevel(i));
    }
    QVERIFY(g->save());
    const QByteArray garbage("\x89PNG\r\n\x1a\n but then nothing a decoder wants");
    QVERIFY(testsupport::writeBytes(work.file("graftals/Leaf_002.png"), garbage));

    QString error;
    auto back = Graftal::load(QStringLiteral("Leaf"), error);
    QCOMPARE(back->levels().size(), 4);
    QVERIFY(fullyTransparent(back->levels()[1].first.toImage()));
    QCOMPARE(back->levels()[2].first.toImage().pixelColor(9, 9), QColor(20, 235, 7));
    QCOMPARE(back->unreadableLevelFile(1), QStringLiteral("Leaf_002.png"));
    QCOMPARE(back->loadWarnings().size(), 1);
    QVERIFY(back->loadWarnings().first().contains("graftals/Leaf_002.png"));
    QVERIFY(!back->hasUnsavedChanges());

    // Saved under the same name, and under a new one: the bytes travel unchanged.
    QVERIFY(back->save());
    QCOMPARE(testsupport::readBytes(work.file("graftals/Leaf_002.png")), garbage);
    back->setName(QStringLiteral("Oak"));
    QVERIFY(back->save());
    QCOMPARE(testsupport::readBytes(work.file("graftals/Oak_002.png")), garbage);
    QVERIFY(!QFile::exists(work.file("graftals/Leaf_002.png")));
    QCOMPARE(back->unreadableLevelFile(1), QStringLiteral("Oak_002.png"));

    // Drawn on, the level is the user's own again and its file is written over.
    back->setLevel(1, numberedLevel(7));
    QVERIFY(back->unreadableLevelFile(1).isEmpty());
    QVERIFY(back->save());
    QCOMPARE(QImage(work.file("graftals/Oak_002.png")).pixelColor(9, 9), QColor(70, 185, 7));
}

void TestGraftal::completeSaveLeavesExactlyItsOwnLevelFiles()
{
    ScopedWorkDir work;
    makeGraftalDir();
    // Level files with gaps and other spellings of their numbers load in number order;
    // once saved, the graftal's files are numbered 001 onward and nothing else is left.
    {
        QFile xml(work.file("graftals/tuft.xml"));
        QVERIFY(xml.open(QIODevice::WriteOnly));
        xml.write("<config><name type=\"10\">tuft</name></config>");
    }
    const QStringList files{"tuft_1.png", "tuft_003.png", "tuft_0007.png"};
    for (int i = 0; i < files.size(); ++i) {
        QImage image(800, 400, QImage::Format_ARGB32);
        image.fill(QColor(10 * i, 255 - 10 * i, 7));
        QVERIFY(image.save(work.file("graftals/" + files[i])));
    }
    QString error;
    auto g = Graftal::load(QStringLiteral("tuft"), error);
    QCOMPARE(g->levels().size(), 3);
    QVERIFY(g->save());
    QCOMPARE(QDir(work.file("graftals")).entryList(QDir::Files),
             (QStringList{"tuft.xml", "tuft_001.png", "tuft_002.png", "tuft_003.png"}));
    auto again = Graftal::load(QStringLiteral("tuft"), error);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(again->levels()[i].first.toImage().pixelColor(5, 5),
                 QColor(10 * i, 255 - 10 * i, 7));
}

void TestGraftal::settersIgnoreUnchangedValues()
{
    auto g = Graftal::create(3, QStringLiteral("leaf"));
    QSignalSpy renamed(g.get(), &Graftal::nameChanged);
    g->setName(QStringLiteral("leaf"));
    QCOMPARE(renamed.size(), 0);
    g->setBaseSize(1.01);
    QCOMPARE(g->baseSize(), 1.01);
    g->setBaseSize(0.5);
    QCOMPARE(g->baseSize(), 0.5);
    g->setName(QString());
    g->setName(QString()); // an empty name set again still announces itself
    QCOMPARE(renamed.size(), 2);
    QCOMPARE(g->fileName(), QString());
}

void TestGraftal::fileNamesFollowTheName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("untitled") << "Untitled 1"
                              << "Untitled_1";
    QTest::newRow("accented") << "été"
                              << "_t_";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("punctuation") << "Fur/Tuft.v2"
                                 << "Fur_Tuft_v2";
    QTest::newRow("cjk") << "草 grass"
                         << "__grass";
}

void TestGraftal::fileNamesFollowTheName()
{
    QFETCH(QString, name);
    QFETCH(QString, fileName);
    QCOMPARE(Graftal::fileNameFor(name), fileName);
}

void TestGraftal::levelFilesMatchOnlyTheirOwnNumberedFiles()
{
    ScopedWorkDir work;
    makeGraftalDir();
    const QStringList files{"tree_001.png",     "tree_010.png", "tree_2.png", "tree2_001.png",
                            "tree_003.png.bak", "tree_x01.png", "tree_.png",  "tree_002_001.png"};
    for (const QString &f : files) {
        QFile file(work.file("graftals/" + f));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QCOMPARE(Graftal::levelFiles(QStringLiteral("tree")),
             (QStringList{"tree_001.png", "tree_2.png", "tree_010.png"}));
    QCOMPARE(Graftal::levelFiles(QStringLiteral("tree2")), (QStringList{"tree2_001.png"}));
    // A base with regular-expression characters is matched literally.
    QVERIFY(Graftal::levelFiles(QStringLiteral("tre.")).isEmpty());
}

void TestGraftal::previewAndScaledLevels()
{
    auto g = Graftal::create(1, QStringLiteral("p"));
    g->setLevel(0, {testsupport::filledLevel(Qt::red), testsupport::filledLevel(Qt::black)});
    const QImage preview = g->levelPreview(0).toImage();
    QCOMPARE(preview.size(), QSize(400, 400));
    const QColor c = preview.pixelColor(100, 100);
    QVERIFY2(qAbs(c.red() - 128) <= 1 && c.green() == 0 && c.blue() == 0 && c.alpha() == 255,
             qPrintable(c.name(QColor::HexArgb)));

    QCOMPARE(g->levelTexture(0, QSize(256, 256)).size(), QSize(256, 256));
    QCOMPARE(g->levelMask(0, QSize(1, 1)).size(), QSize(1, 1));
    QCOMPARE(g->levelTexture(0, QSize(16, 16)).pixelColor(8, 8), QColor(Qt::red));
}

void TestGraftal::oddSizedPngsAreTransparentOutside()
{
    ScopedWorkDir work;
    makeGraftalDir();
    {
        QFile xml(work.file("graftals/odd.xml"));
        QVERIFY(xml.open(QIODevice::WriteOnly));
        xml.write("<config><name type=\"10\">odd</name></config>");
    }
    // Smaller than a level image, without alpha channel: only what exists is kept.
    QImage small(500, 300, QImage::Format_RGB32);
    small.fill(QColor(0, 0, 255));
    QVERIFY(small.save(work.file("graftals/odd_001.png")));
    QImage big(900, 500, QImage::Format_ARGB32);
    big.fill(QColor(0, 255, 0, 255));
    QVERIFY(big.save(work.file("graftals/odd_002.png")));

    QString error;
    auto g = Graftal::load(QStringLiteral("odd"), error);
    QVERIFY(error.isEmpty());
    QCOMPARE(g->levels().size(), 2);
    const QImage texture = g->levels()[0].first.toImage();
    const QImage mask = g->levels()[0].second.toImage();
    QCOMPARE(texture.size(), QSize(400, 400));
    QCOMPARE(mask.size(), QSize(400, 400));
    QCOMPARE(texture.pixelColor(10, 10), QColor(0, 0, 255));
    QCOMPARE(qAlpha(texture.pixel(10, 350)), 0); // below the image
    QCOMPARE(mask.pixelColor(50, 10), QColor(0, 0, 255));
    QCOMPARE(qAlpha(mask.pixel(150, 10)), 0); // right of the image
    QCOMPARE(g->levels()[1].second.toImage().pixelColor(399, 399), QColor(0, 255, 0));
}

void TestGraftal::damagedXmlIsReportedAndUntouched()
{
    ScopedWorkDir work;
    makeGraftalDir();
    const QByteArray broken("<config><name type=\"10\">oops</name>");
    {
        QFile xml(work.file("graftals/broken.xml"));
        QVERIFY(xml.open(QIODevice::WriteOnly));
        xml.write(broken);
    }
    QString error;
    auto g = Graftal::load(QStringLiteral("broken"), error);
    QVERIFY(error.startsWith(QStringLiteral("Message: ")));
    QCOMPARE(testsupport::readBytes(work.file("graftals/broken.xml")), broken);
    QCOMPARE(QDir(work.file("graftals")).entryList(QDir::Files), QStringList{"broken.xml"});
}

void TestGraftal::missingXmlGivesDefaultsAndPngLevels()
{
    ScopedWorkDir work;
    makeGraftalDir();
    QImage level(800, 400, QImage::Format_ARGB32);
    level.fill(Qt::transparent);
    QVERIFY(level.save(work.file("graftals/ghost_001.png")));
    QString error;
    auto g = Graftal::load(QStringLiteral("ghost"), error);
    QVERIFY(error.isEmpty());
    QCOMPARE(g->id(), 0u);
    QCOMPARE(g->name(), QString());
    QCOMPARE(g->baseSize(), 0.0);
    QCOMPARE(g->levels().size(), 1);

    auto none = Graftal::load(QStringLiteral("nothing"), error);
    QCOMPARE(none->levels().size(), 1); // a blank level when no PNG loads
}

void TestGraftal::failedSaveIsReportedAndKeepsOldFiles()
{
    ScopedWorkDir work;
    makeGraftalDir();
    auto g = Graftal::create(1, QStringLiteral("blocked"));
    g->addLevel();
    QVERIFY(g->save());
    const QByteArray before = testsupport::readBytes(work.file("graftals/blocked_002.png"));
    // Something that is not a file stands where the XML and the first level go.
    QVERIFY(QFile::remove(work.file("graftals/blocked.xml")));
    QVERIFY(QDir().mkdir(work.file("graftals/blocked.xml")));
    QVERIFY(QFile::remove(work.file("graftals/blocked_001.png")));
    QVERIFY(QDir().mkdir(work.file("graftals/blocked_001.png")));
    g->setLevel(1, {testsupport::filledLevel(Qt::green), testsupport::filledLevel(Qt::green)});
    QString error;
    QVERIFY(!g->save(&error));
    QVERIFY2(error.contains(QStringLiteral("graftals/blocked.xml")), qPrintable(error));
    QVERIFY(error.contains(QStringLiteral("graftals/blocked_001.png")));
    QVERIFY(!error.contains(QStringLiteral("blocked_002.png")));
    QVERIFY(testsupport::readBytes(work.file("graftals/blocked_002.png")) !=
            before); // the rest still saved
    QCOMPARE(QDir(work.file("graftals")).entryList(QDir::Files).size(), 1);
}

void TestGraftal::variationFileIsReadSafely_data()
{
    QTest::addColumn<QByteArray>("file"); // "link": a link to a good file
    QTest::addColumn<QList<double>>("read");
    QTest::addColumn<QString>("note");
    const QByteArray head = R"({"format": "tuftmill-variation", "version": 1)";
    QTest::newRow("written") << variationOf({0.3, 0.2, 15, 10, 0.2}).toJson()
                             << QList<double>{0.3, 0.2, 15, 10, 0.2} << QString();
    QTest::newRow("some keys") << head + R"(, "lean": 30})" << QList<double>{0, 0, 30} << QString();
    QTest::newRow("bad values, the others kept")
        << head + R"(, "size": "big", "width": 0.25, "lean": 200, "hue": -5, "value": 1})"
        << QList<double>{0, 0.25, 0, 0, 1} << R"("size" must be a number from 0 to 0.9)";
    QTest::newRow("unknown key") << head + R"(, "colour": 3, "size": 0.1})" << QList<double>{0.1}
                                 << R"(the key "colour" is not known)";
    QTest::newRow("bad JSON") << head + R"(, "size")" << QList<double>{} << "is not a variation file";
    QTest::newRow("newer") << QByteArray(R"({"format": "tuftmill-variation", "version": 2})")
                           << QList<double>{} << "of version 1";
    QTest::newRow("too large") << head + QByteArray(70000, ' ') + "}" << QList<double>{}
                               << "is larger than Tuftmill reads";
    QTest::newRow("a link") << QByteArray("link") << QList<double>{} << "is a link";
}

// What a variation file holds is read through the workspace's file rules; what cannot be
// taken is named and left out, the rest kept, and the file stays as it was until the
// variation changes. Saving writes the amounts, and no file once they are all zero.
void TestGraftal::variationFileIsReadSafely()
{
    QFETCH(QByteArray, file);
    QFETCH(QList<double>, read);
    QFETCH(QString, note);
    ScopedWorkDir work;
    makeGraftalDir();
    QVERIFY(Graftal::create(4, QStringLiteral("Sward"))->save());
    const QByteArray xml = testsupport::readBytes("graftals/Sward.xml");
    const QString path = "graftals/Sward.variation.json";
    QVERIFY(file == "link" ? testsupport::writeBytes("good.json", variationOf({0.5}).toJson()) &&
                                 QFile::link(work.file("good.json"), path)
                           : testsupport::writeBytes(path, file));
    QString error;
    auto g = Graftal::load(QStringLiteral("Sward"), error);
    QCOMPARE(g->variation(), variationOf(read));
    QCOMPARE(g->loadWarnings().join(' ').contains(note), true);
    QCOMPARE(g->loadWarnings().isEmpty(), note.isEmpty());
    QVERIFY(!g->hasUnsavedChanges() && g->save());
    QCOMPARE(testsupport::readBytes(path), file == "link" ? variationOf({0.5}).toJson() : file);
    if (file == "link")
        return;
    g->setVariation(variationOf({0, 0, 5}));
    QVERIFY(g->save());
    QCOMPARE(testsupport::readBytes(path), variationOf({0, 0, 5}).toJson());
    g->setVariation({});
    QVERIFY(g->save());
    QVERIFY(!QFile::exists(path));
    QCOMPARE(testsupport::readBytes("graftals/Sward.xml"), xml);
}

QTEST_MAIN(TestGraftal)
#include "tst_graftal.moc"
