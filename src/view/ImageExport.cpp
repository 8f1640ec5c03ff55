#include "ImageExport.h"

#include "GLRender.h"
#include "Logger.h"
#include "PictureFile.h"
#include "Scene.h"
#include "SceneRenderer.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace imageexport {

void exportInteractively(GLRender &view)
{
    const QString title = QStringLiteral("Export image");
    const Scene &scene = *view.scene();
    if (!scene.loaded() || !view.openGlReady()) {
        QMessageBox::warning(
            &view, title, QStringLiteral("There is nothing to export yet: open a model first (\"Open 3DS file\")."));
        return;
    }
    const QString suggested = QFileInfo(scene.modelPath()).baseName() + QStringLiteral(".png");
    QString name = QFileDialog::getSaveFileName(
        nullptr, title, suggested,
        QStringLiteral("PNG images (*.png);;JPEG images (*.jpg *.jpeg)"));
    if (name.isEmpty())
        return;
    if (QFileInfo(name).suffix().isEmpty())
        name += QStringLiteral(".png");
    QString error;
    if (!exportImage(view, name, error))
        QMessageBox::critical(
            &view, title,
            QStringLiteral("The image could not be exported to %1:\n%2").arg(name, error));
    else
        emit view.statusMessage(
            QStringLiteral("Image exported to %1").arg(QFileInfo(name).absoluteFilePath()));
}

bool exportImage(GLRender &view, const QString &path, QString &error)
{
    const Scene &scene = *view.scene();
    if (!view.openGlReady() || !scene.loaded()) {
        error = QStringLiteral("there is no model to draw");
        return false;
    }
    QByteArray format;
    if (!picturefile::formatFor(path, format, error))
        return false;
    Logger logger(QStringLiteral("app.gl.render"));
    constexpr int Scale = 2;
    const int width = scene.viewportWidth * Scale, height = scene.viewportHeight * Scale;
    RenderSettings settings = settingsOf(scene.style, PictureSamples);
    settings.detailScale = Scale;
    view.makeCurrent();
    SceneRenderer &renderer = view.renderer();
    const bool inView = renderer.modelInView(scene, scene.camera(), width, height);
    renderer.prepareTextures(scene);
    const QImage image = inView ? renderer.picture(scene, scene.camera(), settings,
                                                   width, height, error)
                                : QImage();
    view.doneCurrent();
    if (!inView)
        error = QString::fromLatin1(MissedModel);
    if (image.isNull()) {
        logger.warn(QStringLiteral("no picture for %1: %2").arg(path, error));
        return false;
    }
    if (!picturefile::write(image, path, error)) {
        logger.warn(QStringLiteral("cannot write %1: %2").arg(path, error));
        return false;
    }
    return true;
}

} // namespace imageexport
