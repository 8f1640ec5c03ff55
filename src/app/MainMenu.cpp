#include "MainMenu.h"

#include "GraftalPainter.h"
#include "TextureManager.h"
#include "Tuftmill.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QVBoxLayout>

MainMenu::MainMenu(const TuftmillClass &form) : QObject(form.window), ui(form)
{
    QMenuBar *bar = ui.window->menuBar();
    buildFile(bar->addMenu(QStringLiteral("&File")));
    buildEdit(bar->addMenu(QStringLiteral("&Edit")));
    buildView(bar->addMenu(QStringLiteral("&View")));
    buildHelp(bar->addMenu(QStringLiteral("&Help")));
}

void MainMenu::buildFile(QMenu *menu)
{
    openModelAction = menu->addAction(QStringLiteral("&Open model…"));
    openModelAction->setShortcut(QKeySequence::Open);
    openModelAction->setStatusTip(
        QStringLiteral("Open a model with the graftals and the view saved with it"));
    recentMenu = menu->addMenu(QStringLiteral("Open &Recent"));
    forgetMissingAction = new QAction(QStringLiteral("Remove missing models"), this);
    menu->addSeparator();
    ui.saveSceneAction->setShortcut(QKeySequence::Save);
    menu->addAction(ui.saveSceneAction);
    menu->addAction(ui.reloadSceneAction);
    menu->addSeparator();
    menu->addAction(ui.exportAction);
    menu->addAction(ui.turntableAction);
    menu->addSeparator();
    openWorkspaceAction = menu->addAction(QStringLiteral("Open &workspace…"));
    menu->addSeparator();
    quitAction = menu->addAction(QStringLiteral("&Quit"));
    quitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quitAction->setMenuRole(QAction::QuitRole);
    showRecentModels({});
}

void MainMenu::showRecentModels(const QStringList &models)
{
    recentMenu->clear();
    bool missing = false;
    for (const QString &path : models) {
        QAction *entry = recentMenu->addAction(QFileInfo(path).fileName());
        entry->setToolTip(path);
        entry->setStatusTip(path);
        entry->setEnabled(QFileInfo::exists(path));
        missing = missing || !entry->isEnabled();
        connect(entry, &QAction::triggered, this, [this, path] { emit recentModelChosen(path); });
    }
    if (models.isEmpty())
        recentMenu->addAction(QStringLiteral("No recent models"))->setEnabled(false);
    recentMenu->addSeparator();
    recentMenu->addAction(forgetMissingAction);
    forgetMissingAction->setEnabled(missing);
}

void MainMenu::buildEdit(QMenu *menu)
{
    // The keys stay with the painter's and the view's own handling; the menu only names
    // them, so that no shortcut here competes with theirs.
    undoAction = menu->addAction(QStringLiteral("&Undo\tCtrl+Z"));
    redoAction = menu->addAction(QStringLiteral("&Redo\tCtrl+Shift+Z"));
    connect(undoAction, &QAction::triggered, this, [this] { stepHistory(false); });
    connect(redoAction, &QAction::triggered, this, [this] { stepHistory(true); });
    connect(menu, &QMenu::aboutToShow, this, [this] {
        const bool painter = painterHasFocus();
        GraftalPainter *p = ui.textureManager->painter();
        undoAction->setEnabled(painter ? p->undoAction->isEnabled()
                                       : ui.undoSceneAction->isEnabled());
        redoAction->setEnabled(painter ? p->redoAction->isEnabled()
                                       : ui.redoSceneAction->isEnabled());
        const QString of = painter ? QStringLiteral(" level") : QStringLiteral(" scene change");
        undoAction->setText(QStringLiteral("&Undo%1\tCtrl+Z").arg(of));
        redoAction->setText(QStringLiteral("&Redo%1\tCtrl+Shift+Z").arg(of));
    });
}

bool MainMenu::painterHasFocus() const
{
    const QWidget *focus = QApplication::focusWidget();
    const QWidget *column = ui.editColumnLayout->parentWidget();
    return focus && column && (focus == column || column->isAncestorOf(focus));
}

