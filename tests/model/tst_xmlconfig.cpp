#include "../support/TestSupport.h"
#include "LoggerOutput.h"
#include "XmlConfig.h"

#include <QFile>

using testsupport::ScopedWorkDir;

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}
} // namespace

class TestXmlConfig : public QObject
{
    Q_OBJECT
private slots:
    void missingFileStartsEmptyAndSavesInKeyOrder();
    void settingAKeyAgainReplacesInPlace();
    void valuesReadBackWithTheirType();
    void elementsWithoutTextOrTypeReadAsInvalid();
    void fallbackAndBuiltInDefault();
    void savedLayoutSurvivesReadAndWrite();
    void malformedFileIsInvalidAndNeverOverwritten();
    void unreadableFileIsInvalid();
    void saveIntoUnwritablePlaceFails();
    void awkwardTextRoundTrips_data();
    void awkwardTextRoundTrips();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestXmlConfig::missingFileStartsEmptyAndSavesInKeyOrder()
{
    ScopedWorkDir work;
    XmlConfig config(QStringLiteral("absent.xml"), QString());
    QVERIFY(config.valid());
    QVERIFY(config.errorString().isEmpty());
    QVERIFY(!config.value(QStringLiteral("name")).isValid());
    config.setValue(QStringLiteral("name"), QStringLiteral("Tree"));
    config.setValue(QStringLiteral("baseSize"), 1.5);
    QVERIFY(config.save(QStringLiteral("out.xml")));
    QCOMPARE(testsupport::readBytes(QStringLiteral("out.xml")),
             QByteArray("<config>\n  <name type=\"10\">Tree</name>\n  <baseSize "
                        "type=\"6\">1.5</baseSize>\n</config>\n"));
    QVERIFY(!QFile::exists(QStringLiteral("absent.xml")));
}

void TestXmlConfig::settingAKeyAgainReplacesInPlace()
{
    ScopedWorkDir work;
    XmlConfig config(QStringLiteral("absent.xml"), QString());
    config.setValue(QStringLiteral("a"), 1.25);
    config.setValue(QStringLiteral("b"), QStringLiteral("x"));
    config.setValue(QStringLiteral("a"), QStringLiteral("now text"));
    QVERIFY(config.save(QStringLiteral("out.xml")));
    QCOMPARE(
        testsupport::readBytes(QStringLiteral("out.xml")),
        QByteArray("<config>\n  <a type=\"10\">now text</a>\n  <b type=\"10\">x</b>\n</config>\n"));
}

void TestXmlConfig::valuesReadBackWithTheirType()
{
    ScopedWorkDir work;
    {
        XmlConfig config(QStringLiteral("c.xml"), QString());
        config.setValue(QStringLiteral("id"), QVariant::fromValue(7u));
        config.setValue(QStringLiteral("baseSize"), 0.126);
        config.setValue(QStringLiteral("name"), QStringLiteral("été & <fur>"));
        QVERIFY(config.save(QStringLiteral("c.xml")));
    }
    XmlConfig again(QStringLiteral("c.xml"), QString());
    QVERIFY(again.valid());
    const QVariant id = again.value(QStringLiteral("id"));
    QCOMPARE(id.typeId(), QMetaType::UInt);
    QCOMPARE(id.toUInt(), 7u);
    QCOMPARE(again.value(QStringLiteral("baseSize")).typeId(), QMetaType::Double);
    QCOMPARE(again.value(QStringLiteral("baseSize")).toDouble(), 0.126);
    QCOMPARE(again.value(QStringLiteral("name")).toString(), QStringLiteral("été & <fur>"));
    QVERIFY(testsupport::readBytes(QStringLiteral("c.xml")).contains("<id type=\"3\">7</id>"));
}

void TestXmlConfig::elementsWithoutTextOrTypeReadAsInvalid()
{
    ScopedWorkDir work;
    writeFile(QStringLiteral("e.xml"),
              "<config><name type=\"10\"/><id>4</id><baseSize type=\"6\">2</baseSize><baseSize "
              "type=\"6\">9</baseSize></config>");
    XmlConfig config(QStringLiteral("e.xml"), QString());
    QVERIFY(config.valid());
    QVERIFY(!config.value(QStringLiteral("name")).isValid());
    QVERIFY(!config.value(QStringLiteral("id")).isValid());
    QCOMPARE(config.value(QStringLiteral("name")).toString(), QString());
    QCOMPARE(config.value(QStringLiteral("baseSize")).toDouble(), 2.0); // first element wins
}

void TestXmlConfig::fallbackAndBuiltInDefault()
{
    ScopedWorkDir work;
    XmlConfig builtIn(QStringLiteral("nothing-here.xml"), QStringLiteral(":graftal_default.xml"));
    QVERIFY(builtIn.valid());
    QCOMPARE(builtIn.value(QStringLiteral("baseSize")).toDouble(), 1.01);
    QCOMPARE(builtIn.value(QStringLiteral("baseSize")).typeId(), QMetaType::Double);

    writeFile(QStringLiteral("own.xml"), "<config><baseSize type=\"6\">3</baseSize></config>");
    XmlConfig own(QStringLiteral("own.xml"), QStringLiteral(":graftal_default.xml"));
    QCOMPARE(own.value(QStringLiteral("baseSize")).toDouble(), 3.0);
}

void TestXmlConfig::savedLayoutSurvivesReadAndWrite()
{
    ScopedWorkDir work;
    const QByteArray text(
        "<config>\n  <baseSize type=\"6\">1.01</baseSize>\n  <id type=\"3\">1</id>\n"
        "  <name type=\"10\">Untitled 1</name>\n</config>\n");
    writeFile(QStringLiteral("g.xml"), text);
    XmlConfig config(QStringLiteral("g.xml"), QString());
    QVERIFY(config.save(QStringLiteral("g2.xml")));
    QCOMPARE(testsupport::readBytes(QStringLiteral("g2.xml")), text);
}

void TestXmlConfig::malformedFileIsInvalidAndNeverOverwritten()
{
    ScopedWorkDir work;
    const QByteArray broken("<config>\n  <name type=\"10\">half");
    writeFile(QStringLiteral("bad.xml"), broken);
    XmlConfig config(QStringLiteral("bad.xml"), QString());
    QVERIFY(!config.valid());
    QVERIFY2(config.errorString().startsWith(QStringLiteral("Message: ")),
             qPrintable(config.errorString()));
    QVERIFY(config.errorString().contains(QStringLiteral("\nLine: ")));
    QVERIFY(config.errorString().contains(QStringLiteral("\nColumn: ")));
    QVERIFY(!config.value(QStringLiteral("name")).isValid());
    config.setValue(QStringLiteral("name"), QStringLiteral("x"));
    QString error;
    QVERIFY(!config.save(QStringLiteral("bad.xml"), &error));
    QVERIFY(error.contains(QStringLiteral("bad.xml")));
    QCOMPARE(testsupport::readBytes(QStringLiteral("bad.xml")), broken);
}

void TestXmlConfig::unreadableFileIsInvalid()
{
    ScopedWorkDir work;
    // A directory in the file's place exists but cannot be read as a file, even by root.
    QVERIFY(QDir().mkdir(QStringLiteral("locked.xml")));
    XmlConfig config(QStringLiteral("locked.xml"), QString());
    QVERIFY(!config.valid());
    QVERIFY(
        config.errorString().startsWith(QStringLiteral("Could not open locked.xml for reading")) ||
        config.errorString().startsWith(QStringLiteral("Message: ")));
    QVERIFY(!config.save(QStringLiteral("locked.xml")));
    QVERIFY(QFileInfo(QStringLiteral("locked.xml")).isDir());
}

void TestXmlConfig::saveIntoUnwritablePlaceFails()
{
    ScopedWorkDir work;
    XmlConfig config(QStringLiteral("absent.xml"), QString());
    config.setValue(QStringLiteral("k"), 1.0);
    QString error;
    QVERIFY(!config.save(QStringLiteral("no-such-dir/out.xml"), &error));
    QVERIFY(error.contains(QStringLiteral("no-such-dir/out.xml")));
    QVERIFY(!QFile::exists(QStringLiteral("no-such-dir")));
}

void TestXmlConfig::awkwardTextRoundTrips_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("form"); // how the element holds it
    QTest::newRow("blanks only") << "   "
                                 << "CDATA";
    QTest::newRow("padded") << " a b "
                            << "text";
    QTest::newRow("markup") << "<a & \"b\"> ]]>"
                            << "text";
    QTest::newRow("non-ASCII") << QStringLiteral("草 été ✓") << "text";
    QTest::newRow("tab") << "\t"
                         << "percent";
    QTest::newRow("line breaks") << "a\r\nb\rc"
                                 << "percent";
    QTest::newRow("control") << QStringLiteral("bell\x07 nul") + QChar(0) << "percent";
    QTest::newRow("non-character") << QString(QChar(0xfffe)) + "x"
                                   << "percent";
    QTest::newRow("percent sign") << "100% %41"
                                  << "text";
}

