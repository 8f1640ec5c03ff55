#pragma once

namespace screenquad {
// Draws one quad over the part of the viewport from (x0, y0) to (x1, y1) in device
// coordinates (-1 to 1; the whole viewport by default), its texture coordinates (unit 0)
// the matching part of 0 to 1, with the matrices it found kept.
void draw(float x0 = -1.0f, float y0 = -1.0f, float x1 = 1.0f, float y1 = 1.0f);
} // namespace screenquad
