#include "Configurator.h"

#include "Graftal.h"
#include "Logger.h"

#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

Configurator::Configurator(QWidget *parent)
    : QTabWidget(parent), logger(std::make_unique<Logger>(QStringLiteral("app.ui.configurator")))
{
}

Configurator::~Configurator() = default;

void Configurator::setupTabs()
{
    page = new QWidget(this);
    auto *box = new QGroupBox(QStringLiteral("Properties"), page);
    auto *grid = new QGridLayout(box);
    nameEdit = new QLineEdit(box);
    baseSizeSpin = new QDoubleSpinBox(box);
    grid->addWidget(new QLabel(QStringLiteral("Graftal name"), box), 0, 0);
    grid->addWidget(nameEdit, 0, 1, 1, 4);
    grid->addWidget(new QLabel(QStringLiteral("Base size"), box), 1, 0);
    grid->addWidget(baseSizeSpin, 1, 1);
    grid->setAlignment(Qt::AlignTop);
    baseSizeSpin->setRange(0.05, 20.0);
    baseSizeSpin->setDecimals(2);
    baseSizeSpin->setSingleStep(0.05);
    connect(nameEdit, &QLineEdit::editingFinished, this, &Configurator::graftalNameChanged);
    connect(baseSizeSpin, &QDoubleSpinBox::editingFinished, this, &Configurator::baseSizeChanged);
    auto *pageLayout = new QGridLayout(page);
    pageLayout->addWidget(box, 0, 0);
    addTab(page, QStringLiteral("General"));
}

void Configurator::graftalSelected(Graftal *g)
{
    graftal = g;
    nameEdit->clear();
    if (!g)
        return;
    nameEdit->insert(g->name());
    baseSizeSpin->setValue(g->baseSize());
}

void Configurator::graftalNameChanged()
{
    // Nothing to write to before a graftal is selected.
    if (!graftal)
        return;
    graftal->setName(nameEdit->text());
    emit configurationChanged(graftal);
}

void Configurator::baseSizeChanged()
{
    if (!graftal)
        return;
    graftal->setBaseSize(baseSizeSpin->value());
    emit configurationChanged(graftal);
}
