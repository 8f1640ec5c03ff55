#pragma once

#include <QImage>
#include <QMap>
#include <QPoint>
#include <QRect>
#include <QString>

// Where the application's widgets are on the screen: a window built the same way in this
// process, in a scratch working directory, laid out off screen at the same size.
struct WindowLayout
{
    QPoint newGraftal, addLevel, nameField, baseSizeField;
    QRect painter, view, detailStrip, graftalStrip;
    int thumbnailSide = 0, graftalSide = 0; // the level strip's, the graftal strip's
    QPoint maskAction, textureAction;
    QMap<int, QPoint> viewAction; // by the action's data
    QPoint brushRadius, sprayRate;
    // The style row: the shading list and the outlines toggle.
    QPoint shading, outlines;

    explicit WindowLayout(const QString &scratchDir);

    // The centre of thumbnail `index` (0 = the first) in a strip.
    QPoint thumbnail(const QRect &strip, int index) const;
    QPoint detailThumbnail(int index) const { return thumbnail(detailStrip, index); }
};

class QWidget;
// Until every layout of a window shown off screen has placed its widgets: the events that
// showing posted are handled until no widget moves or changes size any more.
void laidOut(QWidget &window);

// How many pixels of `area` differ between two screenshots, looking at every `step`-th
// pixel in each direction.
int differingPixels(const QImage &a, const QImage &b, const QRect &area, int step = 1);
