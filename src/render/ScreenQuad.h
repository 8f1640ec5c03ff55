#pragma once

namespace screenquad {
// Draws one quad over the whole viewport, its texture coordinates (unit 0) from 0 to 1,
// with the matrices it found kept.
void draw();
} // namespace screenquad
