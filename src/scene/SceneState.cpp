// The painted state of a scene on disk: the background colour and every painted
// graftal, as "scenes/<model base name>.dat" in a big-endian data stream.
#include "Graftal.h"
#include "GraftalLookup.h"
#include "Logger.h"
#include "SafeFile.h"
#include "Scene.h"

#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <cmath>

namespace {
constexpr qint64 HeaderSize = 15; // colour (11 bytes) and the record count
constexpr qint64 RecordSize = 24; // face index, graftal id, u, v
// Four graftals on every face the largest model can have.
constexpr qint64 MaxRecords = qint64(16777215) * 4;

// One painted graftal as the file holds it.
struct StoredRecord
{
    qint32 faceIndex = 0;
    qint32 graftalId = 0;
    double u = 0.0;
    double v = 0.0;
};

QDataStream &operator>>(QDataStream &stream, StoredRecord &r)
{
    return stream >> r.faceIndex >> r.graftalId >> r.u >> r.v;
}

void prepare(QDataStream &stream)
{
    stream.setVersion(QDataStream::Qt_4_3);
    stream.setByteOrder(QDataStream::BigEndian);
    stream.setFloatingPointPrecision(QDataStream::DoublePrecision);
}
} // namespace

QString Scene::stateFileName() const
{
    // Named after the model's whole name without its last extension: "torus.v2.3ds" and
    // "torus.3ds" keep their graftals apart.
    return QStringLiteral("scenes/%1.dat").arg(QFileInfo(currentPath).completeBaseName());
}

bool Scene::saveState()
{
    return saveStateTo(stateFileName());
}

bool Scene::stateFileIsOurs() const
{
    return ownsStateFile || !safefile::exists(stateFileName());
}

bool Scene::saveStateTo(const QString &name)
{
    // A running stroke belongs to what is saved.
    if (strokeRunning())
        endStroke();
    lastStateError.clear();
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    prepare(stream);
    const std::vector<GraftalInstance *> list = collectInstances();
    stream << background << qint32(list.size());
    for (const GraftalInstance *instance : list)
        stream << qint32(instance->face()->faceIndex) << qint32(instance->graftal()->id())
               << double(instance->barycentric.x()) << double(instance->barycentric.y());
    QString why;
    if (stream.status() != QDataStream::Ok || !safefile::write(name, bytes, why)) {
        lastStateError = why.isEmpty() ? QStringLiteral("the scene could not be encoded") : why;
        logger->error(
            QStringLiteral("cannot write the scene state %1: %2").arg(name, lastStateError));
        return false;
    }
    if (name == stateFileName()) {
        markSaved();
        ownsStateFile = true;
    }
    return true;
}

bool Scene::stateFileFitsModel(QString &why) const
{
    const QString name = stateFileName();
    QByteArray bytes;
    if (!safefile::exists(name) ||
        !safefile::read(name, HeaderSize + RecordSize * MaxRecords, bytes, why))
        return true; // nothing there to replace, or nothing that could be read as a scene
    const qint64 records = (bytes.size() - HeaderSize) / RecordSize;
    QDataStream stream(bytes);
    prepare(stream);
    stream.skipRawData(int(HeaderSize));
    qint64 elsewhere = 0;
    for (qint64 i = 0; i < records; ++i) {
        StoredRecord r;
        stream >> r;
        if (r.faceIndex < 0 || r.faceIndex >= faceCount())
            ++elsewhere;
    }
    if (elsewhere == 0)
        return true;
    why = QStringLiteral("%1 of its %2 graftals stand on faces %3 does not have")
              .arg(elsewhere)
              .arg(records)
              .arg(QFileInfo(currentPath).fileName());
    return false;
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
    QByteArray bytes;
    if (!safefile::read(name, HeaderSize + RecordSize * MaxRecords, bytes, error)) {
        logger->warn(QStringLiteral("the scene state %1 is not read: %2").arg(name, error));
        return false;
    }
    if (bytes.size() < HeaderSize) {
        error = QStringLiteral("the file is cut short (%1 bytes)").arg(bytes.size());
        logger->warn(QStringLiteral("the scene state %1 is cut short").arg(name));
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
    // A scene file is its header and exactly its records: anything else (a text file, a
    // file of another kind) is not one, and replaces nothing that is painted.
    const qint8 spec = qint8(bytes.at(0));
    const qint64 present = (bytes.size() - HeaderSize) / RecordSize;
    if (spec < 0 || spec > 5 || qint64(count) > MaxRecords ||
        bytes.size() != HeaderSize + RecordSize * qint64(count)) {
        error = QStringLiteral("it is not a scene file (%1 bytes, which do not fit a colour and %2 "
                               "records)")
                    .arg(bytes.size())
                    .arg(count);
        logger->warn(QStringLiteral("the scene state %1 is refused: %2").arg(name, error));
        return false;
    }
    const qint64 records = std::min<qint64>(count, present);

    struct Record
    {
        const MeshFace *face;
        Graftal *graftal;
        QPointF uv;
    };
    std::vector<Record> accepted;
    accepted.reserve(size_t(records));

    qint64 skipped = 0;
    for (qint64 i = 0; i < records; ++i) {
        StoredRecord r;
        stream >> r;
        if (stream.status() != QDataStream::Ok)
            break;
        const qint32 faceIndex = r.faceIndex, graftalId = r.graftalId;
        const double u = r.u, v = r.v;
        Graftal *g = graftals && graftals->containsId(graftalId) ? graftals->graftalById(graftalId)
                                                                 : nullptr;
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
