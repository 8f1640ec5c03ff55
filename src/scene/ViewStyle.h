#pragma once

#include "GraftalFade.h"

// How the scene's model and graftals are drawn, beyond what the scene file records: kept
// with the scene's view, chosen in the view toolbar or on the render command's line.
enum class Shading
{
    Flat,   // the material colours as they are
    Shaded, // lit by a light that follows the camera
    Toon    // the same light in three flat bands
};

// Which of the model file's own axes stands up; Default: the one its format declares.
enum class UpAxis
{
    Default,
    PlusX,
    PlusY,
    PlusZ,
    MinusX,
    MinusY,
    MinusZ
};

struct ViewStyle
{
    Shading shading = Shading::Flat;
    // Dark lines along the silhouette and creases, in every shading.
    bool outlines = false;
    // Multiplies the drawn size of every graftal; the graftals' base sizes stay.
    double graftalScale = 1.0;
    UpAxis up = UpAxis::Default;
    // Back faces drawn too: open sheets show from either side.
    bool twoSided = false;
    // The lines' width in pixels (1 to 8) and colour (0xRRGGBB).
    int outlineWidth = 2;
    unsigned int outlineColor = 0x14141a;
    // Whether the shaded modes' light turns with the camera or stays with the model (from
    // the model's upper left front), and how many flat bands "Toon" has (2 to 6).
    bool lightOnModel = false;
    int bands = 3;
    // Edges drawn smooth by several samples a pixel.
    bool antialiasing = true;
    // Where graftals fade away as their faces turn towards the eye ("Fade from", "Fade to").
    FadeRange fade;
    // Normals smoothed across every edge between faces less than this many degrees apart
    // (0 < angle <= 180), replacing those of the file for every face; 0: the file's own.
    double smoothAngle = 0.0;

    friend bool operator==(const ViewStyle &, const ViewStyle &) = default;
};
