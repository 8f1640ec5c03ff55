#pragma once

#include "TurntableRender.h"

#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QTimer>
#include <memory>

class GLRender;

// "Render turntable…": the camera orbits the model from the view's current camera, in the
// view's style, one frame per turn of the event loop so that the window keeps answering,
// under a "Rendering turntable" progress dialog whose "Cancel" removes what was written.
// A failure shows a message box and leaves nothing under the output's name.
class TurntableExport : public QObject
{
    Q_OBJECT
public:
    // Asks for frames, degrees, size and output, then starts.
    static void renderInteractively(GLRender &view);
    // Starts a render of the view (which must show a model); it runs under the view and
    // deletes itself when over.
    static TurntableExport *start(GLRender &view, const TurntableRequest &request);

    ~TurntableExport() override;

    QProgressDialog *progressDialog() const { return progress; }

signals:
    // The render ended: written whole, or not at all (cancelled or failed).
    void over(bool written);

private:
    TurntableExport(GLRender &view, const TurntableRequest &request);
    void step();
    void end(bool written, const QString &error = QString());

    GLRender &view;
    TurntableRequest request;
    std::unique_ptr<TurntableRender> render;
    // A child of the view, which may delete it first.
    QPointer<QProgressDialog> progress;
    QTimer frames;
    bool ended = false;
};
