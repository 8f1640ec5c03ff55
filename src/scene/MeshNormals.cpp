#include "MeshNormals.h"

#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <vector>

using ModelTransfer::FaceRecord;

namespace {
constexpr float Epsilon = 1e-8f;
constexpr size_t MaxSmoothingSets = 32;

float dot(const float *a, const float *b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// Unit length, or the largest axis for a vector too short to scale.
void normalize(float *c)
{
    const float l = float(std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]));
    if (std::fabs(l) < Epsilon) {
        if (c[0] >= c[1] && c[0] >= c[2]) {
            c[0] = 1.0f;
            c[1] = c[2] = 0.0f;
        } else if (c[1] >= c[2]) {
            c[1] = 1.0f;
            c[0] = c[2] = 0.0f;
        } else {
            c[2] = 1.0f;
            c[0] = c[1] = 0.0f;
        }
    } else {
        const float m = 1.0f / l;
        c[0] *= m;
        c[1] *= m;
        c[2] *= m;
    }
}

// Two unit directions count as one when their dot product is within 1e-5 of 1.
bool sameDirection(const float *a, const float *b)
{
    return std::fabs(double(dot(a, b)) - 1.0) < 1e-5;
}

// The distinct directions met around one point, each with a number. Few directions are
// compared one by one; many (a cone or fan) are found through a grid of cells 0.01 wide:
// directions that count as one are less than 0.005 apart, so they lie in the same or a
// neighbouring cell.
class DirectionSet
{
public:
    static constexpr uint32_t None = UINT32_MAX;

    // Costs what was added since the last clear: a grid grown at a point of many directions
    // is let go rather than cleared, since clearing a hash table walks all its buckets.
    void clear()
    {
        directions.clear();
        if (!grid.empty())
            grid = {};
    }

    // The number of a direction added before that counts as the same as n, or None.
    uint32_t find(const float *n) const
    {
        if (directions.size() <= LinearLimit) {
            for (const Entry &e : directions)
                if (sameDirection(e.direction, n))
                    return e.number;
            return None;
        }
        const Cell c = cellOf(n);
        for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 1; ++dy)
                for (int dz = -1; dz <= 1; ++dz) {
                    const auto found = grid.find(key({c.x + dx, c.y + dy, c.z + dz}));
                    if (found == grid.end())
                        continue;
                    for (const Entry &e : found->second)
                        if (sameDirection(e.direction, n))
                            return e.number;
                }
        return None;
    }

    void add(const float *n, uint32_t number)
    {
        directions.push_back({n, number});
        if (directions.size() == LinearLimit + 1)
            for (const Entry &e : directions)
                grid[key(cellOf(e.direction))].push_back(e);
        else if (directions.size() > LinearLimit + 1)
            grid[key(cellOf(n))].push_back(directions.back());
    }

private:
    static constexpr size_t LinearLimit = 16;
    struct Entry
    {
        const float *direction;
        uint32_t number;
    };
    struct Cell
    {
        int x, y, z;
    };
    static int coordinate(float v) { return int(std::floor(double(v) * 100.0)); }
    static Cell cellOf(const float *n)
    {
        return {coordinate(n[0]), coordinate(n[1]), coordinate(n[2])};
    }
    static uint64_t key(const Cell &c)
    {
        auto part = [](int v) { return uint64_t(uint32_t(v + (1 << 20)) & 0x1FFFFF); };
        return part(c.x) | (part(c.y) << 21) | (part(c.z) << 42);
    }

    std::vector<Entry> directions;
    std::unordered_map<uint64_t, std::vector<Entry>> grid;
};

// The smoothed normal at one point for one set of smoothing groups.
struct Smoothed
{
    uint32_t smoothing;
    float n[3];
};

uint32_t lowestGroup(uint32_t smoothing)
{
    return smoothing & (~smoothing + 1);
}
} // namespace

