#pragma once

#include "ViewStyle.h"

// How a frame of the scene is drawn, beyond the scene and the camera.
struct RenderSettings
{
    // Shading, outlines, graftal scale: the scene's own style unless a caller says other.
    ViewStyle style;
    // The axes and the eye trail, when the scene shows them; pictures for files leave
    // them out.
    bool overlays = true;
    // Shows the last face-id picture instead of the scene (a debugging view).
    bool pickPicture = false;
    // How many times the view's size the picture is: the graftals' levels of detail are
    // chosen as the view would (an export at twice the size shows what the view showed).
    double detailScale = 1.0;
    // Samples a pixel of a picture (1, 2, 4, 8 or 16) when the style is antialiased, taken
    // as SamplePlan says (the edges smoothed, drawn larger, multisampled).
    int samples = 1;
    // Every graftal drawn whole whatever its facing, those the fade would hide tinted
    // ("Show every graftal"); pictures leave it off unless asked.
    bool showAllGraftals = false;

    GraftalFade graftalFade() const { return {style.fade, showAllGraftals}; }
};

// The settings that draw a scene in its own style, with `samples` a pixel where the style
// is antialiased.
inline RenderSettings settingsOf(const ViewStyle &style, int samples = 1)
{
    RenderSettings settings;
    settings.style = style;
    settings.samples = samples;
    return settings;
}

// A picture's samples a pixel when antialiased, unless the render command says others.
constexpr int PictureSamples = 4;
// The window's, whose frames come one after another while the view moves: its edges
// smoothed, at a fraction of a picture's cost.
constexpr int ViewSamples = 2;
