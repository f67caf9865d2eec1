#include "uDialogTestLimits.h"

#include "CompFloatEdit.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

// A limit's field: a number in a range, or empty for no limit.
TFloatEdit *NewLimitEdit(QWidget *parent, const QString &name, long double max, int decimals,
                         const std::optional<double> &value) {
    auto *e = new TFloatEdit(parent);
    e->setObjectName(name);
    e->SetIntegerMode(false);
    e->SetMinValueFloat(0);
    e->SetMaxValueFloat(max);
    e->SetPrecisionDigits(10, decimals);
    e->SetIncrementSM(0.01L);
    e->SetIncrement(0.1L);
    e->SetIncrementPg(1);
    e->SetEnableEmpty(true);
    e->SetAutoCorretion(true);
    // Shows the value, or the empty text for no limit.
    e->SetValueVar(value ? QVariant(*value) : QVariant());
    return e;
}

std::optional<double> LimitOf(TFloatEdit *edit) {
    edit->Validate(true, false);
    const QVariant value = edit->ValueVar();
    if (!value.isValid() || value.isNull()) return std::nullopt;
    return value.toDouble();
}

} // namespace

TDialogTestLimits::TDialogTestLimits(const QString &pumpType, const QString &headType,
                                     const TTestLimits &limits, QWidget *parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("DialogTestLimits"));
    setWindowTitle(QStringLiteral("Hysteresis limits"));
    auto *layout = new QVBoxLayout(this);
    LabelTypes = new QLabel(QStringLiteral("Limits for pump type %1, %2 head. An empty field sets no limit.")
                                .arg(pumpType.isEmpty() ? QStringLiteral("(none)") : pumpType,
                                     headType.isEmpty() ? QStringLiteral("(no type)") : headType.toLower()),
                            this);
    LabelTypes->setObjectName(QStringLiteral("LabelTypes"));
    LabelTypes->setWordWrap(true);
    layout->addWidget(LabelTypes);
    auto *form = new QFormLayout;
    FloatEditMaxHystVolts =
        NewLimitEdit(this, QStringLiteral("FloatEditMaxHystVolts"), 5, 3, limits.MaxHysteresisVolts);
    FloatEditMaxHystPercent =
        NewLimitEdit(this, QStringLiteral("FloatEditMaxHystPercent"), 100, 1, limits.MaxHysteresisPercent);
    FloatEditMinSpanVolts =
        NewLimitEdit(this, QStringLiteral("FloatEditMinSpanVolts"), 5, 3, limits.MinSpanVolts);
    form->addRow(QStringLiteral("Max hysteresis (V):"), FloatEditMaxHystVolts);
    form->addRow(QStringLiteral("Max hysteresis (% of span):"), FloatEditMaxHystPercent);
    form->addRow(QStringLiteral("Min span (V):"), FloatEditMinSpanVolts);
    layout->addLayout(form);
    ButtonBox = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    ButtonBox->setObjectName(QStringLiteral("ButtonBox"));
    connect(ButtonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ButtonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(ButtonBox);
}

TTestLimits TDialogTestLimits::Limits() {
    return {LimitOf(FloatEditMaxHystVolts), LimitOf(FloatEditMaxHystPercent), LimitOf(FloatEditMinSpanVolts)};
}
