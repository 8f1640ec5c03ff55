#pragma once

#include <QTabWidget>
#include <memory>

class Graftal;
class Logger;
class QDoubleSpinBox;
class QLineEdit;

// The "General" tab that edits the selected graftal's name, base size and variation (how
// far its instances differ: size, tint, lean, width, each ±). Edits are committed when the
// field is left or Return is pressed.
class Configurator : public QTabWidget
{
    Q_OBJECT
public:
    explicit Configurator(QWidget *parent = nullptr);
    ~Configurator() override;

    // Builds the tab; called once, right after construction.
    void setupTabs();

    QLineEdit *nameField() const { return nameEdit; }
    QDoubleSpinBox *baseSizeField() const { return baseSizeSpin; }
    // The variation's fields: size, width and the tint's value in per cent, lean and the
    // tint's hue in degrees.
    QDoubleSpinBox *sizeVariationField() const { return sizeSpin; }
    QDoubleSpinBox *valueVariationField() const { return valueSpin; }
    QDoubleSpinBox *hueVariationField() const { return hueSpin; }
    QDoubleSpinBox *leanField() const { return leanSpin; }
    QDoubleSpinBox *widthVariationField() const { return widthSpin; }
    Graftal *currentGraftal() const { return graftal; }

signals:
    void configurationChanged(Graftal *g);

public slots:
    void graftalSelected(Graftal *g);
    void graftalNameChanged();
    void baseSizeChanged();
    void variationChanged();

private:
    std::unique_ptr<Logger> logger;
    QWidget *page = nullptr;
    QLineEdit *nameEdit = nullptr;
    QDoubleSpinBox *baseSizeSpin = nullptr;
    QDoubleSpinBox *sizeSpin = nullptr, *valueSpin = nullptr, *hueSpin = nullptr,
                   *leanSpin = nullptr, *widthSpin = nullptr;
    Graftal *graftal = nullptr;
};
