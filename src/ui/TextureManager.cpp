#include "TextureManager.h"

#include "BrushPanel.h"
#include "GraftalPainter.h"
#include "LevelImageFiles.h"
#include "Logger.h"
#include "ToolIcons.h"

#include <QAction>
#include <QActionGroup>
#include <QColorDialog>
#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QMenu>
#include <QSettings>
#include <QSpinBox>
#include <QToolButton>
#include <QWidgetAction>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>

TextureManager::TextureManager(QWidget *parent)
    : QWidget(parent), logger(std::make_unique<Logger>(QStringLiteral("app.ui.texturemanager")))
{
    swatch.fill(drawColor);
}

TextureManager::~TextureManager() = default;

namespace {
QAction *makeAction(QObject *owner, const QString &text, const QString &icon, int data,
                    bool checkable)
{
    auto *action = new QAction(QIcon(icon), text, owner);
    action->setData(data);
    action->setCheckable(checkable);
    return action;
}

QAction *makeAction(QObject *owner, const QString &text, const QIcon &icon, int data,
                    bool checkable, const QString &tip)
{
    auto *action = new QAction(icon, text, owner);
    action->setData(data);
    action->setCheckable(checkable);
    action->setToolTip(tip);
    return action;
}

// The brush is remembered only by a program that names itself: the application does; a test
// that wants it sets a name and a settings folder of its own.
bool remembersBrush()
{
    return !QCoreApplication::organizationName().isEmpty();
}

QSpinBox *percentBox(QWidget *owner, const QString &name, const QString &tip, int maximum,
                     int value, const QString &suffix)
{
    auto *box = new QSpinBox(owner);
    box->setRange(1, maximum);
    box->setValue(value);
    box->setSuffix(suffix);
    box->setAccessibleName(name);
    box->setToolTip(tip);
    // Typing into the box does not steal [ and ] from the painter's keys.
    box->setKeyboardTracking(false);
    return box;
}
} // namespace

void TextureManager::setupToolBar()
{
    auto *layout = new QVBoxLayout(this);
    layout->setAlignment(Qt::AlignHCenter);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    painterWidget = new GraftalPainter(this);
    bar = new QToolBar(this);
    bar->setOrientation(Qt::Horizontal);
    bar->setIconSize(QSize(22, 22));

    colorButton = new QAction(QIcon(swatch), QStringLiteral("Select a color"), bar);
    connect(colorButton, &QAction::triggered, this, &TextureManager::selectColor);

    auto *mouseTools = new QActionGroup(bar);
    mouseTools->setExclusive(true);
    QAction *draw = makeAction(mouseTools, QStringLiteral("Draw"),
                               QStringLiteral(":icons/color_line.png"), 0, true);
    QAction *erase = makeAction(mouseTools, QStringLiteral("Erase"),
                                QStringLiteral(":icons/eraser.png"), 1, true);
    connect(mouseTools, &QActionGroup::triggered, painterWidget, &GraftalPainter::changeMouseMode);

    auto *historyGroup = new QActionGroup(bar);
    historyGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::None);
    QAction *undo = makeAction(historyGroup, QStringLiteral("Undo"),
                               QStringLiteral(":icons/undo.png"), 0, false);
    QAction *redo = makeAction(historyGroup, QStringLiteral("Redo"),
                               QStringLiteral(":icons/redo.png"), 1, false);
    undo->setShortcut(QKeySequence::Undo);
    redo->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    undo->setToolTip(QStringLiteral("Undo (Ctrl+Z)"));
    redo->setToolTip(QStringLiteral("Redo (Ctrl+Shift+Z or Ctrl+Y)"));
    // Nothing can be undone before a level is loaded; the painter enables them.
    undo->setEnabled(false);
    redo->setEnabled(false);
    painterWidget->undoAction = undoButton = undo;
    painterWidget->redoAction = redoButton = redo;
    connect(historyGroup, &QActionGroup::triggered, painterWidget, &GraftalPainter::undoRedoAction);

    QAction *clear =
        makeAction(bar, QStringLiteral("Clear"), QStringLiteral(":icons/trash.png"), 0, false);
    connect(clear, &QAction::triggered, painterWidget, &GraftalPainter::clearPixmap);

    auto *target = new QActionGroup(bar);
    target->setExclusive(true);
    QAction *mask =
        makeAction(target, QStringLiteral("Mask"), QStringLiteral(":icons/text_top.png"), 1, true);
    QAction *texture = makeAction(target, QStringLiteral("Texture"),
                                  QStringLiteral(":icons/text_bottom.png"), 0, true);
    texture->setChecked(true);
    connect(target, &QActionGroup::triggered, painterWidget, &GraftalPainter::changeDrawMode);
    connect(target, &QActionGroup::triggered, this, &TextureManager::showSwatch);

    bar->addAction(colorButton);
    bar->addSeparator();
    bar->addAction(draw);
    bar->addAction(erase);
    bar->addSeparator();
    bar->addAction(undo);
    bar->addAction(redo);
    bar->addSeparator();
    bar->addAction(clear);
    bar->addSeparator();
    bar->addAction(mask);
    bar->addAction(texture);
    buildBrushBar(mouseTools);

    layout->addWidget(painterWidget);
    layout->addWidget(bar);
    layout->addWidget(brushBar);
    const struct
    {
        int direction;
        QList<QKeySequence> keys;
    } zooms[] = {
        {1, {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)}},
        {-1, {QKeySequence(Qt::CTRL | Qt::Key_Minus)}},
        {0, {QKeySequence(Qt::CTRL | Qt::Key_0)}}};
    for (const auto &zoom : zooms) {
        auto *key = new QAction(this);
        key->setShortcuts(zoom.keys);
        connect(key, &QAction::triggered, painterWidget,
                [this, d = zoom.direction] { painterWidget->zoomByKey(d); });
        zoomKeys.append(key);
    }
    coverColumnShortcuts(this);

    connect(this, &TextureManager::pixmapSelected, painterWidget, &GraftalPainter::pixmapSelected);
    connect(painterWidget, &GraftalPainter::pixmapChanged, this, &TextureManager::pixmapChanged);
    connect(painterWidget, &GraftalPainter::colorPicked, this, [this](const QColor &picked) {
        drawColor = picked;
        applyColor();
    });
    connect(painterWidget, &GraftalPainter::imageFileDropped, this, &TextureManager::importImage);
}

