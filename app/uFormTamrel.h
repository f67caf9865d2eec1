#pragma once
// The tester application's main window: it embeds the device link, creates a protocol engine
// for every connection, polls the tester's setting registers every 500 ms, shows what the
// tester reports in the two channel panels, writes the user's settings, draws channel 1's
// position chart, runs the hysteresis sweep and saves chart screenshots.
#include "uFormTamrelRegisters.h"
#include "uKvProtocol.h"
#include "uTamrelChannelHost.h"
#include "uTamrelRequestChains.h"

#include <QIcon>
#include <QMainWindow>
#include <QVector>

#include <array>

class QAction;
class QCPGraph;
class QCheckBox;
class QCustomPlot;
class QLabel;
class QMenu;
class QPushButton;
class QTabWidget;
class QTimer;
class QToolButton;
class TBalloonHint;
class TColoredLineSeries;
class TFloatEdit;
class TFormTestHistory;
class TFrameDeviceLinkComMorva;
class TFrameTamrelChannel;
class TRadioGroup;

class TFormTamrel : public QMainWindow, public ITamrelChannelHost {
    Q_OBJECT
public:
    explicit TFormTamrel(QWidget *parent = nullptr);
    ~TFormTamrel() override;

    // ---- Link, engine and polling ----
    void OnDeviceLinkStartStop(IDeviceLink *senderDeviceLink, TDeviceLinkEvent deviceLinkEvent,
                               bool connectionLost);
    void SetUpdateRegisters(bool doUpdate);
    void TimerUpdateRegistersTimer();
    void OnReceivedRegister(TKvProtocol *senderKvProtocol, quint8 regNum);
    // The register numbers one polling tick queues, in their order.
    QVector<quint8> PolledRegisters() const;
    // Name under which connection engines publish their registers to the companion scope;
    // empty (the default): none.
    QString ScopeBridgeName;

    // ---- User settings ----
    void RadioGroupPumpTypeClick();
    void RadioGroupResistiveHeadClick();
    void sSpeedButtonManualControlClick();
    void NManualInVoltClick();
    void CheckBoxAutoStartStopClick();
    void CheckBoxPannelsLikeButtonsClick();

    // ---- Charts and the hysteresis sweep ----
    void sCheckBoxPositionFastClick();
    void ButtonStartStopClick();
    void TimerDrawChartHystTimer();

    // ---- Screenshots and texts ----
    // Saves the chart area as a PNG file in the screenshot folder and shows where it went;
    // returns the file's path. Throws std::runtime_error when the file cannot be written.
    QString ButtonSaveWindowClick();
    // Opens the firmware window for this window's link, without blocking this window.
    void ButtonUpdateFirmwareClick();
    // Opens the history of stored test records, without blocking this window; created on first use.
    void ButtonTestHistoryClick();
    TFormTestHistory *FormTestHistory = nullptr;
    // The folder screenshots go to: the executable's folder unless set otherwise.
    QString ScreenshotFolder() const;
    void SetScreenshotFolder(const QString &folder) { FScreenshotFolder = folder; }
    void DoRus();
    // The balloon at the sweep's Start when there is no connection, in the window's language.
    QString TextSweepNotConnected = QStringLiteral("Not connected: connect to the device first");

    // The link the window works with; tests may put another IDeviceLink in its place.
    IDeviceLink *Link() const;
    void SetLinkForTest(IDeviceLink *aLink) { FTestLink = aLink; }

    // ITamrelChannelHost
    bool LinkConnected() override;
    TKvProtocol *LinkProtocol() override;
    bool SkipWrites() const override { return SkipWriteRegister; }
    TDiagramMode CurrentDiagramMode() const override { return DiagramMode; }

