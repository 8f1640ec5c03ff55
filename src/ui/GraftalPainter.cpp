#include "GraftalPainter.h"

#include "Logger.h"

#include <QAction>
#include <QMouseEvent>
#include <QPainter>
#include <QTabletEvent>

namespace {
// A copy with an alpha channel, so that erasing can make its pixels transparent.
QPixmap copyWithAlpha(const QPixmap &source)
{
    if (source.hasAlphaChannel())
        return source.copy();
    QPixmap copy(source.size());
    copy.fill(Qt::transparent);
    QPainter p(&copy);
    p.drawPixmap(0, 0, source);
    return copy;
}
} // namespace

GraftalPainter::GraftalPainter(QWidget *parent)
    : QFrame(parent), logger(std::make_unique<Logger>(QStringLiteral("app.ui.painter"))),
      checkerTile(QStringLiteral(":icons/transparent.png"))
{
    setMinimumSize(Side, Side);
    setMaximumSize(Side, Side);
    pen = QPen(QBrush(drawColor), 0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    setCursor(Qt::CrossCursor);
}

GraftalPainter::~GraftalPainter()
{
    releaseStrokeLayer();
}

void GraftalPainter::releaseStrokeLayer()
{
    if (strokePainter)
        strokePainter->end();
    strokePainter.reset();
    strokeLayer.reset();
}

LevelPair GraftalPainter::currentPixmaps() const
{
    return history.isEmpty() ? LevelPair() : history.at(historyIndex);
}

void GraftalPainter::setColor(QColor color)
{
    drawColor = color;
}

void GraftalPainter::pixmapSelected(QPair<QPixmap, QPixmap> pair)
{
    releaseStrokeLayer();
    strokeLayer = std::make_unique<QPixmap>(Side, Side);
    strokeLayer->fill(Qt::transparent);
    strokePainter = std::make_unique<QPainter>(strokeLayer.get());
    strokePainter->setRenderHint(QPainter::Antialiasing, true);
    history = {pair};
    historyIndex = 0;
    if (undoAction)
        undoAction->setEnabled(false);
    if (redoAction)
        redoAction->setEnabled(false);
    update();
}

void GraftalPainter::setUpPen()
{
    pen.setColor(erasing || editTexture == 0 ? QColor(Qt::black) : drawColor);
    pen.setWidth(penWidth);
    strokePainter->setPen(pen);
}

void GraftalPainter::plotPoint()
{
    setUpPen();
    strokePainter->drawPoint(currentPoint);
    update();
}

void GraftalPainter::drawSegment()
{
    setUpPen();
    strokePainter->drawLine(previousPoint, currentPoint);
    update();
}

void GraftalPainter::pushHistory(const LevelPair &pair)
{
    while (history.size() > historyIndex + 1)
        history.removeLast();
    history.append(pair);
    if (undoAction)
        undoAction->setEnabled(true);
    if (redoAction)
        redoAction->setEnabled(false);
    ++historyIndex;
}

void GraftalPainter::commitStroke()
{
    if (history.isEmpty() || !strokeLayer)
        return;
    const LevelPair current = history.at(historyIndex);
    QPixmap edited = copyWithAlpha(editTexture ? current.first : current.second);
    {
        QPainter p(&edited);
        p.setCompositionMode(erasing ? QPainter::CompositionMode_DestinationOut
                                     : QPainter::CompositionMode_SourceOver);
        p.drawPixmap(0, 0, *strokeLayer);
    }
    pushHistory(editTexture ? LevelPair(edited, current.second) : LevelPair(current.first, edited));
    // Empty the layer for the next stroke.
    strokePainter->save();
    strokePainter->setCompositionMode(QPainter::CompositionMode_Source);
    strokePainter->fillRect(strokeLayer->rect(), Qt::transparent);
    strokePainter->restore();
    emit pixmapChanged();
    update();
}

void GraftalPainter::clearPixmap()
{
    // Nothing to clear before a pair was loaded.
    if (history.isEmpty())
        return;
    QPixmap blank(Side, Side);
    blank.fill(Qt::transparent);
    const LevelPair current = history.at(historyIndex);
    pushHistory(editTexture ? LevelPair(blank, current.second) : LevelPair(current.first, blank));
    emit pixmapChanged();
    update();
}

void GraftalPainter::undoRedoAction(QAction *action)
{
    // An empty history has nothing to undo or redo.
    if (history.isEmpty())
        return;
    if (action->data() == QVariant(0)) {
        if (historyIndex > 0) {
            --historyIndex;
            emit pixmapChanged();
        }
        if (undoAction)
            undoAction->setEnabled(historyIndex > 0);
        if (redoAction)
            redoAction->setEnabled(true);
    } else {
        const int last = int(history.size()) - 1;
        if (historyIndex < last) {
            ++historyIndex;
            emit pixmapChanged();
        }
        if (redoAction)
            redoAction->setEnabled(historyIndex < last);
        if (undoAction)
            undoAction->setEnabled(true);
    }
    update();
}

void GraftalPainter::changeDrawMode(QAction *action)
{
    editTexture = action->data() == QVariant(0) ? 1 : 0;
    update();
}

void GraftalPainter::changeMouseMode(QAction *action)
{
    mouseDraws = action->data() == QVariant(0) ? 1 : 0;
}

void GraftalPainter::mousePressEvent(QMouseEvent *event)
{
    if (history.isEmpty())
        return;
    drawing = mouseDraws != 0;
    erasing = !drawing;
    currentPoint = event->position().toPoint();
    penWidth = MousePenWidth;
    plotPoint();
}

void GraftalPainter::mouseMoveEvent(QMouseEvent *event)
{
    if (!drawing && !erasing)
        return;
    previousPoint = currentPoint;
    currentPoint = event->position().toPoint();
    penWidth = MousePenWidth;
    drawSegment();
}

void GraftalPainter::mouseReleaseEvent(QMouseEvent *)
{
    if (drawing || erasing) {
        commitStroke();
        drawing = erasing = false;
    }
}

void GraftalPainter::tabletEvent(QTabletEvent *event)
{
    // Every tablet event is taken here, so no mouse events are made up from it.
    event->accept();
    if (history.isEmpty())
        return;
    const int width = int(event->pressure() * TabletMaxPenWidth);
    switch (event->type()) {
    case QEvent::TabletPress:
        erasing = event->pointerType() == QPointingDevice::PointerType::Eraser;
        drawing = !erasing;
        currentPoint = event->position().toPoint();
        penWidth = width;
        plotPoint();
        break;
    case QEvent::TabletMove:
        if (!drawing && !erasing)
            return;
        previousPoint = currentPoint;
        currentPoint = event->position().toPoint();
        penWidth = width;
        drawSegment();
        break;
    case QEvent::TabletRelease:
        commitStroke();
        drawing = erasing = false;
        break;
    default:
        break;
    }
}

void GraftalPainter::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.drawTiledPixmap(rect(), checkerTile, QPoint(0, 0));
    if (history.isEmpty())
        return;
    const LevelPair &pair = history.at(historyIndex);
    p.setOpacity(0.5);
    p.drawPixmap(0, 0, editTexture ? pair.second : pair.first);
    p.setOpacity(1.0);
    QPixmap edited = copyWithAlpha(editTexture ? pair.first : pair.second);
    if (strokeLayer) {
        QPainter onCopy(&edited);
        onCopy.setOpacity(0.75);
        if (erasing)
            onCopy.setCompositionMode(QPainter::CompositionMode_DestinationOut);
        onCopy.drawPixmap(0, 0, *strokeLayer);
    }
    p.drawPixmap(0, 0, edited);
}
