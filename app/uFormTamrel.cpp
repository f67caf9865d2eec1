// The main window's construction: components, layout and the creation sequence.
#include "uFormTamrel.h"
#include "CompFloatEdit.h"
#include "uBalloonHint.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uFrameTamrelChannel.h"
#include "uKvApplication.h"
#include "uTamrelCharts.h"
#include "uTamrelColors.h"
#include "uTamrelRegisterMap.h"
#include "uTamrelTester.h"
#include "uTamrelWidgets.h"
#include "uTestRecordPdf.h"
#include "uTestRecordStore.h"
#include "uTestRecordWorker.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <qcustomplot.h>

TFormTamrel *FormTamrel = nullptr;

namespace {

QLabel *NewLabel(QWidget *parent, const QString &name, const QString &text, bool bold = false) {
    auto *l = new QLabel(text, parent);
    l->setObjectName(name);
    if (bold) {
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
    }
    return l;
}

// An integer field of the sweep settings: empty text allowed, bad input corrected.
TFloatEdit *NewSweepEdit(QWidget *parent, const QString &name, qint64 min, qint64 max, qint64 value,
                         qint64 defaultValue, long double stepSm, long double step, long double stepPg) {
    auto *e = new TFloatEdit(parent);
    e->setObjectName(name);
    e->SetIntegerMode(true);
    e->SetMaxValueInt(max);
    e->SetMinValueInt(min);
    e->SetValueDefaultInt(defaultValue);
    e->SetIncrementSM(stepSm);
    e->SetIncrement(step);
    e->SetIncrementPg(stepPg);
    e->SetEnableEmpty(true);
    e->SetAutoCorretion(true);
    e->SetValueInt(value);
    e->ShowValue();
    e->setFixedWidth(48);
    return e;
}

QToolButton *NewScreenshotButton(QWidget *parent, const QString &name) {
    auto *b = new QToolButton(parent);
    b->setObjectName(name);
    b->setFixedSize(47, 25);
    b->setIcon(QIcon(QStringLiteral(":/app/screenshot.svg")));
    b->setToolTip(QStringLiteral("Скриншот графика"));
    return b;
}

// Handlers of the window's controls and timers: an error they raise goes to the program's
// error display instead of crossing the event loop.
template <class F> auto Guarded(F body) {
    return [body] { TKvApplication::RunGuarded(body); };
}

} // namespace

TFormTamrel::TFormTamrel(QWidget *parent) : QMainWindow(parent) {
    Q_INIT_RESOURCE(app);
    FormTamrel = this;
    setObjectName(QStringLiteral("FormTamrel"));
    setWindowTitle(QStringLiteral("Tamrel 1.6"));
    QFont f(QStringLiteral("Tahoma"));
    f.setPointSize(font().pointSize());
    setFont(f);
    FManualControlImages[0] = QIcon(QStringLiteral(":/app/manual_off.svg"));
    FManualControlImages[1] = QIcon(QStringLiteral(":/app/manual_on.svg"));
    BuildWindow();
    FormCreate();
}

TFormTamrel::~TFormTamrel() {
    TimerUpdateRegisters->stop();
    TimerDrawChartHyst->stop();
    if (FormTamrel == this) FormTamrel = nullptr;
}

