#pragma once

#include <QString>

class GLRender;

// "Export image": what the view shows, without its debug overlays, as a PNG or JPEG (by
// the name's ending) at twice the view's size in device pixels. A view that shows nothing
// of the model is not exported.
namespace imageexport {
// Why a picture in which no pixel shows the model is not written.
inline constexpr char MissedModel[] =
    "the model is not in the picture (try --frame, or smaller --yaw/--pitch/--distance)";
// Asks for the file and says what went wrong.
void exportInteractively(GLRender &view);
// Writes the picture whole or not at all; false with the reason.
bool exportImage(GLRender &view, const QString &path, QString &error);
} // namespace imageexport
