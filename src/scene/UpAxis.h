#pragma once

#include "Matrix4.h"
#include "ViewStyle.h"

#include <QString>
#include <QStringList>

// The model file's axis that stands up in the view. The model reader hands every model over
// Z up (its format's own up turned to Z); these functions turn a file's axis into the turn
// that stands it up, by the format the file's name says.
namespace upaxis {
// "+X", "+Y", "+Z", "−X", "−Y", "−Z": the labels of the six axes in UpAxis order from PlusX.
QStringList labels();
// "x", "y", "z", "-x", "-y", "-z" (the command line and the view file); Default for "".
QString nameOf(UpAxis up);
// False for a name that is none of them.
bool fromName(const QString &name, UpAxis &up);
// The axis a file of this name stands on when nothing else is said.
UpAxis defaultFor(const QString &modelPath);
// `up` itself, or the format's axis for Default.
UpAxis resolved(UpAxis up, const QString &modelPath);
// The model's turn into the view (Camera::orientation).
Matrix4 orientationFor(UpAxis up, const QString &modelPath);
} // namespace upaxis
