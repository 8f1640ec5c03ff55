#pragma once

#include <QString>

class GLRender;

// "Export image": what the view shows, without its debug overlays, as a PNG at twice the
// view's size in device pixels.
namespace imageexport {
// Asks for the file and says what went wrong.
void exportInteractively(GLRender &view);
// Writes the picture whole or not at all; false with the reason.
bool exportImage(GLRender &view, const QString &path, QString &error);
} // namespace imageexport
