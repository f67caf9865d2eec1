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
#include "uTamrelWidgets.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <qcustomplot.h>

TFormTamrel *FormTamrel = nullptr;

namespace {

QLabel *NewLabel(QWidget *Parent, const QString &Name, const QString &Text, bool Bold = false) {
    auto *L = new QLabel(Text, Parent);
    L->setObjectName(Name);
    if (Bold) {
        QFont F = L->font();
        F.setBold(true);
        L->setFont(F);
    }
    return L;
}

// An integer field of the sweep settings: empty text allowed, bad input corrected.
TFloatEdit *NewSweepEdit(QWidget *Parent, const QString &Name, qint64 Min, qint64 Max, qint64 Value,
                         qint64 Default, long double StepSM, long double Step, long double StepPg) {
    auto *E = new TFloatEdit(Parent);
    E->setObjectName(Name);
    E->SetIntegerMode(true);
    E->SetMaxValueInt(Max);
    E->SetMinValueInt(Min);
    E->SetValueDefaultInt(Default);
    E->SetIncrementSM(StepSM);
    E->SetIncrement(Step);
    E->SetIncrementPg(StepPg);
    E->SetEnableEmpty(true);
    E->SetAutoCorretion(true);
    E->SetValueInt(Value);
    E->ShowValue();
    E->setFixedWidth(48);
    return E;
}

QToolButton *NewScreenshotButton(QWidget *Parent, const QString &Name) {
    auto *B = new QToolButton(Parent);
    B->setObjectName(Name);
    B->setFixedSize(47, 25);
    B->setIcon(QIcon(QStringLiteral(":/app/screenshot.svg")));
    B->setToolTip(QStringLiteral("Скриншот графика"));
    return B;
}

// Handlers of the window's controls and timers: an error they raise goes to the program's
// error display instead of crossing the event loop.
template <class F> auto Guarded(F Body) {
    return [Body] { TKvApplication::RunGuarded(Body); };
}

} // namespace

