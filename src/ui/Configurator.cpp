#include "Configurator.h"

#include "Graftal.h"
#include "Logger.h"

#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QValidator>
#include <cmath>

namespace {
// Refuses control characters (typed, pasted or dropped) in a graftal's name: the name
// is stored in XML and shown in one line.
class NameValidator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString &input, int &) const override
    {
        for (const QChar c : std::as_const(input))
            if (c.category() == QChar::Other_Control || c.unicode() == 0xfffe ||
                c.unicode() == 0xffff)
                return Invalid;
        return Acceptable;
    }
};
} // namespace

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
    nameEdit->setValidator(new NameValidator(nameEdit));
    baseSizeSpin = new QDoubleSpinBox(box);
    grid->addWidget(new QLabel(QStringLiteral("Graftal name"), box), 0, 0);
    grid->addWidget(nameEdit, 0, 1, 1, 4);
    grid->addWidget(new QLabel(QStringLiteral("Base size"), box), 1, 0);
    grid->addWidget(baseSizeSpin, 1, 1);
    grid->setAlignment(Qt::AlignTop);
    baseSizeSpin->setRange(0.05, 20.0);
    baseSizeSpin->setDecimals(2);
    baseSizeSpin->setSingleStep(0.05);
    // The variation, below the base size: ± amounts, none to start with.
    const auto amount = [&](int row, int column, const QString &label, double most,
                            const QString &suffix, const QString &tip) {
        auto *spin = new QDoubleSpinBox(box);
        spin->setRange(0.0, most);
        spin->setDecimals(1);
        spin->setSingleStep(suffix == QLatin1String(" %") ? 5.0 : 1.0);
        spin->setPrefix(column == 1 ? QStringLiteral("± ") : QStringLiteral("hue ± "));
        spin->setSuffix(suffix);
        spin->setToolTip(tip);
        if (!label.isEmpty())
            grid->addWidget(new QLabel(label, box), row, column - 1);
        grid->addWidget(spin, row, column);
        connect(spin, &QDoubleSpinBox::editingFinished, this, &Configurator::variationChanged);
        return spin;
    };
    const QString percent = QStringLiteral(" %"), degrees = QStringLiteral(" °");
    sizeSpin = amount(2, 1, QStringLiteral("Size variation"), 100 * GraftalVariation::MaxSize,
                      percent, QStringLiteral("How much larger or smaller each instance may be"));
    valueSpin = amount(3, 1, QStringLiteral("Tint variation"), 100 * GraftalVariation::MaxValue,
                       percent, QStringLiteral("How much lighter or darker each instance may be"));
    hueSpin = amount(3, 2, QString(), GraftalVariation::MaxHue, degrees,
                     QStringLiteral("How far round the colour wheel each instance's hue may turn"));
    leanSpin = amount(4, 1, QStringLiteral("Lean"), GraftalVariation::MaxLean, degrees,
                      QStringLiteral("How far each instance may tilt away from the surface normal"));
    widthSpin = amount(5, 1, QStringLiteral("Width variation"), 100 * GraftalVariation::MaxWidth,
                       percent, QStringLiteral("How much wider or narrower each instance may be"));
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
    // Shown exactly as it is, blanks included; a name that came from elsewhere with a
    // character the field refuses is shown too and stays unchanged unless edited.
    nameEdit->setText(g->name());
    baseSizeSpin->setValue(g->baseSize());
    const GraftalVariation &v = g->variation();
    sizeSpin->setValue(100 * v.size);
    valueSpin->setValue(100 * v.value);
    hueSpin->setValue(v.hue);
    leanSpin->setValue(v.lean);
    widthSpin->setValue(100 * v.width);
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

void Configurator::variationChanged()
{
    if (!graftal)
        return;
    GraftalVariation v;
    v.size = sizeSpin->value() / 100;
    v.value = valueSpin->value() / 100;
    v.hue = hueSpin->value();
    v.lean = leanSpin->value();
    v.width = widthSpin->value() / 100;
    // The fields show a tenth of a per cent or degree: an amount read from a file with more
    // digits stays as it is unless its field was changed.
    const GraftalVariation &was = graftal->variation();
    const auto keep = [](double &now, double before, double shown) {
        if (std::round(now * shown * 10) == std::round(before * shown * 10))
            now = before;
    };
    keep(v.size, was.size, 100);
    keep(v.value, was.value, 100);
    keep(v.hue, was.hue, 1);
    keep(v.lean, was.lean, 1);
    keep(v.width, was.width, 100);
    if (v == was)
        return;
    graftal->setVariation(v);
    emit configurationChanged(graftal);
}
