#include "AssimpExport.h"

#include "GltfNodes.h"
#include "MeshPieces.h"
#include "ReaderFiles.h"
#include "TextureSet.h"

#include <algorithm>
#include <assimp/IOStream.hpp>
#include <assimp/IOSystem.hpp>
#include <assimp/Importer.hpp>
#include <assimp/config.h>
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <set>

using namespace ModelTransfer;

namespace assimpexport {
namespace {

// Corners of polygons, squared, summed over the file: cutting a polygon into triangles
// costs up to the square of its corners, so beyond this the file is refused before.
constexpr uint64_t MaxCornerWork = uint64_t(1) << 28;

std::string extensionOf(const std::string &path)
{
    const std::string name = readerfiles::nameOf(path);
    const size_t dot = name.rfind('.');
    std::string ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    for (char &c : ext)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return ext;
}

// What assimp reads, from memory: the model from the bytes already read, the files it
// names from regular files (never links) of bounded size.
class MemoryStream : public Assimp::IOStream
{
public:
    MemoryStream(const unsigned char *data, size_t size, std::vector<unsigned char> owned = {})
        : own(std::move(owned)), bytes(own.empty() ? data : own.data()),
          length(own.empty() ? size : own.size())
    {
    }
    size_t Read(void *buffer, size_t size, size_t count) override
    {
        if (size == 0)
            return 0;
        const size_t n = std::min(count, (length - position) / size);
        std::memcpy(buffer, bytes + position, n * size);
        position += n * size;
        return n;
    }
    size_t Write(const void *, size_t, size_t) override { return 0; }
    aiReturn Seek(size_t offset, aiOrigin origin) override
    {
        size_t to = offset;
        if (origin == aiOrigin_CUR)
            to = position + offset;
        else if (origin == aiOrigin_END)
            to = length - std::min(offset, length);
        if (to > length)
            return aiReturn_FAILURE;
        position = to;
        return aiReturn_SUCCESS;
    }
    size_t Tell() const override { return position; }
    size_t FileSize() const override { return length; }
    void Flush() override {}

private:
    std::vector<unsigned char> own;
    const unsigned char *bytes;
    size_t length;
    size_t position = 0;
};

// The files assimp opens for a model: the model itself from the bytes read, and the files
// it names (material libraries, buffers, external references) only beneath the model's
// folder, regular files of bounded size reached through no link. A file refused is a note
// for the status line; the importer goes on without it where the format allows.
class ModelFiles : public Assimp::IOSystem
{
public:
    ModelFiles(const std::string &path, const unsigned char *data, size_t size, uint64_t largest,
               TextureSet &notes)
        : modelPath(path), folder(readerfiles::folderOf(path)), files(folder), modelData(data),
          modelSize(size), maxBytes(largest), noted(notes)
    {
    }
    bool Exists(const char *file) const override
    {
        if (file == modelPath)
            return true;
        // Importers ask about names they make up as well: only what is opened is a note.
        return files.kindOf(beneathName(file)) == readerfiles::Kind::Regular;
    }
    char getOsSeparator() const override { return '/'; }
    Assimp::IOStream *Open(const char *file, const char *mode) override
    {
        if (!mode || std::strchr(mode, 'w') || std::strchr(mode, 'a') || std::strchr(mode, '+'))
            return nullptr;
        if (file == modelPath)
            return new MemoryStream(modelData, modelSize);
        const std::string name = beneathName(file);
        std::vector<unsigned char> bytes;
        std::string problem;
        readerfiles::Kind kind = readerfiles::Kind::Missing;
        switch (files.readWhole(name, maxBytes, bytes, kind, problem)) {
        case readerfiles::Read::Done:
            return new MemoryStream(nullptr, 0, std::move(bytes));
        case readerfiles::Read::TooLarge:
            say(shortName(name) + " is larger than " + std::to_string(maxBytes >> 20) +
                " MB; Tuftmill leaves it alone");
            return nullptr;
        case readerfiles::Read::Failed:
            if (kind == readerfiles::Kind::Regular)
                say(shortName(name) + " could not be read (" + problem + ")");
            refuse(name, kind);
            return nullptr;
        }
        return nullptr;
    }
    // Assimp hands every stream it opened back here.
    void Close(Assimp::IOStream *stream) override { delete stream; }

private:
    // The name relative to the model's folder, as assimp joined it to the folder; a name
    // that does not start there stays as it is and is refused as lying outside.
    std::string beneathName(const std::string &file) const
    {
        std::string name = file;
        const std::string prefix = folder == "." ? std::string() : folder + "/";
        if (!prefix.empty()) {
            if (name.rfind(prefix, 0) != 0)
                return name.empty() || name[0] == '/' ? name : "/" + name;
            name.erase(0, prefix.size());
        }
        while (name.rfind("./", 0) == 0)
            name.erase(0, 2);
        return name;
    }
    void refuse(const std::string &name, readerfiles::Kind kind) const
    {
        // The name as the model gives it: a link may be a folder on the way.
        const std::string shown = shortName(name);
        switch (kind) {
        case readerfiles::Kind::Regular:
        case readerfiles::Kind::Missing:
            return;
        case readerfiles::Kind::Link:
            say(shown + " is a link; Tuftmill leaves it alone");
            return;
        case readerfiles::Kind::Other:
            say(shown + " is not a regular file; Tuftmill leaves it alone");
            return;
        case readerfiles::Kind::Outside:
            say(shown + " lies outside the folder of " + noted.model() +
                "; Tuftmill leaves it alone");
            return;
        }
    }
    static std::string shortName(const std::string &name)
    {
        std::string shown = name.substr(0, 120);
        for (char &c : shown)
            if (static_cast<unsigned char>(c) < 0x20)
                c = ' ';
        return shown.size() < name.size() ? shown + "…" : shown;
    }
    // Each line once, however often assimp asks.
    void say(const std::string &line) const
    {
        if (said.insert(line).second)
            noted.note(line);
    }

