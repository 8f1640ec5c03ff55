#pragma once

#include <QGraphicsView>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QPair>
#include <QPen>
#include <QPixmap>
#include <QVariant>
#include <memory>

class Logger;
class QGraphicsPixmapItem;
class QGraphicsRectItem;
class QTimer;

// A one-row strip of framed square thumbnails, each known by an integer key. The frame
// under the cursor turns red and a click reports its key; when the row is wider than the
// strip, pressing and dragging sideways scrolls it, faster the further the drag goes.
class PixmapScroller : public QGraphicsView
{
    Q_OBJECT
public:
    static constexpr int Margin = 10;
    static constexpr int Spacing = 10;
    // The side of the pictures a cell shows at scale 1; others are scaled to fill it.
    static constexpr int ThumbnailSource = 400;

    explicit PixmapScroller(QWidget *parent = nullptr);
    ~PixmapScroller() override;

    void addPixmap(int key, const QPixmap &pixmap);
    // Replaces the image of the thumbnail with that key; an unknown key changes nothing.
    void setPixmap(int key, const QPixmap &pixmap);
    void clear();

    int count() const { return int(cells.size()); }
    int side() const { return thumbnailSide; }
    QVariant highlightedKey() const { return selectedKey; }
    // Where the thumbnail with that key sits, in the strip's viewport coordinates.
    QRect thumbnailRect(int key) const;
    // The row's left edge in viewport pixels (0 or less once scrolled).
    int rowOffset() const { return committedOffset + dragOffset; }
    QPixmap pixmapOf(int key) const;
    int outlinedFrames() const;

signals:
    void pixmapSelected(int key);

public slots:
    void animationStep();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    // The wheel and touchpad swipes, up-down or sideways, move the one row sideways.
    void wheelEvent(QWheelEvent *event) override;
    bool viewportEvent(QEvent *event) override;

private:
    void fitToCell(QGraphicsPixmapItem *image) const;
    int cellSide() const;
    void placeCell(int i);
    // The scene's width and the row's offset after cells came or changed size.
    void fitRow();
    void relayout();
    void pickUnderCursor();
    void applyOffset();
    // A scroll the strip did not make itself (wheel, touchpad, arrow keys).
    void followScrollBar(int value);

    QGraphicsScene *graphicsScene;
    std::unique_ptr<Logger> logger;
    QPen normalPen{Qt::black, 2};
    QPen selectedPen{Qt::red, 5};
    QPixmap checkerTile;
    // The row's horizontal offset, folded in at the end of each drag, and the part added
    // by the drag in progress.
    int committedOffset = 0;
    int dragOffset = 0;
    QMap<int, QGraphicsPixmapItem *> itemsByKey;
    QList<QPair<QGraphicsRectItem *, QGraphicsPixmapItem *>> cells;
    QList<QGraphicsRectItem *> frames;
    QVariant selectedKey;
    QPoint pressPos;
    QPoint lastPos;
    QPoint dragDelta;
    bool pointerInside = false;
    bool movingRow = false;
    QTimer *animationTimer;
    QMutex mutex;
    int thumbnailSide = 0;
};
