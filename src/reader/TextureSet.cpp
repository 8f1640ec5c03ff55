#include "TextureSet.h"

#include "ReaderFiles.h"
#include "StbImage.h"

#include <algorithm>

using namespace ModelTransfer;

namespace {
constexpr size_t MaxNotes = 12;
// Names of the model's folder and those below looked at for a name in another case or
// another folder, all together.
constexpr size_t MaxListing = 100000;
// The largest image file read: an 8192 x 8192 image, uncompressed, and some.
constexpr uint64_t MaxImageFileBytes = uint64_t(300) << 20;

std::string lowered(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

// Whether a stored relative path stays inside the model's folder.
bool staysBelow(const std::string &path)
{
    if (path.empty() || path[0] == '/')
        return false;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find('/', start), path.size());
        if (path.compare(start, end - start, "..") == 0)
            return false;
        start = end + 1;
    }
    return true;
}
} // namespace

TextureSet::TextureSet(const std::string &modelPath, uint64_t budgetBytes)
    : folder(readerfiles::folderOf(modelPath)), modelName(readerfiles::nameOf(modelPath)),
      files(folder), budget(budgetBytes)
{
}

TextureSet::~TextureSet() = default;

void TextureSet::note(const std::string &line)
{
    if (lines.size() < MaxNotes)
        lines.push_back(line);
    else
        ++unsaid;
}

std::string TextureSet::notes() const
{
    std::string text;
    for (const std::string &line : lines)
        text += (text.empty() ? "" : "\n") + line;
    // A character first: GCC 12 at -O3 warns falsely (-Wrestrict) about "\n" + std::string.
    if (unsaid > 0)
        text +=
            '\n' + std::to_string(unsaid) + " more textures of " + modelName + " could not be used";
    return text.substr(0, MaxNoteBytes);
}

std::string TextureSet::findBelow(const std::string &name)
{
    if (!listing) {
        listing = std::make_unique<std::unordered_map<std::string, std::string>>();
        // Level by level, so a name beside the model wins over one deeper down; the usual
        // image folders first within a level, then by name, so the choice is the same on
        // every machine.
        auto usual = [](const std::string &n) {
            const std::string l = lowered(n);
            return l == "textures" || l == "texture" || l == "maps" || l == "images";
        };
        std::vector<std::string> level{"."};
        size_t budgetLeft = MaxListing;
        for (int depth = 0; depth <= MaxDepth && !level.empty() && budgetLeft > 0; ++depth) {
            std::vector<std::string> next;
            for (const std::string &at : level) {
                std::vector<readerfiles::Beneath::Entry> entries;
                if (!files.list(at, budgetLeft, entries))
                    continue;
                budgetLeft -= std::min(budgetLeft, entries.size() + 1);
                std::vector<std::string> folders;
                for (const readerfiles::Beneath::Entry &e : entries) {
                    std::string path = at == "." ? std::string() : at + '/';
                    path += e.name;
                    if (e.folder)
                        folders.push_back(path);
                    else
                        listing->emplace(lowered(e.name), path);
                }
                std::sort(folders.begin(), folders.end(),
                          [&](const std::string &x, const std::string &y) {
                              const bool ux = usual(readerfiles::nameOf(x));
                              const bool uy = usual(readerfiles::nameOf(y));
                              return ux != uy ? ux : x < y;
                          });
                next.insert(next.end(), folders.begin(), folders.end());
            }
            level = std::move(next);
        }
    }
    const auto found = listing->find(lowered(name));
    return found == listing->end() ? std::string() : found->second;
}

