#pragma once

// How a frame of the scene is drawn, beyond the scene and the camera.
struct RenderSettings
{
    // The axes and the eye trail, when the scene shows them; pictures for files leave
    // them out.
    bool overlays = true;
    // Shows the last face-id picture instead of the scene (a debugging view).
    bool pickPicture = false;
};