void TFormTamrel::BuildWindow() {
    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("ClientArea"));
    setCentralWidget(central);
    auto *main = new QVBoxLayout(central);
    main->setContentsMargins(3, 0, 3, 3);
    main->setSpacing(0);
    main->addWidget(BuildTopBar());

    sPanelMain = new QWidget(central);
    sPanelMain->setObjectName(QStringLiteral("sPanelMain"));
    sPanelMain->setFixedWidth(615);
    auto *body = new QVBoxLayout(sPanelMain);
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(3);
    body->addWidget(BuildHeadTypePanel());

    auto *channels = new QHBoxLayout;
    channels->setContentsMargins(0, 0, 0, 0);
    FrameTamrelChannel1 = new TFrameTamrelChannel(this, sPanelMain);
    FrameTamrelChannel1->setObjectName(QStringLiteral("FrameTamrelChannel1"));
    FrameTamrelChannel2 = new TFrameTamrelChannel(this, sPanelMain);
    FrameTamrelChannel2->setObjectName(QStringLiteral("FrameTamrelChannel2"));
    FrameTamrelChannel2->Label1->setText(QStringLiteral("Channel 2:"));
    FrameTamrelChannel2->NameFields();
    FrameTamrelChannel2->LabelVout->hide();
    FrameTamrelChannel2->LabelCur->hide();
    channels->addWidget(FrameTamrelChannel1);
    channels->addStretch();
    channels->addWidget(FrameTamrelChannel2);
    body->addLayout(channels);
    body->addWidget(BuildChartPages(), 1);
    main->addWidget(sPanelMain, 1, Qt::AlignHCenter);

    connect(ChartPosition, &QCustomPlot::afterReplot, this, [this] { ++FReplotCount; });

    TimerUpdateRegisters = new QTimer(this);
    TimerUpdateRegisters->setObjectName(QStringLiteral("TimerUpdateRegisters"));
    TimerUpdateRegisters->setInterval(500);
    connect(TimerUpdateRegisters, &QTimer::timeout, this, Guarded([this] { TimerUpdateRegistersTimer(); }));
    TimerDrawChartHyst = new QTimer(this);
    TimerDrawChartHyst->setObjectName(QStringLiteral("TimerDrawChartHyst"));
    TimerDrawChartHyst->setInterval(20);
    connect(TimerDrawChartHyst, &QTimer::timeout, this, Guarded([this] { TimerDrawChartHystTimer(); }));
    TimerDrawChartHyst->start();
    BalloonHintInd = new TBalloonHint(this);
    BalloonHintInd->setObjectName(QStringLiteral("BalloonHintInd"));
    BalloonHintInd->HideAfter = 2000;

    resize(621, 704);
}

