#include "../support/GlTestMain.h"
#include "../support/TestSupport.h"
#include "Configurator.h"
#include "GraftalDetailNavigator.h"
#include "GraftalPainter.h"
#include "GraftalThumbnailNavigator.h"
#include "LoggerOutput.h"
#include "PixmapScroller.h"
#include "TextureManager.h"

#include <QAccessible>
#include <QAction>
#include <QClipboard>
#include <QColorDialog>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QToolBar>
#include <QVBoxLayout>
#include <functional>

namespace {
std::unique_ptr<Graftal> graftalWithLevels(int levels, int id = 1)
{
    auto g = Graftal::create(id, QStringLiteral("g%1").arg(id));
    for (int i = 1; i < levels; ++i)
        g->addLevel();
    for (int i = 0; i < levels; ++i)
        g->setLevel(i, {testsupport::filledLevel(QColor::fromHsv(i * 40, 255, 255)),
                        testsupport::filledLevel(Qt::transparent)});
    return g;
}

void stroke(QWidget *w, QPoint from, QPoint to)
{
    QTest::mousePress(w, Qt::LeftButton, {}, from);
    QTest::mouseMove(w, to);
    QTest::mouseRelease(w, Qt::LeftButton, {}, to);
}

QRgb previewPixel(PixmapScroller *strip, int key)
{
    const QImage image = strip->pixmapOf(key).toImage();
    return image.pixel(image.width() / 2, image.height() / 2);
}
} // namespace

class TestPanels : public QObject
{
    Q_OBJECT
private slots:
    void texturePanelToolbar();
    void texturePanelWritesEveryChangeIntoTheGraftal();
    void colourDialog();
    void panelsIgnoreRequestsWithoutAGraftal();
    void detailNavigatorShowsLevels();
    void addingALevel();
    void editsRefreshTheirThumbnails();
    void thumbnailNavigatorKeysAndButtons();
    void propertiesPanelClampsAndCommits();
    void nameFieldRefusesControlCharacters();
    void iconButtonsAreNamedForAssistiveTools();
    void brushSizeAndOpacityOnTheSavedPixels_data();
    void brushSizeAndOpacityOnTheSavedPixels();
    void keyboardUndoAndImagesInAndOut();
    void levelButtonsNamesAndCurrentFrames();
    void cleanupTestCase() { LoggerOutput::shutdown(); }
};

void TestPanels::texturePanelToolbar()
{
    TextureManager panel;
    panel.setupToolBar();
    QStringList texts;
    for (QAction *a : panel.toolBar()->actions())
        texts << (a->isSeparator() ? QStringLiteral("|") : a->text());
    QCOMPARE(texts, (QStringList{"Select a color", "|", "Draw", "Erase", "|", "Undo", "Redo", "|",
                                 "Clear", "|", "Mask", "Texture"}));
    QVERIFY(panel.action("Texture")->isChecked());
    QVERIFY(!panel.action("Mask")->isChecked());
    QVERIFY(!panel.action("Draw")->isChecked() && !panel.action("Erase")->isChecked());
    QCOMPARE(panel.action("Draw")->data().toInt(), 0);
    QCOMPARE(panel.action("Erase")->data().toInt(), 1);
    QCOMPARE(panel.action("Undo")->data().toInt(), 0);
    QCOMPARE(panel.action("Redo")->data().toInt(), 1);
    QCOMPARE(panel.action("Mask")->data().toInt(), 1);
    QCOMPARE(panel.action("Texture")->data().toInt(), 0);
    QCOMPARE(panel.colorAction()->icon().pixmap(16, 16).toImage().pixelColor(8, 8),
             QColor(Qt::black));
    QCOMPARE(panel.painter()->undoAction, panel.action("Undo"));
    QCOMPARE(panel.painter()->redoAction, panel.action("Redo"));

    // Toolbar actions reach the painter.
    auto g = graftalWithLevels(1);
    panel.graftalSelected(g.get());
    panel.action("Erase")->trigger();
    QVERIFY(!panel.painter()->mouseDrawsStrokes());
    panel.action("Draw")->trigger();
    QVERIFY(panel.painter()->mouseDrawsStrokes());
    panel.action("Mask")->trigger();
    QVERIFY(!panel.painter()->editsTexture());
    QVERIFY(!panel.action("Texture")->isChecked());
}

