// The density brush: the surface under a circle of the screen filled with the current
// graftal up to a number of graftals per square unit of the model's surface, or thinned
// down to it.
//
// An event reads the face-id picture under the circle. Each covered pixel weighs the model
// surface it shows, so that a face seen at a slant or far away weighs what it really has.
// A stroke weighs each pixel once, at the first event that covers it: what it wants and
// what stands there add up per square cell of the screen over the stroke, so that a drag
// fills what it newly crosses, puts the new graftals there alone, and leaves alone what it
// filled already. Each cell rounds what it wants at a threshold of its own, the same for
// every stroke, so that cells wanting a fraction of a graftal get their share on the
// whole, and going over a cell again rounds as before instead of adding one more.
#include "Graftal.h"
#include "Random.h"
#include "Scene.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace {
constexpr int Cell = 16; // pixels a side

// The view's rays in model coordinates, from the eye through window points (device pixels,
// origin top left): the surface a pixel covers on a face's plane, and the point of a face
// under a window point.
class PixelRays
{
public:
    // A face's plane as the rays meet it.
    struct Plane
    {
        double across0 = 0, acrossX = 0, acrossY = 0; // normal · ray, affine in x and y
        double scale = 0;                             // height² × the pixel's spread
    };

    PixelRays(const Camera &camera, int width, int height)
    {
        const Matrix4 toEye = camera.modelView();
        const Matrix4 fromWindow = toEye.preMultiplied(camera.projection(width, height)).inverse();
        eye = toEye.inverse().transformPoint(Vector3(0.0, 0.0, 0.0));
        // Points of the near plane are affine in the window coordinates, and so the rays.
        const auto nearPoint = [&](double x, double y) {
            return fromWindow.transformPoint(
                Vector3(2.0 * x / width - 1.0, 1.0 - 2.0 * y / height, -1.0));
        };
        const Vector3 origin = nearPoint(0.0, 0.0);
        base = origin - eye;
        alongX = nearPoint(1.0, 0.0) - origin;
        alongY = nearPoint(0.0, 1.0) - origin;
        spread = std::abs(Vector3::dot(base, Vector3::cross(alongX, alongY)));
    }

    Plane planeOf(const MeshFace &face) const
    {
        const double height = Vector3::dot(face.normal, face.corners[0] - eye);
        return {Vector3::dot(face.normal, base), Vector3::dot(face.normal, alongX),
                Vector3::dot(face.normal, alongY), height * height * spread};
    }

    // The surface that the pixel square around window point (x, y) covers on the plane:
    // height² |ray · (alongX × alongY)| / |normal · ray|³ of the central projection.
    static double area(const Plane &plane, double x, double y)
    {
        const double across = plane.across0 + x * plane.acrossX + y * plane.acrossY;
        const double a = plane.scale / std::abs(across * across * across);
        return std::isfinite(a) ? a : 0.0;
    }

    // The barycentric point of the face under window point (x, y); false off the face.
    bool onFace(const MeshFace &face, double x, double y, QPointF &uv) const
    {
        const Vector3 ray = base + x * alongX + y * alongY;
        const double across = Vector3::dot(face.normal, ray);
        if (!(std::abs(across) > 0.0))
            return false;
        const double t = Vector3::dot(face.normal, face.corners[0] - eye) / across;
        double u, v;
        if (!face.barycentricOf(eye + t * ray, u, v) || !(u >= 0.0 && v >= 0.0 && u + v <= 1.0))
            return false; // off the face
        uv = QPointF(u, v);
        return true;
    }

private:
    Vector3 eye, base, alongX, alongY;
    double spread = 0;
};

struct CoveredPixel
{
    int x, y;
    const MeshFace *face;
    float area;
};

struct CellTally
{
    double area = 0;
    float largest = 0;
    std::vector<CoveredPixel> pixels;
    std::vector<GraftalInstance *> standing;
};

// The rounding threshold of the screen cell (column, row), in [0, 1): a fixed scramble.
double thresholdOf(int column, int row)
{
    quint64 z = (quint64(quint32(column)) << 32 | quint32(row)) + 0x9e3779b97f4a7c15ull;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return double((z ^ (z >> 31)) >> 11) / double(1ull << 53);
}

// A fraction in (0, 1) from the program's random numbers.
double randomFraction()
{
    return (Random::next() + 0.5) / (Random::Max + 1.0);
}
} // namespace

