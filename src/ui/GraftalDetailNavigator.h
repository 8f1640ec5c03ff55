#pragma once

#include <QWidget>
#include <memory>

class Graftal;
class Logger;
class PixmapScroller;
class QHBoxLayout;
class QPushButton;

// The levels of detail of the selected graftal as thumbnails, the current one framed,
// with buttons that add, duplicate, remove and reorder levels. Picking a thumbnail makes
// that level the one being edited.
class GraftalDetailNavigator : public QWidget
{
    Q_OBJECT
public:
    explicit GraftalDetailNavigator(QWidget *parent = nullptr);
    ~GraftalDetailNavigator() override;

    PixmapScroller *scroller() const { return strip; }
    QPushButton *addButton() const { return add; }
    // The level buttons by their names ("Duplicate level", "Remove level", ...).
    QPushButton *levelButton(const QString &name) const;
    Graftal *currentGraftal() const { return graftal; }

signals:
    void pixmapIndexChanged(int index);
    // Levels came, went or moved: every level may show another picture now.
    void levelsChanged(Graftal *g);

public slots:
    void graftalSelected(Graftal *g);
    void pixmapUpdated(Graftal *graftal, int index);
    void addLevelOfDetail();
    void pixmapSelected(int i);
    void duplicateLevel();
    // Asks first; a graftal keeps at least one level.
    void removeLevel();
    void moveLevel(int step);

private:
    void showLevels();
    void levelsRearranged(int current);

    std::unique_ptr<Logger> logger;
    PixmapScroller *strip;
    QHBoxLayout *layout;
    QPushButton *add;
    QList<QPushButton *> levelButtons;
    Graftal *graftal = nullptr;
};