void TestPanels::texturePanelWritesEveryChangeIntoTheGraftal()
{
    TextureManager panel;
    panel.setupToolBar();
    panel.show();
    auto g = graftalWithLevels(3);
    g->currentLevel = 1;
    QSignalSpy changed(&panel, &TextureManager::graftalPixmapChanged);
    panel.graftalSelected(g.get());
    QCOMPARE(panel.painter()->currentPixmaps().first.toImage().pixel(5, 5),
             QColor::fromHsv(40, 255, 255).rgb());

    // At start strokes draw, on the texture, in black.
    stroke(panel.painter(), {100, 100}, {200, 100});
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.first().first().value<Graftal *>(), g.get());
    QCOMPARE(g->levels()[1].first.toImage().pixelColor(150, 100), QColor(Qt::black));
    QCOMPARE(g->levels()[0].first.toImage().pixel(150, 100), QColor::fromHsv(0, 255, 255).rgb());

    // Undo writes straight into the graftal too.
    panel.action("Undo")->trigger();
    QCOMPARE(changed.size(), 2);
    QCOMPARE(g->levels()[1].first.toImage().pixel(150, 100), QColor::fromHsv(40, 255, 255).rgb());
    panel.action("Redo")->trigger();
    QCOMPARE(g->levels()[1].first.toImage().pixelColor(150, 100), QColor(Qt::black));
    panel.action("Clear")->trigger();
    QCOMPARE(g->levels()[1].first.toImage().pixelColor(150, 100).alpha(), 0);

    // Another level is loaded with a fresh history.
    panel.setPixmapIndex(2);
    QCOMPARE(panel.painter()->historySize(), 1);
    QCOMPARE(panel.painter()->currentPixmaps().first.toImage().pixel(5, 5),
             QColor::fromHsv(80, 255, 255).rgb());
}

void TestPanels::colourDialog()
{
    TextureManager panel;
    panel.setupToolBar();
    panel.show();
    auto g = graftalWithLevels(1);
    panel.graftalSelected(g.get());
    panel.painter()->setColor(Qt::yellow); // re-applied from the panel even when cancelled
    testsupport::ModalDriver cancel([](QWidget *w) {
        auto *dialog = qobject_cast<QColorDialog *>(w);
        if (dialog)
            dialog->reject();
        return dialog != nullptr;
    });
    panel.colorAction()->trigger();
    QTRY_COMPARE(cancel.handled, 1);
    QCOMPARE(panel.color(), QColor(Qt::black));
    QCOMPARE(panel.painter()->color(), QColor(Qt::black));

    testsupport::ModalDriver choose([](QWidget *w) {
        auto *dialog = qobject_cast<QColorDialog *>(w);
        if (dialog) {
            dialog->setCurrentColor(QColor(10, 200, 30));
            dialog->accept();
        }
        return dialog != nullptr;
    });
    panel.colorAction()->trigger();
    QTRY_COMPARE(choose.handled, 1);
    QCOMPARE(panel.color(), QColor(10, 200, 30));
    const QImage icon = panel.colorAction()->icon().pixmap(16, 16).toImage();
    QCOMPARE(icon.size(), QSize(16, 16));
    QCOMPARE(icon.pixelColor(0, 0), QColor(10, 200, 30));
    QCOMPARE(icon.pixelColor(15, 15), QColor(10, 200, 30));
    stroke(panel.painter(), {50, 50}, {90, 50});
    QCOMPARE(g->levels()[0].first.toImage().pixelColor(70, 50), QColor(10, 200, 30));
    panel.action("Mask")->trigger();
    stroke(panel.painter(), {50, 150}, {90, 150});
    QCOMPARE(g->levels()[0].second.toImage().pixelColor(70, 150), QColor(Qt::black));

    panel.selectObjectColor();
    QCOMPARE(panel.painter()->color(), QColor(254, 254, 254));
    QCOMPARE(panel.color(), QColor(10, 200, 30));
}