void Scene::fileForDensity(int mesh)
{
    if (!densityFiling.meshes.insert(mesh).second)
        return;
    const auto found = instancesByKeyMap.find(InstanceKey(mesh, int(graftal->id())));
    if (found == instancesByKeyMap.end())
        return;
    for (const auto &instance : found->second)
        if (instance->graftal() == graftal)
            densityFiling.byFace[instance->face()].push_back(instance.get());
}

void Scene::takeOffForDensity(const std::vector<GraftalInstance *> &going)
{
    if (!flatListStale) {
        allInstanceList.clear();
        flatListStale = true;
    }
    const std::unordered_set<GraftalInstance *> leaving(going.begin(), going.end());
    std::set<InstanceKey> keys;
    for (GraftalInstance *instance : going) {
        keys.insert(InstanceKey(instance->face()->meshIndex, int(instance->graftal()->id())));
        std::vector<GraftalInstance *> &onFace = densityFiling.byFace[instance->face()];
        const auto at = std::find(onFace.begin(), onFace.end(), instance);
        *at = onFace.back();
        onFace.pop_back();
    }
    // Off their lists, which keep the order of the others; alive until the stroke ends.
    for (const InstanceKey &key : keys) {
        InstanceList &list = instancesByKeyMap[key];
        history.touch(key, list);
        size_t out = 0;
        for (size_t place = 0; place < list.size(); ++place) {
            if (leaving.count(list[place].get()))
                erased.push_back(std::move(list[place]));
            else
                list[out++] = std::move(list[place]);
        }
        list.resize(out);
    }
    ++instancesRevision;
}

