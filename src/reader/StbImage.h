#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Images decoded with stb_image (Debian's libstb-dev), PNG, JPEG, BMP and TGA only.
namespace stbimage {

enum class Header
{
    Image,
    TooLarge, // declares a size beyond what can be decoded (width and height when known)
    Unknown,  // no image of a format read here
};
// The size an image's header declares, without decoding it.
Header size(const unsigned char *data, size_t bytes, uint32_t &width, uint32_t &height);

// The image as RGBA8, top row first.
bool decode(const unsigned char *data, size_t bytes, uint32_t &width, uint32_t &height,
            std::vector<unsigned char> &rgba, std::string &problem);

} // namespace stbimage