void TestPanels::panelsIgnoreRequestsWithoutAGraftal()
{
    TextureManager panel;
    panel.setupToolBar();
    QSignalSpy changed(&panel, &TextureManager::graftalPixmapChanged);
    panel.setPixmapIndex(0);
    panel.pixmapChanged();
    panel.action("Undo")->setEnabled(true);
    panel.action("Undo")->trigger();
    panel.action("Clear")->trigger();
    QCOMPARE(changed.size(), 0);
    QVERIFY(!panel.painter()->hasPixmaps());

    GraftalDetailNavigator detail;
    QSignalSpy index(&detail, &GraftalDetailNavigator::pixmapIndexChanged);
    detail.pixmapSelected(0);
    detail.addButton()->click(); // nothing shown yet: nothing to add to
    QCOMPARE(index.size(), 0);
    QCOMPARE(detail.scroller()->count(), 0);

    Configurator properties;
    properties.setupTabs();
    QSignalSpy configured(&properties, &Configurator::configurationChanged);
    properties.graftalNameChanged();
    properties.baseSizeChanged();
    QCOMPARE(configured.size(), 0);
}

void TestPanels::detailNavigatorShowsLevels()
{
    GraftalDetailNavigator detail;
    detail.resize(700, 200);
    detail.show();
    QCOMPARE(detail.minimumHeight(), 140);
    QCOMPARE(detail.maximumHeight(), 300);
    auto g = graftalWithLevels(3);
    detail.graftalSelected(g.get());
    QCOMPARE(detail.scroller()->count(), 3);
    QCOMPARE(previewPixel(detail.scroller(), 2), g->levelPreview(2).toImage().pixel(200, 200));

    // Selecting the graftal already shown leaves the strip as it is.
    QPixmap marker = testsupport::filledLevel(Qt::black);
    detail.scroller()->setPixmap(0, marker);
    detail.graftalSelected(g.get());
    QCOMPARE(previewPixel(detail.scroller(), 0), qRgb(0, 0, 0));

    // Picking a level makes it current and asks for it.
    QSignalSpy index(&detail, &GraftalDetailNavigator::pixmapIndexChanged);
    detail.pixmapSelected(2);
    QCOMPARE(g->currentLevel, 2);
    QCOMPARE(index.size(), 1);
    QCOMPARE(index.first().first().toInt(), 2);

    auto other = graftalWithLevels(5, 2);
    detail.graftalSelected(other.get());
    QCOMPARE(detail.scroller()->count(), 5);
}

void TestPanels::addingALevel()
{
    TextureManager panel;
    panel.setupToolBar();
    GraftalDetailNavigator detail;
    QObject::connect(&detail, &GraftalDetailNavigator::pixmapIndexChanged, &panel,
                     &TextureManager::setPixmapIndex);
    auto g = graftalWithLevels(3);
    g->currentLevel = 1;
    panel.graftalSelected(g.get());
    detail.graftalSelected(g.get());
    QSignalSpy index(&detail, &GraftalDetailNavigator::pixmapIndexChanged);
    detail.addButton()->click();
    QCOMPARE(g->levels().size(), 4);
    QCOMPARE(detail.scroller()->count(), 4);
    QCOMPARE(qAlpha(previewPixel(detail.scroller(), 3)), 0); // a transparent preview
    QCOMPARE(index.size(), 0);
    QCOMPARE(g->currentLevel, 1);
    // The painter still shows the level picked before.
    QCOMPARE(panel.painter()->currentPixmaps().first.toImage().pixel(5, 5),
             QColor::fromHsv(40, 255, 255).rgb());
}

