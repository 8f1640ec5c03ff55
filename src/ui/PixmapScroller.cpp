#include "PixmapScroller.h"

#include "Logger.h"

#include <QApplication>
#include <QGraphicsPixmapItem>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <cmath>

PixmapScroller::PixmapScroller(QWidget *parent)
    : QGraphicsView(parent), graphicsScene(new QGraphicsScene(this)),
      logger(std::make_unique<Logger>(QStringLiteral("app.ui.pixmap_scroller"))),
      checkerTile(QStringLiteral(":icons/transparent.png")), animationTimer(new QTimer(this))
{
    setScene(graphicsScene);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setMinimumHeight(160 - 2 * Margin);
    setMaximumHeight(320 - 2 * Margin);
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setTransformationAnchor(QGraphicsView::NoAnchor);
    setResizeAnchor(QGraphicsView::AnchorViewCenter);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setRenderHint(QPainter::SmoothPixmapTransform);
    viewport()->setMouseTracking(true);
    animationTimer->setInterval(25);
    animationTimer->setSingleShot(false);
    connect(animationTimer, &QTimer::timeout, this, &PixmapScroller::animationStep);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this,
            &PixmapScroller::followScrollBar);
}

PixmapScroller::~PixmapScroller() = default;

void PixmapScroller::addPixmap(int key, const QPixmap &pixmap)
{
    auto *frame = new QGraphicsRectItem;
    frame->setPen(current == QVariant(key) ? currentPen : normalPen);
    frame->setBrush(QBrush(checkerTile));
    auto *image = new QGraphicsPixmapItem(pixmap, frame);
    image->setTransformationMode(Qt::SmoothTransformation);
    image->setShapeMode(QGraphicsPixmapItem::BoundingRectShape);
    image->setData(0, key);
    graphicsScene->addItem(frame);
    frames.append(frame);
    cells.append({frame, image});
    itemsByKey.insert(key, image);
    // Only the new cell is placed: a library of thousands fills its strip in linear time.
    const int s = cellSide();
    if (s != thumbnailSide) {
        relayout();
        return;
    }
    placeCell(int(cells.size()) - 1);
    fitRow();
}

void PixmapScroller::setPixmap(int key, const QPixmap &pixmap)
{
    if (QGraphicsPixmapItem *image = itemsByKey.value(key, nullptr)) {
        image->setPixmap(pixmap);
        fitToCell(image);
    }
}

void PixmapScroller::fitToCell(QGraphicsPixmapItem *image) const
{
    // Whatever the picture's size, it fills its square cell.
    const int width = image->pixmap().width();
    const double scale = thumbnailSide / double(width > 0 ? width : ThumbnailSource);
    image->setTransform(QTransform::fromScale(scale, scale));
}

QPixmap PixmapScroller::pixmapOf(int key) const
{
    const QGraphicsPixmapItem *image = itemsByKey.value(key, nullptr);
    return image ? image->pixmap() : QPixmap();
}

void PixmapScroller::clear()
{
    while (!frames.isEmpty()) {
        QGraphicsRectItem *frame = frames.takeLast();
        graphicsScene->removeItem(frame);
        delete frame; // with its image
    }
    itemsByKey.clear();
    cells.clear();
    captionItems.clear();
    captionTexts.clear();
    selectedKey = QVariant();
    current = QVariant();
}

void PixmapScroller::removePixmap(int key)
{
    QGraphicsPixmapItem *image = itemsByKey.take(key);
    if (!image)
        return;
    auto *frame = static_cast<QGraphicsRectItem *>(image->parentItem());
    frames.removeOne(frame);
    for (int i = 0; i < cells.size(); ++i)
        if (cells[i].first == frame)
            cells.removeAt(i);
    captionItems.remove(key);
    captionTexts.remove(key);
    if (selectedKey == QVariant(key))
        selectedKey = QVariant();
    if (current == QVariant(key))
        current = QVariant();
    graphicsScene->removeItem(frame);
    delete frame; // with its image and caption
    relayout();
}