TFormTamrel::TFormTamrel(QWidget *Parent) : QMainWindow(Parent) {
    Q_INIT_RESOURCE(app);
    FormTamrel = this;
    setObjectName(QStringLiteral("FormTamrel"));
    setWindowTitle(QStringLiteral("Tamrel 1.6"));
    QFont F(QStringLiteral("Tahoma"));
    F.setPointSize(font().pointSize());
    setFont(F);
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
    auto *Central = new QWidget(this);
    Central->setObjectName(QStringLiteral("ClientArea"));
    setCentralWidget(Central);
    auto *Main = new QVBoxLayout(Central);
    Main->setContentsMargins(3, 0, 3, 3);
    Main->setSpacing(0);
    Main->addWidget(BuildTopBar());

    sPanelMain = new QWidget(Central);
    sPanelMain->setObjectName(QStringLiteral("sPanelMain"));
    sPanelMain->setFixedWidth(615);
    auto *Body = new QVBoxLayout(sPanelMain);
    Body->setContentsMargins(0, 0, 0, 0);
    Body->setSpacing(3);
    Body->addWidget(BuildHeadTypePanel());

    auto *Channels = new QHBoxLayout;
    Channels->setContentsMargins(0, 0, 0, 0);
    FrameTamrelChannel1 = new TFrameTamrelChannel(this, sPanelMain);
    FrameTamrelChannel1->setObjectName(QStringLiteral("FrameTamrelChannel1"));
    FrameTamrelChannel2 = new TFrameTamrelChannel(this, sPanelMain);
    FrameTamrelChannel2->setObjectName(QStringLiteral("FrameTamrelChannel2"));
    FrameTamrelChannel2->Label1->setText(QStringLiteral("Channel 2:"));
    FrameTamrelChannel2->NameFields();
    FrameTamrelChannel2->LabelVout->hide();
    FrameTamrelChannel2->LabelCur->hide();
    Channels->addWidget(FrameTamrelChannel1);
    Channels->addStretch();
    Channels->addWidget(FrameTamrelChannel2);
    Body->addLayout(Channels);
    Body->addWidget(BuildChartPages(), 1);
    Main->addWidget(sPanelMain, 1, Qt::AlignHCenter);

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
    auto *Row = new QHBoxLayout(sPanelLink);
    Row->setContentsMargins(6, 4, 6, 4);
    LabelFindAndConnect = NewLabel(sPanelLink, QStringLiteral("LabelFindAndConnect"),
                                   QStringLiteral("Find and connect:"), true);
    LabelFindAndConnect->setWordWrap(true);
    LabelFindAndConnect->setFixedWidth(80);
    Row->addWidget(LabelFindAndConnect);
    DeviceLink = new TFrameDeviceLinkComMorva(sPanelLink);
    DeviceLink->setObjectName(QStringLiteral("DeviceLink"));
    DeviceLink->setFixedSize(68, 68);
    // The window shows only the link's connect button, 68 x 68 with 48 x 48 images.
    DeviceLink->sButtonConnect->setObjectName(QStringLiteral("sButtonConnect"));
    DeviceLink->sButtonConnect->setFixedSize(68, 68);
    DeviceLink->sButtonConnect->setIconSize(QSize(48, 48));
    DeviceLink->sButtonConnect->setAccessibleName(LabelFindAndConnect->text());
    DeviceLink->PopupMenuConnection->setObjectName(QStringLiteral("PopupMenuConnection"));
    Row->addWidget(DeviceLink);
    Row->addSpacing(24);

    LabelManualControl =
        NewLabel(sPanelLink, QStringLiteral("LabelManualControl"), QStringLiteral("Manual control:"), true);
    LabelManualControl->setWordWrap(true);
    LabelManualControl->setFixedWidth(80);
    Row->addWidget(LabelManualControl);
    sSpeedButtonManualControl = new QToolButton(sPanelLink);
    sSpeedButtonManualControl->setObjectName(QStringLiteral("sSpeedButtonManualControl"));
    sSpeedButtonManualControl->setFixedSize(68, 68);
    sSpeedButtonManualControl->setCheckable(true);
    sSpeedButtonManualControl->setIconSize(QSize(45, 31));
    sSpeedButtonManualControl->setIcon(FManualControlImages[0]);
    LabelManualControl->setBuddy(sSpeedButtonManualControl);
    connect(sSpeedButtonManualControl, &QToolButton::clicked, this,
            Guarded([this] { sSpeedButtonManualControlClick(); }));
    Row->addWidget(sSpeedButtonManualControl);

    // The regulation unit: one choice of two radio items. Choosing an item checks it (the
    // chosen one stays checked) before the handler runs; a received unit the map does not
    // know may still leave both unchecked.
    PopupMenuManualInPercent = new QMenu(sSpeedButtonManualControl);
    PopupMenuManualInPercent->setObjectName(QStringLiteral("PopupMenuManualInPercent"));
    auto *UnitGroup = new QActionGroup(PopupMenuManualInPercent);
    UnitGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    NManualInPercent = PopupMenuManualInPercent->addAction(QStringLiteral("Regulate in %"));
    NManualInPercent->setObjectName(QStringLiteral("NManualInPercent"));
    NManualInPercent->setCheckable(true);
    NManualInPercent->setActionGroup(UnitGroup);
    NManualInPercent->setChecked(true);
    NManualInVolt = PopupMenuManualInPercent->addAction(QStringLiteral("Regulate in V"));
    NManualInVolt->setObjectName(QStringLiteral("NManualInVolt"));
    NManualInVolt->setCheckable(true);
    NManualInVolt->setActionGroup(UnitGroup);
    for (QAction *Item : {NManualInPercent, NManualInVolt})
        connect(Item, &QAction::triggered, this, Guarded([this] { NManualInVoltClick(); }));
    sSpeedButtonManualControl->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(sSpeedButtonManualControl, &QWidget::customContextMenuRequested, this, [this](const QPoint &P) {
        PopupMenuManualInPercent->popup(sSpeedButtonManualControl->mapToGlobal(P));
    });

    Row->addStretch();
    ButtonUpdateFirmware = new QPushButton(QStringLiteral("Update Firmware"), sPanelLink);
    ButtonUpdateFirmware->setObjectName(QStringLiteral("ButtonUpdateFirmware"));
    ButtonUpdateFirmware->setFixedSize(120, 23);
    ButtonUpdateFirmware->hide();
    connect(ButtonUpdateFirmware, &QPushButton::clicked, this,
            Guarded([this] { ButtonUpdateFirmwareClick(); }));
    Row->addWidget(ButtonUpdateFirmware);
    return sPanelLink;
}

