#pragma once

#include <QString>
#include <memory>

// An OpenGL context without a window, for drawing pictures into framebuffer objects.
// Without a display it comes from EGL's surfaceless platform (Mesa draws in software);
// with one, from the window system through Qt. The context is current from a successful
// create() until the object goes.
class HeadlessContext
{
public:
    HeadlessContext();
    ~HeadlessContext();
    HeadlessContext(const HeadlessContext &) = delete;
    HeadlessContext &operator=(const HeadlessContext &) = delete;

    // Whether there is a display to use (DISPLAY or WAYLAND_DISPLAY set).
    static bool displayAvailable();
    // False with the reason when no context could be made current.
    bool create(QString &error);

private:
    struct Egl;
    struct Qt;
    std::unique_ptr<Egl> egl;
    std::unique_ptr<Qt> qt;
};
