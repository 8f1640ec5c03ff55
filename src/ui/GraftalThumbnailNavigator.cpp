#include "GraftalThumbnailNavigator.h"

#include "Graftal.h"
#include "Logger.h"
#include "PixmapScroller.h"
#include "ToolIcons.h"

#include <QFutureWatcher>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

GraftalThumbnailNavigator::GraftalThumbnailNavigator(QWidget *parent)
    : QWidget(parent),
      logger(std::make_unique<Logger>(QStringLiteral("app.ui.thumbnail_navigator"))),
      strip(new PixmapScroller(this)), layout(new QHBoxLayout(this))
{
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(strip);
    auto *column = new QGridLayout;
    column->setSpacing(2);
    column->setAlignment(Qt::AlignTop);
    const struct
    {
        const char *icon;
        const char *tip;
        void (GraftalThumbnailNavigator::*signal)();
    } specs[ButtonCount] = {
        {":icons/filenew.png", "New graftal", &GraftalThumbnailNavigator::dispatchAddGraftal},
        {":icons/filesave.png", "Save selected graftal",
         &GraftalThumbnailNavigator::dispatchSaveCurrent},
        {":icons/save_all.png", "Save all graftals", &GraftalThumbnailNavigator::dispatchSaveAll},
        {nullptr, "Duplicate graftal", &GraftalThumbnailNavigator::dispatchDuplicateGraftal},
        {nullptr, "Remove graftal…", &GraftalThumbnailNavigator::dispatchRemoveGraftal},
    };
    const QIcon drawn[2] = {toolicons::icon(toolicons::Kind::Duplicate),
                            toolicons::icon(toolicons::Kind::Remove)};
    for (int i = 0; i < ButtonCount; ++i) {
        const QIcon icon = specs[i].icon ? QIcon(QString::fromLatin1(specs[i].icon)) : drawn[i - 3];
        buttons[i] = new QPushButton(icon, QString(), this);
        buttons[i]->setToolTip(QString::fromUtf8(specs[i].tip));
        // The button shows only an icon: screen readers and automation need its name.
        buttons[i]->setAccessibleName(buttons[i]->toolTip());
        connect(buttons[i], &QPushButton::clicked, this, specs[i].signal);
        // The first three in one column as before, the two newer ones beside them.
        column->addWidget(buttons[i], i < 3 ? i : i - 3, i < 3 ? 0 : 1);
    }
    setMinimumHeight(strip->minimumHeight());
    setMaximumHeight(strip->maximumHeight());
    layout->addLayout(column);
    nextKey = 0;
    strip->setShowsCaptions(true);
    connect(strip, &PixmapScroller::pixmapSelected, this,
            &GraftalThumbnailNavigator::pixmapSelected);
}

GraftalThumbnailNavigator::~GraftalThumbnailNavigator()
{
    // Thumbnails nobody will see are not decoded.
    decoders.clear();
    decoders.waitForDone();
}

void GraftalThumbnailNavigator::graftalAdded(Graftal *g)
{
    ++nextKey;
    graftalsByKey.insert(nextKey, g);
    // One empty picture serves every graftal without a drawing yet, and every thumbnail
    // still on its way.
    if (empty.isNull()) {
        empty = QPixmap(Graftal::ThumbnailSide, Graftal::ThumbnailSide);
        empty.fill(Qt::transparent);
    }
    const int key = nextKey;
    connect(g, &Graftal::nameChanged, this, [this, key](Graftal *named) {
        if (graftalsByKey.value(key) == named)
            strip->setCaption(key, named->name());
    });
    if (g->firstLevelBlank()) {
        strip->addPixmap(key, empty);
    } else {
        const QPixmap thumbnail = g->thumbnail();
        strip->addPixmap(key, thumbnail.isNull() ? empty : thumbnail);
        if (thumbnail.isNull())
            requestThumbnail(key, g);
    }
    strip->setCaption(key, g->name());
}

int GraftalThumbnailNavigator::keyOf(const Graftal *g) const
{
    // The first key showing this graftal.
    int found = -1;
    for (auto it = graftalsByKey.cbegin(); it != graftalsByKey.cend(); ++it)
        if (it.value() == g && (found < 0 || it.key() < found))
            found = it.key();
    return found;
}

void GraftalThumbnailNavigator::graftalRemoved(Graftal *g)
{
    for (int key = keyOf(g); key >= 0; key = keyOf(g)) {
        graftalsByKey.remove(key);
        strip->removePixmap(key);
    }
}

void GraftalThumbnailNavigator::showSelected(Graftal *g)
{
    strip->setCurrentKey(keyOf(g));
}

void GraftalThumbnailNavigator::requestThumbnail(int key, Graftal *g)
{
    const quint64 revision = g->thumbnailRevision();
    const QPointer<Graftal> graftal(g);
    auto *watcher = new QFutureWatcher<QImage>(this);
    connect(watcher, &QFutureWatcher<QImage>::finished, this,
            [this, watcher, graftal, revision, key] {
                watcher->deleteLater();
                if (!graftal || graftalsByKey.value(key) != graftal)
                    return;
                graftal->setThumbnail(revision, watcher->result());
                const QPixmap thumbnail = graftal->thumbnail();
                if (!thumbnail.isNull())
                    strip->setPixmap(key, thumbnail);
            });
    watcher->setFuture(QtConcurrent::run(&decoders, &Graftal::thumbnailFrom, g->thumbnailSource()));
}

void GraftalThumbnailNavigator::pixmapUpdated(Graftal *g, int index)
{
    if (index != 0)
        return;
    const int found = keyOf(g);
    if (found < 0)
        return;
    const QPixmap thumbnail = g->thumbnail();
    if (thumbnail.isNull())
        requestThumbnail(found, g);
    else
        strip->setPixmap(found, thumbnail);
}

void GraftalThumbnailNavigator::pixmapSelected(int key)
{
    if (Graftal *g = graftalsByKey.value(key, nullptr))
        emit graftalSelected(g);
}