void TextureManager::buildBrushBar(QActionGroup *mouseTools)
{
    brushBar = new QToolBar(this);
    brushBar->setObjectName(QStringLiteral("brushToolBar"));
    brushBar->setIconSize(QSize(22, 22));
    QAction *pick =
        makeAction(mouseTools, QStringLiteral("Pick colour"),
                   toolicons::icon(toolicons::Kind::Pick), GraftalPainter::PickTool, true,
                   QStringLiteral("Pick colour (I over the painter, or Ctrl+click)"));
    QAction *fill =
        makeAction(mouseTools, QStringLiteral("Fill"), toolicons::icon(toolicons::Kind::Fill),
                   GraftalPainter::FillTool, true, QStringLiteral("Fill"));
    brushBar->addAction(pick);
    brushBar->addAction(fill);
    brushBar->addSeparator();
    sizeBox = percentBox(
        brushBar, QStringLiteral("Brush size"), QStringLiteral("Brush size ([ smaller, ] larger)"),
        GraftalPainter::MaxBrushSize, GraftalPainter::MousePenWidth, QStringLiteral(" px"));
    strengthBox = percentBox(brushBar, QStringLiteral("Opacity"), QStringLiteral("Opacity"), 100,
                             100, QStringLiteral(" %"));
    // Two numbers side by side say what they are.
    sizeBox->setPrefix(QStringLiteral("Size "));
    strengthBox->setPrefix(QStringLiteral("Opacity "));
    brushBar->addWidget(sizeBox);
    brushBar->addWidget(strengthBox);
    connect(sizeBox, &QSpinBox::valueChanged, painterWidget, &GraftalPainter::setBrushSize);
    connect(painterWidget, &GraftalPainter::brushSizeChanged, sizeBox, &QSpinBox::setValue);
    connect(strengthBox, &QSpinBox::valueChanged, painterWidget, &GraftalPainter::setOpacity);
    connect(strengthBox, &QSpinBox::valueChanged, this, &TextureManager::showSwatch);
    addBrushChoices();
    zoomLabel = new QLabel(QStringLiteral(" Zoom 100 % "), brushBar);
    const QString zoomTip = QStringLiteral("Zoom (Ctrl+wheel, Ctrl++, Ctrl+-, Ctrl+0 for 100 %; "
                                           "Space+drag or the middle button pans)");
    zoomLabel->setToolTip(zoomTip);
    zoomLabel->setAccessibleName(QStringLiteral("Zoom"));
    brushBar->addWidget(zoomLabel);
    connect(painterWidget, &GraftalPainter::zoomChanged, zoomLabel, [this](int zoom) {
        zoomLabel->setText(QStringLiteral(" Zoom %1 % ").arg(zoom * 100));
    });
    brushBar->addSeparator();
    QAction *import = makeAction(brushBar, QStringLiteral("Import image into level…"),
                                 toolicons::icon(toolicons::Kind::Import), 0, false,
                                 QStringLiteral("Import image into level… (or drop an image "
                                                "file onto the painter)"));
    QAction *exportLevel = makeAction(brushBar, QStringLiteral("Export level as PNG…"),
                                      toolicons::icon(toolicons::Kind::Export), 0, false,
                                      QStringLiteral("Export level as PNG…"));
    connect(import, &QAction::triggered, this, &TextureManager::chooseImportFile);
    connect(exportLevel, &QAction::triggered, this, &TextureManager::chooseExportFile);
    brushBar->addAction(import);
    brushBar->addAction(exportLevel);
}