QWidget *TFormTamrel::BuildTopBar() {
    sPanelLink = new QWidget(this);
    sPanelLink->setObjectName(QStringLiteral("sPanelLink"));
    sPanelLink->setFixedHeight(81);
    auto *row = new QHBoxLayout(sPanelLink);
    row->setContentsMargins(6, 4, 6, 4);
    LabelFindAndConnect = NewLabel(sPanelLink, QStringLiteral("LabelFindAndConnect"),
                                   QStringLiteral("Find and connect:"), true);
    LabelFindAndConnect->setWordWrap(true);
    LabelFindAndConnect->setFixedWidth(80);
    row->addWidget(LabelFindAndConnect);
    DeviceLink = new TFrameDeviceLinkComMorva(sPanelLink);
    DeviceLink->setObjectName(QStringLiteral("DeviceLink"));
    DeviceLink->setFixedSize(68, 68);
    // The window shows only the link's connect button, 68 x 68 with 48 x 48 images.
    DeviceLink->sButtonConnect->setObjectName(QStringLiteral("sButtonConnect"));
    DeviceLink->sButtonConnect->setFixedSize(68, 68);
    DeviceLink->sButtonConnect->setIconSize(QSize(48, 48));
    DeviceLink->sButtonConnect->setAccessibleName(LabelFindAndConnect->text());
    DeviceLink->PopupMenuConnection->setObjectName(QStringLiteral("PopupMenuConnection"));
    row->addWidget(DeviceLink);
    row->addSpacing(24);

    LabelManualControl =
        NewLabel(sPanelLink, QStringLiteral("LabelManualControl"), QStringLiteral("Manual control:"), true);
    LabelManualControl->setWordWrap(true);
    LabelManualControl->setFixedWidth(80);
    row->addWidget(LabelManualControl);
    sSpeedButtonManualControl = new QToolButton(sPanelLink);
    sSpeedButtonManualControl->setObjectName(QStringLiteral("sSpeedButtonManualControl"));
    sSpeedButtonManualControl->setFixedSize(68, 68);
    sSpeedButtonManualControl->setCheckable(true);
    sSpeedButtonManualControl->setIconSize(QSize(45, 31));
    sSpeedButtonManualControl->setIcon(FManualControlImages[0]);
    LabelManualControl->setBuddy(sSpeedButtonManualControl);
    connect(sSpeedButtonManualControl, &QToolButton::clicked, this,
            Guarded([this] { sSpeedButtonManualControlClick(); }));
    row->addWidget(sSpeedButtonManualControl);

    // The regulation unit: one choice of two radio items. Choosing an item checks it (the
    // chosen one stays checked) before the handler runs; a received unit the map does not
    // know may still leave both unchecked.
    PopupMenuManualInPercent = new QMenu(sSpeedButtonManualControl);
    PopupMenuManualInPercent->setObjectName(QStringLiteral("PopupMenuManualInPercent"));
    auto *unitGroup = new QActionGroup(PopupMenuManualInPercent);
    unitGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    NManualInPercent = PopupMenuManualInPercent->addAction(QStringLiteral("Regulate in %"));
    NManualInPercent->setObjectName(QStringLiteral("NManualInPercent"));
    NManualInPercent->setCheckable(true);
    NManualInPercent->setActionGroup(unitGroup);
    NManualInPercent->setChecked(true);
    NManualInVolt = PopupMenuManualInPercent->addAction(QStringLiteral("Regulate in V"));
    NManualInVolt->setObjectName(QStringLiteral("NManualInVolt"));
    NManualInVolt->setCheckable(true);
    NManualInVolt->setActionGroup(unitGroup);
    for (QAction *item : {NManualInPercent, NManualInVolt})
        connect(item, &QAction::triggered, this, Guarded([this] { NManualInVoltClick(); }));
    sSpeedButtonManualControl->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(sSpeedButtonManualControl, &QWidget::customContextMenuRequested, this, [this](const QPoint &p) {
        PopupMenuManualInPercent->popup(sSpeedButtonManualControl->mapToGlobal(p));
    });

    row->addStretch();
    ButtonTestHistory = new QPushButton(QStringLiteral("History…"), sPanelLink);
    ButtonTestHistory->setObjectName(QStringLiteral("ButtonTestHistory"));
    ButtonTestHistory->setFixedSize(90, 23);
    connect(ButtonTestHistory, &QPushButton::clicked, this, Guarded([this] { ButtonTestHistoryClick(); }));
    row->addWidget(ButtonTestHistory);
    CreateLanguageMenu(sPanelLink);
    row->addWidget(ButtonLanguage);
    ButtonUpdateFirmware = new QPushButton(QStringLiteral("Update Firmware"), sPanelLink);
    ButtonUpdateFirmware->setObjectName(QStringLiteral("ButtonUpdateFirmware"));
    ButtonUpdateFirmware->setFixedSize(120, 23);
    ButtonUpdateFirmware->hide();
    connect(ButtonUpdateFirmware, &QPushButton::clicked, this,
            Guarded([this] { ButtonUpdateFirmwareClick(); }));
    row->addWidget(ButtonUpdateFirmware);
    return sPanelLink;
}

QWidget *TFormTamrel::BuildHeadTypePanel() {
    sPanelHeadType = new QFrame(sPanelMain);
    sPanelHeadType->setObjectName(QStringLiteral("sPanelHeadType"));
    auto *row = new QHBoxLayout(sPanelHeadType);
    row->setContentsMargins(6, 2, 6, 2);
    LabePanelHeadType = NewLabel(sPanelHeadType, QStringLiteral("LabePanelHeadType"),
                                 QStringLiteral("Pump head type:"), true);
    LabePanelHeadType->setWordWrap(true);
    LabePanelHeadType->setFixedWidth(80);
    row->addWidget(LabePanelHeadType);
    RadioGroupPumpType = new TRadioGroup(QString(), TamrelTester::PumpTypeNames(), 3, sPanelHeadType);
    RadioGroupPumpType->setObjectName(QStringLiteral("RadioGroupPumpType"));
    RadioGroupPumpType->OnClick = Guarded([this] { RadioGroupPumpTypeClick(); });
    row->addWidget(RadioGroupPumpType);
    RadioGroupResistiveHead = new TRadioGroup(
        QString(), {QStringLiteral("Inductive"), QStringLiteral("Resistive")}, 2, sPanelHeadType);
    RadioGroupResistiveHead->setObjectName(QStringLiteral("RadioGroupResistiveHead"));
    RadioGroupResistiveHead->OnClick = Guarded([this] { RadioGroupResistiveHeadClick(); });
    row->addWidget(RadioGroupResistiveHead);
    PanelTemperature = new QWidget(sPanelHeadType);
    PanelTemperature->setObjectName(QStringLiteral("PanelTemperature"));
    auto *t = new QVBoxLayout(PanelTemperature);
    t->setContentsMargins(4, 0, 0, 0);
    t->setSpacing(0);
    LabelHeadTemperature = NewLabel(PanelTemperature, QStringLiteral("LabelHeadTemperature"),
                                    QStringLiteral("Head temperature:"));
    LabelTemperature =
        NewLabel(PanelTemperature, QStringLiteral("LabelTemperature"), QStringLiteral("_"), true);
    t->addWidget(LabelHeadTemperature);
    t->addWidget(LabelTemperature);
    row->addWidget(PanelTemperature);
    return sPanelHeadType;
}

