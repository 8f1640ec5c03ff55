#include "BrushPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QToolButton>

namespace {
QSpinBox *numberBox(QWidget *owner, const QString &name, const QString &tip,
                    const QString &suffix)
{
    auto *box = new QSpinBox(owner);
    box->setRange(0, 100);
    box->setSuffix(suffix);
    box->setAccessibleName(name);
    box->setToolTip(tip);
    box->setKeyboardTracking(false);
    return box;
}
} // namespace

BrushPanel::BrushPanel(QWidget *parent) : QWidget(parent)
{
    auto *form = new QFormLayout(this);
    form->setContentsMargins(8, 6, 8, 6);
    form->setVerticalSpacing(4);
    presets = new QComboBox(this);
    presets->setAccessibleName(QStringLiteral("Brush preset"));
    presets->setToolTip(QStringLiteral("Take every brush choice of a preset"));
    saveButton = new QToolButton(this);
    saveButton->setText(QStringLiteral("Save…"));
    saveButton->setToolTip(QStringLiteral("Save the current brush as a preset"));
    auto *presetRow = new QHBoxLayout;
    presetRow->addWidget(presets, 1);
    presetRow->addWidget(saveButton);
    form->addRow(QStringLiteral("Preset"), presetRow);

    hardness = numberBox(this, QStringLiteral("Hardness"),
                         QStringLiteral("100 % a hard tip; lower, its edge fades from the centre"),
                         QStringLiteral(" %"));
    smoothEdge = new QCheckBox(QStringLiteral("Smooth edge"), this);
    smoothEdge->setToolTip(QStringLiteral("A softened, antialiased rim on the tip"));
    taper = numberBox(this, QStringLiteral("Taper"),
                      QStringLiteral("Share of the stroke's length over which each end narrows "
                                     "to a point"),
                      QStringLiteral(" %"));
    speedThins = new QCheckBox(QStringLiteral("Speed thins"), this);
    speedThins->setToolTip(QStringLiteral("A fast mouse stroke draws thinner, as light pressure"));
    smoothing = numberBox(this, QStringLiteral("Smoothing"),
                          QStringLiteral("The line trails the pointer on a string, so a shaky "
                                         "hand draws a clean curve"),
                          QString());
    form->addRow(QStringLiteral("Hardness"), hardness);
    form->addRow(QString(), smoothEdge);
    form->addRow(QStringLiteral("Taper"), taper);
    form->addRow(QString(), speedThins);
    form->addRow(QStringLiteral("Smoothing"), smoothing);

    for (QSpinBox *box : {hardness, taper, smoothing})
        connect(box, &QSpinBox::valueChanged, this, &BrushPanel::edited);
    for (QCheckBox *box : {smoothEdge, speedThins})
        connect(box, &QCheckBox::toggled, this, &BrushPanel::edited);
    connect(presets, &QComboBox::activated, this, [this](int i) {
        if (i >= 0 && i < known.size())
            emit presetChosen(known.at(i).brush);
    });
    connect(saveButton, &QToolButton::clicked, this, &BrushPanel::askName);
}

void BrushPanel::showBrush(const BrushSettings &brush)
{
    shown = brush;
    const QSignalBlocker a(hardness), b(smoothEdge), c(taper), d(speedThins), e(smoothing);
    hardness->setValue(brush.hardness);
    smoothEdge->setChecked(brush.smoothEdge);
    taper->setValue(brush.taper);
    speedThins->setChecked(brush.speedThins);
    smoothing->setValue(brush.smoothing);
    // The preset the brush is, if it is one.
    const QSignalBlocker f(presets);
    int match = -1;
    for (int i = 0; i < known.size() && match < 0; ++i)
        if (known.at(i).brush == brush)
            match = i;
    presets->setCurrentIndex(match);
}

void BrushPanel::listPresets(const QList<BrushPreset> &list)
{
    known = list;
    {
        const QSignalBlocker block(presets);
        presets->clear();
        for (const BrushPreset &p : list)
            presets->addItem(p.name);
    }
    showBrush(shown);
}

void BrushPanel::commitTyping()
{
    for (QSpinBox *box : {hardness, taper, smoothing})
        box->interpretText();
}

void BrushPanel::edited()
{
    BrushSettings b = shown;
    b.hardness = hardness->value();
    b.smoothEdge = smoothEdge->isChecked();
    b.taper = taper->value();
    b.speedThins = speedThins->isChecked();
    b.smoothing = smoothing->value();
    emit brushEdited(b);
}

void BrushPanel::askName()
{
    bool ok = false;
    const QString name = QInputDialog::getText(this, QStringLiteral("Save brush preset"),
                                               QStringLiteral("Name of the preset:"),
                                               QLineEdit::Normal, presets->currentText(), &ok)
                             .trimmed();
    if (ok && !name.isEmpty())
        emit saveAsked(name);
}
