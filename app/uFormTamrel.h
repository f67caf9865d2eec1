#pragma once
// The tester application's main window: it embeds the device link, creates a protocol engine
// for every connection, polls the tester's setting registers every 500 ms, shows what the
// tester reports in the two channel panels, writes the user's settings, draws channel 1's
// position chart, runs the hysteresis sweep, shows its figures and verdict, keeps a test record
// of every sweep and saves chart screenshots.
#include "uKvProtocol.h"
#include "uSweepRun.h"
#include "uTamrelChannelHost.h"
#include "uTamrelRegisterNumber.h"
#include "uTamrelRequestChains.h"
#include "uTestRecord.h"

#include <QIcon>
#include <QMainWindow>
#include <QPointF>
#include <QVector>

#include <array>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class ITestRecordStore;
class TTestRecordWorker;
class QCPGraph;
class QCPItemLine;
class QCheckBox;
class QCustomPlot;
class QLabel;
class QLineEdit;
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

class TFormTamrel : public QMainWindow, public ITamrelChannelHost, private ISweepTester {
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
    // The tester of this connection has answered the read of its identification (register 0);
    // until it has, every polling tick asks again.
    bool FirmwareNameAnswered = false;

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
    // When the sweep reads the position: at the end of each step's period (settled), or right
    // after each step's write ("Sample right after each step").
    TSamplingMode SamplingMode() const;
    void CheckBoxSampleAfterStepClick();

    // ---- Figures, verdict and test records ----
    // The pump type and head type the window is set to, as records and limits name them.
    QString PumpTypeName() const;
    QString HeadTypeName() const;
    // The limits stored for the window's pump type and head type.
    TTestLimits CurrentLimits() const;
    // Opens the limits dialog for the window's pump type and head type (not modal); OK stores
    // the limits, which judge the sweeps from then on.
    void ButtonLimitsClick();
    void EditHeadSerialChanged();
    // Exports of the last sweep's record and of the position chart's samples, to a file the
    // user chooses.
    void ButtonExportRecordCsvClick();
    void ButtonReportPdfClick();
    void ButtonExportSamplesCsvClick();
    // The record of the last sweep that took a sample, stored or not.
    const std::optional<TTestRecord> &LastRecord() const { return FLastRecord; }
    // Where the records go, made on first use: the PostgreSQL server of the settings with the
    // local file as its queue, else the local file in the data folder, all reached through the
    // worker's threads. A local file that cannot be opened is said once.
    TTestRecordWorker *RecordWorker();
    // Called once a record is durable in the local file.
    std::function<void(const TTestRecord &record)> OnRecordStored;
    // The save dialog (returns the chosen path, empty = cancelled); empty = the file dialog.
    std::function<QString(const QString &caption, const QString &proposedName, const QString &filter)>
        AskSaveFileName;
    // The folder of the local record store; empty = the program's data folder.
    QString RecordFolder;
    // The program's settings file: the remembered sweep settings, the limits, the record server.
    static QString SettingsFilePath();
    // The position chart's voltage samples since it last began: (milliseconds, volts).
    const QVector<QPointF> &PositionSamples() const { return FPositionSamples; }