QWidget *TFormTamrel::BuildChartPages() {
    using namespace TamrelColors;
    sPageControl1 = new QTabWidget(sPanelMain);
    sPageControl1->setObjectName(QStringLiteral("sPageControl1"));

    // Position tab.
    sTabSheetChartPosition = new QWidget;
    sTabSheetChartPosition->setObjectName(QStringLiteral("sTabSheetChartPosition"));
    auto *posLayout = new QVBoxLayout(sTabSheetChartPosition);
    posLayout->setContentsMargins(2, 2, 2, 2);
    posLayout->setSpacing(0);
    ChartPosition = new QCustomPlot(sTabSheetChartPosition);
    ChartPosition->setObjectName(QStringLiteral("ChartPosition"));
    TamrelCharts::SetupChart(ChartPosition, 35, 20, 0, 5);
    ChartPosition->setAttribute(Qt::WA_TransparentForMouseEvents);
    SeriesPositionVoltage =
        TamrelCharts::AddLineGraph(ChartPosition, FromWinColor(clRed), QStringLiteral("Voltage"));
    SeriesPositionCurrent =
        TamrelCharts::AddLineGraph(ChartPosition, FromWinColor(clBlue), QStringLiteral("Current"));
    SeriesPositionVoltage->setObjectName(QStringLiteral("SeriesPositionVoltage"));
    SeriesPositionCurrent->setObjectName(QStringLiteral("SeriesPositionCurrent"));
    posLayout->addWidget(ChartPosition, 1);
    auto *posRow = new QWidget(sTabSheetChartPosition);
    posRow->setObjectName(QStringLiteral("Panel1"));
    posRow->setFixedHeight(25);
    auto *posRowL = new QHBoxLayout(posRow);
    posRowL->setContentsMargins(4, 0, 4, 0);
    sCheckBoxPositionFast = new QCheckBox(QStringLiteral("Draw often"), posRow);
    sCheckBoxPositionFast->setObjectName(QStringLiteral("sCheckBoxPositionFast"));
    connect(sCheckBoxPositionFast, &QCheckBox::clicked, this,
            Guarded([this] { sCheckBoxPositionFastClick(); }));
    posRowL->addWidget(sCheckBoxPositionFast);
    posRowL->addStretch();
    ButtonExportSamplesCsv = new QPushButton(QStringLiteral("Export CSV"), posRow);
    ButtonExportSamplesCsv->setObjectName(QStringLiteral("ButtonExportSamplesCsv"));
    ButtonExportSamplesCsv->setToolTip(QStringLiteral("Save the chart's voltage samples with their times"));
    connect(ButtonExportSamplesCsv, &QPushButton::clicked, this,
            Guarded([this] { ButtonExportSamplesCsvClick(); }));
    posRowL->addWidget(ButtonExportSamplesCsv);
    sSpeedButton1 = NewScreenshotButton(posRow, QStringLiteral("sSpeedButton1"));
    connect(sSpeedButton1, &QToolButton::clicked, this, Guarded([this] { ButtonSaveWindowClick(); }));
    posRowL->addWidget(sSpeedButton1);
    posLayout->addWidget(posRow);
    sPageControl1->addTab(sTabSheetChartPosition, QStringLiteral("Current position"));

    // Hysteresis tab.
    sTabSheetChartHyst = new QWidget;
    sTabSheetChartHyst->setObjectName(QStringLiteral("sTabSheetChartHyst"));
    auto *hystLayout = new QVBoxLayout(sTabSheetChartHyst);
    hystLayout->setContentsMargins(2, 2, 2, 2);
    hystLayout->setSpacing(0);
    ChartHyst = new QCustomPlot(sTabSheetChartHyst);
    ChartHyst->setObjectName(QStringLiteral("ChartHyst"));
    TamrelCharts::SetupChart(ChartHyst, 5, 35, 0, 5);
    ChartHyst->setAttribute(Qt::WA_TransparentForMouseEvents);
    ChartHyst->yAxis->setLabel(QStringLiteral("Vout"));
    SeriesHyst1 =
        TamrelCharts::AddColoredSeries(ChartHyst, FromWinColor(clRed), QStringLiteral("SeriesHyst1"));
    SeriesHyst1->setObjectName(QStringLiteral("SeriesHyst1"));
    SeriesHyst2 =
        TamrelCharts::AddColoredSeries(ChartHyst, FromWinColor(clBlue), QStringLiteral("SeriesHyst2"));
    SeriesHyst2->setObjectName(QStringLiteral("SeriesHyst2"));
    Label7 = NewLabel(ChartHyst, QStringLiteral("Label7"), QStringLiteral("%"));
    Label7->setAttribute(Qt::WA_TranslucentBackground);
    ChartHyst->installEventFilter(this);
    hystLayout->addWidget(ChartHyst, 1);

    hystLayout->addWidget(BuildHystFigures(sTabSheetChartHyst));
    hystLayout->addWidget(BuildHystSettings(sTabSheetChartHyst));
    sPageControl1->addTab(sTabSheetChartHyst, QStringLiteral("Measure hysteresis"));
    NameScreenshotButtons(QStringLiteral("Chart screenshot"));

    // The screenshot area: a hidden panel kept exactly over the page control.
    PanelChart = new QWidget(sPanelMain);
    PanelChart->setObjectName(QStringLiteral("PanelChart"));
    PanelChart->hide();
    sPageControl1->installEventFilter(this);
    return sPageControl1;
}

