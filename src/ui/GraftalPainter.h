#pragma once

#include "Graftal.h"

#include <QColor>
#include <QFrame>
#include <QList>
#include <QPen>
#include <QPixmap>
#include <QPoint>
#include <memory>

class Logger;
class QAction;
class QPainter;

// The pixel editor for one level of detail: shows a texture and mask pair at one screen
// pixel per image pixel, draws or erases on either image with the mouse or a tablet,
// and keeps an undo history of whole pairs. A stroke goes onto a stroke layer first and
// lands on a copy of the edited image when it ends.
class GraftalPainter : public QFrame
{
    Q_OBJECT
public:
    static constexpr int Side = 400;
    static constexpr int MousePenWidth = 15;
    static constexpr int TabletMaxPenWidth = 25;

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
    bool mouseDrawsStrokes() const { return mouseDraws != 0; }
    int currentPenWidth() const { return penWidth; }
    QColor color() const { return drawColor; }

signals:
    void pixmapChanged();

public slots:
    void setColor(QColor color);
    void pixmapSelected(QPair<QPixmap, QPixmap> pair);
    void undoRedoAction(QAction *action);
    void clearPixmap();
    void changeDrawMode(QAction *action);
    void changeMouseMode(QAction *action);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void tabletEvent(QTabletEvent *event) override;

private:
    void setUpPen();
    void plotPoint();
    void drawSegment();
    void commitStroke();
    // Drops the redo branch and appends a new current entry.
    void pushHistory(const LevelPair &pair);
    void releaseStrokeLayer();

    std::unique_ptr<Logger> logger;
    QPixmap checkerTile;
    bool drawing = false;
    bool erasing = false;
    QPoint currentPoint;
    int penWidth = 0;
    QPoint previousPoint;
    std::unique_ptr<QPixmap> strokeLayer;
    std::unique_ptr<QPainter> strokePainter;
    QPen pen;
    int editTexture = 1;
    int mouseDraws = 1;
    QList<LevelPair> history;
    int historyIndex = 0;
    QColor drawColor = QColor(0, 0, 0, 255);
};