void MainMenu::stepHistory(bool forward)
{
    GraftalPainter *p = ui.textureManager->painter();
    QAction *step = painterHasFocus() ? (forward ? p->redoAction : p->undoAction)
                                      : (forward ? ui.redoSceneAction : ui.undoSceneAction);
    if (step && step->isEnabled())
        step->trigger();
}

void MainMenu::buildView(QMenu *menu)
{
    menu->addAction(ui.frameAction);
    menu->addAction(ui.fitGraftalScaleAction);
    QMenu *shading = menu->addMenu(QStringLiteral("&Shading"));
    shadingGroup = new QActionGroup(this);
    for (int i = 0; i < ui.shadingBox->count(); ++i) {
        QAction *choice = shading->addAction(ui.shadingBox->itemText(i));
        choice->setCheckable(true);
        choice->setChecked(i == ui.shadingBox->currentIndex());
        shadingGroup->addAction(choice);
        connect(choice, &QAction::triggered, ui.shadingBox,
                [box = ui.shadingBox, i] { box->setCurrentIndex(i); });
    }
    connect(ui.shadingBox, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (QAction *choice = shadingGroup->actions().value(index))
            choice->setChecked(true);
    });
    menu->addAction(ui.outlinesAction);
    menu->addAction(ui.antialiasingAction);
    menu->addAction(ui.twoSidedAction);
    menu->addAction(ui.renderFrameAction);
    menu->addAction(ui.showAllAction);
    menu->addSeparator();
    menu->addActions(ui.modeGroup->actions());
}

void MainMenu::buildHelp(QMenu *menu)
{
    shortcutsAction = menu->addAction(QStringLiteral("&Keyboard shortcuts"));
    aboutAction = menu->addAction(QStringLiteral("&About Tuftmill"));
    aboutAction->setMenuRole(QAction::AboutRole);
}

QList<QPair<QString, QString>> MainMenu::keyTable()
{
    auto key = [](const char *k, const char *what) {
        return QPair<QString, QString>(QString::fromUtf8(k), QString::fromUtf8(what));
    };
    return {
        key("", "Window"),
        key("Ctrl+O", "Open a model with its scene and view"),
        key("Ctrl+S", "Save the scene and its view"),
        key("Ctrl+Q", "Quit"),
        key("F12", "Show or hide the library row (while the 3D view has not the focus)"),
        key("", "Painter (while the pointer is over it, or the focus is in the left column)"),
        key("[", "Smaller brush"),
        key("]", "Larger brush"),
        key("I", "Pick the colour under the pointer"),
        key("Space + drag", "Pan the level"),
        key("Ctrl++ or Ctrl+=", "Zoom in"),
        key("Ctrl+-", "Zoom out"),
        key("Ctrl+0", "Zoom to fit"),
        key("Ctrl + wheel", "Zoom at the pointer"),
        key("Ctrl+Z", "Undo a painter change (focus in the left column)"),
        key("Ctrl+Shift+Z or Ctrl+Y", "Redo a painter change (focus in the left column)"),
        key("", "3D view (once clicked, while a model is open)"),
        key("Home", "Frame the model"),
        key("S", "Show every graftal, those the fade hides tinted (again: as pictures show them)"),
        key("Ctrl+Z", "Undo a scene change"),
        key("Ctrl+Shift+Z or Ctrl+Y", "Redo a scene change"),
        key("Wheel", "Move the camera nearer or farther"),
        key("F1", "Show the picking picture instead of the model"),
        key("F2", "Show or hide the axes"),
        key("F3", "Show or hide the trail"),
        key("", "Text fields"),
        key("Return or Escape", "Leave the field (a new graftal name is taken then)"),
    };
}

QString MainMenu::shortcutsPage()
{
    QString html = QStringLiteral("<table cellspacing=\"2\" cellpadding=\"3\">");
    for (const auto &[keys, what] : keyTable()) {
        if (keys.isEmpty())
            html += QStringLiteral("<tr><th colspan=\"2\" align=\"left\"><br>%1</th></tr>")
                        .arg(what.toHtmlEscaped());
        else
            html += QStringLiteral("<tr><td><b>%1</b></td><td>%2</td></tr>")
                        .arg(keys.toHtmlEscaped(), what.toHtmlEscaped());
    }
    return html + QStringLiteral("</table>");
}
