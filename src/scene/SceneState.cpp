// The painted state of a scene on disk: the background colour and every painted
// graftal, as "scenes/<model base name>.dat" in a big-endian data stream.
#include "Graftal.h"
#include "Logger.h"
#include "Scene.h"
#include "TreeManager.h"

#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cmath>

namespace {
constexpr qint64 HeaderSize = 15; // colour (11 bytes) and the record count
constexpr qint64 RecordSize = 24; // face index, graftal id, u, v

void prepare(QDataStream &stream)
{
    stream.setVersion(QDataStream::Qt_4_3);
    stream.setByteOrder(QDataStream::BigEndian);
    stream.setFloatingPointPrecision(QDataStream::DoublePrecision);
}
} // namespace

QString Scene::stateFileName() const
{
    return QStringLiteral("scenes/%1.dat").arg(QFileInfo(currentPath).baseName());
}

bool Scene::saveState()
{
    return saveStateTo(stateFileName());
}

bool Scene::stateFileIsOurs() const
{
    return ownsStateFile || !QFileInfo::exists(stateFileName());
}

bool Scene::saveStateTo(const QString &name)
{
    // A running stroke belongs to what is saved.
    if (strokeRunning())
        endStroke();
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly)) {
        logger->error(
            QStringLiteral("cannot write the scene state %1: %2").arg(name, file.errorString()));
        return false;
    }
    QDataStream stream(&file);
    prepare(stream);
    const std::vector<GraftalInstance *> list = collectInstances();
    stream << background << qint32(list.size());
    for (const GraftalInstance *instance : list)
        stream << qint32(instance->face()->faceIndex) << qint32(instance->graftal()->id())
               << double(instance->barycentric.x()) << double(instance->barycentric.y());
    if (stream.status() != QDataStream::Ok || !file.commit()) {
        logger->error(
            QStringLiteral("cannot write the scene state %1: %2").arg(name, file.errorString()));
        return false;
    }
    if (name == stateFileName()) {
        markSaved();
        ownsStateFile = true;
    }
    return true;
}

bool Scene::loadState()
{
    QString error;
    return loadStateFrom(stateFileName(), error);
}

bool Scene::loadStateFrom(const QString &name, QString &error, qint64 *recordCount,
                          qint64 *usedCount)
{
    // Records point at faces of the loaded model; without one they mean nothing.
    if (!isLoaded) {
        error = QStringLiteral("no model is loaded");
        return false;
    }
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError || bytes.size() < HeaderSize) {
        error = file.error() != QFileDevice::NoError
                    ? file.errorString()
                    : QStringLiteral("the file is cut short (%1 bytes)").arg(bytes.size());
        logger->warn(QStringLiteral("the scene state %1 is unreadable or cut short").arg(name));
        return false;
    }

    QDataStream stream(bytes);
    prepare(stream);
    QColor color;
    quint32 count = 0;
    stream >> color >> count;
    if (stream.status() != QDataStream::Ok) {
        error = QStringLiteral("the file is unreadable");
        logger->warn(QStringLiteral("the scene state %1 is unreadable").arg(name));
        return false;
    }
    // Never trust the count beyond what the file holds.
    const qint64 present = (bytes.size() - HeaderSize) / RecordSize;
    const qint64 records = std::min<qint64>(count, present);

    struct Record
    {
        const MeshFace *face;
        Graftal *graftal;
        QPointF uv;
    };
    std::vector<Record> accepted;
    accepted.reserve(size_t(records));
    TreeManager *library = TreeManager::instance();
    qint64 skipped = 0;
    for (qint64 i = 0; i < records; ++i) {
        qint32 faceIndex = 0, graftalId = 0;
        double u = 0.0, v = 0.0;
        stream >> faceIndex >> graftalId >> u >> v;
        if (stream.status() != QDataStream::Ok)
            break;
        Graftal *g = library->containsId(graftalId) ? library->graftalById(graftalId) : nullptr;
        const bool onModel = faceIndex >= 0 && faceIndex < faceCount();
        const bool onTriangle =
            std::isfinite(u) && std::isfinite(v) && u >= 0.0 && v >= 0.0 && u + v <= 1.0 + 1e-9;
        if (!g || !onModel || !onTriangle) {
            ++skipped;
            continue;
        }
        accepted.push_back({face(faceIndex), g, QPointF(u, v)});
    }
    if (skipped > 0 || qint64(count) > present)
        logger->warn(QStringLiteral("the scene state %1: %2 of %3 records could not be used")
                         .arg(name)
                         .arg(skipped + (qint64(count) - records))
                         .arg(count));

    // The file has been read: only now replace what is painted.
    clearInstances();
    if (color.isValid())
        background = color;
    for (const Record &r : accepted)
        addInstance(r.face, r.uv, r.graftal);
    allInstanceList = collectInstances();
    markSaved();
    if (name == stateFileName())
        ownsStateFile = true;
    if (recordCount)
        *recordCount = qint64(count);
    if (usedCount)
        *usedCount = qint64(accepted.size());
    return true;
}
