#include "TurntableRender.h"

#include "FrameSequence.h"
#include "SafeFile.h"
#include "Scene.h"
#include "SceneRenderer.h"

#include <QFile>
#include <QFileInfo>

TurntableRender::TurntableRender(SceneRenderer &sceneRenderer, const Scene &s,
                                 const Camera &start, const RenderSettings &frameSettings,
                                 const TurntableRequest &r)
    : renderer(sceneRenderer), scene(s), turntable(start, s.center, r.frames, r.degrees),
      settings(frameSettings), request(r), first(r.first),
      last(r.last > 0 ? r.last : r.frames), next(r.first)
{
}

TurntableRender::~TurntableRender()
{
    if (!finished)
        discard();
}

bool TurntableRender::check(const TurntableRequest &r, QString &error)
{
    const int last = r.last > 0 ? r.last : r.frames;
    if (r.frames < 1 || r.first < 1 || r.last < 0 || r.first > last || last > r.frames) {
        error = QStringLiteral("the frames %1-%2 are not within 1-%3")
                    .arg(r.first)
                    .arg(last)
                    .arg(r.frames);
        return false;
    }
    const bool pattern = r.output.contains(QLatin1Char('%'));
    if (!pattern && !VideoWriter::isVideoName(r.output)) {
        error = QStringLiteral("%1 is neither a frame pattern such as frames_%04d.png nor a "
                               ".mp4 or .webm name")
                    .arg(r.output);
        return false;
    }
    if (pattern ? !framesequence::validate(r.output, error)
                : !VideoWriter::usable(r.output, r.width, r.height, error))
        return false;
    const QFileInfo folder(QFileInfo(r.output).absolutePath());
    if (!folder.isDir() || !folder.isWritable()) {
        error = QStringLiteral("the folder %1 is missing or not writable").arg(folder.filePath());
        return false;
    }
    return true;
}

bool TurntableRender::begin(QString &error)
{
    if (!check(request, error))
        return false;
    // A link, a folder, a pipe or a device under a name the render would write stops it
    // before the first frame: nothing is written through it or over it.
    if (VideoWriter::isVideoName(request.output)) {
        if (!safefile::replaceable(request.output, error))
            return false;
    } else {
        for (int n = first; n <= last; ++n)
            if (!safefile::replaceable(framesequence::fileName(request.output, n), error))
                return false;
    }
    if (!VideoWriter::isVideoName(request.output)) {
        frames = std::make_unique<FrameWriter>();
        return true;
    }
    video = std::make_unique<VideoWriter>();
    return video->open(request.output, request.width, request.height, request.fps, error);
}

bool TurntableRender::renderNext(QString &error)
{
    if (!video && !frames) {
        error = QStringLiteral("the turntable was not begun or was given up");
        return false;
    }
    const Camera camera = turntable.cameraOf(next);
    const QImage image =
        renderer.picture(scene, camera, settings, request.width, request.height, error);
    if (image.isNull()) {
        error = QStringLiteral("cannot draw frame %1: %2").arg(next).arg(error);
        return false;
    }
    if (video) {
        if (!video->add(image, error))
            return false;
    } else if (!frames->write(image, framesequence::fileName(request.output, next), error)) {
        return false;
    }
    ++next;
    return true;
}

bool TurntableRender::finish(QString &error)
{
    finished = video ? video->finish(error) : !frames || frames->wait(error);
    return finished;
}

void TurntableRender::discard()
{
    video.reset();
    if (!frames)
        return;
    // After the frame being written is done: it may be the one the render gave up at. Only
    // the files the render made go; frames that stood there before stay (replaced whole,
    // or as they were).
    for (const QString &name : frames->created())
        QFile::remove(name);
    frames.reset();
}