QWidget *TFormTamrel::BuildHystSettings(QWidget *parent) {
    auto *settings = new QWidget(parent);
    settings->setObjectName(QStringLiteral("PanelHistSettings"));
    settings->setFixedHeight(86);
    auto *g = new QGridLayout(settings);
    g->setContentsMargins(4, 2, 4, 2);
    LabelStart = NewLabel(settings, QStringLiteral("LabelStart"), QStringLiteral("Start with (%):"));
    LabelEnd = NewLabel(settings, QStringLiteral("LabelEnd"), QStringLiteral("end with (%):"));
    LabelStep = NewLabel(settings, QStringLiteral("LabelStep"), QStringLiteral("step (%):"));
    LabelPeriod = NewLabel(settings, QStringLiteral("LabelPeriod"), QStringLiteral("Period (ms):"));
    FloatEditDutyStart = NewSweepEdit(settings, QStringLiteral("FloatEditDutyStart"), 0, 100, 0, 0, 1, 1, 10);
    FloatEditDutyEnd = NewSweepEdit(settings, QStringLiteral("FloatEditDutyEnd"), 0, 100, 50, 0, 1, 1, 10);
    FloatEditStep = NewSweepEdit(settings, QStringLiteral("FloatEditStep"), 0, 100, 1, 0, 1, 1, 10);
    FloatEditStep->SetValueDefaultFloat(3.0L);
    FloatEditPeriod =
        NewSweepEdit(settings, QStringLiteral("FloatEditPeriod"), 10, 1000, 100, 100, 1, 100, 10);
    // Each caption labels its field: a screen reader announces it as the field's name.
    LabelStart->setBuddy(FloatEditDutyStart);
    LabelEnd->setBuddy(FloatEditDutyEnd);
    LabelStep->setBuddy(FloatEditStep);
    LabelPeriod->setBuddy(FloatEditPeriod);
    g->addWidget(LabelStart, 0, 0);
    g->addWidget(FloatEditDutyStart, 0, 1);
    g->addWidget(LabelEnd, 0, 2);
    g->addWidget(FloatEditDutyEnd, 0, 3);
    g->addWidget(LabelStep, 1, 0);
    g->addWidget(FloatEditStep, 1, 1);
    g->addWidget(LabelPeriod, 1, 2);
    g->addWidget(FloatEditPeriod, 1, 3);
    ButtonStartStop = new QPushButton(QStringLiteral("Start"), settings);
    ButtonStartStop->setObjectName(QStringLiteral("ButtonStartStop"));
    ButtonStartStop->setFixedSize(90, 40);
    connect(ButtonStartStop, &QPushButton::clicked, this, Guarded([this] { ButtonStartStopClick(); }));
    g->addWidget(ButtonStartStop, 0, 4, 2, 1);
    g->setColumnStretch(5, 1);
    ButtonSaveWindow = NewScreenshotButton(settings, QStringLiteral("ButtonSaveWindow"));
    connect(ButtonSaveWindow, &QToolButton::clicked, this, Guarded([this] { ButtonSaveWindowClick(); }));
    g->addWidget(ButtonSaveWindow, 0, 6, 2, 1, Qt::AlignRight | Qt::AlignVCenter);

    // The head under test and how its positions are read; both remembered between runs.
    LabelHeadSerial =
        NewLabel(settings, QStringLiteral("LabelHeadSerial"), QStringLiteral("Head serial number:"));
    EditHeadSerial = new QLineEdit(settings);
    EditHeadSerial->setObjectName(QStringLiteral("EditHeadSerial"));
    EditHeadSerial->setMaxLength(100);
    LabelHeadSerial->setBuddy(EditHeadSerial);
    connect(EditHeadSerial, &QLineEdit::textEdited, this, Guarded([this] { EditHeadSerialChanged(); }));
    g->addWidget(LabelHeadSerial, 2, 0);
    g->addWidget(EditHeadSerial, 2, 1, 1, 3);
    CheckBoxSampleAfterStep = new QCheckBox(QStringLiteral("Sample right after each step"), settings);
    CheckBoxSampleAfterStep->setObjectName(QStringLiteral("CheckBoxSampleAfterStep"));
    CheckBoxSampleAfterStep->setToolTip(
        QStringLiteral("Read the position at once after each duty step instead of at the end of its period; "
                       "the loop then also shows the actuator's lag"));
    connect(CheckBoxSampleAfterStep, &QCheckBox::clicked, this,
            Guarded([this] { CheckBoxSampleAfterStepClick(); }));
    g->addWidget(CheckBoxSampleAfterStep, 2, 4, 1, 3);
    return settings;
}