void TestPanels::editsRefreshTheirThumbnails()
{
    GraftalDetailNavigator detail;
    GraftalThumbnailNavigator thumbs;
    auto g = graftalWithLevels(3);
    thumbs.graftalAdded(g.get());
    detail.graftalSelected(g.get());
    const QRgb before0 = previewPixel(detail.scroller(), 0);
    const QRgb before1 = previewPixel(detail.scroller(), 1);

    g->setLevel(2,
                {testsupport::filledLevel(Qt::white), testsupport::filledLevel(Qt::transparent)});
    g->setLevel(0,
                {testsupport::filledLevel(Qt::white), testsupport::filledLevel(Qt::transparent)});
    detail.pixmapUpdated(g.get(), 2);
    thumbs.pixmapUpdated(g.get(), 2);
    QCOMPARE(previewPixel(detail.scroller(), 2), qRgb(255, 255, 255));
    QCOMPARE(previewPixel(detail.scroller(), 0), before0); // only thumbnail 2
    QCOMPARE(previewPixel(detail.scroller(), 1), before1);
    QVERIFY(previewPixel(thumbs.scroller(), 1) != qRgb(255, 255, 255));

    detail.pixmapUpdated(g.get(), 0);
    thumbs.pixmapUpdated(g.get(), 0);
    QCOMPARE(previewPixel(detail.scroller(), 0), qRgb(255, 255, 255));
    QCOMPARE(previewPixel(thumbs.scroller(), 1), qRgb(255, 255, 255));

    // A graftal the navigator never heard of changes nothing.
    auto stranger = graftalWithLevels(1, 9);
    thumbs.pixmapUpdated(stranger.get(), 0);
    QCOMPARE(thumbs.scroller()->count(), 1);
}

void TestPanels::thumbnailNavigatorKeysAndButtons()
{
    GraftalThumbnailNavigator thumbs;
    QCOMPARE(thumbs.lastKey(), 0);
    auto a = graftalWithLevels(1, 1), b = graftalWithLevels(1, 2);
    thumbs.graftalAdded(a.get());
    thumbs.graftalAdded(b.get());
    QCOMPARE(thumbs.graftals().value(1), a.get());
    QCOMPARE(thumbs.graftals().value(2), b.get());
    QSignalSpy selected(&thumbs, &GraftalThumbnailNavigator::graftalSelected);
    thumbs.pixmapSelected(2);
    thumbs.pixmapSelected(17); // not a key: ignored
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.first().first().value<Graftal *>(), b.get());

    QSignalSpy add(&thumbs, &GraftalThumbnailNavigator::dispatchAddGraftal);
    QSignalSpy saveOne(&thumbs, &GraftalThumbnailNavigator::dispatchSaveCurrent);
    QSignalSpy saveAll(&thumbs, &GraftalThumbnailNavigator::dispatchSaveAll);
    QCOMPARE(thumbs.button(0)->toolTip(), QStringLiteral("New graftal"));
    QCOMPARE(thumbs.button(1)->toolTip(), QStringLiteral("Save selected graftal"));
    QCOMPARE(thumbs.button(2)->toolTip(), QStringLiteral("Save all graftals"));
    QVERIFY(thumbs.button(0)->text().isEmpty());
    thumbs.button(0)->click();
    thumbs.button(1)->click();
    thumbs.button(2)->click();
    thumbs.button(2)->click();
    QCOMPARE(add.size(), 1);
    QCOMPARE(saveOne.size(), 1);
    QCOMPARE(saveAll.size(), 2);
    // A graftal announced twice gets two thumbnails.
    thumbs.graftalAdded(a.get());
    QCOMPARE(thumbs.scroller()->count(), 3);
}

