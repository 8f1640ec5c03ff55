#include "GraftalThumbnailNavigator.h"

#include "Graftal.h"
#include "Logger.h"
#include "PixmapScroller.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

GraftalThumbnailNavigator::GraftalThumbnailNavigator(QWidget *parent)
    : QWidget(parent),
      logger(std::make_unique<Logger>(QStringLiteral("app.ui.thumbnail_navigator"))),
      strip(new PixmapScroller(this)), layout(new QHBoxLayout(this))
{
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(strip);
    auto *column = new QVBoxLayout;
    column->setAlignment(Qt::AlignTop);
    const struct
    {
        const char *icon;
        const char *tip;
        void (GraftalThumbnailNavigator::*signal)();
    } specs[3] = {
        {":icons/filenew.png", "New graftal", &GraftalThumbnailNavigator::dispatchAddGraftal},
        {":icons/filesave.png", "Save selected graftal",
         &GraftalThumbnailNavigator::dispatchSaveCurrent},
        {":icons/save_all.png", "Save all graftals", &GraftalThumbnailNavigator::dispatchSaveAll},
    };
    for (int i = 0; i < 3; ++i) {
        buttons[i] = new QPushButton(QIcon(QString::fromLatin1(specs[i].icon)), QString(), this);
        buttons[i]->setToolTip(QString::fromLatin1(specs[i].tip));
        // The button shows only an icon: screen readers and automation need its name.
        buttons[i]->setAccessibleName(buttons[i]->toolTip());
        connect(buttons[i], &QPushButton::clicked, this, specs[i].signal);
        column->addWidget(buttons[i]);
    }
    setMinimumHeight(strip->minimumHeight());
    setMaximumHeight(strip->maximumHeight());
    layout->addLayout(column);
    nextKey = 0;
    connect(strip, &PixmapScroller::pixmapSelected, this,
            &GraftalThumbnailNavigator::pixmapSelected);
}

GraftalThumbnailNavigator::~GraftalThumbnailNavigator() = default;

void GraftalThumbnailNavigator::graftalAdded(Graftal *g)
{
    ++nextKey;
    graftalsByKey.insert(nextKey, g);
    strip->addPixmap(nextKey, g->levelPreview(0));
}

void GraftalThumbnailNavigator::pixmapUpdated(Graftal *g, int index)
{
    if (index != 0)
        return;
    // The first key showing this graftal.
    int found = -1;
    for (auto it = graftalsByKey.cbegin(); it != graftalsByKey.cend(); ++it)
        if (it.value() == g && (found < 0 || it.key() < found))
            found = it.key();
    if (found >= 0)
        strip->setPixmap(found, g->levelPreview(0));
}

void GraftalThumbnailNavigator::pixmapSelected(int key)
{
    if (Graftal *g = graftalsByKey.value(key, nullptr))
        emit graftalSelected(g);
}
