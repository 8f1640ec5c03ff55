#include "HeadlessContext.h"

// The EGL headers must not bring in X11's macros next to Qt's headers.
#define EGL_NO_X11
#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <QFileInfo>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QRegularExpression>

struct HeadlessContext::Egl
{
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;

    ~Egl()
    {
        if (display == EGL_NO_DISPLAY)
            return;
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (context != EGL_NO_CONTEXT)
            eglDestroyContext(display, context);
        eglTerminate(display);
    }

    bool create(QString &error)
    {
        const char *clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
        if (!clientExtensions ||
            !QByteArray(clientExtensions).contains("EGL_MESA_platform_surfaceless")) {
            error = QStringLiteral("EGL offers no surfaceless platform");
            return false;
        }
        auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
            eglGetProcAddress("eglGetPlatformDisplayEXT"));
        if (!getPlatformDisplay) {
            error = QStringLiteral("EGL cannot open platform displays");
            return false;
        }
        display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        EGLint major = 0, minor = 0;
        if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor)) {
            display = EGL_NO_DISPLAY;
            error = QStringLiteral("EGL's surfaceless display cannot be initialised");
            return false;
        }
        const QByteArray extensions = eglQueryString(display, EGL_EXTENSIONS);
        if (!extensions.contains("EGL_KHR_no_config_context") ||
            !extensions.contains("EGL_KHR_surfaceless_context") || !eglBindAPI(EGL_OPENGL_API)) {
            error = QStringLiteral("EGL offers no desktop OpenGL context without a surface");
            return false;
        }
        const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION, 2, EGL_CONTEXT_MINOR_VERSION, 1,
                                     EGL_NONE};
        context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
        if (context == EGL_NO_CONTEXT) {
            error = QStringLiteral("EGL cannot make an OpenGL context (error 0x%1)")
                        .arg(eglGetError(), 0, 16);
            return false;
        }
        if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
            error = QStringLiteral("EGL cannot make the OpenGL context current");
            return false;
        }
        return true;
    }
};

struct HeadlessContext::Qt
{
    QOffscreenSurface surface;
    QOpenGLContext context;

    ~Qt() { context.doneCurrent(); }

    bool create(QString &error)
    {
        surface.create();
        if (!context.create() || !surface.isValid() || !context.makeCurrent(&surface)) {
            error = QStringLiteral("the window system gives no OpenGL context");
            return false;
        }
        return true;
    }
};

HeadlessContext::HeadlessContext() = default;

HeadlessContext::~HeadlessContext() = default;

bool HeadlessContext::displayReachable()
{
    const QString wayland = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (!wayland.isEmpty()) {
        const QString socket =
            wayland.startsWith(QLatin1Char('/'))
                ? wayland
                : qEnvironmentVariable("XDG_RUNTIME_DIR") + QLatin1Char('/') + wayland;
        if (QFileInfo::exists(socket))
            return true;
    }
    const QString display = qEnvironmentVariable("DISPLAY");
    if (display.isEmpty())
        return false;
    static const QRegularExpression local(QStringLiteral("^(?:unix)?:(\\d+)(?:\\.\\d+)?$"));
    const QRegularExpressionMatch m = local.match(display);
    if (m.hasMatch())
        return QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X") + m.captured(1));
    return true;
}

bool HeadlessContext::createSurfaceless(QString &error)
{
    egl = std::make_unique<Egl>();
    if (egl->create(error))
        return true;
    egl.reset();
    return false;
}

bool HeadlessContext::createThroughWindowSystem(QString &error)
{
    qt = std::make_unique<Qt>();
    return qt->create(error);
}