void TestPanels::propertiesPanelClampsAndCommits()
{
    Configurator properties;
    properties.setupTabs();
    properties.show();
    QCOMPARE(properties.tabText(0), QStringLiteral("General"));
    QSignalSpy configured(&properties, &Configurator::configurationChanged);
    auto g = Graftal::create(1, QStringLiteral("Untitled 1"));
    properties.graftalSelected(g.get());
    QCOMPARE(properties.nameField()->text(), QStringLiteral("Untitled 1"));
    QCOMPARE(properties.baseSizeField()->text(), QStringLiteral("1.01"));
    QCOMPARE(configured.size(), 0);

    g->setBaseSize(30);
    properties.graftalSelected(g.get());
    QCOMPARE(properties.baseSizeField()->value(), 20.0);
    QCOMPARE(g->baseSize(), 30.0);

    g->setBaseSize(0.126);
    properties.graftalSelected(g.get());
    QCOMPARE(properties.baseSizeField()->text(), QStringLiteral("0.13"));
    QCOMPARE(g->baseSize(), 0.126);
    properties.baseSizeField()->setFocus();
    QMetaObject::invokeMethod(properties.baseSizeField(), "editingFinished");
    QCOMPARE(g->baseSize(), 0.13);
    QCOMPARE(configured.size(), 1);

    // Leaving the name unchanged still commits it.
    QSignalSpy renamed(g.get(), &Graftal::nameChanged);
    emit properties.nameField()->editingFinished();
    QCOMPARE(configured.size(), 2);
    QCOMPARE(renamed.size(), 0); // the same non-empty name changes nothing
    properties.nameField()->setText(QStringLiteral("Fern"));
    emit properties.nameField()->editingFinished();
    QCOMPARE(g->name(), QStringLiteral("Fern"));
    QCOMPARE(renamed.size(), 1);
    QCOMPARE(configured.last().first().value<Graftal *>(), g.get());

    // Entries outside the range cannot be made.
    properties.baseSizeField()->clear();
    QTest::keyClicks(properties.baseSizeField(), QStringLiteral("99"));
    QTest::keyClick(properties.baseSizeField(), Qt::Key_Return);
    QVERIFY(g->baseSize() <= 20.0);

    // The variation below it, in per cent and degrees; an amount with more digits than its
    // field shows stays unless edited.
    g->setVariation({0.3333, 0, 0, 0, 0});
    properties.graftalSelected(g.get());
    const qsizetype before = configured.size();
    emit properties.sizeVariationField()->editingFinished();
    QCOMPARE(g->variation().size, 0.3333);
    for (QDoubleSpinBox *field : {properties.widthVariationField(), properties.leanField(),
                                  properties.hueVariationField(), properties.valueVariationField()})
        field->setValue(20), emit field->editingFinished();
    QCOMPARE(g->variation(), GraftalVariation({0.3333, 0.2, 20, 20, 0.2}));
    QCOMPARE(configured.size(), before + 4); // one for each change
}

void TestPanels::nameFieldRefusesControlCharacters()
{
    Configurator properties;
    properties.setupTabs();
    properties.show();
    auto g = Graftal::create(1, QStringLiteral("Fern"));
    properties.graftalSelected(g.get());
    QLineEdit *field = properties.nameField();
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("  Oak  "));
    field->insert(QStringLiteral("a\x01b"));
    QApplication::clipboard()->setText(QStringLiteral("tab\there"));
    field->paste();
    QApplication::clipboard()->setText(QStringLiteral("line\nbreak"));
    field->paste();
    QCOMPARE(field->text(), QStringLiteral("  Oak  "));
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(g->name(), QStringLiteral("  Oak  ")); // blanks kept exactly

    // A name that came from elsewhere with such a character is shown as it is and is
    // not committed unless the user makes it acceptable.
    auto odd = Graftal::create(2, QStringLiteral("bell\x07"));
    properties.graftalSelected(odd.get());
    QCOMPARE(field->text(), odd->name());
    QSignalSpy configured(&properties, &Configurator::configurationChanged);
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(configured.size(), 0);
    QCOMPARE(odd->name(), QStringLiteral("bell\x07"));
}

