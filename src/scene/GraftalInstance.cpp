#include "GraftalInstance.h"

#include "Graftal.h"
#include "MeshFace.h"

GraftalInstance::GraftalInstance(const MeshFace *face, const QPointF &uv, Graftal *graftal)
    : barycentric(uv), drawnGraftal(graftal), standsOn(face), madeAs(made++)
{
    const Vertex at = face->pointAt(uv.x(), uv.y());
    position = at.position();
    normal = at.normal();
    ++live;
}

GraftalInstance::~GraftalInstance()
{
    --live;
}

double GraftalInstance::distanceSquaredToEye(const Vector3 &eye) const
{
    const Vector3 d = position - eye;
    return Vector3::dot(d, d);
}

GraftalInstance::Quad GraftalInstance::quad(const Vector3 &viewDir, double scale,
                                            const GraftalFade &fade) const
{
    Quad q;
    const Vector3 side = Vector3::cross(viewDir, normal).normalized();
    // 1 when the face looks straight at the viewer, 0 at a silhouette; the rules below are
    // those of the default fade range.
    const double d = fade.range.onDefaultRange(Vector3::dot(viewDir.negated(), normal));

    if (d < 0.5)
        q.alpha = 1.0;
    else if (d < 0.7)
        q.alpha = (0.7 - d) / (0.7 - 0.5);
    else
        q.alpha = 0.0;

    const double whole = drawnGraftal->baseSize() * scale;
    double s = whole;
    if (d >= 0.1)
        s = d < 0.6 ? s * 2.0 * (0.6 - d) : 0.0;
    q.size = s;
    q.visible = q.alpha >= 0.001 && s >= 0.001;
    if (fade.showAll) {
        q.hidden = q.visible && whole > 0.0 ? 1.0 - q.alpha * s / whole : 1.0;
        q.alpha = 1.0;
        q.size = s = whole;
        q.visible = s >= 0.001;
    }

    const Vector3 a = position - s * side;
    const Vector3 b = position + s * side;
    q.corners[0] = a;
    q.corners[1] = b;
    q.corners[2] = b + 2.0 * s * normal;
    q.corners[3] = a + 2.0 * s * normal;
    return q;
}

void GraftalInstance::draw(QuadBatch &batch, const Vector3 &viewDir, double scale,
                           const std::array<float, 3> &tint, const GraftalFade &fade) const
{
    const Quad q = quad(viewDir, scale, fade);
    if (!q.visible)
        return;
    static const float texCoords[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (int i = 0; i < 4; ++i) {
        batch.positions.insert(batch.positions.end(), {float(q.corners[i].x), float(q.corners[i].y),
                                                       float(q.corners[i].z)});
        batch.colors.insert(batch.colors.end(), {tint[0], tint[1], tint[2], float(q.alpha)});
        batch.texCoords.insert(batch.texCoords.end(), {texCoords[i][0], texCoords[i][1]});
        if (fade.showAll)
            batch.marks.insert(batch.marks.end(), {float(q.hidden), 0.0f, 0.0f});
    }
}
