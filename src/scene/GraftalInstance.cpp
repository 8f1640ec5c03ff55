#include "GraftalInstance.h"

#include "Graftal.h"
#include "MeshFace.h"

#include <cmath>

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

const InstanceVariation *GraftalInstance::variation() const
{
    const GraftalVariation &amounts = drawnGraftal->variation();
    if (amounts.none()) {
        varied.reset();
        return nullptr;
    }
    if (!varied || varied->amounts != amounts)
        varied = std::make_unique<Varied>(
            Varied{amounts, InstanceVariation::drawn(amounts, InstanceVariation::seedOf(*standsOn,
                                                                                        barycentric),
                                                     *standsOn, normal)});
    return &varied->drawn;
}

Vector3 GraftalInstance::shownUp(const Vector3 &viewDir) const
{
    // A card standing along a normal that points at the eye is seen edge on. Shown whole,
    // it leans towards the face's first edge (taken across the view) the more its normal
    // points at the eye, so that a graftal seen face on still shows as a card; where the
    // normal lies well across the view it stands as drawn.
    const InstanceVariation *varies = variation();
    const Vector3 &standing = varies && varies->leans ? varies->up : normal;
    const auto across = [&](const Vector3 &v) { return v - Vector3::dot(v, viewDir) * viewDir; };
    const Vector3 along = across(standing);
    const double length = std::sqrt(along.lengthSquared());
    constexpr double Upright = 0.5;
    if (length >= Upright)
        return standing;
    Vector3 edge = across(standsOn->edge1).normalized();
    if (Vector3::dot(edge, along) < 0.0)
        edge = edge.negated();
    return (standing + (Upright - length) * edge).normalized();
}

GraftalInstance::Quad GraftalInstance::quad(const Vector3 &viewDir, double scale,
                                            const GraftalFade &fade) const
{
    Quad q;
    // The fade and the shrinking follow the surface; the card stands along `up`, its size
    // and half width varied when its graftal varies.
    const InstanceVariation *varies = variation();
    const Vector3 up = fade.showAll ? shownUp(viewDir)
                                    : (varies && varies->leans ? varies->up : normal);
    const Vector3 side = Vector3::cross(viewDir, up).normalized();
    // 1 when the face looks straight at the viewer, 0 at a silhouette; the rules below are
    // those of the default fade range.
    const double d = fade.range.onDefaultRange(Vector3::dot(viewDir.negated(), normal));

    if (d < 0.5)
        q.alpha = 1.0;
    else if (d < 0.7)
        q.alpha = (0.7 - d) / (0.7 - 0.5);
    else
        q.alpha = 0.0;

    const double whole = drawnGraftal->baseSize() * scale * (varies ? varies->size : 1.0);
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

    const double halfWidth = varies ? s * varies->width : s;
    const Vector3 a = position - halfWidth * side;
    const Vector3 b = position + halfWidth * side;
    q.corners[0] = a;
    q.corners[1] = b;
    q.corners[2] = b + 2.0 * s * up;
    q.corners[3] = a + 2.0 * s * up;
    return q;
}

void GraftalInstance::draw(QuadBatch &batch, const Vector3 &viewDir, double scale,
                           const std::array<float, 3> &tint, const GraftalFade &fade) const
{
    const Quad q = quad(viewDir, scale, fade);
    if (!q.visible)
        return;
    static const float texCoords[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    const InstanceVariation *varies = variation();
    if (varies && drawnGraftal->variation().tinted() && batch.tints.empty()) {
        // From the first tinted quad on the batch carries tints; those before it keep
        // their colours.
        batch.tints.reserve(batch.positions.capacity());
        for (int i = 0; i < batch.vertexCount(); ++i)
            batch.tints.insert(batch.tints.end(), {1.0f, 1.0f, 0.0f});
    }
    for (int i = 0; i < 4; ++i) {
        batch.positions.insert(batch.positions.end(), {float(q.corners[i].x), float(q.corners[i].y),
                                                       float(q.corners[i].z)});
        batch.colors.insert(batch.colors.end(), {tint[0], tint[1], tint[2], float(q.alpha)});
        batch.texCoords.insert(batch.texCoords.end(), {texCoords[i][0], texCoords[i][1]});
        if (fade.showAll)
            batch.marks.insert(batch.marks.end(), {float(q.hidden), 0.0f, 0.0f});
        if (!batch.tints.empty()) {
            if (varies)
                batch.tints.insert(batch.tints.end(), {varies->value, varies->hueCos, varies->hueSin});
            else
                batch.tints.insert(batch.tints.end(), {1.0f, 1.0f, 0.0f});
        }
    }
}
