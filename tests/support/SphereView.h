#pragma once

#include "GLRender.h"
#include "Graftal.h"
#include "ModelBuilder.h"
#include "Scene.h"
#include "SceneSession.h"
#include "TestSupport.h"
#include "TreeManager.h"

#include <QAction>
#include <QList>
#include <QTreeWidget>
#include <QWheelEvent>
#include <initializer_list>

namespace testsupport {

// A 400 x 300 view on a green sphere, come close, with a graftal library connected to it,
// in a fresh working directory. Each graftal given is solid in its colour, base size 1.5;
// the last one given is selected. Another model may take the sphere's place, saved as
// `file` and seen after `notches` turns of the wheel towards it.
struct SphereView
{
    static ModelBuilder ball()
    {
        ModelBuilder b;
        b.addMaterial("green", 0.1f, 0.6f, 0.1f);
        b.addSphere("ball", {0, 0, 0}, 10, 24, 32, "green");
        return b;
    }

    ScopedWorkDir work;
    QTreeWidget tree;
    TreeManager *library = nullptr;
    GLRender view;
    SceneSession session{*view.scene(), view.modelLoader(), view};
    static constexpr QPoint centre{200, 150};

    QList<Graftal *> graftals;

    explicit SphereView(std::initializer_list<QColor> colours, const ModelBuilder &model = ball(),
                        const QString &file = QStringLiteral("sphere.3ds"), int notches = 40)
    {
        QDir().mkdir("scenes");
        view.setSession(&session);
        TreeManager::destroyInstance();
        library = TreeManager::instance(&tree);
        view.scene()->setGraftalLookup(library);
        QObject::connect(library, &TreeManager::selectedChanged, &view,
                         &GLRender::currentGraftalChanged);
        QObject::connect(library, &TreeManager::reloadTextures, &view,
                         &GLRender::bindTexturesForGraftal);
        model.save(file);
        view.resize(400, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.grabFramebuffer();
        for (const QColor &colour : colours) {
            library->addGraftal();
            Graftal *g = library->currentGraftal();
            g->setBaseSize(1.5);
            g->setLevel(0, {filledLevel(colour), filledLevel(Qt::transparent)});
            library->graftalPixmapChanged(g);
            graftals.append(g);
        }
        QVERIFY(view.openModel(file));
        // Come close with the wheel: notches of 15 units.
        for (int i = 0; i < notches; ++i) {
            QWheelEvent wheel(QPointF(centre), view.mapToGlobal(QPointF(centre)), QPoint(),
                              QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                              false);
            QCoreApplication::sendEvent(&view, &wheel);
        }
    }
    ~SphereView() { TreeManager::destroyInstance(); }
    SphereView(const SphereView &) = delete;
    SphereView &operator=(const SphereView &) = delete;

    Scene *scene() const { return view.scene(); }
    // Carries out the view toolbar's action with this data.
    void act(int data)
    {
        QAction action;
        action.setData(data);
        action.setCheckable(true);
        view.dispatchAction(&action);
    }
    void drag(QPoint from, QPoint to, int steps)
    {
        QTest::mousePress(&view, Qt::LeftButton, {}, from);
        for (int i = 1; i <= steps; ++i)
            QTest::mouseMove(&view, from + (to - from) * i / steps);
        QTest::mouseRelease(&view, Qt::LeftButton, {}, to);
    }
};

} // namespace testsupport
