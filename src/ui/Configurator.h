#pragma once

#include <QTabWidget>
#include <memory>

class Graftal;
class Logger;
class QDoubleSpinBox;
class QLineEdit;

// The "General" tab that edits the selected graftal's name and base size. Edits are
// committed when the field is left or Return is pressed.
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
    Graftal *currentGraftal() const { return graftal; }

signals:
    void configurationChanged(Graftal *g);

public slots:
    void graftalSelected(Graftal *g);
    void graftalNameChanged();
    void baseSizeChanged();

private:
    std::unique_ptr<Logger> logger;
    QWidget *page = nullptr;
    QLineEdit *nameEdit = nullptr;
    QDoubleSpinBox *baseSizeSpin = nullptr;
    Graftal *graftal = nullptr;
};
