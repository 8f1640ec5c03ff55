#include "GraftalDetailNavigator.h"

#include "Graftal.h"
#include "Logger.h"
#include "PixmapScroller.h"

#include <QHBoxLayout>
#include <QPushButton>

GraftalDetailNavigator::GraftalDetailNavigator(QWidget *parent)
    : QWidget(parent), logger(std::make_unique<Logger>(QStringLiteral("app.ui.detail_navigator"))),
      strip(new PixmapScroller(this)), layout(new QHBoxLayout(this)),
      add(new QPushButton(QIcon(QStringLiteral(":icons/edit_add.png")), QString(), this))
{
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(strip);
    add->setToolTip(QStringLiteral("Add a level of detail"));
    add->setAccessibleName(add->toolTip());
    layout->addWidget(add);
    connect(add, &QPushButton::clicked, this, &GraftalDetailNavigator::addLevelOfDetail);
    setMinimumHeight(strip->minimumHeight());
    setMaximumHeight(strip->maximumHeight());
    connect(strip, &PixmapScroller::pixmapSelected, this, &GraftalDetailNavigator::pixmapSelected);
}

GraftalDetailNavigator::~GraftalDetailNavigator() = default;

void GraftalDetailNavigator::graftalSelected(Graftal *g)
{
    if (g == graftal)
        return;
    strip->clear();
    if (g)
        for (int i = 0; i < g->levelCount(); ++i)
            strip->addPixmap(i, g->levelPreview(i));
    graftal = g;
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
    strip->addPixmap(n, graftal->levelPreview(n));
}

void GraftalDetailNavigator::pixmapSelected(int i)
{
    // Nothing to pick from before a graftal is shown.
    if (!graftal || i < 0 || i >= graftal->levelCount())
        return;
    graftal->currentLevel = i;
    emit pixmapIndexChanged(i);
}
