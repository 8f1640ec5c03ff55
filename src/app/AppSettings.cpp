#include "AppSettings.h"

#include <QFileInfo>
#include <QMainWindow>
#include <cmath>

namespace {
const QString Geometry = QStringLiteral("window/geometry");
const QString State = QStringLiteral("window/state");
const QString Radius = QStringLiteral("view/brushRadius");
const QString Rate = QStringLiteral("view/sprayRate");
const QString Density = QStringLiteral("view/brushDensity");
const QString Folder = QStringLiteral("models/lastFolder");
const QString Recent = QStringLiteral("models/recent");
} // namespace

AppSettings::AppSettings()
    : store(QStringLiteral("Tuftmill"), QStringLiteral("Tuftmill"))
{
}

bool AppSettings::restoreWindow(QMainWindow &window) const
{
    const QByteArray geometry = store.value(Geometry).toByteArray();
    if (geometry.isEmpty() || !window.restoreGeometry(geometry))
        return false;
    window.restoreState(store.value(State).toByteArray());
    return true;
}

void AppSettings::saveWindow(const QMainWindow &window)
{
    store.setValue(Geometry, window.saveGeometry());
    store.setValue(State, window.saveState());
}

int AppSettings::brushRadius(int fallback) const
{
    bool ok = false;
    const int value = store.value(Radius).toInt(&ok);
    return ok && value > 0 ? value : fallback;
}

int AppSettings::sprayRate(int fallback) const
{
    bool ok = false;
    const int value = store.value(Rate).toInt(&ok);
    return ok && value > 0 ? value : fallback;
}

void AppSettings::saveBrush(int radius, int rate)
{
    store.setValue(Radius, radius);
    store.setValue(Rate, rate);
}

double AppSettings::brushDensity(double fallback) const
{
    bool ok = false;
    const double value = store.value(Density).toDouble(&ok);
    return ok && std::isfinite(value) && value >= 0.0 ? value : fallback;
}

void AppSettings::saveBrushDensity(double density)
{
    store.setValue(Density, density);
}

QString AppSettings::lastModelFolder() const
{
    const QString folder = store.value(Folder).toString();
    return QFileInfo(folder).isDir() ? folder : QString();
}

QStringList AppSettings::recentModels() const
{
    QStringList models = store.value(Recent).toStringList();
    models.removeAll(QString());
    models.removeDuplicates();
    return models.mid(0, MaxRecentModels);
}

void AppSettings::rememberModel(const QString &path)
{
    const QFileInfo file(path);
    const QString absolute = file.absoluteFilePath();
    QStringList models = recentModels();
    models.removeAll(absolute);
    models.prepend(absolute);
    store.setValue(Recent, models.mid(0, MaxRecentModels));
    store.setValue(Folder, file.absolutePath());
}

void AppSettings::forgetMissingModels()
{
    QStringList models = recentModels();
    models.removeIf([](const QString &m) { return !QFileInfo::exists(m); });
    store.setValue(Recent, models);
}