QWidget *TFormTamrel::BuildHeadTypePanel() {
    sPanelHeadType = new QFrame(sPanelMain);
    sPanelHeadType->setObjectName(QStringLiteral("sPanelHeadType"));
    auto *Row = new QHBoxLayout(sPanelHeadType);
    Row->setContentsMargins(6, 2, 6, 2);
    LabePanelHeadType = NewLabel(sPanelHeadType, QStringLiteral("LabePanelHeadType"),
                                 QStringLiteral("Pump head type:"), true);
    LabePanelHeadType->setWordWrap(true);
    LabePanelHeadType->setFixedWidth(80);
    Row->addWidget(LabePanelHeadType);
    RadioGroupPumpType = new TRadioGroup(
        QString(), {QStringLiteral("VE"), QStringLiteral("PE"), QStringLiteral("Zexel")}, 3, sPanelHeadType);
    RadioGroupPumpType->setObjectName(QStringLiteral("RadioGroupPumpType"));
    RadioGroupPumpType->OnClick = Guarded([this] { RadioGroupPumpTypeClick(); });
    Row->addWidget(RadioGroupPumpType);
    RadioGroupResistiveHead = new TRadioGroup(
        QString(), {QStringLiteral("Inductive"), QStringLiteral("Resistive")}, 2, sPanelHeadType);
    RadioGroupResistiveHead->setObjectName(QStringLiteral("RadioGroupResistiveHead"));
    RadioGroupResistiveHead->OnClick = Guarded([this] { RadioGroupResistiveHeadClick(); });
    Row->addWidget(RadioGroupResistiveHead);
    PanelTemperature = new QWidget(sPanelHeadType);
    PanelTemperature->setObjectName(QStringLiteral("PanelTemperature"));
    auto *T = new QVBoxLayout(PanelTemperature);
    T->setContentsMargins(4, 0, 0, 0);
    T->setSpacing(0);
    LabelHeadTemperature = NewLabel(PanelTemperature, QStringLiteral("LabelHeadTemperature"),
                                    QStringLiteral("Head temperature:"));
    LabelTemperature =
        NewLabel(PanelTemperature, QStringLiteral("LabelTemperature"), QStringLiteral("_"), true);
    T->addWidget(LabelHeadTemperature);
    T->addWidget(LabelTemperature);
    Row->addWidget(PanelTemperature);
    return sPanelHeadType;
}