const QPen &PixmapScroller::restingPen(const QGraphicsRectItem *frame) const
{
    const QGraphicsPixmapItem *image =
        current.isValid() ? itemsByKey.value(current.toInt()) : nullptr;
    return image && image->parentItem() == frame ? currentPen : normalPen;
}

void PixmapScroller::setCurrentKey(int key)
{
    current = itemsByKey.contains(key) ? QVariant(key) : QVariant();
    for (QGraphicsRectItem *frame : std::as_const(frames))
        if (frame->pen() != selectedPen)
            frame->setPen(restingPen(frame));
}

bool PixmapScroller::framedAsCurrent(int key) const
{
    const QGraphicsPixmapItem *image = itemsByKey.value(key, nullptr);
    return image && current == QVariant(key) &&
           static_cast<const QGraphicsRectItem *>(image->parentItem())->pen() != normalPen;
}

void PixmapScroller::setShowsCaptions(bool shows)
{
    captions = shows;
    relayout();
}

int PixmapScroller::captionHeight() const
{
    return captions ? fontMetrics().height() + 4 : 0;
}

void PixmapScroller::setCaption(int key, const QString &text)
{
    QGraphicsPixmapItem *image = itemsByKey.value(key, nullptr);
    if (!image)
        return;
    captionTexts.insert(key, text);
    if (!captionItems.contains(key)) {
        auto *item = new QGraphicsSimpleTextItem(image->parentItem());
        item->setFont(font());
        captionItems.insert(key, item);
    }
    placeCaption(key);
}

QString PixmapScroller::captionOf(int key) const
{
    const QGraphicsSimpleTextItem *item = captionItems.value(key, nullptr);
    return item ? item->text() : QString();
}

void PixmapScroller::placeCaption(int key)
{
    QGraphicsSimpleTextItem *item = captionItems.value(key, nullptr);
    if (!item)
        return;
    const QString elided =
        fontMetrics().elidedText(captionTexts.value(key), Qt::ElideRight, thumbnailSide);
    item->setText(elided);
    item->setVisible(captions);
    item->setPos((thumbnailSide - fontMetrics().horizontalAdvance(elided)) / 2.0,
                 thumbnailSide + 3);
}

int PixmapScroller::cellSide() const
{
    const int s = height() - 2 * Margin - captionHeight();
    return s - s % 16;
}

void PixmapScroller::placeCell(int i)
{
    const int s = thumbnailSide;
    QGraphicsRectItem *frame = cells[i].first;
    frame->setPos(i * (Spacing + s) + Margin, 0);
    frame->setRect(0, 0, s, s);
    fitToCell(cells[i].second);
    placeCaption(cells[i].second->data(0).toInt());
}

void PixmapScroller::relayout()
{
    thumbnailSide = cellSide();
    for (int i = 0; i < cells.size(); ++i)
        placeCell(i);
    fitRow();
}

void PixmapScroller::fitRow()
{
    const int s = thumbnailSide;
    const int n = int(cells.size());
    graphicsScene->setSceneRect(0, 0, s + (n - 1) * (s + Spacing) + 2 * Margin,
                                s + captionHeight());
    // Keep the row against the left edge, or its right end against the right edge.
    const int rowWidth = int(sceneRect().width());
    const int lowest = std::min(0, viewport()->width() - rowWidth);
    committedOffset = std::clamp(committedOffset, lowest, 0);
    applyOffset();
}

void PixmapScroller::applyOffset()
{
    // The row is moved by scrolling the hidden scroll bar: its value is how far the
    // row's left edge lies left of the viewport.
    movingRow = true;
    horizontalScrollBar()->setValue(horizontalScrollBar()->minimum() - rowOffset());
    movingRow = false;
}

void PixmapScroller::followScrollBar(int value)
{
    if (movingRow)
        return;
    // The row's offset learns where the row now is, so that the next animation step or
    // layout does not snap it back, and the highlight follows the content: the
    // thumbnail under the pointer is the one a click picks.
    committedOffset = horizontalScrollBar()->minimum() - value - dragOffset;
    if (pointerInside) {
        pickUnderCursor();
    } else {
        for (QGraphicsRectItem *frame : std::as_const(frames))
            frame->setPen(restingPen(frame));
        selectedKey = QVariant();
    }
}