QWidget *TFormTamrel::BuildHystFigures(QWidget *parent) {
    PanelHystFigures = new QWidget(parent);
    PanelHystFigures->setObjectName(QStringLiteral("PanelHystFigures"));
    auto *row = new QHBoxLayout(PanelHystFigures);
    row->setContentsMargins(4, 2, 4, 2);
    auto *figures = new QVBoxLayout;
    figures->setSpacing(0);
    LabelHystMax =
        NewLabel(PanelHystFigures, QStringLiteral("LabelHystMax"), QStringLiteral("Max hysteresis: —"));
    LabelHystMean =
        NewLabel(PanelHystFigures, QStringLiteral("LabelHystMean"), QStringLiteral("Mean hysteresis: —"));
    LabelHystSpan = NewLabel(PanelHystFigures, QStringLiteral("LabelHystSpan"), QStringLiteral("Span: —"));
    for (QLabel *l : {LabelHystMax, LabelHystMean, LabelHystSpan}) {
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        figures->addWidget(l);
    }
    row->addLayout(figures);
    row->addStretch();
    LabelVerdict = NewLabel(PanelHystFigures, QStringLiteral("LabelVerdict"), QString(), true);
    QFont big = LabelVerdict->font();
    big.setPointSize(20);
    LabelVerdict->setFont(big);
    LabelVerdict->hide();
    // The verdict with the figures that failed under it.
    auto *verdict = new QVBoxLayout;
    verdict->setSpacing(0);
    verdict->addWidget(LabelVerdict, 0, Qt::AlignHCenter);
    LabelVerdictFailures = NewLabel(PanelHystFigures, QStringLiteral("LabelVerdictFailures"), QString());
    LabelVerdictFailures->setStyleSheet(QStringLiteral("color: #cc0000;"));
    LabelVerdictFailures->setAlignment(Qt::AlignHCenter);
    LabelVerdictFailures->hide();
    verdict->addWidget(LabelVerdictFailures, 0, Qt::AlignHCenter);
    row->addLayout(verdict);
    row->addStretch();
    auto *buttons = new QVBoxLayout;
    buttons->setSpacing(1);
    ButtonLimits = new QPushButton(QStringLiteral("Limits…"), PanelHystFigures);
    ButtonLimits->setObjectName(QStringLiteral("ButtonLimits"));
    connect(ButtonLimits, &QPushButton::clicked, this, Guarded([this] { ButtonLimitsClick(); }));
    ButtonExportRecordCsv = new QPushButton(QStringLiteral("Export CSV"), PanelHystFigures);
    ButtonExportRecordCsv->setObjectName(QStringLiteral("ButtonExportRecordCsv"));
    ButtonExportRecordCsv->setEnabled(false);
    connect(ButtonExportRecordCsv, &QPushButton::clicked, this,
            Guarded([this] { ButtonExportRecordCsvClick(); }));
    ButtonReportPdf = new QPushButton(QStringLiteral("Report PDF…"), PanelHystFigures);
    ButtonReportPdf->setObjectName(QStringLiteral("ButtonReportPdf"));
    ButtonReportPdf->setEnabled(false);
    connect(ButtonReportPdf, &QPushButton::clicked, this, Guarded([this] { ButtonReportPdfClick(); }));
    for (QPushButton *b : {ButtonLimits, ButtonExportRecordCsv, ButtonReportPdf}) {
        b->setFixedHeight(21);
        buttons->addWidget(b);
    }
    row->addLayout(buttons);

    MarkerMaxHysteresis = new QCPItemLine(ChartHyst);
    MarkerMaxHysteresis->setObjectName(QStringLiteral("MarkerMaxHysteresis"));
    MarkerMaxHysteresis->setPen(QPen(TestReportColors::MaxHysteresis, 2));
    MarkerMaxHysteresis->setHead(QCPLineEnding(QCPLineEnding::esBar, 10));
    MarkerMaxHysteresis->setTail(QCPLineEnding(QCPLineEnding::esBar, 10));
    MarkerMaxHysteresis->setVisible(false);
    return PanelHystFigures;
}

