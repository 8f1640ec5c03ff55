#pragma once

#include "BrushSettings.h"
#include "BrushStroke.h"
#include "CanvasView.h"
#include "Graftal.h"
#include "StrokeLayer.h"

#include <QColor>
#include <QFrame>
#include <QList>
#include <QPixmap>
#include <QPoint>
#include <memory>

class Logger;
class QAction;

// The pixel editor for one level of detail: shows a texture and mask pair in a fixed
// square frame (at one screen pixel per image pixel, or zoomed in), draws, erases, fills
// or picks colours on either image with the mouse or a tablet, and keeps an undo history
// of whole pairs. A stroke goes onto a stroke layer first and lands on a copy of the
// edited image, once, at the brush's opacity, when it ends.
class GraftalPainter : public QFrame
{
    Q_OBJECT
public:
    static constexpr int Side = 400;
    static constexpr int MousePenWidth = 15;
    static constexpr int TabletMaxPenWidth = 25;
    static constexpr int MaxBrushSize = 100;
    // What the mouse does: the data of the panel's tool actions.
    enum Tool
    {
        DrawTool = 0,
        EraseTool = 1,
        PickTool = 2,
        FillTool = 3
    };

    explicit GraftalPainter(QWidget *parent = nullptr);
    ~GraftalPainter() override;

    // The panel's Undo and Redo actions; the painter enables and disables them.
    QAction *undoAction = nullptr;
    QAction *redoAction = nullptr;

    LevelPair currentPixmaps() const;
    bool hasPixmaps() const { return !history.isEmpty(); }
    int historySize() const { return int(history.size()); }
    int historyPosition() const { return historyIndex; }
    bool editsTexture() const { return editTexture != 0; }
    bool mouseDrawsStrokes() const { return tool == DrawTool; }
    Tool currentTool() const { return tool; }
    int currentPenWidth() const { return penWidth; }
    QColor color() const { return drawColor; }
    int brushSize() const { return brushPixels; }
    int opacity() const { return opacityPercent; }
    // Every brush choice, size and opacity included.
    BrushSettings brush() const;
    // Whether strokes, fills and erasing repeat mirrored about the vertical centre line.
    bool mirrors() const { return mirrorOn; }
    // What a stroke lays down: black at the opacity on the mask, the colour (its own
    // alpha times the opacity) on the texture.
    QColor strokeColor() const;
    const CanvasView &view() const { return canvas; }

    // Makes the edited image `image` (premultiplied ARGB, Side square) as one undo step.
    void replaceEditedImage(const QImage &image);

signals:
    void pixmapChanged();
    void colorPicked(const QColor &color);
    void brushSizeChanged(int size);
    void zoomChanged(int zoom);
    // An image file was dropped onto the painter.
    void imageFileDropped(const QString &path);

public slots:
    void setColor(QColor color);
    void pixmapSelected(QPair<QPixmap, QPixmap> pair);
    void undoRedoAction(QAction *action);
    void clearPixmap();
    void changeDrawMode(QAction *action);
    void changeMouseMode(QAction *action);
    void setBrushSize(int pixels);
    void setOpacity(int percent);
    // Takes every brush choice; the size through setBrushSize (its signal follows).
    void setBrush(const BrushSettings &brush);
    void setMirror(bool on);
    // Zoom steps toward the frame position `anchor` (+1 in, -1 out); 0 back to 100 %.
    void zoomAt(int direction, QPointF anchor);
    // The same from a key: toward the pointer while it is over the frame, else its centre.
    void zoomByKey(int direction);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void tabletEvent(QTabletEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    QPointF imagePoint(const QPointF &framePos) const;
    QImage editedImage() const;
    void startStroke(const QPointF &framePos, int width, bool erase);
    void continueStroke(const QPointF &framePos, double width);
    // Ends the stroke where the pointer let go and lands it as one step.
    void finishStroke(const QPointF &framePos);
    void commitStroke();
    void pickAt(const QPointF &framePos);
    void fillAt(const QPointF &framePos);
    // Drops the redo branch and appends a new current entry.
    void pushHistory(const LevelPair &pair);
    void pushEdited(const QImage &edited);
    void paintOverlay(QPainter &p) const;

    std::unique_ptr<Logger> logger;
    QPixmap checkerTile;
    bool drawing = false;
    bool erasing = false;
    int penWidth = 0;
    StrokeLayer layer{Side};
    BrushStroke stroke{layer};
    SpeedGauge speed;
    // The brush's shape and motion; size and opacity are below.
    BrushSettings shape;
    bool mirrorOn = false;
    CanvasView canvas{Side};
    int editTexture = 1;
    Tool tool = DrawTool;
    int brushPixels = MousePenWidth;
    int opacityPercent = 100;
    QList<LevelPair> history;
    int historyIndex = 0;
    QColor drawColor = QColor(0, 0, 0, 255);
    // The pointer over the frame (for the brush's outline), and panning.
    QPointF hover;
    bool hovering = false;
    bool spaceHeld = false;
    bool panning = false;
    QPointF panFrom;
};