    // ---- Components ----
    QWidget *sPanelLink;
    QLabel *LabelFindAndConnect;
    TFrameDeviceLinkComMorva *DeviceLink;
    QLabel *LabelManualControl;
    QToolButton *sSpeedButtonManualControl;
    QMenu *PopupMenuManualInPercent;
    QAction *NManualInPercent;
    QAction *NManualInVolt;
    QAction *CheckBoxAutoStartStop;
    QPushButton *ButtonUpdateFirmware;
    QPushButton *ButtonTestHistory;
    QWidget *sPanelMain;
    QWidget *sPanelHeadType;
    QLabel *LabePanelHeadType;
    TRadioGroup *RadioGroupPumpType;
    TRadioGroup *RadioGroupResistiveHead;
    QWidget *PanelTemperature;
    QLabel *LabelHeadTemperature;
    QLabel *LabelTemperature;
    TFrameTamrelChannel *FrameTamrelChannel1;
    TFrameTamrelChannel *FrameTamrelChannel2;
    QTabWidget *sPageControl1;
    QWidget *sTabSheetChartPosition;
    QWidget *sTabSheetChartHyst;
    QWidget *PanelChart;
    QCustomPlot *ChartPosition;
    QCPGraph *SeriesPositionVoltage;
    QCPGraph *SeriesPositionCurrent;
    QCheckBox *sCheckBoxPositionFast;
    QToolButton *sSpeedButton1;
    QCustomPlot *ChartHyst;
    TColoredLineSeries *SeriesHyst1;
    TColoredLineSeries *SeriesHyst2;
    QLabel *Label7;
    QLabel *LabelStart, *LabelEnd, *LabelStep, *LabelPeriod;
    TFloatEdit *FloatEditDutyStart;
    TFloatEdit *FloatEditDutyEnd;
    TFloatEdit *FloatEditStep;
    TFloatEdit *FloatEditPeriod;
    QPushButton *ButtonStartStop;
    QToolButton *ButtonSaveWindow;
    QTimer *TimerUpdateRegisters;
    QTimer *TimerDrawChartHyst;
    TBalloonHint *BalloonHintInd;

    // ---- State ----
    bool SkipWriteRegister = false;
    TDiagramMode DiagramMode = dmNone;
    qint32 TimeX = -1;

    // Number of position-chart redraws actually done, and of values received per register
    // (for measurements and diagnostics).
    quint64 ChartReplotCount() const { return FReplotCount; }
    std::array<quint32, 256> ReceivedRegisterCount{};

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void BuildWindow();
    QWidget *BuildTopBar();
    QWidget *BuildHeadTypePanel();
    QWidget *BuildChartPages();
    void FormCreate();
    TOnCreateProtocolRef MakeProtocolFactory();
    // Writes a user setting: only while connected and not while a received value is shown.
    void WriteUserRegister(quint8 regNum, const QVariant &value);
    void ShowReceivedValue(quint8 regNum, const TKvRegister &reg);
    void PositionVoltageSample(qint64 value);
    void PositionCurrentSample(qint64 value);
    void RequestRegisterNow(quint8 regNum);
    // "Draw often": a received value keeps the chart's request chains going.
    void DrawOftenReceived(quint8 regNum);
    void DrawOftenSend(TKvProtocol *p, const QVector<quint8> &reads);
    void StartActions();
    void StopActions();
    void SetHystTimerInterval(int ms);
    void ReplotLater(QCustomPlot *chart);
    void NameScreenshotButtons(const QString &what);
    bool AutoStartStop() const;
    // The firmware name just read: into the firmware window, and the update button shown.
    void ShowFirmwareName();

    IDeviceLink *FTestLink = nullptr;
    QString FScreenshotFolder;
    QIcon FManualControlImages[2];
    quint64 FReplotCount = 0;
    // Charts waiting for their next frame: samples only mark a chart; the frame timer redraws
    // it at most once per screen refresh.
    QTimer *FReplotTimer = nullptr;
    bool FPositionDirty = false;
    bool FHystDirty = false;
    // "Draw often": one request chain each for channel 1's position and current, re-synchronised
    // with a read of the firmware name (a register the tester never sends by itself) after
    // values may have come unasked, and at least once a second.
    TRequestChains FDrawOftenChains{
        {TamrelReg::regPosition1, TamrelReg::regCurrent1}, TamrelReg::regFirmwareName, 1000};
    TKvProtocol *FDrawOftenProtocol = nullptr; // the engine the chains' reads went to
    QTimer *FDrawOftenTimer = nullptr;         // gives up reads that went unanswered
};

// The program's one main window, while it exists.
extern TFormTamrel *FormTamrel;