int32_t TextureSet::fromFile(const std::string &storedName)
{
    std::string stored = storedName;
    std::replace(stored.begin(), stored.end(), '\\', '/');
    while (stored.rfind("./", 0) == 0)
        stored.erase(0, 2);
    const std::string bare = readerfiles::nameOf(stored);
    if (bare.empty())
        return NoTexture;
    const auto known = byKey.find("file:" + stored);
    if (known != byKey.end())
        return known->second;
    int32_t &index = byKey["file:" + stored];
    index = NoTexture;

    // The stored path when it stays below the folder, the bare name beside the model,
    // then the name in any case beside the model or below it. A link met on the way
    // stops the search: the file the model names is that one.
    std::vector<std::string> candidates;
    if (staysBelow(stored))
        candidates.push_back(stored);
    if (bare != stored)
        candidates.push_back(bare);
    std::string path;
    readerfiles::Kind kind = readerfiles::Kind::Missing;
    for (const std::string &c : candidates) {
        kind = files.kindOf(c);
        if (kind != readerfiles::Kind::Missing) {
            path = c;
            break;
        }
    }
    if (kind == readerfiles::Kind::Missing) {
        path = findBelow(bare);
        if (!path.empty())
            kind = files.kindOf(path);
    }
    switch (kind) {
    case readerfiles::Kind::Missing:
    case readerfiles::Kind::Outside:
        note(bare + " was not found beside " + modelName);
        return index;
    case readerfiles::Kind::Link:
        note(bare + " is a link; Tuftmill leaves it alone");
        return index;
    case readerfiles::Kind::Other:
        note(bare + " is not a regular file; Tuftmill leaves it alone");
        return index;
    case readerfiles::Kind::Regular:
        break;
    }
    std::vector<unsigned char> bytes;
    std::string problem;
    switch (files.readWhole(path, MaxImageFileBytes, bytes, kind, problem)) {
    case readerfiles::Read::TooLarge:
        note(bare + " is larger than " + std::to_string(MaxImageFileBytes >> 20) +
             " MB; Tuftmill leaves it alone");
        return index;
    case readerfiles::Read::Failed:
        note(bare + " could not be read (" + problem + ")");
        return index;
    case readerfiles::Read::Done:
        break;
    }
    index = decode(bare, bytes.data(), bytes.size());
    return index;
}

int32_t TextureSet::fromBytes(const std::string &key, const std::string &shownName,
                              const unsigned char *data, size_t size)
{
    const auto known = byKey.find("held:" + key);
    if (known != byKey.end())
        return known->second;
    const int32_t index = decode(shownName, data, size);
    byKey.emplace("held:" + key, index);
    return index;
}

int32_t TextureSet::fromPixels(const std::string &key, const std::string &shownName, uint32_t width,
                               uint32_t height, std::vector<unsigned char> rgba)
{
    const auto known = byKey.find("held:" + key);
    if (known != byKey.end())
        return known->second;
    int32_t index = NoTexture;
    if (width == 0 || height == 0 || width > MaxTextureSide || height > MaxTextureSide ||
        rgba.size() != size_t(width) * height * 4)
        note(shownName + " has a size Tuftmill does not take (" + std::to_string(width) + " x " +
             std::to_string(height) + ")");
    else
        index = keep(shownName, TextureImage{width, height, std::move(rgba)});
    byKey.emplace("held:" + key, index);
    return index;
}

int32_t TextureSet::decode(const std::string &shownName, const unsigned char *data, size_t size)
{
    // The header first: an image too large is refused before anything is decoded.
    uint32_t width = 0, height = 0;
    const stbimage::Header header = stbimage::size(data, size, width, height);
    if (header == stbimage::Header::Unknown) {
        note(shownName + " is not an image Tuftmill reads (PNG, JPEG, BMP or TGA)");
        return NoTexture;
    }
    if (header == stbimage::Header::TooLarge || width > MaxTextureSide || height > MaxTextureSide) {
        const std::string declared =
            width && height ? " (" + std::to_string(width) + " x " + std::to_string(height) + ")"
                            : std::string();
        note(shownName + " is larger than " + std::to_string(MaxTextureSide) + " pixels a side" +
             declared);
        return NoTexture;
    }
    if (used + uint64_t(width) * height * 4 > budget) {
        note(shownName + " was left out: the textures need more than " +
             std::to_string(budget >> 20) + " MB");
        return NoTexture;
    }
    TextureImage image;
    std::string problem;
    if (!stbimage::decode(data, size, image.width, image.height, image.rgba, problem) ||
        image.width != width || image.height != height) {
        note(shownName + " could not be decoded (" + problem + ")");
        return NoTexture;
    }
    return keep(shownName, std::move(image));
}

int32_t TextureSet::keep(const std::string &shownName, TextureImage image)
{
    const uint64_t bytes = image.rgba.size();
    if (decoded.size() >= MaxTextures || used + bytes > budget) {
        note(shownName + " was left out: the textures need more than " +
             std::to_string(budget >> 20) + " MB");
        return NoTexture;
    }
    used += bytes;
    decoded.push_back(std::move(image));
    return int32_t(decoded.size() - 1);
}
