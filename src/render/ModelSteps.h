#pragma once

#include "OffscreenTarget.h"
#include "ShaderProgram.h"

#include <cstddef>
#include <vector>

// A picture of a big model drawn a few of its buffers at a time, over several calls, off
// screen: a window that draws it so keeps answering between the calls. It is of one view
// (its key: the size, the camera and what colours the faces); another view starts it over.
class ModelSteps
{
public:
    using Key = std::vector<double>;

    // Makes the picture the one of `key` (cleared when it was of another) and gives the
    // buffers [first, end) to draw next, about `faces` faces of `bufferFaces`; false when
    // its target cannot be made (the picture is then drawn whole).
    bool next(const Key &key, int width, int height, const std::vector<size_t> &bufferFaces,
              size_t faces, size_t &first, size_t &end);
    // The buffers up to `end` are drawn.
    void advance(size_t end) { drawn = end; }
    bool complete() const { return started && drawn >= total; }
    // Whether the picture is the whole one of `key`.
    bool holds(const Key &key) const { return complete() && key == shownKey; }
    // Whether a picture is under way (started and not yet complete).
    bool underway() const { return started && drawn < total; }
    const OffscreenTarget &target() const { return picture; }
    // Draws the colour and depth over the bound framebuffer (of the same size) through
    // `copy` (copy.frag), leaving OpenGL's state as it found it.
    void copyToBound(const ShaderProgram &copy) const;
    // Forgets the picture: the next call starts over.
    void reset() { started = false; }

private:
    OffscreenTarget picture{true};
    Key shownKey;
    size_t drawn = 0, total = 0;
    bool started = false;
};
