#pragma once

#include "EdgeSmoothing.h"
#include "GlObjects.h"
#include "GraftalTextures.h"
#include "ModelSteps.h"
#include "OffscreenTarget.h"
#include "RenderSettings.h"
#include "ShaderProgram.h"
#include "Vector3.h"

#include <QImage>
#include <QString>
#include <array>
#include <vector>

struct Camera;
class GlPass;
class GraftalInstance;
struct ModelBuffers;
class Scene;

// Draws scenes: the model from its buffers, then every painted graftal as a textured
// quad standing on the surface, farthest first, coloured by the shader; the face-id
// picture that picking reads; and pictures of any size for files. The window's view,
// "Export image" and the render command all draw through one of these, so that they
// draw alike.
//
// It owns the shader program, the graftals' textures and its framebuffers. Every call
// needs the OpenGL context it was initialised in to be current, its destructor too.
class SceneRenderer
{
public:
    // What a frame draws.
    enum Flag
    {
        ShowPickBuffer = 2
    };

    SceneRenderer();
    ~SceneRenderer();
    SceneRenderer(const SceneRenderer &) = delete;
    SceneRenderer &operator=(const SceneRenderer &) = delete;

    // Loads OpenGL's entry points and builds the shader programs (the flat one's complaints
    // in shaderLog). Each pass sets the OpenGL state it draws with and puts back what it
    // found, so that a frame leaves the context as it was. False with the reason
    // when OpenGL 2.0 is missing: nothing can be drawn then.
    bool initialize(QString &error);
    bool ready() const { return usable; }
    const QString &shaderLog() const { return shaderMessages; }
    // Why the shaded modes or the outlines cannot be drawn here (they then draw flat and
    // without lines); empty when they can.
    const QString &styleLog() const { return styleMessages; }

    GraftalTextures &textures() { return graftalTextures; }
    // Makes the textures the scene needs now: those of the graftals shown and of the one
    // about to be painted, where they are missing or out of date.
    void prepareTextures(const Scene &scene);
    // Whether the graftal is shown in the scene or about to be painted.
    static bool inUse(const Scene &scene, const Graftal *g);

    // One frame of width x height into the bound framebuffer: the background, the model
    // and its graftals as the camera sees them (only the background without OpenGL 2.0).
    void draw(const Scene &scene, const Camera &camera, const RenderSettings &settings, int width,
              int height);
    // The same with the samples the settings ask for where the style is antialiased,
    // taken off screen and resolved into the bound framebuffer (without them where OpenGL
    // cannot take them).
    void drawFinished(const Scene &scene, const Camera &camera, const RenderSettings &settings,
                      int width, int height);
    // Makes the face-id picture of the scene's camera at the scene's viewport size and
    // gives it to the scene to pick from.
    void refreshPicking(Scene &scene);
    // Draws off screen at the given size, without overlays, and reads it back (rows top
    // down, opaque: Format_RGBX8888); a null image and the reason when OpenGL cannot.
    QImage picture(const Scene &scene, const Camera &camera, const RenderSettings &settings,
                   int width, int height, QString &error);

    // Whether any pixel of a width x height picture through `camera` shows the model (its
    // face-id picture, off screen); true when OpenGL cannot tell.
    bool modelInView(const Scene &scene, const Camera &camera, int width, int height);
    // The same by drawing the face-id picture, whatever the faces' shapes.
    bool modelDrawnInView(const Scene &scene, const Camera &camera, int width, int height);

    // Frames of big models in steps: the model's part of the frame the window would draw
    // (drawFinished's), about `faces` faces a call, off screen. True once it is all drawn:
    // drawFinished of the same scene, camera, settings and size then draws the frame from it
    // (its graftals, lines and antialiasing at once). Each call that returns false does a
    // bounded share of the work, so that the window answers between calls. With `faces` 0
    // it only tells whether the frame is ready (false also where it cannot be stepped, which
    // the next call with faces says).
    bool stepFrame(const Scene &scene, const Camera &camera, const RenderSettings &settings,
                   int width, int height, size_t faces);
    // The face-id picture the same way (refreshPicking's, of the scene's camera); true once
    // it is complete and given to the scene.
    bool stepPicking(Scene &scene, size_t faces);
    // Forgets the stepped frame: frames are drawn whole again.
    void dropSteppedFrame() { frameSteps.reset(); }
    // Whether a stepped frame or face-id picture is under way.
    bool stepping() const { return frameSteps.underway() || pickSteps.underway(); }
    // Keeps the bound width x height framebuffer's picture as the last finished frame, and
    // puts it back (the background where there is none of that size).
    void keepFinishedFrame(int width, int height);
    void showFinishedFrame(const Scene &scene, int width, int height);

