// The brush: spraying many graftals over a circle of the screen, and the eraser.
#include "Graftal.h"
#include "Random.h"
#include "Scene.h"

#include <cmath>

namespace {
// The surface point of a face under a window pixel, as barycentric coordinates.
class Unprojection
{
public:
    Unprojection(const Matrix4 &toWindow, int windowWidth, int windowHeight)
        : fromWindow(toWindow.inverse()), width(windowWidth), height(windowHeight)
    {
    }

    QPointF onFace(double x, double y, const MeshFace &face) const
    {
        const double nx = 2.0 * x / width - 1.0;
        const double ny = 1.0 - 2.0 * y / height;
        const Vector3 nearPoint = fromWindow.transformPoint(Vector3(nx, ny, -1.0));
        const Vector3 farPoint = fromWindow.transformPoint(Vector3(nx, ny, 1.0));
        const Vector3 ray = farPoint - nearPoint;
        const double across = Vector3::dot(face.normal, ray);
        const QPointF middle(1.0 / 3.0, 1.0 / 3.0);
        if (std::abs(across) < 1e-300)
            return middle; // seen edge on, or a degenerate face
        const double t = Vector3::dot(face.normal, face.corners[0] - nearPoint) / across;
        double u, v;
        if (!face.barycentricOf(nearPoint + t * ray, u, v))
            return middle;
        // The pixel's centre may lie a hair outside the face the picture shows there.
        u = std::max(0.0, u);
        v = std::max(0.0, v);
        if (u + v > 1.0) {
            const double s = u + v;
            u /= s;
            v /= s;
        }
        return {u, v};
    }

private:
    Matrix4 fromWindow;
    int width, height;
};
} // namespace

bool Scene::projectToWindow(const Vector3 &point, QPointF &window) const
{
    const int w = pick.rgb.empty() ? viewportWidth : pick.width;
    const int h = pick.rgb.empty() ? viewportHeight : pick.height;
    const Matrix4 toEye = cam.modelView();
    if (toEye.transformPoint(point).z >= 0.0)
        return false;
    const Vector3 ndc = toEye.preMultiplied(cam.projection(w, h)).transformPoint(point);
    window = QPointF((ndc.x + 1.0) * 0.5 * w, (1.0 - ndc.y) * 0.5 * h);
    return true;
}

void Scene::listInstance(GraftalInstance *instance)
{
    // During a density or erase stroke the flat list is rebuilt when the stroke ends.
    if (!densityStroking && !flatListStale)
        allInstanceList.push_back(instance);
}

void Scene::sprayAt(int x, int y, int radius, int rate)
{
    if (radius <= 1 && rate <= 1) {
        paintAt(x, y);
        return;
    }
    if (!graftal || pick.rgb.empty())
        return;
    radius = std::clamp(radius, 1, MaxBrushRadius);
    rate = std::clamp(rate, 1, MaxSprayRate);
    const Unprojection under(cam.modelView().preMultiplied(cam.projection(pick.width, pick.height)),
                             pick.width, pick.height);
    const int side = 2 * radius + 1;
    for (int n = 0; n < rate; ++n) {
        // A uniformly random pixel of the circle: drawn from the square around it until
        // one falls inside.
        int dx, dy;
        do {
            dx = Random::next() * side / (Random::Max + 1) - radius;
            dy = Random::next() * side / (Random::Max + 1) - radius;
        } while (dx * dx + dy * dy > radius * radius);
        const MeshFace *face = pickFace(x + dx, y + dy);
        if (!face)
            continue; // off the model
        listInstance(addInstance(face, under.onFace(x + dx + 0.5, y + dy + 0.5, *face), graftal));
    }
}

bool Scene::eraserReady() const
{
    const BrushIndex &index = eraseIndex;
    return index.built && index.graftal == graftal && index.revision == instancesRevision &&
           index.width == pick.width && index.height == pick.height &&
           index.camera == cam.modelView();
}

