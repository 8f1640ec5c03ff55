#pragma once

#include <QCursor>
#include <QRect>
#include <functional>

class QLabel;
class QWidget;

// How the view looks beyond the scene it draws.

// The pointer of the paint and erase tools: the brush's circle as large as it paints
// (radius in device pixels), white for spraying and red for erasing; a cross for the
// smallest brushes.
QCursor brushCursor(int radius, double devicePixelRatio, bool erasing);

// The grey line over an empty view that says what to do first.
QLabel *makeEmptyViewHint(QWidget *view);

// A child over the whole view that darkens what lies outside the rectangle `frame` gives
// (nothing when it is empty); the pointer goes through it.
QWidget *makeRenderFrameShade(QWidget *view, std::function<QRect()> frame);