bool TFormTamrel::eventFilter(QObject *watched, QEvent *event) {
    if (watched == sPageControl1 && (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        PanelChart->setGeometry(sPageControl1->geometry());
    if (watched == ChartHyst && event->type() == QEvent::Resize) {
        Label7->adjustSize();
        Label7->move(ChartHyst->width() - Label7->width() - 6, ChartHyst->height() - Label7->height() - 2);
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFormTamrel::FormCreate() {
    using namespace TamrelColors;
    using namespace TamrelReg;
    // Link, engine factory and polling (steps on the link live with the link code).
    DeviceLink->DeviceIdentStr = QLatin1String(TamrelTester::IdentPrefix);
    DeviceLink->SetBaudRate(TamrelTester::BaudRate);
    DeviceLink->SetOnDeviceLinkStartStop(
        [this](IDeviceLink *l, TDeviceLinkEvent e, bool lost) { OnDeviceLinkStartStop(l, e, lost); }, {},
        true);
    DeviceLink->SetOnCreateProtocolRef(MakeProtocolFactory());
    DeviceLink->AutoStartStop = true;
    DeviceLink->SetSearchOnConnect(true);
    DeviceLink->SetKeepConnection(true);
    // "Reconnect automatically" is remembered with the program's other settings.
    DeviceLink->SetSettingsFile(SettingsFilePath());
    // The window's own item in the link's connection menu.
    CheckBoxAutoStartStop = new QAction(QStringLiteral("Auto Start Stop"), this);
    CheckBoxAutoStartStop->setObjectName(QStringLiteral("CheckBoxAutoStartStop"));
    CheckBoxAutoStartStop->setCheckable(true);
    CheckBoxAutoStartStop->setChecked(true);
    connect(CheckBoxAutoStartStop, &QAction::triggered, this,
            Guarded([this] { CheckBoxAutoStartStopClick(); }));
    DeviceLink->PopupMenuConnection->addAction(CheckBoxAutoStartStop);
    OnDeviceLinkStartStop(Link(), OnStop, false);

    FrameTamrelChannel1->regPosition = regPosition1;
    FrameTamrelChannel1->regCurrent = regCurrent1;
    FrameTamrelChannel1->regSetupVin = regSetupVin1;
    FrameTamrelChannel1->regManualControlPWM = regManualControlPWM1;
    FrameTamrelChannel1->regManualControlVolts = regManualControlVolts1;
    FrameTamrelChannel1->SeriesHyst = SeriesHyst1;
    SeriesHyst1->SetSeriesColor(FromWinColor(clRed));
    FrameTamrelChannel1->BackwardColor = FromWinColor(clChannel1Backward);
    FrameTamrelChannel1->SweepDrivesDuty = true;

    FrameTamrelChannel2->regPosition = regPosition2;
    FrameTamrelChannel2->regCurrent = regCurrent2;
    FrameTamrelChannel2->regSetupVin = regSetupVin2;
    FrameTamrelChannel2->regManualControlPWM = regManualControlPWM2;
    FrameTamrelChannel2->regManualControlVolts = regManualControlVolts2;
    FrameTamrelChannel2->SeriesHyst = SeriesHyst2;
    SeriesHyst2->SetSeriesColor(FromWinColor(clBlue));
    FrameTamrelChannel2->BackwardColor = FromWinColor(clChannel2Backward);

    LoadSweepSettings();

    TimeX = -1;
    SeriesPositionVoltage->setPen(QPen(FromWinColor(clRed), 2));
    SeriesPositionCurrent->setPen(QPen(FromWinColor(clBlue), 2));

    sSpeedButtonManualControlClick();
    CheckBoxPannelsLikeButtonsClick();
    FrameTamrelChannel2->SetManualControl(true, false);

    if (QScreen *s = screen()) {
        const QRect work = s->availableGeometry();
        if (work.height() < height()) resize(width(), work.height());
        move(work.center() - rect().center());
    }
    DeviceLink->DoEnglish();
    DeviceLink->RefreshHint(); // the hint in the program's language from the start
    // The technician's language, when it is not the layout's.
    if (QSettings(SettingsFilePath(), QSettings::IniFormat)
            .value(QStringLiteral("Interface/Language"))
            .toString() == QLatin1String("ru"))
        ApplyLanguage(lgRussian);
}

void TFormTamrel::CheckBoxPannelsLikeButtonsClick() {
    // Without a skinning engine, "like buttons" is a raised panel face.
    for (QWidget *w : {static_cast<QWidget *>(sPanelHeadType), static_cast<QWidget *>(FrameTamrelChannel1),
                       static_cast<QWidget *>(FrameTamrelChannel2)}) {
        if (auto *fr = qobject_cast<QFrame *>(w)) fr->setFrameStyle(QFrame::Panel | QFrame::Raised);
    }
}

void TFormTamrel::closeEvent(QCloseEvent *event) {
    // Closing disconnects: the link writes register 1 := 0 (with auto start/stop on) and
    // closes the port.
    if (IDeviceLink *l = Link()) l->Disconnect();
    TimerUpdateRegisters->stop();
    QMainWindow::closeEvent(event);
}