void TestXmlConfig::awkwardTextRoundTrips()
{
    QFETCH(QString, text);
    QFETCH(QString, form);
    ScopedWorkDir work;
    {
        XmlConfig config(QStringLiteral("absent.xml"), QString());
        config.setValue(QStringLiteral("name"), text);
        QCOMPARE(config.value(QStringLiteral("name")).toString(), text);
        QVERIFY(config.save(QStringLiteral("out.xml")));
    }
    const QByteArray bytes = testsupport::readBytes(QStringLiteral("out.xml"));
    QCOMPARE(bytes.contains("encoding=\"percent\""), form == "percent");
    QCOMPARE(bytes.contains("<![CDATA["), form == "CDATA");
    for (int i = 0; i < 3; ++i) { // read and written again, it stays the same
        XmlConfig back(QStringLiteral("out.xml"), QString());
        QVERIFY2(back.valid(), qPrintable(back.errorString()));
        QCOMPARE(back.value(QStringLiteral("name")).toString(), text);
        QCOMPARE(back.value(QStringLiteral("name")).typeId(), int(QMetaType::QString));
        QVERIFY(back.save(QStringLiteral("out.xml")));
        QCOMPARE(testsupport::readBytes(QStringLiteral("out.xml")), bytes);
    }
    // Set again to ordinary text, the element is ordinary again.
    XmlConfig config(QStringLiteral("out.xml"), QString());
    config.setValue(QStringLiteral("name"), QStringLiteral("Tree"));
    QVERIFY(config.save(QStringLiteral("out.xml")));
    QCOMPARE(testsupport::readBytes(QStringLiteral("out.xml")),
             QByteArray("<config>\n  <name type=\"10\">Tree</name>\n</config>\n"));
}

QTEST_GUILESS_MAIN(TestXmlConfig)
#include "tst_xmlconfig.moc"
