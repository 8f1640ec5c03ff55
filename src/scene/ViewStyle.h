#pragma once

// How the scene's model and graftals are drawn, beyond what the scene file records: kept
// with the scene's view, chosen in the view toolbar or on the render command's line.
enum class Shading
{
    Flat,   // the material colours as they are
    Shaded, // lit by a light that follows the camera
    Toon    // the same light in three flat bands
};

struct ViewStyle
{
    Shading shading = Shading::Flat;
    // Dark lines along the silhouette and creases, in every shading.
    bool outlines = false;
    // Multiplies the drawn size of every graftal; the graftals' base sizes stay.
    double graftalScale = 1.0;

    friend bool operator==(const ViewStyle &, const ViewStyle &) = default;
};
