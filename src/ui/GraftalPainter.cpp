#include "GraftalPainter.h"

#include "FloodFill.h"
#include "Logger.h"

#include <QAction>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QTabletEvent>
#include <QUrl>
#include <algorithm>
#include <cmath>

namespace {
// A copy with an alpha channel, so that erasing can make its pixels transparent.
QImage withAlpha(const QPixmap &source)
{
    QImage image(source.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.drawPixmap(0, 0, source);
    return image;
}
} // namespace

GraftalPainter::GraftalPainter(QWidget *parent)
    : QFrame(parent), logger(std::make_unique<Logger>(QStringLiteral("app.ui.painter"))),
      checkerTile(QStringLiteral(":icons/transparent.png"))
{
    setMinimumSize(Side, Side);
    setMaximumSize(Side, Side);
    setCursor(Qt::CrossCursor);
    // Keys ([, ], I, Space, zoom) reach the painter once it is clicked or tabbed to.
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAcceptDrops(true);
}

GraftalPainter::~GraftalPainter() = default;

LevelPair GraftalPainter::currentPixmaps() const
{
    return history.isEmpty() ? LevelPair() : history.at(historyIndex);
}

QImage GraftalPainter::editedImage() const
{
    const LevelPair current = history.at(historyIndex);
    return withAlpha(editTexture ? current.first : current.second);
}

void GraftalPainter::setColor(QColor color)
{
    drawColor = color;
}

QColor GraftalPainter::strokeColor() const
{
    QColor c = editTexture ? drawColor : QColor(Qt::black);
    c.setAlphaF(float(c.alphaF() * opacityPercent / 100.0));
    return c;
}

void GraftalPainter::setBrushSize(int pixels)
{
    const int clamped = std::clamp(pixels, 1, MaxBrushSize);
    if (clamped == brushPixels)
        return;
    brushPixels = clamped;
    emit brushSizeChanged(brushPixels);
    update();
}

void GraftalPainter::setOpacity(int percent)
{
    opacityPercent = std::clamp(percent, 1, 100);
}

BrushSettings GraftalPainter::brush() const
{
    BrushSettings b = shape;
    b.size = brushPixels;
    b.opacity = opacityPercent;
    return b;
}

void GraftalPainter::setBrush(const BrushSettings &brush)
{
    shape = brush.clamped();
    setOpacity(shape.opacity);
    setBrushSize(shape.size);
}

void GraftalPainter::setMirror(bool on)
{
    mirrorOn = on;
    update();
}

void GraftalPainter::pixmapSelected(QPair<QPixmap, QPixmap> pair)
{
    layer.begin(drawColor);
    drawing = erasing = false;
    history = {pair};
    historyIndex = 0;
    if (undoAction)
        undoAction->setEnabled(false);
    if (redoAction)
        redoAction->setEnabled(false);
    update();
}

QPointF GraftalPainter::imagePoint(const QPointF &framePos) const
{
    // At 100 % the point is the frame pixel itself; zoomed in, the centre of the image
    // pixel under the pointer, so that a stroke lands on the pixel one sees.
    if (canvas.zoom() == 1)
        return QPointF(framePos.toPoint()) - canvas.offset();
    const QPointF at = canvas.toImage(framePos);
    return {std::floor(at.x()) + 0.5, std::floor(at.y()) + 0.5};
}

void GraftalPainter::startStroke(const QPointF &framePos, int width, bool erase)
{
    erasing = erase;
    drawing = !erase;
    layer.begin(editTexture && !erase ? drawColor : QColor(Qt::black));
    penWidth = width;
    // The string's length is in screen pixels: a hand shakes as much at any zoom.
    const double string = shape.smoothing * 0.3 / canvas.zoom();
    stroke.start(brush(), mirrorOn, string, imagePoint(framePos), width);
    update();
}

void GraftalPainter::continueStroke(const QPointF &framePos, double width)
{
    penWidth = int(width);
    stroke.moveTo(imagePoint(framePos), width);
    update();
}

void GraftalPainter::finishStroke(const QPointF &framePos)
{
    if (drawing || erasing)
        stroke.finish(imagePoint(framePos));
    commitStroke();
    drawing = erasing = false;
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

void GraftalPainter::pushEdited(const QImage &edited)
{
    const LevelPair current = history.at(historyIndex);
    const QPixmap image = QPixmap::fromImage(edited);
    pushHistory(editTexture ? LevelPair(image, current.second) : LevelPair(current.first, image));
    emit pixmapChanged();
    update();
}

void GraftalPainter::commitStroke()
{
    if (history.isEmpty())
        return;
    QImage edited = editedImage();
    layer.mergeOnto(edited, strokeColor().alphaF(), erasing);
    layer.begin(drawColor);
    pushEdited(edited);
}

void GraftalPainter::replaceEditedImage(const QImage &image)
{
    if (history.isEmpty())
        return;
    pushEdited(image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
}

void GraftalPainter::pickAt(const QPointF &framePos)
{
    if (history.isEmpty())
        return;
    const QPoint pixel = canvas.toImage(framePos).toPoint();
    const QImage image = editedImage();
    if (!image.rect().contains(pixel))
        return;
    drawColor = image.pixelColor(pixel);
    emit colorPicked(drawColor);
}

void GraftalPainter::fillAt(const QPointF &framePos)
{
    const QPointF at = canvas.toImage(framePos);
    const QPoint pixel(int(std::floor(at.x())), int(std::floor(at.y())));
    QImage edited = editedImage();
    QImage region = floodfill::similarRegion(edited, pixel);
    if (mirrorOn) {
        // The fill again where the mirrored click lands, found in the image before either.
        const QImage mirrored =
            floodfill::similarRegion(edited, QPoint(Side - 1 - pixel.x(), pixel.y()));
        if (region.isNull())
            region = mirrored;
        else if (!mirrored.isNull())
            for (int y = 0; y < region.height(); ++y) {
                uchar *out = region.scanLine(y);
                const uchar *in = mirrored.constScanLine(y);
                for (int x = 0; x < region.width(); ++x)
                    out[x] = std::max(out[x], in[x]);
            }
    }
    if (region.isNull())
        return;
    layer.begin(editTexture ? drawColor : QColor(Qt::black));
    layer.cover(region);
    layer.mergeOnto(edited, strokeColor().alphaF(), false);
    layer.begin(drawColor);
    pushEdited(edited);
}

void GraftalPainter::clearPixmap()
{
    // Nothing to clear before a pair was loaded.
    if (history.isEmpty())
        return;
    QImage blank(Side, Side, QImage::Format_ARGB32_Premultiplied);
    blank.fill(Qt::transparent);
    pushEdited(blank);
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
    const int chosen = action->data().toInt();
    tool = chosen >= DrawTool && chosen <= FillTool ? Tool(chosen) : DrawTool;
    update();
}

void GraftalPainter::zoomAt(int direction, QPointF anchor)
{
    const int before = canvas.zoom();
    if (direction == 0)
        canvas.reset();
    else
        canvas.zoomStep(direction, anchor);
    if (canvas.zoom() != before)
        emit zoomChanged(canvas.zoom());
    update();
}

void GraftalPainter::zoomByKey(int direction)
{
    zoomAt(direction, hovering ? hover : QPointF(Side / 2.0, Side / 2.0));
}

void GraftalPainter::mousePressEvent(QMouseEvent *event)
{
    const QPointF pos = event->position();
    if (event->button() == Qt::MiddleButton || (spaceHeld && event->button() == Qt::LeftButton)) {
        panning = true;
        panFrom = pos;
        setCursor(Qt::ClosedHandCursor);
        return;
    }
    if (history.isEmpty() || event->button() != Qt::LeftButton)
        return;
    if (event->modifiers() & Qt::ControlModifier || tool == PickTool) {
        pickAt(pos);
        return;
    }
    if (tool == FillTool) {
        fillAt(pos);
        return;
    }
    speed.start(pos, event->timestamp());
    startStroke(pos, brushPixels, tool == EraseTool);
}

void GraftalPainter::mouseMoveEvent(QMouseEvent *event)
{
    hover = event->position();
    hovering = true;
    if (panning) {
        canvas.pan(hover - panFrom);
        panFrom = hover;
    } else if (drawing || erasing) {
        const double scale = shape.speedThins ? speed.scaleAt(hover, event->timestamp()) : 1;
        continueStroke(hover, brushPixels * scale);
        return;
    }
    update();
}

void GraftalPainter::mouseReleaseEvent(QMouseEvent *event)
{
    if (panning) {
        panning = false;
        setCursor(spaceHeld ? Qt::OpenHandCursor : Qt::CrossCursor);
        return;
    }
    if (drawing || erasing)
        finishStroke(event->position());
}

void GraftalPainter::leaveEvent(QEvent *)
{
    hovering = false;
    update();
}

void GraftalPainter::tabletEvent(QTabletEvent *event)
{
    // Every tablet event is taken here, so no mouse events are made up from it.
    event->accept();
    if (history.isEmpty())
        return;
    // Full pressure is 25 pixels at the mouse's 15, and scales with the brush size.
    const int width = int(event->pressure() * brushPixels * TabletMaxPenWidth / MousePenWidth);
    switch (event->type()) {
    case QEvent::TabletPress:
        startStroke(event->position(), width,
                    event->pointerType() == QPointingDevice::PointerType::Eraser);
        break;
    case QEvent::TabletMove:
        if (drawing || erasing)
            continueStroke(event->position(), width);
        break;
    case QEvent::TabletRelease:
        finishStroke(event->position());
        break;
    default:
        break;
    }
}

void GraftalPainter::wheelEvent(QWheelEvent *event)
{
    if (!(event->modifiers() & Qt::ControlModifier) || event->angleDelta().y() == 0) {
        event->ignore();
        return;
    }
    zoomAt(event->angleDelta().y() > 0 ? 1 : -1, event->position());
    event->accept();
}

void GraftalPainter::keyPressEvent(QKeyEvent *event)
{
    const QString text = event->text();
    const bool control = event->modifiers() & Qt::ControlModifier;
    if (control && (event->key() == Qt::Key_Plus || event->key() == Qt::Key_Equal)) {
        zoomByKey(1);
    } else if (control && event->key() == Qt::Key_Minus) {
        zoomByKey(-1);
    } else if (control && event->key() == Qt::Key_0) {
        zoomByKey(0);
    } else if (text == QLatin1String("[")) {
        setBrushSize(brushPixels - std::max(1, brushPixels / 10));
    } else if (text == QLatin1String("]")) {
        setBrushSize(brushPixels + std::max(1, brushPixels / 10));
    } else if (!control && event->key() == Qt::Key_I) {
        if (hovering)
            pickAt(hover);
    } else if (event->key() == Qt::Key_Space) {
        if (!event->isAutoRepeat()) {
            spaceHeld = true;
            setCursor(Qt::OpenHandCursor);
        }
    } else {
        QFrame::keyPressEvent(event);
    }
}

void GraftalPainter::keyReleaseEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
        spaceHeld = false;
        if (!panning)
            setCursor(Qt::CrossCursor);
        return;
    }
    QFrame::keyReleaseEvent(event);
}

void GraftalPainter::dragEnterEvent(QDragEnterEvent *event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!history.isEmpty() && urls.size() == 1 && urls.first().isLocalFile())
        event->acceptProposedAction();
}

