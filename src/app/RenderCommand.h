#pragma once

#include "RenderSettings.h"

#include "ViewStyle.h"

#include <QString>
#include <QStringList>
#include <optional>

struct TurntableRequest;

// `tuftmill --render MODEL --output OUT.png [options]`: draws a model with its painted
// graftals into a PNG or JPEG without a window, and without a display if there is none. Every
// failure gives one line on standard error and exit status 1. `--help` and `--version` print
// their text and end.
class RenderCommand
{
public:
    static constexpr int MaxSide = 8192;

    struct Options
    {
        QString model, output, scene;
        int width = 1920, height = 1080;
        double yaw = 0.0, pitch = 0.0, distance = 0.0;
        // Start from "Frame model" rather than the start view.
        bool frame = false;
        // What the line sets of the view style; the rest is the scene's view or the default.
        std::optional<Shading> shading;
        bool outlines = false;
        std::optional<double> graftalScale;
        bool fitGraftalScale = false; // --graftal-scale fit
        std::optional<UpAxis> up;
        // Orbiting about the model's centre from the start (or framed) view, in degrees.
        double elevation = 0.0, azimuth = 0.0;
        std::optional<int> outlineWidth, bands;
        std::optional<unsigned int> outlineColor;
        std::optional<bool> lightOnModel;
        std::optional<double> smoothAngle; // degrees, 0 < angle <= 180
        int samples = PictureSamples; // a pixel's samples, 1 without antialiasing
        std::optional<FadeRange> fade;
        bool showAll = false; // every graftal whole, as "Show every graftal" draws them
        // A turntable of this many frames (0: a still), the camera orbiting by `degrees`.
        int turntable = 0;
        double degrees = 360.0;
        int firstFrame = 1, lastFrame = 0; // lastFrame 0: the turntable's last
        int fps = 24;
        bool help = false;
        bool version = false;
    };

    // Whether the command line asks for the command rather than the window.
    static bool wanted(const QStringList &arguments);
    // Reads the options after the program name; false with the reason.
    static bool parse(const QStringList &arguments, Options &options, QString &error);
    static QString usage();
    // Runs the whole command; the exit status.
    static int run(int argc, char **argv);

private:
    static int render(const Options &options, int argc, char **argv);
    static TurntableRequest requestOf(const Options &options);
};
