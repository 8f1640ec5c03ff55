#pragma once

#include "GraftalFade.h"
#include "GraftalVariation.h"
#include "InstanceVariation.h"
#include "Vector3.h"

#include <QPointF>
#include <array>
#include <QtGlobal>
#include <memory>
#include <vector>

class Graftal;
class MeshFace;

// One graftal standing on a face of the model at barycentric coordinates (u, v). It is
// drawn for the eye and view direction of the camera it is drawn with, and reads its
// graftal's base size and variation at every draw, so it follows the camera and every edit
// of the graftal.
class GraftalInstance
{
public:
    // What a draw would put on screen: the fade, the half size and the four corners
    // (lower left, lower right, upper right, upper left as seen from the eye). `hidden` is
    // how much of the graftal the fade takes away (0 none, 1 all); where every graftal is
    // shown, the quad is whole and `hidden` marks it.
    struct Quad
    {
        double alpha = 0.0;
        double size = 0.0;
        double hidden = 0.0;
        bool visible = false;
        Vector3 corners[4];
    };

    GraftalInstance(const MeshFace *face, const QPointF &barycentric, Graftal *graftal);
    ~GraftalInstance();
    GraftalInstance(const GraftalInstance &) = delete;
    GraftalInstance &operator=(const GraftalInstance &) = delete;

    // How many instances exist right now (the scene owns them all).
    static int liveCount() { return live; }
    // Instances are numbered in the order they were made: an instance made after another
    // has the larger number. A stroke tells its own new instances by it.
    quint64 serial() const { return madeAs; }
    static quint64 nextSerial() { return made; }

    Vector3 position;
    Vector3 normal;
    QPointF barycentric;

    Graftal *graftal() const { return drawnGraftal; }
    const MeshFace *face() const { return standsOn; }

    // Vertices of quads waiting to be drawn together: positions, colours (with the fade in
    // alpha) and texture coordinates, four vertices per quad.
    // `marks` (red, green, blue a vertex, the quad's `hidden` in red) only where every
    // graftal is shown; `tints`, once a quad of a graftal with tint variation is among
    // them, for every vertex: the brightness factor and the cosine and sine of the hue's
    // turn (1, 1, 0 changes nothing).
    struct QuadBatch
    {
        std::vector<float> positions, colors, texCoords, marks, tints;
        bool empty() const { return positions.empty(); }
        int vertexCount() const { return int(positions.size() / 3); }
        void clear()
        {
            positions.clear();
            colors.clear();
            texCoords.clear();
            marks.clear();
            tints.clear();
        }
    };

    double distanceSquaredToEye(const Vector3 &eye) const;
    // How this instance differs from its graftal; null when the graftal has no variation.
    // Drawn once and kept until the graftal's variation changes.
    const InstanceVariation *variation() const;
    // The quad as seen along the view direction (model coordinates, unit length), its size
    // times `scale`, faded as `fade` says.
    Quad quad(const Vector3 &viewDir, double scale = 1.0, const GraftalFade &fade = {}) const;
    // Adds the textured quad to the batch; nothing when it would not show. `tint` goes
    // into its vertices' red, green and blue: the texture's colour at its root on a
    // textured face, white elsewhere (the lit programs light it as the model there).
    void draw(QuadBatch &batch, const Vector3 &viewDir, double scale = 1.0,
              const std::array<float, 3> &tint = {1.0f, 1.0f, 1.0f},
              const GraftalFade &fade = {}) const;

private:
    // The card's up direction when every graftal is shown whole (see quad).
    Vector3 shownUp(const Vector3 &viewDir) const;

    // The variation as last drawn and the amounts it was drawn from.
    struct Varied
    {
        GraftalVariation amounts;
        InstanceVariation drawn;
    };

    Graftal *drawnGraftal;
    const MeshFace *standsOn;
    quint64 madeAs;
    mutable std::unique_ptr<Varied> varied; // only while the graftal has variation
    static inline int live = 0;
    static inline quint64 made = 0;
};
