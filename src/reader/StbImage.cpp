#include "StbImage.h"

#include <climits>
#include <cstring>

// Only the decoders Tuftmill offers, from memory. The side limit is the caller's: it reads
// the declared size first and decodes only images within it.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_ONLY_TGA
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#include <stb/stb_image.h>

namespace stbimage {

Header size(const unsigned char *data, size_t bytes, uint32_t &width, uint32_t &height)
{
    // PNG states its size in the first chunk; stb refuses to say it for the largest.
    static const unsigned char png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (bytes >= 24 && std::memcmp(data, png, sizeof png) == 0 &&
        std::memcmp(data + 12, "IHDR", 4) == 0) {
        auto word = [&](size_t at) {
            return uint32_t(data[at]) << 24 | uint32_t(data[at + 1]) << 16 |
                   uint32_t(data[at + 2]) << 8 | uint32_t(data[at + 3]);
        };
        width = word(16);
        height = word(20);
        if (width == 0 || height == 0)
            return Header::Unknown;
        return width > (1u << 24) || height > (1u << 24) ? Header::TooLarge : Header::Image;
    }
    int w = 0, h = 0, channels = 0;
    if (bytes > size_t(INT_MAX))
        return Header::Unknown;
    const bool read = stbi_info_from_memory(data, int(bytes), &w, &h, &channels);
    // A BMP stored top row first says so by a negative height; its size is the magnitude
    // (stb's decoder takes such files, its header reader passes the sign on).
    if (read && h < 0 && h != INT_MIN && bytes >= 2 && data[0] == 'B' && data[1] == 'M')
        h = -h;
    if (!read || w <= 0 || h <= 0) {
        const char *why = stbi_failure_reason();
        return why && std::strcmp(why, "too large") == 0 ? Header::TooLarge : Header::Unknown;
    }
    width = uint32_t(w);
    height = uint32_t(h);
    return Header::Image;
}

bool decode(const unsigned char *data, size_t bytes, uint32_t &width, uint32_t &height,
            std::vector<unsigned char> &rgba, std::string &problem)
{
    int w = 0, h = 0, channels = 0;
    stbi_uc *pixels = bytes > size_t(INT_MAX)
                          ? nullptr
                          : stbi_load_from_memory(data, int(bytes), &w, &h, &channels, 4);
    if (!pixels) {
        const char *why = stbi_failure_reason();
        problem = why ? why : "unknown";
        return false;
    }
    width = uint32_t(w);
    height = uint32_t(h);
    rgba.assign(pixels, pixels + size_t(w) * size_t(h) * 4);
    stbi_image_free(pixels);
    return true;
}

} // namespace stbimage