void TestPanels::iconButtonsAreNamedForAssistiveTools()
{
    QWidget host;
    auto *layout = new QVBoxLayout(&host);
    auto *thumbs = new GraftalThumbnailNavigator;
    auto *detail = new GraftalDetailNavigator;
    layout->addWidget(thumbs);
    layout->addWidget(detail);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    auto g = graftalWithLevels(1);
    detail->graftalSelected(g.get());

    // Found the way a screen reader or an automation tool finds them: by name in the
    // accessibility tree, then pressed through their accessible action.
    QMap<QString, QAccessibleInterface *> buttons;
    std::function<void(QAccessibleInterface *)> walk = [&](QAccessibleInterface *node) {
        if (node->role() == QAccessible::Button)
            buttons.insert(node->text(QAccessible::Name), node);
        for (int i = 0; i < node->childCount(); ++i)
            walk(node->child(i));
    };
    walk(QAccessible::queryAccessibleInterface(&host));
    QSignalSpy add(thumbs, &GraftalThumbnailNavigator::dispatchAddGraftal);
    QSignalSpy saveOne(thumbs, &GraftalThumbnailNavigator::dispatchSaveCurrent);
    QSignalSpy saveAll(thumbs, &GraftalThumbnailNavigator::dispatchSaveAll);
    const QStringList names{"New graftal", "Save selected graftal", "Save all graftals",
                            "Add a level of detail"};
    for (const QString &name : names) {
        QVERIFY2(buttons.contains(name), qPrintable(buttons.keys().join(", ")));
        QCOMPARE(qobject_cast<QPushButton *>(buttons[name]->object())->toolTip(), name);
        buttons[name]->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    }
    QTRY_COMPARE(add.size(), 1);
    QTRY_COMPARE(saveOne.size(), 1);
    QTRY_COMPARE(saveAll.size(), 1);
    QTRY_COMPARE(g->levels().size(), 2);
}

void TestPanels::brushSizeAndOpacityOnTheSavedPixels_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("opacity");
    QTest::addColumn<bool>("onMask");
    QTest::newRow("4 px, opaque") << 4 << 100 << false;
    QTest::newRow("15 px, half") << 15 << 50 << false;
    QTest::newRow("60 px, quarter") << 60 << 25 << false;
    QTest::newRow("100 px, half mask") << 100 << 50 << true;
}

// A stroke drawn there and back again covers its pixels once, at the opacity: on the mask
// the opacity becomes the mask's alpha, so the model's colour shows partly through.
void TestPanels::brushSizeAndOpacityOnTheSavedPixels()
{
    QFETCH(int, size);
    QFETCH(int, opacity);
    QFETCH(bool, onMask);
    testsupport::ScopedWorkDir work;
    QVERIFY(QDir().mkpath(Graftal::Directory));
    TextureManager panel;
    panel.setupToolBar();
    panel.show();
    auto g = Graftal::create(1, QStringLiteral("Brush"));
    panel.graftalSelected(g.get());
    panel.brushSizeBox()->setValue(size);
    panel.opacityBox()->setValue(opacity);
    if (onMask)
        panel.action("Mask")->trigger();
    QTest::mousePress(panel.painter(), Qt::LeftButton, {}, QPoint(100, 200));
    QTest::mouseMove(panel.painter(), QPoint(300, 200));
    QTest::mouseMove(panel.painter(), QPoint(150, 200));
    QTest::mouseRelease(panel.painter(), Qt::LeftButton, {}, QPoint(150, 200));
    QVERIFY(g->save());
    const QImage saved =
        QImage(Graftal::Directory + "/Brush_001.png").convertToFormat(QImage::Format_ARGB32);
    const int x = onMask ? 600 : 200;
    QCOMPARE(qAlpha(saved.pixel(x, 200)), qRound(opacity * 255 / 100.0));
    int rows = 0;
    for (int y = 0; y < 400; ++y)
        rows += qAlpha(saved.pixel(x, y)) > 0;
    QVERIFY2(std::abs(rows - size) <= 2, qPrintable(QString::number(rows)));
    QCOMPARE(qAlpha(saved.pixel(onMask ? 200 : 600, 200)), 0);
    // The swatch shows what a stroke paints: black at the opacity here.
    QCOMPARE(panel.painter()->strokeColor().alpha(), qRound(opacity * 255 / 100.0));
}

