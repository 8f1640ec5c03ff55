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
class QGraphicsSimpleTextItem;
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
    // Takes out the thumbnail with that key; the others close up.
    void removePixmap(int key);
    // The thumbnail shown as the current one (framed from the start, not only under the
    // pointer); an unknown key marks none.
    void setCurrentKey(int key);
    QVariant currentKey() const { return current; }
    // Names under the thumbnails, elided to their width; the cells shrink to make room.
    void setShowsCaptions(bool shows);
    void setCaption(int key, const QString &text);
    QString captionOf(int key) const;

    int count() const { return int(cells.size()); }
    int side() const { return thumbnailSide; }
    QVariant highlightedKey() const { return selectedKey; }
    // Where the thumbnail with that key sits, in the strip's viewport coordinates.
    QRect thumbnailRect(int key) const;
    // The row's left edge in viewport pixels (0 or less once scrolled).
    int rowOffset() const { return committedOffset + dragOffset; }
    QPixmap pixmapOf(int key) const;
    int outlinedFrames() const;
    // Whether the thumbnail with that key carries the current frame.
    bool framedAsCurrent(int key) const;

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
    const QPen &restingPen(const QGraphicsRectItem *frame) const;
    void placeCaption(int key);
    int captionHeight() const;
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
    QPen currentPen{QColor(40, 110, 230), 5};
    QVariant current;
    bool captions = false;
    QMap<int, QString> captionTexts;
    QMap<int, QGraphicsSimpleTextItem *> captionItems;
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
