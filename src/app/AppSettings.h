#pragma once

#include <QSettings>
#include <QStringList>

class QMainWindow;

// What Tuftmill remembers between runs, in the user's configuration folder
// ($XDG_CONFIG_HOME/Tuftmill/Tuftmill.conf): the window's place, the view's brush, the
// folder of the last model and the models opened last.
class AppSettings
{
public:
    static constexpr int MaxRecentModels = 10;

    AppSettings();

    // False when nothing was saved yet (the window keeps its first-start size).
    bool restoreWindow(QMainWindow &window) const;
    void saveWindow(const QMainWindow &window);

    // The view's brush; `fallback` where nothing was saved.
    int brushRadius(int fallback) const;
    int sprayRate(int fallback) const;
    void saveBrush(int radius, int rate);
    // "Paint density"'s graftals per square unit; `fallback` where nothing was saved.
    double brushDensity(double fallback) const;
    void saveBrushDensity(double density);

    QString lastModelFolder() const;
    // The newest first; at most MaxRecentModels, each once.
    QStringList recentModels() const;
    // `path` becomes the newest of the recent models, and its folder the last one.
    void rememberModel(const QString &path);
    // Forgets the recent models whose files are gone.
    void forgetMissingModels();

private:
    QSettings store;
};
