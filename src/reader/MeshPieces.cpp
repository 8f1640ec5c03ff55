#include "MeshPieces.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace meshpieces {
namespace {

constexpr uint32_t None = UINT32_MAX;
constexpr size_t MaxGroups = 8;

uint64_t mix(uint64_t h, const float *values, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        uint32_t bits;
        std::memcpy(&bits, values + i, sizeof bits);
        h = (h ^ bits) * 0x100000001B3ull;
        h ^= h >> 29;
    }
    return h;
}

// Corners that are the same vertex, found through an open-addressed table of the first
// vertex of each kind.
class VertexJoin
{
public:
    explicit VertexJoin(const Input &input) : in(input)
    {
        size_t size = 16;
        while (size < input.vertexCount * 2)
            size *= 2;
        slots.assign(size, None);
    }

    // The joined number of vertex v, numbering new kinds in order.
    uint32_t number(uint32_t v)
    {
        const size_t mask = slots.size() - 1;
        for (size_t at = size_t(hash(v)) & mask;; at = (at + 1) & mask) {
            if (slots[at] == None) {
                slots[at] = uint32_t(firsts.size());
                firsts.push_back(v);
                return slots[at];
            }
            if (same(firsts[slots[at]], v))
                return slots[at];
        }
    }
    const std::vector<uint32_t> &firstVertices() const { return firsts; }

private:
    const float *position(uint32_t v) const { return in.positions + size_t(v) * in.positionStride; }
    uint64_t hash(uint32_t v) const
    {
        uint64_t h = mix(0xCBF29CE484222325ull, position(v), 3);
        if (in.normals)
            h = mix(h, in.normals + size_t(v) * 3, 3);
        if (in.texCoords)
            h = mix(h, in.texCoords + size_t(v) * in.texCoordStride, 2);
        if (in.colors)
            h = mix(h, in.colors + size_t(v) * 4, 4);
        return h;
    }
    bool same(uint32_t a, uint32_t b) const
    {
        auto equal = [](const float *p, const float *q, size_t n) {
            return std::memcmp(p, q, n * sizeof(float)) == 0;
        };
        return equal(position(a), position(b), 3) &&
               (!in.normals || equal(in.normals + size_t(a) * 3, in.normals + size_t(b) * 3, 3)) &&
               (!in.texCoords || equal(in.texCoords + size_t(a) * in.texCoordStride,
                                       in.texCoords + size_t(b) * in.texCoordStride, 2)) &&
               (!in.colors || equal(in.colors + size_t(a) * 4, in.colors + size_t(b) * 4, 4));
    }

    const Input &in;
    std::vector<uint32_t> slots;
    std::vector<uint32_t> firsts;
};