    // The instances in the order the last frame drew them, farthest first; good until the
    // scene's instances next change.
    const std::vector<GraftalInstance *> &lastDrawOrder() const { return drawOrder; }

private:
    void clear(const Scene &scene, bool pick) const;
    void applyCamera(const Camera &camera, int width, int height) const;
    // Which colours the model's faces show: their materials', their textures where they
    // have one (lit by the current program), or the face ids that picking reads.
    enum class ModelColours
    {
        Materials,
        Textured,
        FaceIds
    };
    // `shading` picks the lit program of textured faces.
    // The model's buffers [first, end).
    void drawModel(const Scene &scene, const Camera &camera, ModelColours colours,
                   Shading shading = Shading::Flat, size_t first = 0,
                   size_t end = size_t(-1)) const;
    // What a stepped picture of the model is of.
    static ModelSteps::Key stepKey(const Scene &scene, const Camera &camera,
                                   const ViewStyle &style, int width, int height, bool faceIds);
    SamplePlan planFor(const RenderSettings &settings, int width, int height) const;
    void drawTexturedRange(const Scene &scene, const ModelBuffers &b, Shading shading) const;
    struct Uniforms;
    void drawGraftals(const Scene &scene, const Camera &camera, const RenderSettings &settings);
    // One pass over the graftals in the last draw order (or backwards), the program's
    // uniforms set.
    void drawGraftalPass(const Scene &scene, const Camera &camera, const RenderSettings &settings,
                         const Uniforms &uniforms, bool nearestFirst = false) const;
    bool outlinesReady(int width, int height);
    // The off-screen picture of the model onto the bound framebuffer, with its lines, within
    // `box` (normalised device coordinates x0, y0, x1, y1).
    void drawOutlinedPicture(const Camera &camera, int width, int height,
                             const std::array<float, 4> &box, const ViewStyle &style) const;
    // Where the light comes from, in eye coordinates, and the lit programs told so.
    static Vector3 lightTowards(const Camera &camera, const ViewStyle &style);
    void setLight(const Camera &camera, const ViewStyle &style) const;

    // The program that draws the model in a shading (0 when none built: the fixed pipeline).
    GLuint modelProgram(Shading shading) const;
    // The state every pass that draws the model's faces sets: depth tested and written,
    // nothing blended, faces seen from behind culled unless the scene shows them.
    static void modelPass(GlPass &pass, const Scene &scene);
    // The face-id picture of `camera` at width x height into `target` (the bound
    // framebuffer when null), and `rows` of it from `y` up read back as RGB.
    void drawFaceIds(const Scene &scene, const Camera &camera, const OffscreenTarget *target,
                     int width, int height, size_t first = 0, size_t end = size_t(-1)) const;
    static void readFaceIds(const OffscreenTarget *target, int y, int rows, int width,
                            unsigned char *rgb);
    void drawPickPicture(const Scene &scene) const;
    void drawAxes() const;
    void drawTrail(const Scene &scene) const;

    bool usable = false;
    bool finishModelFirst = false; // while a picture draws: the model's pixels before graftals
    QString shaderMessages;
    // Colours the model by its materials, and the graftals, without light.
    ShaderProgram flatProgram;
    // The lit programs, one for each thing they draw so that none pays pixel by pixel for
    // another's branches: the model smooth or in bands, each with and without a texture,
    // and the graftals smooth or in bands, whose roots are lit by their vertex shader. The
    // light is light.glsl's in every one.
    struct LitPrograms
    {
        ShaderProgram model[2][2]; // [toon][textured]
        ShaderProgram graftals[2]; // [toon]

        bool build(QString &problem);
        bool valid() const { return graftals[1].valid(); }
        const ShaderProgram &of(Shading shading, bool textured) const
        {
            return model[shading == Shading::Toon][textured];
        }
    };
    LitPrograms lit;
    // The lines' programs: [0] lines two or more pixels wide, [1] one pixel wide.
    ShaderProgram outlinePrograms[2];
    QString styleMessages;
    OffscreenTarget outlineTarget{true};
    GraftalTextures graftalTextures;
    OffscreenTarget pickTarget;
    OffscreenTarget pictureTarget;
    // An antialiased picture's samples, and at twice its size, those resolved.
    OffscreenTarget sampledTarget, resolvedTarget;
    EdgeSmoothing edges;
    ModelSteps frameSteps, pickSteps;
    ShaderProgram stepCopy;
    OffscreenTarget finishedFrame;
    std::vector<GraftalInstance *> drawOrder;
};
