// Pictures of the scene for files: drawn off screen at any size OpenGL allows.
#include <GL/glew.h>

#include "GlObjects.h"
#include "Scene.h"

#include <QImageWriter>
#include <QSaveFile>

QImage Scene::renderImage(int width, int height, QString &error)
{
    if (!isLoaded || !contextReady) {
        error = QStringLiteral("there is no model to draw");
        return {};
    }
    GLint maxSide = 0, maxViewport[2] = {0, 0};
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxSide);
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, maxViewport);
    maxSide = std::min({maxSide, maxViewport[0], maxViewport[1]});
    if (width < 1 || height < 1 || width > maxSide || height > maxSide) {
        error = QStringLiteral("OpenGL here draws pictures of at most %1 x %1 pixels, not %2 x %3")
                    .arg(maxSide)
                    .arg(width)
                    .arg(height);
        return {};
    }
    QImage image(width, height, QImage::Format_RGBA8888);
    if (image.isNull()) {
        error = QStringLiteral("there is not enough memory for a picture of %1 x %2 pixels")
                    .arg(width)
                    .arg(height);
        return {};
    }

    GLint previousFramebuffer = 0, previousViewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previousFramebuffer);
    glGetIntegerv(GL_VIEWPORT, previousViewport);
    while (glGetError() != GL_NO_ERROR) {
    }

    GLuint ids[3] = {0, 0, 0};
    glGenFramebuffers(1, &ids[0]);
    glGenRenderbuffers(2, &ids[1]);
    const GlFramebuffer framebuffer(ids[0]);
    const GlRenderbuffer color(ids[1]), depth(ids[2]);
    glBindRenderbuffer(GL_RENDERBUFFER, color.get());
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glBindRenderbuffer(GL_RENDERBUFFER, depth.get());
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width, height);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer.get());
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color.get());
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth.get());

    bool drawn = false;
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE) {
        glViewport(0, 0, width, height);
        glMatrixMode(GL_PROJECTION);
        glPushMatrix();
        loadPerspective(width, height);
        clearView(false);
        applyCameraRotation();
        applyCameraTranslation();
        render(Picture);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, image.bits());
        drawn = glGetError() == GL_NO_ERROR;
        glMatrixMode(GL_PROJECTION);
        glPopMatrix();
        glMatrixMode(GL_MODELVIEW);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, GLuint(previousFramebuffer));
    glViewport(previousViewport[0], previousViewport[1], previousViewport[2], previousViewport[3]);
    if (!drawn) {
        error = QStringLiteral("OpenGL could not draw a picture of %1 x %2 pixels")
                    .arg(width)
                    .arg(height);
        return {};
    }
    // OpenGL's rows run bottom up.
    return std::move(image).mirrored();
}

bool Scene::writePng(const QImage &image, const QString &path, QString &error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    QImageWriter writer(&file, "png");
    if (!writer.write(image)) {
        error = writer.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}