QWidget *TFormTamrel::BuildChartPages() {
    using namespace TamrelColors;
    sPageControl1 = new QTabWidget(sPanelMain);
    sPageControl1->setObjectName(QStringLiteral("sPageControl1"));

    // Position tab.
    sTabSheetChartPosition = new QWidget;
    sTabSheetChartPosition->setObjectName(QStringLiteral("sTabSheetChartPosition"));
    auto *PosLayout = new QVBoxLayout(sTabSheetChartPosition);
    PosLayout->setContentsMargins(2, 2, 2, 2);
    PosLayout->setSpacing(0);
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
    PosLayout->addWidget(ChartPosition, 1);
    auto *PosRow = new QWidget(sTabSheetChartPosition);
    PosRow->setObjectName(QStringLiteral("Panel1"));
    PosRow->setFixedHeight(25);
    auto *PosRowL = new QHBoxLayout(PosRow);
    PosRowL->setContentsMargins(4, 0, 4, 0);
    sCheckBoxPositionFast = new QCheckBox(QStringLiteral("Draw often"), PosRow);
    sCheckBoxPositionFast->setObjectName(QStringLiteral("sCheckBoxPositionFast"));
    connect(sCheckBoxPositionFast, &QCheckBox::clicked, this,
            Guarded([this] { sCheckBoxPositionFastClick(); }));
    PosRowL->addWidget(sCheckBoxPositionFast);
    PosRowL->addStretch();
    sSpeedButton1 = NewScreenshotButton(PosRow, QStringLiteral("sSpeedButton1"));
    connect(sSpeedButton1, &QToolButton::clicked, this, Guarded([this] { ButtonSaveWindowClick(); }));
    PosRowL->addWidget(sSpeedButton1);
    PosLayout->addWidget(PosRow);
    sPageControl1->addTab(sTabSheetChartPosition, QStringLiteral("Current position"));

    // Hysteresis tab.
    sTabSheetChartHyst = new QWidget;
    sTabSheetChartHyst->setObjectName(QStringLiteral("sTabSheetChartHyst"));
    auto *HystLayout = new QVBoxLayout(sTabSheetChartHyst);
    HystLayout->setContentsMargins(2, 2, 2, 2);
    HystLayout->setSpacing(0);
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
    HystLayout->addWidget(ChartHyst, 1);

    auto *Settings = new QWidget(sTabSheetChartHyst);
    Settings->setObjectName(QStringLiteral("PanelHistSettings"));
    Settings->setFixedHeight(61);
    auto *G = new QGridLayout(Settings);
    G->setContentsMargins(4, 2, 4, 2);
    LabelStart = NewLabel(Settings, QStringLiteral("LabelStart"), QStringLiteral("Start with (%):"));
    LabelEnd = NewLabel(Settings, QStringLiteral("LabelEnd"), QStringLiteral("end with (%):"));
    LabelStep = NewLabel(Settings, QStringLiteral("LabelStep"), QStringLiteral("step (%):"));
    LabelPeriod = NewLabel(Settings, QStringLiteral("LabelPeriod"), QStringLiteral("Period (ms):"));
    FloatEditDutyStart = NewSweepEdit(Settings, QStringLiteral("FloatEditDutyStart"), 0, 100, 0, 0, 1, 1, 10);
    FloatEditDutyEnd = NewSweepEdit(Settings, QStringLiteral("FloatEditDutyEnd"), 0, 100, 50, 0, 1, 1, 10);
    FloatEditStep = NewSweepEdit(Settings, QStringLiteral("FloatEditStep"), 0, 100, 1, 0, 1, 1, 10);
    FloatEditStep->SetValueDefaultFloat(3.0L);
    FloatEditPeriod =
        NewSweepEdit(Settings, QStringLiteral("FloatEditPeriod"), 10, 1000, 100, 100, 1, 100, 10);
    // Each caption labels its field: a screen reader announces it as the field's name.
    LabelStart->setBuddy(FloatEditDutyStart);
    LabelEnd->setBuddy(FloatEditDutyEnd);
    LabelStep->setBuddy(FloatEditStep);
    LabelPeriod->setBuddy(FloatEditPeriod);
    G->addWidget(LabelStart, 0, 0);
    G->addWidget(FloatEditDutyStart, 0, 1);
    G->addWidget(LabelEnd, 0, 2);
    G->addWidget(FloatEditDutyEnd, 0, 3);
    G->addWidget(LabelStep, 1, 0);
    G->addWidget(FloatEditStep, 1, 1);
    G->addWidget(LabelPeriod, 1, 2);
    G->addWidget(FloatEditPeriod, 1, 3);
    ButtonStartStop = new QPushButton(QStringLiteral("Start"), Settings);
    ButtonStartStop->setObjectName(QStringLiteral("ButtonStartStop"));
    ButtonStartStop->setFixedSize(90, 40);
    connect(ButtonStartStop, &QPushButton::clicked, this, Guarded([this] { ButtonStartStopClick(); }));
    G->addWidget(ButtonStartStop, 0, 4, 2, 1);
    G->setColumnStretch(5, 1);
    ButtonSaveWindow = NewScreenshotButton(Settings, QStringLiteral("ButtonSaveWindow"));
    connect(ButtonSaveWindow, &QToolButton::clicked, this, Guarded([this] { ButtonSaveWindowClick(); }));
    G->addWidget(ButtonSaveWindow, 0, 6, 2, 1, Qt::AlignRight | Qt::AlignVCenter);
    HystLayout->addWidget(Settings);
    sPageControl1->addTab(sTabSheetChartHyst, QStringLiteral("Measure hysteresis"));
    NameScreenshotButtons(QStringLiteral("Chart screenshot"));

    // The screenshot area: a hidden panel kept exactly over the page control.
    PanelChart = new QWidget(sPanelMain);
    PanelChart->setObjectName(QStringLiteral("PanelChart"));
    PanelChart->hide();
    sPageControl1->installEventFilter(this);
    return sPageControl1;
}

