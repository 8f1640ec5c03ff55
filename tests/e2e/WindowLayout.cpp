#include "WindowLayout.h"

#include "Configurator.h"
#include "GLRender.h"
#include "GraftalDetailNavigator.h"
#include "GraftalPainter.h"
#include "GraftalThumbnailNavigator.h"
#include "PixmapScroller.h"
#include "TextureManager.h"
#include "TreeManager.h"
#include "Tuftmill.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QToolBar>

namespace {
QPoint centre(QWidget *w)
{
    return w->mapToGlobal(w->rect().center());
}
QRect global(QWidget *w)
{
    return QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
}
} // namespace

void laidOut(QWidget &window)
{
    QList<QRect> before;
    for (int round = 0; round < 100; ++round) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QList<QRect> now;
        for (const QWidget *w : window.findChildren<QWidget *>())
            now.append(QRect(w->mapTo(&window, QPoint(0, 0)), w->size()));
        if (now == before)
            return;
        before = now;
    }
}

WindowLayout::WindowLayout(const QString &scratchDir)
{
    const QString previous = QDir::currentPath();
    QDir::setCurrent(scratchDir);
    {
        Tuftmill window;
        window.setAttribute(Qt::WA_DontShowOnScreen);
        window.show();
        laidOut(window);
        const TuftmillClass &ui = window.form();
        newGraftal = centre(ui.thumbnailNavigator->button(0));
        addLevel = centre(ui.detailNavigator->addButton());
        nameField = centre(ui.configurator->nameField());
        baseSizeField = centre(ui.configurator->baseSizeField());
        painter = global(ui.textureManager->painter());
        view = global(ui.view);
        detailStrip = global(ui.detailNavigator->scroller()->viewport());
        graftalStrip = global(ui.thumbnailNavigator->scroller()->viewport());
        thumbnailSide = ui.detailNavigator->scroller()->side();
        graftalSide = ui.thumbnailNavigator->scroller()->side();
        maskAction = centre(
            ui.textureManager->toolBar()->widgetForAction(ui.textureManager->action("Mask")));
        textureAction = centre(
            ui.textureManager->toolBar()->widgetForAction(ui.textureManager->action("Texture")));
        for (QAction *a : ui.viewToolBar->actions())
            if (!a->isSeparator() && a->data().toInt() > 0)
                viewAction[a->data().toInt()] = centre(ui.viewToolBar->widgetForAction(a));
        brushRadius = centre(ui.brushRadiusBox);
        sprayRate = centre(ui.sprayRateBox);
        shading = centre(ui.shadingBox);
        outlines = centre(ui.styleToolBar->widgetForAction(ui.outlinesAction));
        // Not closed: a closed window leaves its off-screen size in the settings, which
        // the program started next would take.
    }
    TreeManager::destroyInstance();
    QDir::setCurrent(previous);
}

QPoint WindowLayout::thumbnail(const QRect &strip, int index) const
{
    // The strips share the column's height unevenly: each has its own thumbnail size.
    const int side = strip == graftalStrip ? graftalSide : thumbnailSide;
    const int x = PixmapScroller::Margin + index * (side + PixmapScroller::Spacing);
    return strip.topLeft() + QPoint(x + side / 2, side / 2);
}

int differingPixels(const QImage &a, const QImage &b, const QRect &area, int step)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); y += step)
        for (int x = area.left(); x <= area.right(); x += step)
            n += a.pixel(x, y) != b.pixel(x, y);
    return n;
}