void TextureManager::addBrushChoices()
{
    brushChoices = new BrushPanel(this);
    auto *button = new QToolButton(brushBar);
    button->setText(QStringLiteral("Brush…"));
    button->setAccessibleName(QStringLiteral("Brush…"));
    button->setToolTip(
        QStringLiteral("Brush presets, hardness, smooth edge, taper, speed thins, smoothing"));
    button->setPopupMode(QToolButton::InstantPopup);
    auto *menu = new QMenu(button);
    auto *holder = new QWidgetAction(menu);
    holder->setDefaultWidget(brushChoices);
    menu->addAction(holder);
    button->setMenu(menu);
    connect(menu, &QMenu::aboutToHide, brushChoices, &BrushPanel::commitTyping);
    brushBar->addWidget(button);
    mirrorButton = makeAction(brushBar, QStringLiteral("Mirror"),
                              toolicons::icon(toolicons::Kind::Mirror), 0, true,
                              QStringLiteral("Mirror: strokes, fills and erasing repeat about the "
                                             "vertical centre line"));
    brushBar->addAction(mirrorButton);

    connect(brushChoices, &BrushPanel::brushEdited, this, [this](const BrushSettings &b) {
        BrushSettings next = b;
        next.size = painterWidget->brushSize();
        next.opacity = painterWidget->opacity();
        applyBrush(next);
    });
    connect(brushChoices, &BrushPanel::presetChosen, this, &TextureManager::applyBrush);
    connect(brushChoices, &BrushPanel::saveAsked, this, &TextureManager::saveBrushPreset);
    // Size and opacity from the row, the keys or a preset are remembered too.
    connect(painterWidget, &GraftalPainter::brushSizeChanged, this, &TextureManager::rememberBrush);
    connect(strengthBox, &QSpinBox::valueChanged, this, &TextureManager::rememberBrush);
    connect(mirrorButton, &QAction::toggled, this, [this](bool on) {
        painterWidget->setMirror(on);
        if (remembersBrush()) {
            QSettings settings;
            brushmirror::save(settings, on);
        }
    });

    if (!remembersBrush()) {
        presets = brushpresets::shipped();
        brushChoices->listPresets(presets);
        return;
    }
    QSettings settings;
    presets = brushpresets::load(settings);
    brushChoices->listPresets(presets);
    applyBrush(BrushSettings::load(settings));
    mirrorButton->setChecked(brushmirror::load(settings));
}

void TextureManager::applyBrush(const BrushSettings &brush)
{
    const BrushSettings b = brush.clamped();
    painterWidget->setBrush(b);
    strengthBox->setValue(b.opacity);
    sizeBox->setValue(b.size);
    rememberBrush();
}

void TextureManager::rememberBrush()
{
    const BrushSettings b = painterWidget->brush();
    brushChoices->showBrush(b);
    if (remembersBrush()) {
        QSettings settings;
        b.save(settings);
    }
}

