#pragma once

#include <QObject>
#include <QStringList>

class QAction;
class QActionGroup;
class QMenu;
class QWidget;
struct TuftmillClass;

// The window's menu bar: File, Edit, View and Help. Where a toolbar has the command the
// menu holds the toolbar's own action, so both show one state and run one code path;
// the menu's own commands are told by signals to the window, which does them.
class MainMenu : public QObject
{
    Q_OBJECT
public:
    explicit MainMenu(const TuftmillClass &form);

    // The recent models, newest first; the missing ones are greyed.
    void showRecentModels(const QStringList &models);
    // Every key of the window, the painter and the view, for the shortcuts page: pairs of
    // key and what it does, under headings that have an empty key.
    static QList<QPair<QString, QString>> keyTable();
    // The page itself, an HTML table.
    static QString shortcutsPage();

    QAction *openModelAction = nullptr;
    QAction *openWorkspaceAction = nullptr;
    QAction *quitAction = nullptr;
    QAction *undoAction = nullptr;
    QAction *redoAction = nullptr;
    QAction *shortcutsAction = nullptr;
    QAction *aboutAction = nullptr;
    QMenu *recentMenu = nullptr;
    QAction *forgetMissingAction = nullptr;

signals:
    void recentModelChosen(const QString &path);

private:
    void buildFile(QMenu *menu);
    void buildEdit(QMenu *menu);
    void buildView(QMenu *menu);
    void buildHelp(QMenu *menu);
    // Undo and redo go to the painter while the focus is in the left column, as its keys
    // do, and to the scene otherwise.
    void stepHistory(bool forward);
    bool painterHasFocus() const;

    const TuftmillClass &ui;
    QActionGroup *shadingGroup = nullptr;
};
