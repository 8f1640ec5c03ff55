#pragma once

#include "GLRender.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>

namespace bench {

// Loads a model in the view as the "Open 3DS file" action does, and measures how long it
// takes and the longest time the GUI thread's event loop went without turning meanwhile.
struct LoadWatch
{
    bool loaded = false;
    double ms = 0;
    double longestStallMs = 0;

    LoadWatch(GLRender &view, const QString &path)
    {
        QElapsedTimer clock, sinceTick;
        QTimer ticker;
        ticker.setInterval(5);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            longestStallMs = std::max(longestStallMs, sinceTick.nsecsElapsed() / 1e6);
            sinceTick.restart();
        });
        QEventLoop waiting;
        QObject::connect(&view, &GLRender::modelLoadFinished, &waiting, [&](bool ok) {
            loaded = ok;
            ms = clock.nsecsElapsed() / 1e6;
            waiting.quit();
        });
        clock.start();
        sinceTick.start();
        ticker.start();
        view.loadModelInBackground(path);
        waiting.exec();
        // The first frame of the new model belongs to the load.
        view.repaint();
        longestStallMs = std::max(longestStallMs, sinceTick.nsecsElapsed() / 1e6);
    }
};

} // namespace bench
