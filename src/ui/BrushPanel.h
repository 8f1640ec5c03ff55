#pragma once

#include "BrushSettings.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QSpinBox;
class QToolButton;

// The "Brush…" popup of the painter's second row: the presets, and the tip's shape and
// motion (hardness, smooth edge, taper, speed thins, smoothing). Size and opacity stay in
// the row itself.
class BrushPanel : public QWidget
{
    Q_OBJECT
public:
    explicit BrushPanel(QWidget *parent = nullptr);

    // Shows `brush` without signalling a change.
    void showBrush(const BrushSettings &brush);
    void listPresets(const QList<BrushPreset> &presets);
    // Takes what is typed into a box but not yet entered (the popup closing on Return).
    void commitTyping();

    QComboBox *presetBox() const { return presets; }
    QSpinBox *hardnessBox() const { return hardness; }
    QCheckBox *smoothEdgeBox() const { return smoothEdge; }
    QSpinBox *taperBox() const { return taper; }
    QCheckBox *speedThinsBox() const { return speedThins; }
    QSpinBox *smoothingBox() const { return smoothing; }

signals:
    // The shape or motion changed; size and opacity in `brush` are the last shown.
    void brushEdited(const BrushSettings &brush);
    void presetChosen(const BrushSettings &brush);
    void saveAsked(const QString &name);

private:
    void edited();
    void askName();

    BrushSettings shown;
    QList<BrushPreset> known;
    QComboBox *presets = nullptr;
    QToolButton *saveButton = nullptr;
    QSpinBox *hardness = nullptr;
    QCheckBox *smoothEdge = nullptr;
    QSpinBox *taper = nullptr;
    QCheckBox *speedThins = nullptr;
    QSpinBox *smoothing = nullptr;
};
