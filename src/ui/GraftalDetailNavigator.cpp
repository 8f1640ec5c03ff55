#include "GraftalDetailNavigator.h"

#include "Graftal.h"
#include "Logger.h"
#include "PixmapScroller.h"
#include "ToolIcons.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <functional>

GraftalDetailNavigator::GraftalDetailNavigator(QWidget *parent)
    : QWidget(parent), logger(std::make_unique<Logger>(QStringLiteral("app.ui.detail_navigator"))),
      strip(new PixmapScroller(this)), layout(new QHBoxLayout(this)),
      add(new QPushButton(QIcon(QStringLiteral(":icons/edit_add.png")), QString(), this))
{
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(strip);
    add->setToolTip(QStringLiteral("Add a level of detail"));
    add->setAccessibleName(add->toolTip());
    connect(add, &QPushButton::clicked, this, &GraftalDetailNavigator::addLevelOfDetail);
    // Two columns of small buttons beside the strip: adding beside duplicating, the two
    // moves side by side, removing apart below.
    auto *buttons = new QGridLayout;
    buttons->setSpacing(2);
    buttons->setAlignment(Qt::AlignTop);
    buttons->addWidget(add, 0, 0);
    using toolicons::Kind;
    const struct
    {
        const char *name;
        Kind icon;
        std::function<void()> act;
    } specs[] = {
        {"Duplicate level", Kind::Duplicate, [this] { duplicateLevel(); }},
        {"Move level left", Kind::Left, [this] { moveLevel(-1); }},
        {"Move level right", Kind::Right, [this] { moveLevel(1); }},
        {"Remove level", Kind::Remove, [this] { removeLevel(); }},
    };
    int place = 1;
    for (const auto &spec : specs) {
        auto *button = new QPushButton(toolicons::icon(spec.icon), QString(), this);
        button->setIconSize(QSize(20, 20));
        button->setToolTip(QString::fromLatin1(spec.name));
        button->setAccessibleName(button->toolTip());
        connect(button, &QPushButton::clicked, this, spec.act);
        buttons->addWidget(button, place / 2, place % 2);
        levelButtons.append(button);
        ++place;
    }
    layout->addLayout(buttons);
    setMinimumHeight(strip->minimumHeight());
    setMaximumHeight(strip->maximumHeight());
    connect(strip, &PixmapScroller::pixmapSelected, this, &GraftalDetailNavigator::pixmapSelected);
}

GraftalDetailNavigator::~GraftalDetailNavigator() = default;

QPushButton *GraftalDetailNavigator::levelButton(const QString &name) const
{
    for (QPushButton *button : levelButtons)
        if (button->toolTip() == name)
            return button;
    return nullptr;
}

void GraftalDetailNavigator::showLevels()
{
    strip->clear();
    if (graftal) {
        for (int i = 0; i < graftal->levelCount(); ++i)
            strip->addPixmap(i, graftal->levelPreview(i));
        strip->setCurrentKey(graftal->currentLevel);
    }
}

void GraftalDetailNavigator::graftalSelected(Graftal *g)
{
    if (g == graftal)
        return;
    graftal = g;
    showLevels();
}

void GraftalDetailNavigator::pixmapUpdated(Graftal *g, int index)
{
    if (g != graftal || !g || index < 0 || index >= g->levelCount())
        return;
    strip->setPixmap(index, g->levelPreview(index));
}

void GraftalDetailNavigator::addLevelOfDetail()
{
    if (!graftal)
        return;
    const int n = graftal->levelCount();
    graftal->addLevel();
    if (graftal->levelCount() > n)
        strip->addPixmap(n, graftal->levelPreview(n));
}

void GraftalDetailNavigator::pixmapSelected(int i)
{
    // Nothing to pick from before a graftal is shown.
    if (!graftal || i < 0 || i >= graftal->levelCount())
        return;
    graftal->currentLevel = i;
    strip->setCurrentKey(i);
    emit pixmapIndexChanged(i);
}

void GraftalDetailNavigator::levelsRearranged(int current)
{
    graftal->currentLevel = current;
    showLevels();
    emit levelsChanged(graftal);
    emit pixmapIndexChanged(current);
}

void GraftalDetailNavigator::duplicateLevel()
{
    if (graftal && graftal->duplicateLevel(graftal->currentLevel))
        levelsRearranged(graftal->currentLevel + 1);
}

void GraftalDetailNavigator::removeLevel()
{
    if (!graftal || graftal->levelCount() <= 1)
        return;
    const int level = graftal->currentLevel;
    QMessageBox box(QMessageBox::Question, QStringLiteral("Remove level"),
                    QStringLiteral("Remove level %1 of \"%2\"? Its file goes at the next save.")
                        .arg(level + 1)
                        .arg(graftal->name()),
                    QMessageBox::Yes | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Cancel);
    if (box.exec() != QMessageBox::Yes || !graftal)
        return;
    if (graftal->removeLevel(level))
        levelsRearranged(std::min(level, graftal->levelCount() - 1));
}

void GraftalDetailNavigator::moveLevel(int step)
{
    if (graftal && graftal->moveLevel(graftal->currentLevel, graftal->currentLevel + step))
        levelsRearranged(graftal->currentLevel + step);
}
