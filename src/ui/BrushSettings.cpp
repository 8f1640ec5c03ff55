#include "BrushSettings.h"

#include <QSettings>
#include <algorithm>

namespace {
const QString BrushGroup = QStringLiteral("painter/brush");
const QString PresetArray = QStringLiteral("painter/presets");
const QString MirrorKey = QStringLiteral("painter/mirror");

BrushSettings read(QSettings &s)
{
    const BrushSettings d;
    BrushSettings b;
    b.size = s.value(QStringLiteral("size"), d.size).toInt();
    b.opacity = s.value(QStringLiteral("opacity"), d.opacity).toInt();
    b.hardness = s.value(QStringLiteral("hardness"), d.hardness).toInt();
    b.smoothEdge = s.value(QStringLiteral("smoothEdge"), d.smoothEdge).toBool();
    b.taper = s.value(QStringLiteral("taper"), d.taper).toInt();
    b.speedThins = s.value(QStringLiteral("speedThins"), d.speedThins).toBool();
    b.smoothing = s.value(QStringLiteral("smoothing"), d.smoothing).toInt();
    return b.clamped();
}

void write(QSettings &s, const BrushSettings &b)
{
    s.setValue(QStringLiteral("size"), b.size);
    s.setValue(QStringLiteral("opacity"), b.opacity);
    s.setValue(QStringLiteral("hardness"), b.hardness);
    s.setValue(QStringLiteral("smoothEdge"), b.smoothEdge);
    s.setValue(QStringLiteral("taper"), b.taper);
    s.setValue(QStringLiteral("speedThins"), b.speedThins);
    s.setValue(QStringLiteral("smoothing"), b.smoothing);
}

// The presets saved by the user, without the shipped ones.
QList<BrushPreset> readSaved(QSettings &s)
{
    QList<BrushPreset> saved;
    const int n = s.beginReadArray(PresetArray);
    for (int i = 0; i < n; ++i) {
        s.setArrayIndex(i);
        const QString name = s.value(QStringLiteral("name")).toString().trimmed();
        if (!name.isEmpty())
            saved.append({name, read(s)});
    }
    s.endArray();
    return saved;
}
} // namespace

BrushSettings BrushSettings::clamped() const
{
    BrushSettings b = *this;
    b.size = std::clamp(size, 1, 100);
    b.opacity = std::clamp(opacity, 1, 100);
    b.hardness = std::clamp(hardness, 0, 100);
    b.taper = std::clamp(taper, 0, 100);
    b.smoothing = std::clamp(smoothing, 0, 100);
    return b;
}

BrushSettings BrushSettings::load(QSettings &settings)
{
    settings.beginGroup(BrushGroup);
    const BrushSettings b = read(settings);
    settings.endGroup();
    return b;
}

void BrushSettings::save(QSettings &settings) const
{
    settings.beginGroup(BrushGroup);
    write(settings, clamped());
    settings.endGroup();
}

namespace brushpresets {
QList<BrushPreset> shipped()
{
    // size, opacity, hardness, smooth edge, taper, speed thins, smoothing
    return {{QStringLiteral("Hard pen"), BrushSettings{}},
            {QStringLiteral("Soft airbrush"), BrushSettings{60, 25, 0, true, 0, false, 20}},
            {QStringLiteral("Tapered blade"), BrushSettings{24, 100, 85, true, 45, false, 40}},
            {QStringLiteral("Ink"), BrushSettings{8, 100, 90, true, 15, true, 30}}};
}

QList<BrushPreset> load(QSettings &settings)
{
    QList<BrushPreset> all = shipped();
    for (const BrushPreset &p : readSaved(settings)) {
        auto same = std::find_if(all.begin(), all.end(),
                                 [&](const BrushPreset &q) { return q.name == p.name; });
        if (same != all.end())
            same->brush = p.brush;
        else
            all.append(p);
    }
    return all;
}

void save(QSettings &settings, const QString &name, const BrushSettings &brush)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return;
    QList<BrushPreset> saved = readSaved(settings);
    auto same = std::find_if(saved.begin(), saved.end(),
                             [&](const BrushPreset &q) { return q.name == trimmed; });
    if (same != saved.end())
        same->brush = brush.clamped();
    else
        saved.append({trimmed, brush.clamped()});
    settings.remove(PresetArray);
    settings.beginWriteArray(PresetArray, int(saved.size()));
    for (int i = 0; i < saved.size(); ++i) {
        settings.setArrayIndex(i);
        settings.setValue(QStringLiteral("name"), saved[i].name);
        write(settings, saved[i].brush);
    }
    settings.endArray();
}
} // namespace brushpresets

namespace brushmirror {
bool load(QSettings &settings)
{
    return settings.value(MirrorKey, false).toBool();
}

void save(QSettings &settings, bool on)
{
    settings.setValue(MirrorKey, on);
}
} // namespace brushmirror
