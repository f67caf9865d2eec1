#pragma once
// The panel of one tester channel: the input-voltage setting or, under manual control, the
// duty cycle in percent or the output in volts, each a slider coupled to a numeric field and
// written to the tester on every validation; the measured output voltage (number and bar) and
// current; and, on channel 1, the samples of the hysteresis sweep.
#include "uTamrelChannelHost.h"

#include <QColor>
#include <QFrame>
#include <QVariant>

#include <optional>

class QLabel;
class QProgressBar;
class QSlider;
class TFloatEdit;
class TColoredLineSeries;

class TFrameTamrelChannel : public QFrame {
    Q_OBJECT
public:
    TFrameTamrelChannel(ITamrelChannelHost *host, QWidget *parent = nullptr);

    void SetManualControl(bool manualControl, bool inVolts);
    // Names the numeric fields for screen readers from the panel's title and captions.
    void NameFields();
    // Shows a register value the engine has just stored, when RegNum is one of this panel's
    // registers; Value is the register's content as an integer, none when it is unknown (no
    // number): shown as the empty field or bar, never charted or written back.
    void OnReceivedRegister(quint8 regNum, std::optional<qint64> value);
    void DoRus();
    // The layout's English texts again.
    void DoEnglish();

    // Slider change events and the fields' validation handlers.
    void TrackBarVinChange();
    void TrackBarManualPWMChange();
    void TrackBarManualVoltsChange();
    void FloatEditSetupVinValidate();
    void FloatEditManualPWMValidate();
    void FloatEditManualVoltsValidate();

    // Components.
    QFrame *Panel1;
    QLabel *Label1;
    QFrame *PanelVinManual;
    QFrame *PanelVin;
    QSlider *TrackBarVin;
    TFloatEdit *FloatEditSetupVin;
    QLabel *Label3, *LabelSet, *Label5;
    QFrame *PanelManualPWM;
    QSlider *TrackBarManualPWM;
    TFloatEdit *FloatEditManualPWM;
    QLabel *LabelDutyCycle2, *LabelManualUnit;
    QFrame *PanelManualVolts;
    QSlider *TrackBarManualVolts;
    TFloatEdit *FloatEditManualVolts;
    QLabel *LabelDutyCycle, *Label12;
    QFrame *Panel4;
    QLabel *Label4, *LabelMeasured, *Label6, *LabelVout;
    TFloatEdit *FloatEditPosition;
    QProgressBar *ProgressBarVout;
    QLabel *LabelCurrent, *Label8, *LabelCur;
    TFloatEdit *FloatEditCurrent;

    // Register numbers, series and colours; filled in by the main window once.
    quint8 regPosition = 0;
    quint8 regCurrent = 0;
    quint8 regSetupVin = 0;
    quint8 regManualControlPWM = 0;
    quint8 regManualControlVolts = 0;
    bool SkipTrackBarOnChange = false;
    TColoredLineSeries *SeriesHyst = nullptr; // not owned
    // Set on the panel whose duty the hysteresis sweep drives. While a sweep runs, the sweep
    // alone sets that duty: a polled duty reading may have been asked for before the step's
    // write and would show the previous duty, so the sample would be plotted at the wrong
    // duty and the step measured twice. Such readings are not shown during a sweep.
    bool SweepDrivesDuty = false;
    QColor BackwardColor;
    // A sample of the hysteresis sweep on SeriesHyst: the rising branch in the series colour,
    // the falling one in BackwardColor.
    void AddSweepPoint(const TTestRecordPoint &point);
    quint32 TimerShowPosition = 0; // tick of the last read-out refresh
    // The read-out of the measured voltage is refreshed at most this often.
    static constexpr quint32 ShowPositionIntervalMs = 200;

private:
    void WriteRegister(quint8 regNum, const QVariant &value);
    // Shows a received setting (register value / Scale) in its field, or keeps it there while
    // the user is typing into the field.
    void ShowReceivedSetting(TFloatEdit *edit, std::optional<qint64> value, int scale);
    static bool HoldsValue(TFloatEdit *edit);
    void BuildLayout();

    ITamrelChannelHost *FHost;
    // True while a received value is being shown by the panel itself (also after the window's
    // own guard has ended, when a kept value is shown at the end of the user's edit).
    bool FShowingReceived = false;
};