void GraftalPainter::dropEvent(QDropEvent *event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return;
    event->acceptProposedAction();
    emit imageFileDropped(urls.first().toLocalFile());
}

void GraftalPainter::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.drawTiledPixmap(rect(), checkerTile, QPoint(0, 0));
    if (history.isEmpty())
        return;
    const LevelPair &pair = history.at(historyIndex);
    p.save();
    p.translate(canvas.offset());
    p.scale(canvas.zoom(), canvas.zoom());
    p.setOpacity(0.5);
    p.drawPixmap(0, 0, editTexture ? pair.second : pair.first);
    p.setOpacity(1.0);
    QImage edited = editedImage();
    if (drawing || erasing) {
        QPainter onCopy(&edited);
        onCopy.setOpacity(0.75 * strokeColor().alphaF());
        if (erasing)
            onCopy.setCompositionMode(QPainter::CompositionMode_DestinationOut);
        onCopy.drawImage(0, 0, layer.image());
    }
    p.drawImage(0, 0, edited);
    p.restore();
    paintOverlay(p);
}

void GraftalPainter::paintOverlay(QPainter &p) const
{
    const int zoom = canvas.zoom();
    if (zoom >= 4) {
        // A faint grid between image pixels.
        p.setPen(QPen(QColor(128, 128, 128, 60), 1));
        const QPointF o = canvas.offset();
        for (double x = std::fmod(o.x(), zoom); x < Side; x += zoom)
            p.drawLine(QPointF(x, 0), QPointF(x, Side));
        for (double y = std::fmod(o.y(), zoom); y < Side; y += zoom)
            p.drawLine(QPointF(0, y), QPointF(Side, y));
    }
    if (mirrorOn) {
        // The mirror's axis, faint, at the image's vertical centre line.
        const double x = canvas.toFrame(QPointF(Side / 2.0, 0)).x();
        p.setPen(QPen(QColor(40, 120, 230, 110), 1, Qt::DashLine));
        p.drawLine(QPointF(x, 0), QPointF(x, Side));
    }
    if (hovering && !panning && !spaceHeld && (tool == DrawTool || tool == EraseTool)) {
        // The brush's outline at its size, in black and white so that it shows on any image.
        const double radius = brushPixels * zoom / 2.0;
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(255, 255, 255, 200), 3));
        p.drawEllipse(hover, radius, radius);
        p.setPen(QPen(QColor(0, 0, 0, 220), 1));
        p.drawEllipse(hover, radius, radius);
    }
}
