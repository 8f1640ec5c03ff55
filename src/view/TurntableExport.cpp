#include "TurntableExport.h"

#include "GLRender.h"
#include "Logger.h"
#include "Scene.h"
#include "SceneRenderer.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>

namespace {
const QString Title = QStringLiteral("Render turntable");

// Frames, degrees, size and output; the output's kind follows its name as on the command
// line.
class TurntableDialog : public QDialog
{
    Q_OBJECT
public:
    TurntableDialog(QWidget *parent, const QString &suggested) : QDialog(parent)
    {
        setWindowTitle(Title);
        auto *form = new QFormLayout(this);
        frames.setRange(1, 100000);
        frames.setValue(48);
        degrees.setRange(-36000.0, 36000.0);
        degrees.setValue(360.0);
        degrees.setSuffix(QStringLiteral(" degrees"));
        for (QSpinBox *side : {&width, &height}) {
            side->setRange(2, 8192);
            side->setSingleStep(2);
        }
        width.setValue(1280);
        height.setValue(720);
        auto *size = new QHBoxLayout;
        size->addWidget(&width);
        size->addWidget(new QLabel(QStringLiteral("x")));
        size->addWidget(&height);
        output.setText(suggested);
        output.setToolTip(QStringLiteral("A .mp4 (H.264) or .webm (VP9) video, or PNG frames "
                                         "named by a pattern such as frames_%04d.png"));
        auto *browse = new QPushButton(QStringLiteral("Browse…"));
        connect(browse, &QPushButton::clicked, this, [this] {
            const QString name = QFileDialog::getSaveFileName(
                this, Title, output.text(),
                QStringLiteral("MP4 video (*.mp4);;WebM video (*.webm);;PNG frames (*.png)"));
            if (!name.isEmpty())
                output.setText(name);
        });
        auto *where = new QHBoxLayout;
        where->addWidget(&output, 1);
        where->addWidget(browse);
        form->addRow(QStringLiteral("Frames"), &frames);
        form->addRow(QStringLiteral("Turn by"), &degrees);
        form->addRow(QStringLiteral("Size"), size);
        form->addRow(QStringLiteral("Output file"), where);
        auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        form->addRow(buttons);
        for (QSpinBox *side : {&width, &height})
            connect(side, &QSpinBox::valueChanged, this, &TurntableDialog::sizeChanged);
    }

    QSize pictureSize() const { return {width.value(), height.value()}; }

    TurntableRequest request() const
    {
        TurntableRequest r;
        r.frames = frames.value();
        r.degrees = degrees.value();
        r.width = width.value();
        r.height = height.value();
        r.output = output.text();
        return r;
    }

signals:
    void sizeChanged();

private:
    QSpinBox frames, width, height;
    QDoubleSpinBox degrees;
    QLineEdit output;
};
} // namespace

void TurntableExport::renderInteractively(GLRender &view)
{
    const Scene &scene = *view.scene();
    if (!scene.loaded() || !view.openGlReady()) {
        QMessageBox::warning(&view, Title,
                             QStringLiteral("There is nothing to render yet: open a model first."));
        return;
    }
    TurntableDialog dialog(&view, QFileInfo(scene.modelPath()).baseName() + QStringLiteral(".mp4"));
    // While the dialog is open the view shows what the video will: the rest is darkened.
    struct FrameHeld
    {
        GLRender &v;
        explicit FrameHeld(GLRender &on) : v(on) { v.holdRenderFrame(true); }
        ~FrameHeld() { v.holdRenderFrame(false); }
    } held(view);
    view.setRenderFrameSize(dialog.pictureSize());
    QObject::connect(&dialog, &TurntableDialog::sizeChanged, &view,
                     [&view, &dialog] { view.setRenderFrameSize(dialog.pictureSize()); });
    for (;;) {
        if (dialog.exec() != QDialog::Accepted)
            return;
        QString error;
        if (TurntableRender::check(dialog.request(), error))
            break;
        QMessageBox::critical(&view, Title, QStringLiteral("The turntable cannot be rendered:\n%1")
                                                .arg(error));
    }
    start(view, dialog.request());
}

TurntableExport *TurntableExport::start(GLRender &view, const TurntableRequest &request)
{
    return new TurntableExport(view, request); // owned by the view, deleted when over
}

TurntableExport::TurntableExport(GLRender &v, const TurntableRequest &r)
    : QObject(&v), view(v), request(r)
{
    const Scene &scene = *view.scene();
    // What the view shows within the render frame of the video's aspect.
    const Camera start = view.pictureCamera(request.width, request.height);
    render = std::make_unique<TurntableRender>(view.renderer(), scene, start,
                                               settingsOf(scene.style, PictureSamples), request);
    progress = new QProgressDialog(QStringLiteral("Rendering turntable"), QStringLiteral("Cancel"),
                                   0, render->framesToRender(), &view);
    progress->setWindowTitle(QStringLiteral("Rendering turntable"));
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(0);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    connect(progress, &QProgressDialog::canceled, this, [this] { end(false); });
    QString error = QString::fromLatin1(imageexport::MissedModel);
    view.makeCurrent();
    bool begun = view.renderer().modelInView(scene, start, request.width, request.height);
    if (begun) {
        view.renderer().prepareTextures(scene);
        begun = render->begin(error);
    }
    view.doneCurrent();
    if (!begun) {
        // After the caller has the job, so that it hears the end.
        QTimer::singleShot(0, this, [this, error] { end(false, error); });
        return;
    }
    progress->show();
    connect(&frames, &QTimer::timeout, this, &TurntableExport::step);
    frames.start(0);
}

TurntableExport::~TurntableExport()
{
    delete progress;
}

void TurntableExport::step()
{
    QString error;
    view.makeCurrent();
    const bool ok = render->renderNext(error);
    view.doneCurrent();
    if (!ok)
        return end(false, error);
    // A modal progress dialog answers its events here: Cancel may end the render.
    progress->setValue(render->framesRendered());
    if (ended || !render->done())
        return;
    if (!render->finish(error))
        return end(false, error);
    end(true);
}

void TurntableExport::end(bool written, const QString &error)
{
    if (ended)
        return;
    ended = true;
    frames.stop();
    if (!written) {
        // The temporary video and the frames go; no OpenGL is needed for that.
        render->discard();
    }
    progress->hide();
    if (!error.isEmpty()) {
        Logger(QStringLiteral("app.gl.render"))
            .warn(QStringLiteral("no turntable at %1: %2").arg(request.output, error));
        QMessageBox::critical(
            &view, Title,
            QStringLiteral("The turntable could not be rendered to %1:\n%2").arg(request.output, error));
    } else if (written) {
        emit view.statusMessage(QStringLiteral("Turntable rendered to %1")
                                    .arg(QFileInfo(request.output).absoluteFilePath()));
    }
    emit over(written);
    deleteLater();
}

#include "TurntableExport.moc"
