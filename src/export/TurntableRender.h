#pragma once

#include "RenderSettings.h"
#include "FrameWriter.h"
#include "Turntable.h"
#include "VideoWriter.h"

#include <QString>
#include <QStringList>
#include <memory>

class Scene;
class SceneRenderer;

// What a turntable renders: frames `first` to `last` of `frames`, each `width` x `height`,
// into a `%04d`-style PNG pattern or a .mp4/.webm video at `fps`.
struct TurntableRequest
{
    int frames = 0;
    double degrees = 360.0;
    int first = 1, last = 0; // last 0: the last frame
    int fps = 24;
    int width = 1920, height = 1080;
    QString output;
};

// Renders a turntable one frame per call, so that a window can keep answering between
// frames; the command line and the window share it. The renderer's OpenGL context must be
// current at every call but the destructor and `discard`. PNG frames are written on a
// thread of their own while the next frame is drawn: a frame that cannot be written is
// told at the next call, or at `finish`. Until `finish` succeeds nothing stands under a
// video's name; `discard`, or the end of a render that did not finish, also removes the PNG
// frames this render made where no file stood before (a frame of an earlier render it
// replaced whole stays).
class TurntableRender
{
public:
    TurntableRender(SceneRenderer &renderer, const Scene &scene, const Camera &start,
                    const RenderSettings &settings, const TurntableRequest &request);
    ~TurntableRender();
    TurntableRender(const TurntableRender &) = delete;
    TurntableRender &operator=(const TurntableRender &) = delete;

    // Whether the request and its output can be used; false with the reason.
    static bool check(const TurntableRequest &request, QString &error);
    // Checks the output and opens the video; false with the reason.
    bool begin(QString &error);
    // Renders the next frame and writes it (a PNG frame: hands it to be written); false with
    // the reason, also when an earlier PNG frame could not be written.
    bool renderNext(QString &error);
    bool done() const { return next > last; }
    int framesToRender() const { return last - first + 1; }
    int framesRendered() const { return next - first; }
    // After the last frame: waits for the last PNG frame, or ends the video (renamed to its
    // name).
    bool finish(QString &error);
    // Removes what this render wrote.
    void discard();

private:
    SceneRenderer &renderer;
    const Scene &scene;
    Turntable turntable;
    RenderSettings settings;
    TurntableRequest request;
    int first, last, next;
    std::unique_ptr<VideoWriter> video;
    std::unique_ptr<FrameWriter> frames;
    bool finished = false;
};