void TextureManager::saveBrushPreset(const QString &name)
{
    const BrushSettings b = painterWidget->brush();
    if (remembersBrush()) {
        QSettings settings;
        brushpresets::save(settings, name, b);
        presets = brushpresets::load(settings);
    } else {
        auto same = std::find_if(presets.begin(), presets.end(),
                                 [&](const BrushPreset &p) { return p.name == name; });
        if (same != presets.end())
            same->brush = b;
        else
            presets.append({name, b});
    }
    brushChoices->listPresets(presets);
}

void TextureManager::coverColumnShortcuts(QWidget *area)
{
    for (QAction *a : QList<QAction *>{undoButton, redoButton} + zoomKeys) {
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        area->addAction(a);
    }
}

QAction *TextureManager::action(const QString &text) const
{
    for (QToolBar *b : {bar, brushBar})
        for (QAction *a : b->actions())
            if (a->text() == text)
                return a;
    return nullptr;
}

void TextureManager::graftalSelected(Graftal *g)
{
    graftal = g;
    if (!g)
        return;
    emit pixmapSelected(g->levels().at(g->currentLevel));
}

void TextureManager::setPixmapIndex(int i)
{
    // Levels are only asked for once a graftal is shown.
    if (!graftal || i < 0 || i >= graftal->levelCount())
        return;
    emit pixmapSelected(graftal->levels().at(i));
}

void TextureManager::pixmapChanged()
{
    if (!graftal)
        return;
    graftal->setLevel(graftal->currentLevel, painterWidget->currentPixmaps());
    emit graftalPixmapChanged(graftal);
}

void TextureManager::selectColor()
{
    const QColor chosen = QColorDialog::getColor(drawColor, this, QStringLiteral("Select a color"),
                                                 QColorDialog::ShowAlphaChannel);
    if (chosen.isValid())
        drawColor = chosen;
    applyColor();
}

void TextureManager::applyColor()
{
    painterWidget->setColor(drawColor);
    showSwatch();
}

void TextureManager::showSwatch()
{
    // What a stroke paints, over a checker where it lets the image show through.
    swatch.fill(Qt::white);
    {
        QPainter p(&swatch);
        for (int y = 0; y < swatch.height(); y += 4)
            for (int x = (y / 4 % 2) * 4; x < swatch.width(); x += 8)
                p.fillRect(x, y, 4, 4, QColor(190, 190, 190));
        p.fillRect(swatch.rect(), painterWidget->strokeColor());
    }
    colorButton->setIcon(QIcon(swatch));
}

void TextureManager::selectObjectColor()
{
    painterWidget->setColor(QColor(254, 254, 254, 255));
}

bool TextureManager::importImage(const QString &path)
{
    if (!graftal || !painterWidget->hasPixmaps())
        return false;
    QImage image;
    QString why;
    if (!levelimagefiles::importImage(path, image, why)) {
        logger->warn(why);
        QMessageBox::warning(this, QStringLiteral("Import image into level"), why);
        return false;
    }
    painterWidget->replaceEditedImage(image);
    return true;
}

bool TextureManager::exportLevel(const QString &path)
{
    if (!painterWidget->hasPixmaps())
        return false;
    QString why;
    if (levelimagefiles::exportLevel(painterWidget->currentPixmaps(), path, why))
        return true;
    logger->warn(why);
    QMessageBox::warning(this, QStringLiteral("Export level as PNG"), why);
    return false;
}

void TextureManager::chooseImportFile()
{
    if (!graftal)
        return;
    const QString path =
        QFileDialog::getOpenFileName(this, QStringLiteral("Import image into level"), QString(),
                                     levelimagefiles::importFilter());
    if (!path.isEmpty())
        importImage(path);
}

void TextureManager::chooseExportFile()
{
    if (!graftal)
        return;
    const QString suggested = QStringLiteral("%1_%2.png")
                                  .arg(graftal->fileName())
                                  .arg(graftal->currentLevel + 1, 3, 10, QLatin1Char('0'));
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export level as PNG"),
                                                suggested, QStringLiteral("PNG images (*.png)"));
    if (path.isEmpty())
        return;
    if (!path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive))
        path += QStringLiteral(".png");
    exportLevel(path);
}
