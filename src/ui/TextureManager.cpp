#include "TextureManager.h"

#include "GraftalPainter.h"
#include "Logger.h"

#include <QAction>
#include <QActionGroup>
#include <QColorDialog>
#include <QToolBar>
#include <QVBoxLayout>

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
    // Nothing can be undone before a level is loaded; the painter enables them.
    undo->setEnabled(false);
    redo->setEnabled(false);
    painterWidget->undoAction = undo;
    painterWidget->redoAction = redo;
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

    layout->addWidget(painterWidget);
    layout->addWidget(bar);

    connect(this, &TextureManager::pixmapSelected, painterWidget, &GraftalPainter::pixmapSelected);
    connect(painterWidget, &GraftalPainter::pixmapChanged, this, &TextureManager::pixmapChanged);
}

QAction *TextureManager::action(const QString &text) const
{
    for (QAction *a : bar->actions())
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
    const QColor chosen = QColorDialog::getColor(drawColor, this);
    if (chosen.isValid())
        drawColor = chosen;
    applyColor();
}

void TextureManager::applyColor()
{
    swatch.fill(drawColor);
    colorButton->setIcon(QIcon(swatch));
    painterWidget->setColor(drawColor);
}

void TextureManager::selectObjectColor()
{
    painterWidget->setColor(QColor(254, 254, 254, 255));
}