    std::string modelPath, folder;
    readerfiles::Beneath files;
    const unsigned char *modelData;
    size_t modelSize;
    uint64_t maxBytes;
    TextureSet &noted;
    mutable std::set<std::string> said;
};

aiMatrix4x4 rows(float a, float b, float c, float d, float e, float f, float g, float h, float i)
{
    return aiMatrix4x4(a, b, c, 0, d, e, f, 0, g, h, i, 0, 0, 0, 0, 1);
}

// From the file's frame into the 3DS frame, Z up. 3MF and ASE (3ds Max's own text format)
// are Z up already, FBX says which axis is up, Collada has been turned Y up by assimp, and
// the rest are Y up.
aiMatrix4x4 toZUp(const aiScene &scene, const std::string &ext)
{
    if (ext == "3mf" || ext == "ase")
        return aiMatrix4x4();
    int32_t axis = 1, sign = 1;
    if (ext == "fbx" && scene.mMetaData) {
        scene.mMetaData->Get("UpAxis", axis);
        scene.mMetaData->Get("UpAxisSign", sign);
    }
    const bool up = sign >= 0;
    switch (axis) {
    case 0:
        return up ? rows(0, 0, -1, 0, 1, 0, 1, 0, 0) : rows(0, 0, 1, 0, 1, 0, -1, 0, 0);
    case 2:
        return up ? aiMatrix4x4() : rows(1, 0, 0, 0, -1, 0, 0, 0, -1);
    default:
        return up ? rows(1, 0, 0, 0, 0, -1, 0, 1, 0) : rows(1, 0, 0, 0, 0, 1, 0, -1, 0);
    }
}

std::string shortened(std::string text)
{
    for (char &c : text)
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
    if (text.size() > 300)
        text = text.substr(0, 300) + "…";
    return text;
}

// Files of points and lines only: nothing to spray on.
constexpr const char *NoTriangles = "the file holds no triangles (only points or lines)";

bool holdsSurfaces(const aiScene &scene)
{
    for (unsigned m = 0; m < scene.mNumMeshes; ++m)
        if (scene.mMeshes[m]->mPrimitiveTypes &
            (aiPrimitiveType_TRIANGLE | aiPrimitiveType_POLYGON))
            return true;
    return scene.mNumMeshes == 0;
}

std::string formatName(const std::string &ext)
{
    static const std::map<std::string, std::string> names = {
        {"obj", "OBJ"}, {"gltf", "glTF"},   {"glb", "GLB"},      {"fbx", "FBX"}, {"ply", "PLY"},
        {"stl", "STL"}, {"dae", "Collada"}, {"3mf", "3MF"},      {"off", "OFF"}, {"x", "DirectX"},
        {"ac", "AC3D"}, {"ase", "ASE"},     {"lwo", "LightWave"}};
    const auto found = names.find(ext);
    return found == names.end() ? "model" : found->second;
}

struct Instance
{
    unsigned mesh;
    aiMatrix4x4 matrix;
    std::string name;
};

// Every mesh of every node, in the order of the node tree, with the node's whole transform.
bool instancesOf(const aiScene &scene, const aiMatrix4x4 &frame, std::vector<Instance> &out)
{
    struct Pending
    {
        const aiNode *node;
        aiMatrix4x4 parent;
    };
    std::vector<Pending> pending;
    if (scene.mRootNode)
        pending.push_back({scene.mRootNode, frame});
    while (!pending.empty()) {
        const Pending p = pending.back();
        pending.pop_back();
        const aiMatrix4x4 matrix = p.parent * p.node->mTransformation;
        for (unsigned i = 0; i < p.node->mNumMeshes; ++i) {
            if (p.node->mMeshes[i] >= scene.mNumMeshes)
                continue;
            if (out.size() >= MaxObjects)
                return false;
            out.push_back({p.node->mMeshes[i], matrix, p.node->mName.C_Str()});
        }
        for (unsigned c = p.node->mNumChildren; c-- > 0;)
            if (p.node->mChildren[c])
                pending.push_back({p.node->mChildren[c], matrix});
    }
    return true;
}

// A material assimp made up for faces the file gives none (its "DefaultMaterial", or the
// unnamed white one of glTF, PLY and the like, without an image) brings no colour: such
// faces are drawn in the light grey of faces without a material, apart from the white
// background.
bool madeUp(const aiMaterial &m, const aiColor4D &color)
{
    if (m.GetTextureCount(aiTextureType_BASE_COLOR) + m.GetTextureCount(aiTextureType_DIFFUSE) > 0)
        return false;
    aiString name;
    if (m.Get(AI_MATKEY_NAME, name) == AI_SUCCESS && name.length > 0)
        return std::strcmp(name.C_Str(), AI_DEFAULT_MATERIAL_NAME) == 0;
    return color.r == 1.0f && color.g == 1.0f && color.b == 1.0f;
}

MaterialRecord materialOf(const aiScene &scene, const aiMaterial &m, TextureSet &textures)
{
    MaterialRecord r{{0.8f, 0.8f, 0.8f}, NoTexture};
    aiColor4D color;
    if ((m.Get(AI_MATKEY_BASE_COLOR, color) == AI_SUCCESS ||
         m.Get(AI_MATKEY_COLOR_DIFFUSE, color) == AI_SUCCESS) &&
        !madeUp(m, color)) {
        r.diffuse[0] = color.r;
        r.diffuse[1] = color.g;
        r.diffuse[2] = color.b;
    }
    aiString path;
    if (m.GetTexture(aiTextureType_BASE_COLOR, 0, &path) != AI_SUCCESS &&
        m.GetTexture(aiTextureType_DIFFUSE, 0, &path) != AI_SUCCESS)
        return r;
    const std::string name = path.C_Str();
    if (name.empty())
        return r;
    const aiTexture *held = scene.GetEmbeddedTexture(path.C_Str());
    if (!held) {
        r.texture = name[0] == '*' ? NoTexture : textures.fromFile(name);
        return r;
    }
    const std::string shown = held->mFilename.length > 0
                                  ? readerfiles::nameOf(held->mFilename.C_Str())
                                  : "the image held in the file";
    const std::string key = std::to_string(reinterpret_cast<uintptr_t>(held));
    if (held->mHeight == 0) {
        r.texture = textures.fromBytes(
            key, shown, reinterpret_cast<const unsigned char *>(held->pcData), held->mWidth);
    } else {
        std::vector<unsigned char> rgba;
        if (held->mWidth <= MaxTextureSide && held->mHeight <= MaxTextureSide) {
            rgba.resize(size_t(held->mWidth) * held->mHeight * 4);
            for (size_t i = 0; i < size_t(held->mWidth) * held->mHeight; ++i) {
                const aiTexel &t = held->pcData[i];
                rgba[i * 4] = t.r;
                rgba[i * 4 + 1] = t.g;
                rgba[i * 4 + 2] = t.b;
                rgba[i * 4 + 3] = t.a;
            }
        }
        r.texture = textures.fromPixels(key, shown, held->mWidth, held->mHeight, std::move(rgba));
    }
    return r;
}

std::vector<meshpieces::Piece> piecesOf(const aiMesh &mesh)
{
    meshpieces::Input in;
    in.vertexCount = mesh.mNumVertices;
    in.positions = &mesh.mVertices[0].x;
    in.normals = mesh.mNormals ? &mesh.mNormals[0].x : nullptr;
    in.texCoords = mesh.mTextureCoords[0] ? &mesh.mTextureCoords[0][0].x : nullptr;
    in.colors = mesh.mColors[0] ? &mesh.mColors[0][0].r : nullptr;
    in.triangles.reserve(mesh.mNumFaces);
    for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
        const aiFace &face = mesh.mFaces[f];
        if (face.mNumIndices == 3)
            in.triangles.push_back({face.mIndices[0], face.mIndices[1], face.mIndices[2]});
    }
    return meshpieces::split(in);
}

} // namespace

