#pragma once

#include "Graftal.h"
#include "ModelBuilder.h"
#include "TestSupport.h"

#include <QDataStream>
#include <QProcess>
#include <QProcessEnvironment>

namespace testsupport {

struct Result
{
    int status = -1;
    QString out, err;
};

// Starts the real program in `dir`, with no display unless `display` is set; through
// `launcher` (a command line that runs the program and arguments it is given) if any.
inline void startTuftmill(QProcess &p, const QString &dir, const QStringList &args,
                          bool display = false, const QStringList &extraEnv = {},
                          const QStringList &launcher = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!display) {
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    }
    for (const QString &kv : extraEnv)
        env.insert(kv.section(QLatin1Char('='), 0, 0), kv.section(QLatin1Char('='), 1));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir);
    const QStringList line = launcher + QStringList{QStringLiteral(TUFTMILL_APP_PATH)} + args;
    p.start(line.first(), line.mid(1));
}

// The real program run to its end, as `startTuftmill` starts it.
inline Result runTuftmill(const QString &dir, const QStringList &args, bool display = false,
                          const QStringList &extraEnv = {}, const QStringList &launcher = {})
{
    QProcess p;
    startTuftmill(p, dir, args, display, extraEnv, launcher);
    if (!p.waitForFinished(120000))
        return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

// A workspace with a red graftal (id 1), a green sphere and a scene that stands the
// graftal on every face of the sphere, on a light yellow background. With `moon` a small
// blue ball beside the sphere makes every side of the model look different.
struct Workspace
{
    QTemporaryDir dir;

    explicit Workspace(bool moon = false)
    {
        QDir(dir.path()).mkpath("graftals");
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        auto g = Graftal::create(1, QStringLiteral("Red"));
        g->setBaseSize(1.5);
        g->setLevel(0, {filledLevel(Qt::red), filledLevel(Qt::transparent)});
        const bool saved = g->save();
        QDir::setCurrent(previous);
        QVERIFY(saved);
        ModelBuilder b;
        b.addMaterial("green", 0.1f, 0.6f, 0.1f);
        b.addSphere("ball", {0, 0, 0}, 10, 12, 16, "green");
        if (moon) {
            b.addMaterial("blue", 0.1f, 0.1f, 0.8f);
            b.addSphere("moon", {14, 0, 0}, 4, 8, 8, "blue");
        }
        QVERIFY(b.save(file("sphere.3ds")));
        // The ball's faces come first: meshes are kept sorted by name.
        QByteArray scene;
        QDataStream s(&scene, QIODevice::WriteOnly);
        s.setVersion(QDataStream::Qt_4_3);
        const int faces = 2 * 16 * 11;
        s << QColor(255, 250, 200) << qint32(faces);
        for (int f = 0; f < faces; ++f)
            s << qint32(f) << qint32(1) << 0.3 << 0.3;
        QVERIFY(writeBytes(file("sphere.dat"), scene));
    }
    QString file(const QString &name) const { return dir.filePath(name); }
    // What the workspace holds besides the graftals, the model and the scene.
    QStringList written() const
    {
        QStringList names = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                       QDir::Hidden | QDir::System);
        for (const char *own : {"graftals", "sphere.3ds", "sphere.dat", "logger.log"})
            names.removeAll(QLatin1String(own));
        return names;
    }
};

} // namespace testsupport