    // ---- Screenshots and texts ----
    // Saves the chart area as a PNG file in the screenshot folder and shows where it went;
    // returns the file's path. Throws std::runtime_error when the file cannot be written.
    QString ButtonSaveWindowClick();
    // Opens the firmware window for this window's link, without blocking this window.
    void ButtonUpdateFirmwareClick();
    // Opens the history of stored test records, without blocking this window; created on first use.
    void ButtonTestHistoryClick();
    TFormTestHistory *FormTestHistory = nullptr;
    // The folder screenshots go to: the executable's folder, or the user's Pictures folder when
    // the program's folder takes no files (see uProgramFolder.h), unless set otherwise.
    QString ScreenshotFolder() const;
    void SetScreenshotFolder(const QString &folder) { FScreenshotFolder = folder; }
    void DoRus();
    // The layout's English texts again (the inverse of DoRus).
    void DoEnglish();
    // ---- Interface language: English (the layout) or Russian, chosen in the "Language" menu,
    // kept in the settings file and applied at start. Applies to this window, its channel
    // panels, the link panel and the firmware window, at once.
    enum TLanguage { lgEnglish, lgRussian };
    void ApplyLanguage(TLanguage language);
    TLanguage Language() const { return FRussian ? lgRussian : lgEnglish; }
    // The menu's choice: applied and remembered.
    void ChooseLanguage(TLanguage language);
    QToolButton *ButtonLanguage = nullptr;
    QAction *NLanguageEnglish = nullptr;
    QAction *NLanguageRussian = nullptr;
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
    QCheckBox *CheckBoxSampleAfterStep;
    QLabel *LabelHeadSerial;
    QLineEdit *EditHeadSerial;
    QWidget *PanelHystFigures;
    QLabel *LabelHystMax, *LabelHystMean, *LabelHystSpan;
    QLabel *LabelVerdict, *LabelVerdictFailures;
    QPushButton *ButtonLimits, *ButtonExportRecordCsv, *ButtonReportPdf;
    QPushButton *ButtonExportSamplesCsv;
    // The maximum hysteresis on the chart: a vertical segment between the branches.
    QCPItemLine *MarkerMaxHysteresis;
    QTimer *TimerUpdateRegisters;
    QTimer *TimerDrawChartHyst;
    TBalloonHint *BalloonHintInd;

    // ---- State ----
    bool SkipWriteRegister = false;

private:
    // The hysteresis sweep; the window is its face (ISweepTester).
    TSweepRun FSweep{*this};

public:
    // The sweep's state as the sweep holds it.
    const TDiagramMode &DiagramMode = FSweep.Mode();
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
    QWidget *BuildHystSettings(QWidget *parent);
    QWidget *BuildHystFigures(QWidget *parent);
    void LoadSweepSettings();
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
    // Stops a running sweep before its loop is closed.
    void StopSweep(TSweepStop why);
    // ISweepTester: the sweep's tester is channel 1 over the link, its steps the step timer.
    void WriteDuty(qint64 duty) override;
    void RequestPosition() override;
    void StartSteps(int periodMs) override;
    void StepsEnded() override;
    void AwaitLastSample(int timeoutMs) override;
    void SampleTaken(const TTestRecordPoint &point) override;
    void SweepFinished(const TSweepOutcome &outcome) override;
    void ShowFigures(const TTestRecord &record);
    void StoreRecord(const TTestRecord &record);
    QString AskFileName(const QString &caption, const QString &proposedName, const QString &filter);
    void SetHystTimerInterval(int ms);
    void ReplotLater(QCustomPlot *chart);
    void NameScreenshotButtons(const QString &what);
    bool AutoStartStop() const;
    // A refusal of the companion scope's bridge (another user's object under its name, a
    // running server of that name), shown once by the error display.
    void ShowBridgeRefusal(const QString &refusal);
    // The firmware name just read: into the firmware window, and the update button shown.
    void ShowFirmwareName();
    // The link closed: an update the firmware window runs over it has ended.
    void FirmwareLinkClosed(IDeviceLink *closedLink);

    IDeviceLink *FTestLink = nullptr;
    // The last refusal of the companion scope's bridge shown: the same one is not shown again
    // at every connect.
    QString FBridgeRefusalShown;
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

    // Gives up the last sample of a stopped sweep.
    QTimer *FSweepFinishTimer = nullptr;
    std::optional<TTestRecord> FLastRecord;
    TTestRecord FFiguresShown; // the record whose figures the labels under the chart show
    bool FRussian = false;     // DoRus has run: the texts the window makes itself in Russian too
    void CreateLanguageMenu(QWidget *panel);
    std::unique_ptr<TTestRecordWorker> FRecordWorker;
    bool FRecordStoreFailureShown = false;
    // Position-chart samples with their times, for the export.
    QVector<QPointF> FPositionSamples;
    quint32 FPositionStartTick = 0;
};

// The program's one main window, while it exists.
extern TFormTamrel *FormTamrel;
