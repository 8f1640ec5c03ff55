#pragma once

#include <QWidget>
#include <memory>

class Graftal;
class Logger;
class PixmapScroller;
class QHBoxLayout;
class QPushButton;

// The levels of detail of the selected graftal as thumbnails, with a button that adds
// a level. Picking a thumbnail makes that level the one being edited.
class GraftalDetailNavigator : public QWidget
{
    Q_OBJECT
public:
    explicit GraftalDetailNavigator(QWidget *parent = nullptr);
    ~GraftalDetailNavigator() override;

    PixmapScroller *scroller() const { return strip; }
    QPushButton *addButton() const { return add; }
    Graftal *currentGraftal() const { return graftal; }

signals:
    void pixmapIndexChanged(int index);

public slots:
    void graftalSelected(Graftal *g);
    void pixmapUpdated(Graftal *graftal, int index);
    void addLevelOfDetail();
    void pixmapSelected(int i);

private:
    std::unique_ptr<Logger> logger;
    PixmapScroller *strip;
    QHBoxLayout *layout;
    QPushButton *add;
    Graftal *graftal = nullptr;
};
