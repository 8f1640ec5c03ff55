#include "Configurator.h"

#include "Graftal.h"
#include "Logger.h"

#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QValidator>

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