bool readsFormatOf(const std::string &path)
{
    static const char *const formats[] = {"obj", "gltf", "glb", "fbx", "ply", "stl", "dae",
                                          "3mf", "off",  "x",   "ac",  "ase", "lwo"};
    const std::string ext = extensionOf(path);
    return std::any_of(std::begin(formats), std::end(formats),
                       [&](const char *f) { return ext == f; });
}

int exportModel(const std::string &path, const unsigned char *data, size_t size, int resultFd,
                const ExportLimits &limits)
{
    const std::string ext = extensionOf(path);
    std::string problem;
    if ((ext == "gltf" || ext == "glb") && !gltfnodes::check(data, size, ext == "glb", problem))
        return writeRefusal(resultFd, problem);
    TextureSet textures(path, limits.memoryBytes / 4);
    Assimp::Importer importer;
    importer.SetIOHandler(new ModelFiles(path, data, size, limits.memoryBytes / 4, textures));
    importer.SetPropertyInteger(AI_CONFIG_PP_SBP_REMOVE,
                                aiPrimitiveType_POINT | aiPrimitiveType_LINE);
    importer.SetPropertyBool(AI_CONFIG_PP_FD_REMOVE, true);
    // A face is degenerate when its corners meet, not when it is small: a model a millimetre
    // across keeps all its faces.
    importer.SetPropertyBool(AI_CONFIG_PP_FD_CHECKAREA, false);
    importer.SetPropertyBool(AI_CONFIG_IMPORT_FBX_PRESERVE_PIVOTS, false);

    auto failed = [&]() {
        const std::string error = importer.GetErrorString();
        if (error.find("bad_alloc") != std::string::npos)
            return writeRefusal(resultFd, needsMoreThan(limits.memoryBytes));
        if (error.find("No meshes remaining") != std::string::npos)
            return writeRefusal(resultFd, NoTriangles);
        // assimp asks every importer when the one of the file's format gave up early (a GLB
        // whose chunk lengths are wrong): the file is a damaged one of its format.
        if (error.find("No suitable reader found") != std::string::npos)
            return writeRefusal(resultFd, "the file's content could not be read (it is not a "
                                          "sound " +
                                              formatName(extensionOf(path)) + " file)");
        // A side file the model needs and Tuftmill refused: the refusal says why.
        const std::string notes = textures.notes();
        const std::string why =
            notes.empty() ? std::string() : "; " + notes.substr(0, notes.find('\n'));
        return writeRefusal(resultFd, error.empty() ? "the file's content could not be read" + why
                                                    : "the file's content could not be read (" +
                                                          shortened(error) + why + ")");
    };
    const aiScene *scene = importer.ReadFile(path, aiProcess_ValidateDataStructure);
    if (!scene)
        return failed();
    if (!holdsSurfaces(*scene))
        return writeRefusal(resultFd, NoTriangles);

    // Cutting polygons into triangles and the steps after it only once their cost is known.
    uint64_t cornerWork = 0;
    for (unsigned m = 0; m < scene->mNumMeshes; ++m)
        for (unsigned f = 0; f < scene->mMeshes[m]->mNumFaces; ++f) {
            const uint64_t corners = scene->mMeshes[m]->mFaces[f].mNumIndices;
            cornerWork += corners > 4 ? corners * corners : 0;
        }
    if (cornerWork > MaxCornerWork)
        return writeRefusal(resultFd, "the file has polygons with too many corners");
    if (!importer.ApplyPostProcessing(aiProcess_Triangulate | aiProcess_SortByPType) ||
        !(scene = importer.ApplyPostProcessing(aiProcess_FindDegenerates | aiProcess_SortByPType |
                                               aiProcess_ValidateDataStructure)))
        return failed();

    if (scene->mNumMaterials > MaxMaterials)
        return writeRefusal(resultFd, tooManyMaterials());
    std::vector<Instance> instances;
    if (!instancesOf(*scene, toZUp(*scene, extensionOf(path)), instances))
        return writeRefusal(resultFd, tooManyObjects());
    uint64_t faces = 0;
    for (const Instance &i : instances)
        faces += scene->mMeshes[i.mesh]->mNumFaces;
    if (faces > MaxFaces)
        return writeRefusal(resultFd, tooManyTriangles(faces));

    TransferContent content;
    for (unsigned m = 0; m < scene->mNumMaterials; ++m)
        content.materials.push_back(materialOf(*scene, *scene->mMaterials[m], textures));

    // Each mesh made into pieces once, however many nodes show it.
    std::map<unsigned, std::vector<meshpieces::Piece>> pieces;
    struct Placed
    {
        const meshpieces::Piece *piece;
        const aiMatrix4x4 *matrix;
        int32_t material;
    };
    std::vector<Placed> placed;
    for (const Instance &instance : instances) {
        auto at = pieces.find(instance.mesh);
        if (at == pieces.end())
            at = pieces.emplace(instance.mesh, piecesOf(*scene->mMeshes[instance.mesh])).first;
        const aiMesh &mesh = *scene->mMeshes[instance.mesh];
        const int32_t material = mesh.mMaterialIndex < content.materials.size()
                                     ? int32_t(mesh.mMaterialIndex)
                                     : NoMaterial;
        const bool textured =
            material != NoMaterial && content.materials[size_t(material)].texture != NoTexture;
        for (const meshpieces::Piece &piece : at->second) {
            if (content.meshes.size() >= MaxObjects)
                return writeRefusal(resultFd, tooManyObjects());
            MeshRecord record{};
            const std::string name = instance.name.empty() ? mesh.mName.C_Str() : instance.name;
            std::memcpy(record.name, name.data(), std::min<size_t>(name.size(), NameBytes - 1));
            record.pointCount = uint32_t(piece.points.size() / 3);
            record.faceCount = uint32_t(piece.faces.size());
            for (int k = 0; k < 4; ++k)
                record.matrix[k * 5] = 1.0f;
            record.flags = (mesh.mTextureCoords[0] && textured ? uint32_t(HasTexCoords) : 0u) |
                           (mesh.mColors[0] && !textured ? uint32_t(HasColors) : 0u);
            PlacementRecord placement{};
            placement.mesh = uint32_t(content.meshes.size());
            placement.matrix[0] = placement.matrix[5] = placement.matrix[10] =
                placement.matrix[15] = 1.0f;
            content.meshes.push_back(record);
            content.placements.push_back(placement);
            placed.push_back({&piece, &instance.matrix, material});
        }
    }
    content.textures = &textures.images();
    content.notes = textures.notes();
    content.fillMesh = [&](size_t index, float *points, float *texCoords, unsigned char *colors,
                           FaceRecord *out) {
        const Placed &p = placed[index];
        const aiMatrix4x4 &m = *p.matrix;
        const size_t count = p.piece->points.size() / 3;
        for (size_t i = 0; i < count; ++i) {
            const aiVector3D v = m * aiVector3D(p.piece->points[i * 3], p.piece->points[i * 3 + 1],
                                                p.piece->points[i * 3 + 2]);
            points[i * 3] = v.x;
            points[i * 3 + 1] = v.y;
            points[i * 3 + 2] = v.z;
        }
        std::copy(p.piece->texCoords.begin(), p.piece->texCoords.end(), texCoords);
        std::copy(p.piece->colors.begin(), p.piece->colors.end(), colors);
        for (size_t f = 0; f < p.piece->faces.size(); ++f) {
            FaceRecord &r = out[f];
            std::copy(p.piece->faces[f].begin(), p.piece->faces[f].end(), r.points);
            r.smoothing = 1; // one group: normals are shared where points are
            r.material = p.material;
        }
    };
    return writeTransfer(resultFd, content, limits);
}

} // namespace assimpexport
