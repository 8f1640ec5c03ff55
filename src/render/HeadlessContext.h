#pragma once

#include <QString>
#include <memory>

// An OpenGL context without a window, for drawing pictures into framebuffer objects: from
// EGL's surfaceless platform (Mesa; needs no display and no Qt application), or from the
// window system through Qt (needs the application object). The context is current from a
// successful create until the object goes.
class HeadlessContext
{
public:
    HeadlessContext();
    ~HeadlessContext();
    HeadlessContext(const HeadlessContext &) = delete;
    HeadlessContext &operator=(const HeadlessContext &) = delete;

    // Whether a display is named and its server's socket is there, so that Qt can open it
    // without aborting (a remote X display counts as there).
    static bool displayReachable();
    // False with the reason when no context could be made current.
    bool createSurfaceless(QString &error);
    bool createThroughWindowSystem(QString &error);

private:
    struct Egl;
    struct Qt;
    std::unique_ptr<Egl> egl;
    std::unique_ptr<Qt> qt;
};
