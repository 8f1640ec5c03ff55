#pragma once

#include <QString>

// A numbered picture sequence named by a pattern such as `frames/horse_%04d.png`: one
// `%d` or `%0Nd` (N from 1 to 9) stands for the frame number, `%%` for a percent sign.
namespace framesequence {
// Whether the pattern is usable: exactly one number field and a .png name; false with
// the reason.
bool validate(const QString &pattern, QString &error);
// The file name of frame `number` (1-based) of a valid pattern.
QString fileName(const QString &pattern, int number);
} // namespace framesequence
