#include "SmoothNormals.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace smoothnormals {
namespace {

constexpr uint32_t Empty = UINT32_MAX;
// How often the work looks whether it was cancelled.
constexpr size_t CancelStride = size_t(1) << 16;

using Key = std::array<float, 3>;

// A corner's coordinates as the file gave them (faces hold them as doubles made from
// floats); -0 and 0 are one position.
Key keyOf(const Vector3 &v)
{
    return {float(v.x) + 0.0f, float(v.y) + 0.0f, float(v.z) + 0.0f};
}

uint64_t hashOf(const Key &k)
{
    uint64_t h = 0xCBF29CE484222325ull;
    for (float f : k) {
        uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        h = (h ^ bits) * 0x100000001B3ull;
        h ^= h >> 29;
    }
    return h;
}

// Every position corners have, numbered as first met, in an open-addressed table kept at
// most half full.
class PositionTable
{
public:
    explicit PositionTable(size_t expected)
    {
        size_t size = 16;
        while (size < expected * 2)
            size *= 2;
        slots.assign(size, Empty);
    }

    uint32_t number(const Key &k)
    {
        if ((keys.size() + 1) * 2 > slots.size())
            grow();
        const size_t mask = slots.size() - 1;
        for (size_t at = size_t(hashOf(k)) & mask;; at = (at + 1) & mask) {
            const uint32_t s = slots[at];
            if (s == Empty) {
                slots[at] = uint32_t(keys.size());
                keys.push_back(k);
                return slots[at];
            }
            if (keys[s] == k)
                return s;
        }
    }
    size_t size() const { return keys.size(); }

private:
    void grow()
    {
        slots.assign(slots.size() * 2, Empty);
        const size_t mask = slots.size() - 1;
        for (uint32_t n = 0; n < keys.size(); ++n) {
            size_t at = size_t(hashOf(keys[n])) & mask;
            while (slots[at] != Empty)
                at = (at + 1) & mask;
            slots[at] = n;
        }
    }

    std::vector<uint32_t> slots;
    std::vector<Key> keys;
};

// The angle face `f` has at its corner `k`; 0 where an edge has no length.
double cornerAngle(const MeshFace &f, int k)
{
    const Vector3 &p = f.corners[k], &a = f.corners[(k + 1) % 3], &b = f.corners[(k + 2) % 3];
    const Vector3 u = a - p, v = b - p;
    const double lengths = std::sqrt(u.lengthSquared() * v.lengthSquared());
    if (!(lengths > 0.0))
        return 0.0;
    return std::acos(std::clamp(Vector3::dot(u, v) / lengths, -1.0, 1.0));
}

// One corner at the position being smoothed.
struct Corner
{
    Vector3 normal; // its face's unit normal; zero for a degenerate face
    double weight;  // its face's angle there
    uint32_t index; // face * 3 + corner
    bool degenerate() const { return normal.lengthSquared() == 0.0; }
};

void store(float *normals, const Corner &c, Vector3 sum)
{
    if (sum.lengthSquared() < 1e-24)
        sum = c.degenerate() ? Vector3(0, 0, 1) : c.normal;
    sum.normalize();
    float *out = normals + size_t(c.index) * 3;
    out[0] = float(sum.x);
    out[1] = float(sum.y);
    out[2] = float(sum.z);
}

// Few corners: each sums those whose face is within the angle of its own.
void smoothEach(const std::vector<Corner> &at, double limit, float *normals)
{
    for (const Corner &c : at) {
        Vector3 sum;
        for (const Corner &o : at)
            if (c.degenerate() || Vector3::dot(c.normal, o.normal) >= limit)
                sum = sum + o.weight * o.normal;
        store(normals, c, sum);
    }
}

// Many corners (the tip of a cone, a fan): each joins the first of at most MaxGroups
// directions within the angle, or the nearest, and takes its group's sum.
void smoothByGroups(const std::vector<Corner> &at, double limit, float *normals,
                    std::vector<uint8_t> &groupOf)
{
    const Vector3 *seeds[MaxGroups];
    Vector3 sums[MaxGroups];
    Vector3 all;
    size_t groups = 0;
    groupOf.resize(at.size());
    for (size_t i = 0; i < at.size(); ++i) {
        const Corner &c = at[i];
        size_t best = 0;
        double bestDot = -2.0;
        for (size_t g = 0; g < groups && bestDot < limit; ++g) {
            const double d = Vector3::dot(c.normal, *seeds[g]);
            if (d > bestDot) {
                bestDot = d;
                best = g;
            }
        }
        if (groups == 0 || (bestDot < limit && groups < MaxGroups && !c.degenerate())) {
            seeds[groups] = &c.normal;
            best = groups++;
        }
        groupOf[i] = uint8_t(best);
        sums[best] = sums[best] + c.weight * c.normal;
        all = all + c.weight * c.normal;
    }
    for (size_t i = 0; i < at.size(); ++i)
        store(normals, at[i], at[i].degenerate() ? all : sums[groupOf[i]]);
}

bool cancelled(const std::atomic_bool *cancel)
{
    return cancel && cancel->load(std::memory_order_relaxed);
}

} // namespace

bool compute(const MeshFace *faces, size_t count, double degrees, float *normals,
             const std::atomic_bool *cancel)
{
    const size_t corners = count * 3;
    // Each corner's position, then the corners at each position as lists in one array.
    std::vector<uint32_t> positionOf(corners);
    size_t positions = 0;
    {
        PositionTable table(count / 2 + 1);
        for (size_t c = 0; c < corners; ++c) {
            if (c % CancelStride == 0 && cancelled(cancel))
                return false;
            positionOf[c] = table.number(keyOf(faces[c / 3].corners[c % 3]));
        }
        positions = table.size();
    }
    std::vector<uint32_t> start(positions + 1, 0);
    for (uint32_t p : positionOf)
        ++start[p + 1];
    for (size_t p = 0; p < positions; ++p)
        start[p + 1] += start[p];
    std::vector<uint32_t> around(corners);
    {
        std::vector<uint32_t> fill(start.begin(), start.end() - 1);
        for (size_t c = 0; c < corners; ++c)
            around[fill[positionOf[c]]++] = uint32_t(c);
    }
    positionOf = {};

    const double limit = std::cos(std::clamp(degrees, 0.0, 180.0) * M_PI / 180.0);
    std::vector<Corner> at;
    std::vector<uint8_t> groupOf;
    for (size_t p = 0; p < positions; ++p) {
        if (p % CancelStride == 0 && cancelled(cancel))
            return false;
        at.clear();
        for (uint32_t i = start[p]; i < start[p + 1]; ++i) {
            const uint32_t c = around[i];
            const MeshFace &f = faces[c / 3];
            at.push_back({f.normal, cornerAngle(f, int(c % 3)), c});
        }
        if (at.size() <= MaxCompared)
            smoothEach(at, limit, normals);
        else
            smoothByGroups(at, limit, normals, groupOf);
    }
    return true;
}

} // namespace smoothnormals