bool TFormTamrel::eventFilter(QObject *Watched, QEvent *Event) {
    if (Watched == sPageControl1 && (Event->type() == QEvent::Resize || Event->type() == QEvent::Move))
        PanelChart->setGeometry(sPageControl1->geometry());
    if (Watched == ChartHyst && Event->type() == QEvent::Resize) {
        Label7->adjustSize();
        Label7->move(ChartHyst->width() - Label7->width() - 6, ChartHyst->height() - Label7->height() - 2);
    }
    return QMainWindow::eventFilter(Watched, Event);
}

void TFormTamrel::FormCreate() {
    using namespace TamrelColors;
    using namespace TamrelReg;
    // Link, engine factory and polling (steps on the link live with the link code).
    DeviceLink->DeviceIdentStr = QStringLiteral("Tavik");
    DeviceLink->SetBaudRate(115200);
    DeviceLink->SetOnDeviceLinkStartStop(
        [this](IDeviceLink *L, TDeviceLinkEvent E, bool Lost) { OnDeviceLinkStartStop(L, E, Lost); }, {},
        true);
    DeviceLink->SetOnCreateProtocolRef(MakeProtocolFactory());
    DeviceLink->AutoStartStop = true;
    DeviceLink->SetSearchOnConnect(true);
    DeviceLink->SetKeepConnection(true);
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

    TimeX = -1;
    SeriesPositionVoltage->setPen(QPen(FromWinColor(clRed), 2));
    SeriesPositionCurrent->setPen(QPen(FromWinColor(clBlue), 2));

    sSpeedButtonManualControlClick();
    CheckBoxPannelsLikeButtonsClick();
    FrameTamrelChannel2->SetManualControl(true, false);

    if (QScreen *S = screen()) {
        const QRect Work = S->availableGeometry();
        if (Work.height() < height()) resize(width(), Work.height());
        move(Work.center() - rect().center());
    }
    DeviceLink->DoEnglish();
}

void TFormTamrel::CheckBoxPannelsLikeButtonsClick() {
    // Without a skinning engine, "like buttons" is a raised panel face.
    for (QWidget *W : {static_cast<QWidget *>(sPanelHeadType), static_cast<QWidget *>(FrameTamrelChannel1),
                       static_cast<QWidget *>(FrameTamrelChannel2)}) {
        if (auto *Fr = qobject_cast<QFrame *>(W)) Fr->setFrameStyle(QFrame::Panel | QFrame::Raised);
    }
}

void TFormTamrel::closeEvent(QCloseEvent *Event) {
    // Closing disconnects: the link writes register 1 := 0 (with auto start/stop on) and
    // closes the port.
    if (IDeviceLink *L = Link()) L->Disconnect();
    TimerUpdateRegisters->stop();
    QMainWindow::closeEvent(Event);
}
