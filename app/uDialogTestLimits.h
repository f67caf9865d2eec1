#pragma once
// The limits a head of one pump type and head type must meet in the hysteresis test: the
// maximum hysteresis in volts and in percent of the span, and the minimum span. An empty
// field sets no limit.
#include "uTestLimits.h"

#include <QDialog>

class QDialogButtonBox;
class QLabel;
class TFloatEdit;

class TDialogTestLimits : public QDialog {
    Q_OBJECT
public:
    TDialogTestLimits(const QString &pumpType, const QString &headType, const TTestLimits &limits,
                      QWidget *parent = nullptr);

    // The limits as the fields show them.
    TTestLimits Limits();

    QLabel *LabelTypes;
    TFloatEdit *FloatEditMaxHystVolts;
    TFloatEdit *FloatEditMaxHystPercent;
    TFloatEdit *FloatEditMinSpanVolts;
    QDialogButtonBox *ButtonBox;
};
