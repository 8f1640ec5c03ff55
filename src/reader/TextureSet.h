#pragma once

#include "ReaderFiles.h"
#include "TransferWriter.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

// The diffuse images of one model, decoded here in the reader (they are untrusted input
// like the model): PNG, JPEG, BMP or TGA, at most ModelTransfer::MaxTextureSide pixels a
// side, read from files beside the model or from bytes the model holds. Each image is
// decoded once however many materials use it. An image that cannot be used leaves its
// materials with their colours and adds a note for the status line.
class TextureSet
{
public:
    // `modelPath` is the model file as the reader was given it; `budgetBytes` bounds the
    // decoded images together.
    TextureSet(const std::string &modelPath, uint64_t budgetBytes);
    ~TextureSet();
    TextureSet(const TextureSet &) = delete;
    TextureSet &operator=(const TextureSet &) = delete;

    // A file the model names: looked up beside the model by the stored name (a relative
    // path staying below the model's folder, then the bare name), then by the bare name
    // in any case ("TEST.PNG" finds "test.png"), beside the model first, then in its
    // folders down to MaxDepth levels (textures/, maps/, ...). Never above the model's
    // folder, never through a link. Returns the image's index or ModelTransfer::NoTexture.
    int32_t fromFile(const std::string &storedName);
    // An encoded image held in the model file, known by `key`.
    int32_t fromBytes(const std::string &key, const std::string &shownName,
                      const unsigned char *data, size_t size);
    // Pixels the model holds uncompressed, RGBA8, top row first.
    int32_t fromPixels(const std::string &key, const std::string &shownName, uint32_t width,
                       uint32_t height, std::vector<unsigned char> rgba);

    const std::vector<TextureImage> &images() const { return decoded; }
    // The status-line lines, '\n' between them.
    std::string notes() const;
    // A line about the model's files for the status line (kept with the textures' own).
    void note(const std::string &line);
    const std::string &model() const { return modelName; }

    // Folder levels below the model's searched for an image by its name.
    static constexpr int MaxDepth = 3;

private:
    int32_t decode(const std::string &shownName, const unsigned char *data, size_t size);
    int32_t keep(const std::string &shownName, TextureImage image);
    std::string findBelow(const std::string &name);

    std::string folder, modelName;
    readerfiles::Beneath files;
    uint64_t budget, used = 0;
    std::unordered_map<std::string, int32_t> byKey;
    std::vector<TextureImage> decoded;
    std::vector<std::string> lines;
    size_t unsaid = 0;
    // The names of the model's folder and the folders below it by their lower-case form
    // (each to its path, the shallowest first), read at the first name that is not found
    // as it is stored.
    std::unique_ptr<std::unordered_map<std::string, std::string>> listing;
};