int Scene::paintDensityAt(int x, int y, int radius, double density, bool thin)
{
    if (!graftal || pick.rgb.empty() || !std::isfinite(density) || density < 0.0)
        return 0;
    radius = std::clamp(radius, 1, MaxBrushRadius);
    if (densityFiling.graftal != graftal || densityFiling.revision != instancesRevision) {
        densityFiling.reset();
        densityFiling.graftal = graftal;
    }
    DensityStroke &stroke = densityStroke;
    if (stroke.covered.empty() || stroke.width != pick.width || stroke.height != pick.height ||
        !(stroke.camera == cam.modelView())) {
        stroke.reset();
        stroke.camera = cam.modelView();
        stroke.width = pick.width;
        stroke.height = pick.height;
        stroke.covered.assign(size_t(pick.width) * size_t(pick.height), 0);
    }
    const auto covered = [&](int px, int py) -> quint8 & {
        return stroke.covered[size_t(py) * size_t(pick.width) + size_t(px)];
    };
    const int x0 = std::max(0, x - radius), x1 = std::min(pick.width - 1, x + radius);
    const int y0 = std::max(0, y - radius), y1 = std::min(pick.height - 1, y + radius);
    if (x0 > x1 || y0 > y1)
        return 0;
    // Cells of a grid fixed to the window, so that every event sees the same cells.
    const int column0 = x0 / Cell, row0 = y0 / Cell;
    const int columns = x1 / Cell - column0 + 1, rows = y1 / Cell - row0 + 1;
    std::vector<CellTally> cells(size_t(columns) * size_t(rows));
    const auto cellAt = [&](int px, int py) -> CellTally & {
        return cells[size_t(py / Cell - row0) * size_t(columns) + size_t(px / Cell - column0)];
    };
    const auto inCircle = [&](int px, int py) {
        const qint64 dx = px - x, dy = py - y;
        return dx * dx + dy * dy <= qint64(radius) * radius;
    };

    // The pixels of the circle that show the model and that the stroke has not covered
    // yet, and the surface each covers.
    const PixelRays rays(cam, pick.width, pick.height);
    std::unordered_set<const MeshFace *> faces;
    const MeshFace *last = nullptr;
    PixelRays::Plane plane;
    for (int py = y0; py <= y1; ++py) {
        const qint64 dy = py - y;
        const int span = int(std::sqrt(double(qint64(radius) * radius - dy * dy)));
        for (int px = std::max(x0, x - span); px <= std::min(x1, x + span); ++px) {
            if (covered(px, py))
                continue;
            const MeshFace *face = pickFace(px, py);
            if (!face)
                continue;
            if (face != last) {
                last = face;
                plane = rays.planeOf(*face);
                faces.insert(face);
            }
            const float area = float(PixelRays::area(plane, px + 0.5, py + 0.5));
            if (!(area > 0.0f))
                continue; // a degenerate face, or one seen edge on
            CellTally &cell = cellAt(px, py);
            cell.pixels.push_back({px, py, face, area});
            cell.area += area;
            cell.largest = std::max(cell.largest, area);
        }
    }

    // What of the current graftal already stands there, by the cell its anchor shows in.
    const Matrix4 toClip = cam.modelView().preMultiplied(cam.projection(pick.width, pick.height));
    for (const MeshFace *face : faces) {
        fileForDensity(face->meshIndex);
        const auto filed = densityFiling.byFace.find(face);
        if (filed == densityFiling.byFace.end())
            continue;
        for (GraftalInstance *instance : filed->second) {
            double wx, wy;
            if (!windowPoint(toClip.data(), instance->position, pick.width, pick.height, wx, wy))
                continue;
            const int px = int(std::floor(wx)), py = int(std::floor(wy));
            if (px < x0 || px > x1 || py < y0 || py > y1 || !inCircle(px, py) || covered(px, py) ||
                pickFace(px, py) != face)
                continue; // outside the new part of the circle, or hidden there
            cellAt(px, py).standing.push_back(instance);
        }
    }

    const auto placeIn = [&](const CellTally &cell) {
        // A pixel by the surface it covers, then a point within it on its face.
        size_t chosen = 0;
        for (int attempt = 0; attempt < 32; ++attempt) {
            chosen = size_t(Random::next()) * cell.pixels.size() / (Random::Max + 1);
            if (randomFraction() * cell.largest <= cell.pixels[chosen].area)
                break;
        }
        const CoveredPixel &pixel = cell.pixels[chosen];
        QPointF uv;
        bool found = false;
        for (int attempt = 0; attempt < 4 && !found; ++attempt)
            found = rays.onFace(*pixel.face, pixel.x + randomFraction(), pixel.y + randomFraction(),
                                uv);
        if (!found && !rays.onFace(*pixel.face, pixel.x + 0.5, pixel.y + 0.5, uv))
            uv = QPointF(1.0 / 3.0, 1.0 / 3.0);
        GraftalInstance *instance = addInstance(pixel.face, uv, graftal);
        listInstance(instance);
        densityFiling.byFace[pixel.face].push_back(instance);
    };
    const auto takeFrom = [&](std::vector<GraftalInstance *> &standing, size_t n,
                              std::vector<GraftalInstance *> &going) {
        // The same choice every run: in the order they were made, then at random.
        std::sort(standing.begin(), standing.end(),
                  [](const GraftalInstance *a, const GraftalInstance *b) {
                      return a->serial() < b->serial();
                  });
        for (size_t i = 0; i < n; ++i) {
            const size_t j = i + size_t(Random::next()) * (standing.size() - i) / (Random::Max + 1);
            std::swap(standing[i], standing[j]);
            going.push_back(standing[i]);
        }
    };
    int budget = MaxDensityPlacements;
    std::vector<GraftalInstance *> going;
    for (int row = 0; row < rows && budget > 0; ++row)
        for (int column = 0; column < columns && budget > 0; ++column) {
            CellTally &cell = cells[size_t(row) * size_t(columns) + size_t(column)];
            if (cell.pixels.empty())
                continue;
            // What the stroke has covered of the cell so far wants, and what stands there.
            const int cellColumn = column0 + column, cellRow = row0 + row;
            DensityStroke::Account &account =
                stroke.cells[quint64(quint32(cellRow)) << 32 | quint32(cellColumn)];
            account.wanted += density * cell.area;
            account.standing += qint64(cell.standing.size());
            const double change = std::floor(account.wanted + thresholdOf(cellColumn, cellRow)) -
                                  double(account.standing);
            if (!thin && change > 0.0) {
                const int n = int(std::min(double(budget), change));
                for (int i = 0; i < n; ++i)
                    placeIn(cell);
                account.standing += n;
                budget -= n;
            } else if (thin && change < 0.0) {
                const size_t n = size_t(std::min(double(cell.standing.size()), -change));
                takeFrom(cell.standing, n, going);
                account.standing -= qint64(n);
            }
            for (const CoveredPixel &pixel : cell.pixels)
                covered(pixel.x, pixel.y) = 1;
        }
    const int placed = MaxDensityPlacements - budget;
    if (!going.empty())
        takeOffForDensity(going);
    densityFiling.revision = instancesRevision;
    return placed - int(going.size());
}
