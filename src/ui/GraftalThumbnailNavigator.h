#pragma once

#include <QHash>
#include <QPixmap>
#include <QThreadPool>
#include <QWidget>
#include <memory>

class Graftal;
class Logger;
class PixmapScroller;
class QHBoxLayout;
class QPushButton;

// One thumbnail per graftal (its first level) and the buttons New graftal, Save selected
// graftal and Save all graftals. Picking a thumbnail selects that graftal.
class GraftalThumbnailNavigator : public QWidget
{
    Q_OBJECT
public:
    explicit GraftalThumbnailNavigator(QWidget *parent = nullptr);
    ~GraftalThumbnailNavigator() override;

    PixmapScroller *scroller() const { return strip; }
    QPushButton *button(int i) const { return buttons[i]; }
    int lastKey() const { return nextKey; }
    const QHash<int, Graftal *> &graftals() const { return graftalsByKey; }

signals:
    void graftalSelected(Graftal *g);
    void dispatchAddGraftal();
    void dispatchSaveCurrent();
    void dispatchSaveAll();

public slots:
    void graftalAdded(Graftal *g);
    void pixmapUpdated(Graftal *g, int index);
    void pixmapSelected(int key);

private:
    // Thumbnails whose level is not decoded yet are decoded off the GUI thread, so that a
    // large library opens at once and fills in.
    void requestThumbnail(int key, Graftal *g);

    std::unique_ptr<Logger> logger;
    QThreadPool decoders;
    QPixmap empty;
    PixmapScroller *strip;
    QHBoxLayout *layout;
    QPushButton *buttons[3] = {nullptr, nullptr, nullptr};
    int nextKey = 0;
    QHash<int, Graftal *> graftalsByKey;
};