void calculateFaceNormals(const float *points, const FaceRecord *faces, size_t faceCount,
                          float *faceNormals)
{
    for (size_t i = 0; i < faceCount; ++i) {
        const float *a = points + 3 * size_t(faces[i].points[0]);
        const float *b = points + 3 * size_t(faces[i].points[1]);
        const float *c = points + 3 * size_t(faces[i].points[2]);
        const float p[3] = {c[0] - b[0], c[1] - b[1], c[2] - b[2]};
        const float q[3] = {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
        float *n = faceNormals + 3 * i;
        n[0] = p[1] * q[2] - p[2] * q[1];
        n[1] = p[2] * q[0] - p[0] * q[2];
        n[2] = p[0] * q[1] - p[1] * q[0];
        normalize(n);
    }
}

void calculateVertexNormals(const FaceRecord *faces, size_t faceCount, size_t pointCount,
                            const float *faceNormals, float *normals)
{
    if (faceCount == 0)
        return;
    // The faces around each point, the latest first.
    std::vector<uint32_t> start(pointCount + 1, 0);
    for (size_t i = 0; i < faceCount; ++i)
        for (int j = 0; j < 3; ++j)
            ++start[faces[i].points[j] + 1];
    for (size_t p = 0; p < pointCount; ++p)
        start[p + 1] += start[p];
    std::vector<uint32_t> around(faceCount * 3);
    std::vector<uint32_t> fill(start.begin(), start.end() - 1);
    for (size_t i = faceCount; i-- > 0;)
        for (int j = 0; j < 3; ++j)
            around[fill[faces[i].points[j]]++] = uint32_t(i);

    // At each point, one smoothed normal for every set of smoothing groups its corners use.
    // The faces around a point are first sorted into directions, each numbered after the
    // first face that has it; a set then sums the first of its faces in each direction, the
    // way comparing each face with the normals summed before it does, in a few steps per
    // face whatever the number of faces and sets.
    std::vector<uint32_t> tableStart(pointCount + 1, 0);
    std::vector<Smoothed> table;
    DirectionSet directions;
    std::vector<uint32_t> directionOf;
    std::vector<uint32_t> takenBy; // per direction: the number of the last set that took it
    uint32_t setNumber = 0;
    for (size_t p = 0; p < pointCount; ++p) {
        const size_t first = table.size();
        tableStart[p] = uint32_t(first);
        auto has = [&](uint32_t smoothing) {
            for (size_t e = first; e < table.size(); ++e)
                if (table[e].smoothing == smoothing)
                    return true;
            return false;
        };
        size_t sets = 0;
        for (uint32_t at = start[p]; at < start[p + 1]; ++at) {
            uint32_t smoothing = faces[around[at]].smoothing;
            if (smoothing == 0 || has(smoothing))
                continue;
            if (sets == MaxSmoothingSets) {
                smoothing = lowestGroup(smoothing);
                if (has(smoothing))
                    continue;
            } else {
                ++sets;
            }
            table.push_back({smoothing, {0.0f, 0.0f, 0.0f}});
        }
        if (first == table.size())
            continue;

        directions.clear();
        directionOf.clear();
        uint32_t count = 0;
        for (uint32_t at = start[p]; at < start[p + 1]; ++at) {
            const float *n = faceNormals + 3 * size_t(around[at]);
            uint32_t number = directions.find(n);
            if (number == DirectionSet::None) {
                number = count++;
                directions.add(n, number);
            }
            directionOf.push_back(number);
        }
        if (takenBy.size() < count)
            takenBy.resize(count, 0);
        for (size_t e = first; e < table.size(); ++e) {
            Smoothed &s = table[e];
            ++setNumber;
            for (uint32_t at = start[p], k = 0; at < start[p + 1]; ++at, ++k) {
                const uint32_t other = around[at];
                uint32_t &taken = takenBy[directionOf[k]];
                if (!(s.smoothing & faces[other].smoothing) || taken == setNumber)
                    continue;
                taken = setNumber;
                const float *n = faceNormals + 3 * size_t(other);
                s.n[0] += n[0];
                s.n[1] += n[1];
                s.n[2] += n[2];
            }
            normalize(s.n);
        }
    }
    tableStart[pointCount] = uint32_t(table.size());

    for (size_t i = 0; i < faceCount; ++i) {
        const FaceRecord &f = faces[i];
        for (int j = 0; j < 3; ++j) {
            float *out = normals + 9 * i + 3 * j;
            if (!f.smoothing) {
                float n[3] = {faceNormals[3 * i], faceNormals[3 * i + 1], faceNormals[3 * i + 2]};
                normalize(n);
                out[0] = n[0];
                out[1] = n[1];
                out[2] = n[2];
                continue;
            }
            const uint32_t p = f.points[j];
            const Smoothed *found = nullptr;
            for (int attempt = 0; attempt < 2 && !found; ++attempt) {
                const uint32_t wanted = attempt == 0 ? f.smoothing : lowestGroup(f.smoothing);
                for (uint32_t e = tableStart[p]; e < tableStart[p + 1]; ++e)
                    if (table[e].smoothing == wanted) {
                        found = &table[e];
                        break;
                    }
            }
            out[0] = found->n[0];
            out[1] = found->n[1];
            out[2] = found->n[2];
        }
    }
}
