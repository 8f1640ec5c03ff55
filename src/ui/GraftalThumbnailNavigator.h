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

// One thumbnail per graftal (its first level, its name beneath, the selected one framed)
// and the buttons New graftal, Save selected graftal, Save all graftals, Duplicate graftal
// and Remove graftal…. Picking a thumbnail selects that graftal.
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
    void dispatchDuplicateGraftal();
    void dispatchRemoveGraftal();

public slots:
    void graftalAdded(Graftal *g);
    void pixmapUpdated(Graftal *g, int index);
    void pixmapSelected(int key);
    void graftalRemoved(Graftal *g);
    // Frames the selected graftal's thumbnail.
    void showSelected(Graftal *g);

private:
    // Thumbnails whose level is not decoded yet are decoded off the GUI thread, so that a
    // large library opens at once and fills in.
    void requestThumbnail(int key, Graftal *g);
    int keyOf(const Graftal *g) const;

    std::unique_ptr<Logger> logger;
    QThreadPool decoders;
    QPixmap empty;
    PixmapScroller *strip;
    QHBoxLayout *layout;
    static constexpr int ButtonCount = 5;
    QPushButton *buttons[ButtonCount] = {};
    int nextKey = 0;
    QHash<int, Graftal *> graftalsByKey;
};