void Scene::prepareEraser()
{
    if (!graftal || pick.rgb.empty() || eraserReady())
        return;
    // Every instance of the current graftal, by the screen cell it shows in.
    BrushIndex &index = eraseIndex;
    index.reset();
    index.built = true;
    index.graftal = graftal;
    index.revision = instancesRevision;
    index.camera = cam.modelView();
    index.width = pick.width;
    index.height = pick.height;
    index.columns = (pick.width + BrushIndex::Cell - 1) / BrushIndex::Cell;
    index.rows = (pick.height + BrushIndex::Cell - 1) / BrushIndex::Cell;
    const Matrix4 toClip = index.camera.preMultiplied(cam.projection(pick.width, pick.height));
    const double *m = toClip.data();
    std::vector<quint32> cellOf;
    for (auto &[key, list] : instancesByKeyMap) {
        if (key.second != int(graftal->id()))
            continue;
        const quint32 slot = quint32(index.keys.size());
        index.keys.push_back(key);
        index.state.emplace_back(list.size(), BrushIndex::Kept);
        for (size_t place = 0; place < list.size(); ++place) {
            const GraftalInstance *instance = list[place].get();
            if (instance->graftal() != graftal)
                continue;
            double wx, wy;
            if (!windowPoint(m, instance->position, pick.width, pick.height, wx, wy))
                continue; // behind the eye
            if (!(wx >= 0.0 && wy >= 0.0 && wx < pick.width && wy < pick.height))
                continue; // off screen: never under the brush
            index.anchors.push_back({float(wx), float(wy), instance->face(), slot, quint32(place)});
            cellOf.push_back(
                quint32(int(wy) / BrushIndex::Cell * index.columns + int(wx) / BrushIndex::Cell));
        }
    }
    // Counting sort by cell.
    const size_t cells = size_t(index.columns) * size_t(index.rows);
    index.cellStart.assign(cells + 1, 0);
    for (quint32 c : cellOf)
        ++index.cellStart[c + 1];
    for (size_t c = 0; c < cells; ++c)
        index.cellStart[c + 1] += index.cellStart[c];
    std::vector<BrushIndex::Anchor> sorted(index.anchors.size());
    std::vector<quint32> fill(index.cellStart.begin(), index.cellStart.end() - 1);
    for (size_t i = 0; i < index.anchors.size(); ++i)
        sorted[fill[cellOf[i]]++] = index.anchors[i];
    index.anchors = std::move(sorted);
}

int Scene::eraseAt(int x, int y, int radius)
{
    if (!graftal || pick.rgb.empty())
        return 0;
    radius = std::clamp(radius, 1, MaxBrushRadius);
    prepareEraser();
    BrushIndex &index = eraseIndex;

    // The anchors under the brush whose face is the one the picture shows there.
    const double cx = x + 0.5, cy = y + 0.5, r2 = double(radius) * radius;
    const int c0 = std::max(0, (x - radius) / BrushIndex::Cell);
    const int c1 = std::min(index.columns - 1, (x + radius) / BrushIndex::Cell);
    const int r0 = std::max(0, (y - radius) / BrushIndex::Cell);
    const int r1 = std::min(index.rows - 1, (y + radius) / BrushIndex::Cell);
    std::vector<quint32> touched;
    std::vector<bool> isTouched(index.state.size(), false);
    int found = 0;
    for (int row = r0; row <= r1; ++row)
        for (int col = c0; col <= c1; ++col) {
            const size_t cell = size_t(row) * size_t(index.columns) + size_t(col);
            for (quint32 a = index.cellStart[cell]; a < index.cellStart[cell + 1]; ++a) {
                const BrushIndex::Anchor &anchor = index.anchors[a];
                quint8 &state = index.state[anchor.list][anchor.place];
                if (state != BrushIndex::Kept)
                    continue;
                const double ddx = anchor.x - cx, ddy = anchor.y - cy;
                if (ddx * ddx + ddy * ddy > r2)
                    continue;
                if (pickFace(int(anchor.x), int(anchor.y)) != anchor.face)
                    continue; // hidden, or standing on a face that does not show there
                if (!isTouched[anchor.list]) {
                    isTouched[anchor.list] = true;
                    touched.push_back(anchor.list);
                }
                state = BrushIndex::Going;
                ++found;
            }
        }
    if (found == 0)
        return 0;

    // Take them off their lists, which keep the order of the others.
    if (!flatListStale) {
        allInstanceList.clear();
        flatListStale = true;
    }
    for (quint32 slot : touched) {
        InstanceList &list = instancesByKeyMap[index.keys[slot]];
        history.touch(index.keys[slot], list);
        std::vector<quint8> &states = index.state[slot];
        size_t current = 0, out = 0;
        for (size_t place = 0; place < states.size(); ++place) {
            if (states[place] == BrushIndex::Gone)
                continue; // already off the list
            if (states[place] == BrushIndex::Going) {
                erased.push_back(std::move(list[current]));
                states[place] = BrushIndex::Gone;
            } else {
                if (out != current)
                    list[out] = std::move(list[current]);
                ++out;
            }
            ++current;
        }
        list.resize(out);
    }
    // The index followed the change.
    index.revision = ++instancesRevision;
    return found;
}