void PixmapScroller::wheelEvent(QWheelEvent *event)
{
    QScrollBar *bar = horizontalScrollBar();
    lastPos = event->position().toPoint();
    pointerInside = true;
    if (bar->minimum() == bar->maximum()) {
        event->ignore(); // the row fits: nothing to scroll here
        return;
    }
    auto along = [](QPoint d) { return std::abs(d.x()) > std::abs(d.y()) ? d.x() : d.y(); };
    const int pixels = event->pixelDelta().isNull()
                           ? along(event->angleDelta()) * bar->singleStep() *
                                 QApplication::wheelScrollLines() /
                                 QWheelEvent::DefaultDeltasPerStep
                           : along(event->pixelDelta());
    bar->setValue(bar->value() - pixels);
    event->accept();
}

bool PixmapScroller::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::Leave)
        pointerInside = false;
    return QGraphicsView::viewportEvent(event);
}

QRect PixmapScroller::thumbnailRect(int key) const
{
    const QGraphicsPixmapItem *image = itemsByKey.value(key, nullptr);
    if (!image)
        return {};
    const auto *frame = static_cast<const QGraphicsRectItem *>(image->parentItem());
    return mapFromScene(frame->mapToScene(frame->rect())).boundingRect();
}

int PixmapScroller::outlinedFrames() const
{
    int n = 0;
    for (const QGraphicsRectItem *frame : frames)
        n += frame->pen() == selectedPen;
    return n;
}

void PixmapScroller::pickUnderCursor()
{
    for (QGraphicsRectItem *frame : std::as_const(frames))
        frame->setPen(restingPen(frame));
    selectedKey = QVariant();
    const QList<QGraphicsItem *> under = items(lastPos);
    QGraphicsRectItem *frame = nullptr;
    QGraphicsPixmapItem *image = nullptr;
    for (auto it = under.crbegin(); it != under.crend(); ++it) {
        if (auto *f = qgraphicsitem_cast<QGraphicsRectItem *>(*it))
            frame = f;
        else if (auto *i = qgraphicsitem_cast<QGraphicsPixmapItem *>(*it))
            image = i;
    }
    if (frame && image) {
        frame->setPen(selectedPen);
        selectedKey = image->data(0);
    }
}

void PixmapScroller::mousePressEvent(QMouseEvent *event)
{
    pointerInside = true;
    pressPos = lastPos = event->position().toPoint();
    dragDelta = QPoint(0, 0);
    dragOffset = 0;
    if (viewport()->width() < sceneRect().width())
        animationTimer->start();
}

void PixmapScroller::mouseMoveEvent(QMouseEvent *event)
{
    pointerInside = true;
    lastPos = event->position().toPoint();
    dragDelta = lastPos - pressPos;
    if (!animationTimer->isActive())
        pickUnderCursor();
}

void PixmapScroller::mouseReleaseEvent(QMouseEvent *)
{
    animationTimer->stop();
    {
        QMutexLocker lock(&mutex);
    }
    committedOffset += dragOffset;
    dragOffset = 0;
    if (selectedKey.isValid())
        emit pixmapSelected(selectedKey.toInt());
}

void PixmapScroller::animationStep()
{
    QMutexLocker lock(&mutex);
    // 75 pixels of drag move the row 10 pixels per step, the other way.
    int step = int(-(dragDelta.x() / 7.5));
    const int width = viewport()->width();
    const int left = rowOffset();
    const int right = left + int(sceneRect().width());
    const int newLeft = left + step;
    const int newRight = right + step;
    if (newLeft > 0)
        step = -left;
    else if (newRight < width)
        step = right == width ? 0 : width - right;
    dragOffset += step;
    applyOffset();
    pickUnderCursor();
}

void PixmapScroller::resizeEvent(QResizeEvent *event)
{
    QGraphicsView::resizeEvent(event);
    relayout();
}