std::array<float, 3> faceNormal(const Input &in, const std::array<uint32_t, 3> &t)
{
    const float *a = in.positions + size_t(t[0]) * in.positionStride;
    const float *b = in.positions + size_t(t[1]) * in.positionStride;
    const float *c = in.positions + size_t(t[2]) * in.positionStride;
    const float p[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const float q[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    std::array<float, 3> n{p[1] * q[2] - p[2] * q[1], p[2] * q[0] - p[0] * q[2],
                           p[0] * q[1] - p[1] * q[0]};
    const float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (length > 0 && std::isfinite(length))
        for (float &x : n)
            x /= length;
    return n;
}

// For every corner, which of its position's groups of faces by direction it is in: the
// corner's vertex becomes (joined vertex, group).
// `original` are the faces in the input's vertex numbers, `faces` the same in joined ones.
std::vector<uint8_t> groupsByAngle(const Input &in,
                                   const std::vector<std::array<uint32_t, 3>> &original,
                                   const std::vector<std::array<uint32_t, 3>> &faces, size_t points)
{
    std::vector<std::array<float, 3>> normals(faces.size());
    for (size_t f = 0; f < faces.size(); ++f)
        normals[f] = faceNormal(in, original[f]);
    std::vector<uint32_t> start(points + 1, 0);
    for (const auto &f : faces)
        for (uint32_t p : f)
            ++start[p + 1];
    for (size_t p = 0; p < points; ++p)
        start[p + 1] += start[p];
    std::vector<uint32_t> corners(faces.size() * 3);
    std::vector<uint32_t> fill(start.begin(), start.end() - 1);
    for (size_t f = 0; f < faces.size(); ++f)
        for (int k = 0; k < 3; ++k)
            corners[fill[faces[f][k]]++] = uint32_t(f * 3 + k);

    const float limit = float(std::cos(SmoothingAngle * M_PI / 180.0));
    std::vector<uint8_t> group(faces.size() * 3, 0);
    for (size_t p = 0; p < points; ++p) {
        const std::array<float, 3> *firsts[MaxGroups];
        size_t groups = 0;
        for (uint32_t at = start[p]; at < start[p + 1]; ++at) {
            const std::array<float, 3> &n = normals[corners[at] / 3];
            size_t best = 0;
            float bestDot = -2;
            for (size_t g = 0; g < groups; ++g) {
                const float d =
                    n[0] * (*firsts[g])[0] + n[1] * (*firsts[g])[1] + n[2] * (*firsts[g])[2];
                if (d > bestDot) {
                    bestDot = d;
                    best = g;
                }
                if (d >= limit)
                    break;
            }
            if (groups == 0 || (bestDot < limit && groups < MaxGroups)) {
                firsts[groups] = &n;
                best = groups++;
            }
            group[corners[at]] = uint8_t(best);
        }
    }
    return group;
}

} // namespace

std::vector<Piece> split(const Input &in)
{
    // The triangles that name existing vertices, in joined numbers.
    VertexJoin join(in);
    std::vector<uint32_t> joined(in.vertexCount, None);
    std::vector<std::array<uint32_t, 3>> faces;
    faces.reserve(in.triangles.size());
    std::vector<std::array<uint32_t, 3>> kept;
    kept.reserve(in.triangles.size());
    for (const auto &t : in.triangles) {
        if (t[0] >= in.vertexCount || t[1] >= in.vertexCount || t[2] >= in.vertexCount)
            continue;
        std::array<uint32_t, 3> f{};
        for (int k = 0; k < 3; ++k) {
            if (joined[t[k]] == None)
                joined[t[k]] = join.number(t[k]);
            f[k] = joined[t[k]];
        }
        if (f[0] == f[1] || f[1] == f[2] || f[0] == f[2])
            continue; // two corners at one vertex: no surface
        faces.push_back(f);
        kept.push_back(t);
    }
    const std::vector<uint32_t> &firsts = join.firstVertices();
    const std::vector<uint8_t> group = in.normals ? std::vector<uint8_t>(faces.size() * 3, 0)
                                                  : groupsByAngle(in, kept, faces, firsts.size());
    kept = {};

    // Pieces in face order, each numbering its points as its faces first use them.
    std::vector<Piece> pieces;
    std::vector<uint32_t> local(firsts.size() * MaxGroups, None);
    std::vector<uint32_t> usedSlots;
    Piece piece;
    auto finish = [&] {
        if (!piece.faces.empty())
            pieces.push_back(std::move(piece));
        piece = Piece();
        for (uint32_t s : usedSlots)
            local[s] = None;
        usedSlots.clear();
    };
    for (size_t f = 0; f < faces.size(); ++f) {
        uint32_t slot[3];
        size_t fresh = 0;
        for (int k = 0; k < 3; ++k) {
            slot[k] = faces[f][k] * uint32_t(MaxGroups) + group[f * 3 + k];
            fresh += local[slot[k]] == None;
        }
        if (piece.points.size() / 3 + fresh > MaxPoints)
            finish();
        std::array<uint16_t, 3> out{};
        for (int k = 0; k < 3; ++k) {
            if (local[slot[k]] == None) {
                local[slot[k]] = uint32_t(piece.points.size() / 3);
                usedSlots.push_back(slot[k]);
                const uint32_t v = firsts[faces[f][k]];
                const float *p = in.positions + size_t(v) * in.positionStride;
                piece.points.insert(piece.points.end(), p, p + 3);
                const float *uv =
                    in.texCoords ? in.texCoords + size_t(v) * in.texCoordStride : nullptr;
                piece.texCoords.push_back(uv ? uv[0] : 0.0f);
                piece.texCoords.push_back(uv ? uv[1] : 0.0f);
                for (int c = 0; c < 4; ++c) {
                    const float value = in.colors ? in.colors[size_t(v) * 4 + c] : 1.0f;
                    piece.colors.push_back((
                        unsigned char)(std::clamp(std::isfinite(value) ? value : 1.0f, 0.0f, 1.0f) *
                                           255.0f +
                                       0.5f));
                }
            }
            out[k] = uint16_t(local[slot[k]]);
        }
        piece.faces.push_back(out);
    }
    finish();
    return pieces;
}

} // namespace meshpieces