void TestPanels::keyboardUndoAndImagesInAndOut()
{
    testsupport::ScopedWorkDir work;
    TextureManager panel;
    panel.setupToolBar();
    panel.show();
    panel.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&panel));
    auto g = graftalWithLevels(1);
    panel.graftalSelected(g.get());
    GraftalPainter *painter = panel.painter();
    painter->setFocus();
    stroke(painter, {50, 50}, {90, 50});
    QTest::keyClick(painter, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(painter->historyPosition(), 0);
    QTest::keyClick(painter, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(painter->historyPosition(), 1);
    QTest::keyClick(painter, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(painter, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(painter->historyPosition(), 1);
    // The zoom keys too reach the painter from a box of its toolbar.
    panel.opacityBox()->setFocus();
    QTest::keyClick(panel.opacityBox(), Qt::Key_Equal, Qt::ControlModifier);
    QCOMPARE(painter->view().zoom(), 2);
    QTest::keyClick(panel.opacityBox(), Qt::Key_0, Qt::ControlModifier);
    QCOMPARE(painter->view().zoom(), 1);

    // A wide picture keeps its aspect and alpha, centred; one undo step.
    QImage wide(800, 200, QImage::Format_ARGB32);
    wide.fill(QColor(0, 0, 255, 100));
    QVERIFY(wide.save(work.file("wide.png")));
    QVERIFY(panel.importImage(work.file("wide.png")));
    QCOMPARE(painter->historySize(), 3);
    const QImage level = g->levels()[0].first.toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(qAlpha(level.pixel(200, 200)), 100);
    QCOMPARE(qAlpha(level.pixel(200, 140)), 0);
    QCOMPARE(qAlpha(level.pixel(200, 160)), 100);
    QCOMPARE(qAlpha(level.pixel(200, 260)), 0);
    // Files Qt refuses, or too large ones, change nothing and say why.
    QFile junk(work.file("junk.png"));
    QVERIFY(junk.open(QIODevice::WriteOnly) && junk.write("\x89PNG not really") > 0);
    junk.close();
    QVERIFY(QImage(9000, 8, QImage::Format_Mono).save(work.file("huge.png")));
    testsupport::MessageBoxCatcher catcher;
    QVERIFY(!panel.importImage(work.file("junk.png")));
    QVERIFY(!panel.importImage(work.file("huge.png")));
    QCOMPARE(catcher.seen, 2);
    QVERIFY(catcher.text.contains("9000"));
    QCOMPARE(painter->historySize(), 3);
    // Out as the level file lays it out: texture left, mask right.
    QVERIFY(panel.exportLevel(work.file("out.png")));
    const QImage out(work.file("out.png"));
    QCOMPARE(out.size(), QSize(800, 400));
    QCOMPARE(qAlpha(out.pixel(200, 200)), 100);
    QCOMPARE(qAlpha(out.pixel(600, 200)), 0);
}

void TestPanels::levelButtonsNamesAndCurrentFrames()
{
    auto g = graftalWithLevels(2);
    GraftalDetailNavigator detail;
    detail.show();
    detail.graftalSelected(g.get());
    QVERIFY(detail.scroller()->framedAsCurrent(0));
    QSignalSpy changed(&detail, &GraftalDetailNavigator::levelsChanged);
    detail.levelButton("Duplicate level")->click();
    QCOMPARE(detail.scroller()->count(), 3);
    QVERIFY(detail.scroller()->framedAsCurrent(1));
    detail.levelButton("Move level right")->click();
    QCOMPARE(g->currentLevel, 2);
    testsupport::MessageBoxCatcher yes(QMessageBox::Yes);
    detail.levelButton("Remove level")->click();
    QCOMPARE(detail.scroller()->count(), 2);
    QCOMPARE(changed.size(), 3);

    GraftalThumbnailNavigator thumbs;
    thumbs.show();
    auto named = Graftal::create(2, QStringLiteral("A rather long name for a thumbnail"));
    thumbs.graftalAdded(named.get());
    const QString caption = thumbs.scroller()->captionOf(thumbs.lastKey());
    QVERIFY(caption.startsWith("A rather") && caption.size() < named->name().size());
    named->setName(QStringLiteral("Moss"));
    QCOMPARE(thumbs.scroller()->captionOf(thumbs.lastKey()), QStringLiteral("Moss"));
    thumbs.showSelected(named.get());
    QVERIFY(thumbs.scroller()->framedAsCurrent(thumbs.lastKey()));
}

TUFTMILL_GL_TEST_MAIN(TestPanels)
#include "tst_panels.moc"
