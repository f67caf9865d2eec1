#include "uFrameTamrelChannel.h"
#include "CompFloatEdit.h"
#include "uKvProtocol.h"
#include "uPlatformTick.h"
#include "uTamrelCharts.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QScopedValueRollback>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

QLabel *NewLabel(QWidget *Parent, const QString &Name, const QString &Text) {
    auto *L = new QLabel(Text, Parent);
    L->setObjectName(Name);
    return L;
}

QSlider *NewSlider(QWidget *Parent, const QString &Name, int Max, int TickEvery) {
    auto *S = new QSlider(Qt::Horizontal, Parent);
    S->setObjectName(Name);
    S->setRange(0, Max);
    S->setTickInterval(TickEvery);
    S->setTickPosition(QSlider::TicksBelow);
    S->setValue(0);
    return S;
}

// A floating field: range, decimals, the three steps and the default; an empty text is
// allowed and bad input is corrected without a question when the user validates.
TFloatEdit *NewFloatEdit(QWidget *Parent, const QString &Name, long double Max, int Digits,
                         long double StepSM, long double Step, long double StepPg, long double Default) {
    auto *E = new TFloatEdit(Parent);
    E->setObjectName(Name);
    E->SetIntegerMode(false);
    E->SetMinValueFloat(0);
    E->SetMaxValueFloat(Max);
    E->SetPrecisionDigits(10, Digits);
    E->SetIncrementSM(StepSM);
    E->SetIncrement(Step);
    E->SetIncrementPg(StepPg);
    E->SetValueDefaultFloat(Default);
    E->SetEnableEmpty(true);
    E->SetAutoCorretion(true);
    E->SetValueFloat(0);
    E->ShowValue();
    return E;
}

QFrame *NewPanel(QWidget *Parent, const QString &Name) {
    auto *P = new QFrame(Parent);
    P->setObjectName(Name);
    return P;
}

int RoundHalfEven(long double V) {
    return int(std::nearbyint(double(V)));
}

} // namespace

TFrameTamrelChannel::TFrameTamrelChannel(ITamrelChannelHost *Host, QWidget *Parent)
    : QFrame(Parent), FHost(Host) {
    setObjectName(QStringLiteral("TFrameTamrelChannel"));
    BuildLayout();
    NameFields();
    connect(TrackBarVin, &QSlider::valueChanged, this, [this] { TrackBarVinChange(); });
    connect(TrackBarManualPWM, &QSlider::valueChanged, this, [this] { TrackBarManualPWMChange(); });
    connect(TrackBarManualVolts, &QSlider::valueChanged, this, [this] { TrackBarManualVoltsChange(); });
    FloatEditSetupVin->OnValidate = [this](QObject *) { FloatEditSetupVinValidate(); };
    FloatEditManualPWM->OnValidate = [this](QObject *) { FloatEditManualPWMValidate(); };
    FloatEditManualVolts->OnValidate = [this](QObject *) { FloatEditManualVoltsValidate(); };
    SetManualControl(false, false);
    // The tick count may start near 0 with the program; dating the last refresh one interval
    // back makes the first reading show at once.
    TimerShowPosition = KvPlatform::TickCount() - ShowPositionIntervalMs - 1;
}

void TFrameTamrelChannel::BuildLayout() {
    setFrameShape(QFrame::StyledPanel);
    setFixedSize(289, 224);
    auto *Main = new QVBoxLayout(this);
    Main->setContentsMargins(2, 2, 2, 2);
    Main->setSpacing(0);

    // Title bar.
    Panel1 = NewPanel(this, QStringLiteral("Panel1"));
    Panel1->setFixedHeight(224 - 4 - 87 - 102);
    auto *TitleRow = new QHBoxLayout(Panel1);
    TitleRow->setContentsMargins(6, 0, 6, 0);
    Label1 = NewLabel(Panel1, QStringLiteral("Label1"), QStringLiteral("Channel 1:"));
    QFont TitleFont = Label1->font();
    TitleFont.setPixelSize(20);
    Label1->setFont(TitleFont);
    TitleRow->addWidget(Label1);
    TitleRow->addStretch();
    Main->addWidget(Panel1);

    // Setting section: three alternatives in the same place.
    PanelVinManual = NewPanel(this, QStringLiteral("PanelVinManual"));
    PanelVinManual->setFixedHeight(87);
    auto *Stack = new QGridLayout(PanelVinManual);
    Stack->setContentsMargins(0, 0, 0, 0);

    auto MakeSection = [this, Stack](const QString &Name, QSlider *&Slider, const QString &SliderName,
                                     int Max, int Tick, QLabel *Caption, QLabel *Caption2, TFloatEdit *Edit,
                                     QLabel *Unit) {
        QFrame *P = NewPanel(PanelVinManual, Name);
        auto *G = new QGridLayout(P);
        G->setContentsMargins(8, 4, 8, 4);
        Caption->setParent(P);
        Edit->setParent(P);
        Unit->setParent(P);
        auto *Row = new QHBoxLayout;
        Row->addWidget(Caption);
        if (Caption2) {
            Caption2->setParent(P);
            Row->addWidget(Caption2);
        }
        Row->addStretch();
        Edit->setFixedWidth(90);
        Row->addWidget(Edit);
        Row->addWidget(Unit);
        G->addLayout(Row, 0, 0);
        Slider = NewSlider(P, SliderName, Max, Tick);
        G->addWidget(Slider, 1, 0);
        Stack->addWidget(P, 0, 0);
        return P;
    };

    Label3 = NewLabel(this, QStringLiteral("Label3"), QStringLiteral("Vin"));
    LabelSet = NewLabel(this, QStringLiteral("LabelSet"), QStringLiteral("(Set)"));
    Label5 = NewLabel(this, QStringLiteral("Label5"), QStringLiteral("V"));
    FloatEditSetupVin =
        NewFloatEdit(this, QStringLiteral("FloatEditSetupVin"), 5, 3, 0.001L, 0.01L, 0.1L, 1.0L);
    PanelVin = MakeSection(QStringLiteral("PanelVin"), TrackBarVin, QStringLiteral("TrackBarVin"), 500, 50,
                           Label3, LabelSet, FloatEditSetupVin, Label5);

    LabelDutyCycle2 = NewLabel(this, QStringLiteral("LabelDutyCycle2"), QStringLiteral("Duty cycle:"));
    LabelManualUnit = NewLabel(this, QStringLiteral("LabelManualUnit"), QStringLiteral("%"));
    FloatEditManualPWM = new TFloatEdit(this);
    FloatEditManualPWM->setObjectName(QStringLiteral("FloatEditManualPWM"));
    FloatEditManualPWM->SetIntegerMode(true);
    FloatEditManualPWM->SetMinValueInt(0);
    FloatEditManualPWM->SetMaxValueInt(100);
    FloatEditManualPWM->SetIncrementSM(1);
    FloatEditManualPWM->SetIncrement(1);
    FloatEditManualPWM->SetIncrementPg(10);
    FloatEditManualPWM->SetEnableEmpty(true);
    FloatEditManualPWM->SetAutoCorretion(true);
    FloatEditManualPWM->SetValueInt(0);
    FloatEditManualPWM->ShowValue();
    PanelManualPWM =
        MakeSection(QStringLiteral("PanelManualPWM"), TrackBarManualPWM, QStringLiteral("TrackBarManualPWM"),
                    100, 10, LabelDutyCycle2, nullptr, FloatEditManualPWM, LabelManualUnit);

    LabelDutyCycle = NewLabel(this, QStringLiteral("LabelDutyCycle"), QStringLiteral("Duty cycle:"));
    Label12 = NewLabel(this, QStringLiteral("Label12"), QStringLiteral("V"));
    FloatEditManualVolts =
        NewFloatEdit(this, QStringLiteral("FloatEditManualVolts"), 14, 1, 0.01L, 0.1L, 1.0L, 1.0L);
    PanelManualVolts = MakeSection(QStringLiteral("PanelManualVolts"), TrackBarManualVolts,
                                   QStringLiteral("TrackBarManualVolts"), 140, 10, LabelDutyCycle, nullptr,
                                   FloatEditManualVolts, Label12);
    Main->addWidget(PanelVinManual);

    // Measured section.
    Panel4 = NewPanel(this, QStringLiteral("Panel4"));
    Panel4->setFixedHeight(102);
    auto *M = new QGridLayout(Panel4);
    M->setContentsMargins(8, 2, 8, 2);
    Label4 = NewLabel(Panel4, QStringLiteral("Label4"), QStringLiteral("Vout"));
    LabelMeasured = NewLabel(Panel4, QStringLiteral("LabelMeasured"), QStringLiteral("(Measured)"));
    FloatEditPosition = NewFloatEdit(Panel4, QStringLiteral("FloatEditPosition"), 5, 3, 1, 1, 10, 1.0L);
    FloatEditPosition->setReadOnly(true);
    FloatEditPosition->setFixedWidth(110);
    QFont Big = FloatEditPosition->font();
    Big.setPixelSize(22);
    Big.setBold(true);
    FloatEditPosition->setFont(Big);
    FloatEditPosition->setStyleSheet(QStringLiteral("color: #008000;"));
    Label6 = NewLabel(Panel4, QStringLiteral("Label6"), QStringLiteral("V"));
    LabelVout = NewLabel(Panel4, QStringLiteral("LabelVout"), QStringLiteral("––"));
    LabelVout->setStyleSheet(QStringLiteral("color: #ff0000; font-weight: bold;"));
    ProgressBarVout = new QProgressBar(Panel4);
    ProgressBarVout->setObjectName(QStringLiteral("ProgressBarVout"));
    ProgressBarVout->setRange(0, 5000);
    ProgressBarVout->setValue(0);
    ProgressBarVout->setTextVisible(false);
    ProgressBarVout->setFixedHeight(14);
    LabelCurrent = NewLabel(Panel4, QStringLiteral("LabelCurrent"), QStringLiteral("Current"));
    FloatEditCurrent = NewFloatEdit(Panel4, QStringLiteral("FloatEditCurrent"), 100, 2, 1, 1, 10, 3.0L);
    FloatEditCurrent->setReadOnly(true);
    FloatEditCurrent->setFixedWidth(110);
    FloatEditCurrent->SetValueFloat(3.0L);
    Label8 = NewLabel(Panel4, QStringLiteral("Label8"), QStringLiteral("A"));
    LabelCur = NewLabel(Panel4, QStringLiteral("LabelCur"), QStringLiteral("––"));
    LabelCur->setStyleSheet(QStringLiteral("color: #0000ff; font-weight: bold;"));

    auto *VoutCaption = new QHBoxLayout;
    VoutCaption->addWidget(Label4);
    VoutCaption->addWidget(LabelMeasured);
    VoutCaption->addStretch();
    M->addLayout(VoutCaption, 0, 0);
    M->addWidget(FloatEditPosition, 0, 1);
    M->addWidget(Label6, 0, 2);
    M->addWidget(LabelVout, 0, 3);
    M->addWidget(ProgressBarVout, 1, 0, 1, 4);
    M->addWidget(LabelCurrent, 2, 0);
    M->addWidget(FloatEditCurrent, 2, 1);
    M->addWidget(Label8, 2, 2);
    M->addWidget(LabelCur, 2, 3);
    Main->addWidget(Panel4);
}

void TFrameTamrelChannel::SetManualControl(bool ManualControl, bool InVolts) {
    PanelVin->setVisible(!ManualControl);
    PanelManualPWM->setVisible(ManualControl && !InVolts);
    PanelManualVolts->setVisible(ManualControl && InVolts);
}

void TFrameTamrelChannel::WriteRegister(quint8 RegNum, const QVariant &Value) {
    if (FShowingReceived || !FHost || FHost->SkipWrites() || !FHost->LinkConnected()) return;
    if (TKvProtocol *P = FHost->LinkProtocol()) P->WriteRegisterValue(RegNum, Value);
}

// ---- Slider and field couplings ------------------------------------------------------------

bool TFrameTamrelChannel::HoldsValue(TFloatEdit *Edit) {
    // An empty field holds no value (an unknown one was received, or the user cleared it): the
    // slider stays where it is and nothing is sent.
    return Edit->ValueVar().isValid();
}

void TFrameTamrelChannel::TrackBarVinChange() {
    if (SkipTrackBarOnChange) return;
    FloatEditSetupVin->SetValueFloat(TrackBarVin->value() / 100.0L);
    FloatEditSetupVin->Validate(true, true);
}

void TFrameTamrelChannel::TrackBarManualPWMChange() {
    if (SkipTrackBarOnChange) return;
    FloatEditManualPWM->SetValueInt(TrackBarManualPWM->value());
    FloatEditManualPWM->Validate(true, true);
}

void TFrameTamrelChannel::TrackBarManualVoltsChange() {
    if (SkipTrackBarOnChange) return;
    FloatEditManualVolts->SetValueFloat(TrackBarManualVolts->value() / 10.0L);
    FloatEditManualVolts->Validate(true, true);
}

void TFrameTamrelChannel::FloatEditSetupVinValidate() {
    if (!HoldsValue(FloatEditSetupVin)) return;
    const long double V = FloatEditSetupVin->ValueFloat();
    SkipTrackBarOnChange = true;
    TrackBarVin->setValue(RoundHalfEven(V * 100));
    SkipTrackBarOnChange = false;
    WriteRegister(regSetupVin, double(V * 1000));
}

void TFrameTamrelChannel::FloatEditManualPWMValidate() {
    if (!HoldsValue(FloatEditManualPWM)) return;
    const qint64 V = FloatEditManualPWM->ValueInt();
    SkipTrackBarOnChange = true;
    TrackBarManualPWM->setValue(int(std::clamp<qint64>(V, 0, 100)));
    SkipTrackBarOnChange = false;
    WriteRegister(regManualControlPWM, V);
}

void TFrameTamrelChannel::FloatEditManualVoltsValidate() {
    if (!HoldsValue(FloatEditManualVolts)) return;
    const long double V = FloatEditManualVolts->ValueFloat();
    SkipTrackBarOnChange = true;
    TrackBarManualVolts->setValue(RoundHalfEven(V * 10));
    SkipTrackBarOnChange = false;
    WriteRegister(regManualControlVolts, double(V * 10));
}

// ---- Received values -----------------------------------------------------------------------

void TFrameTamrelChannel::OnReceivedRegister(quint8 RegNum, std::optional<qint64> Value) {
    if (RegNum == regPosition) {
        // The bar shows every value; it cannot show one outside its range, so it is pinned to
        // the nearer end. An unknown value empties it.
        if (Value)
            ProgressBarVout->setValue(
                int(std::clamp<qint64>(*Value, ProgressBarVout->minimum(), ProgressBarVout->maximum())));
        else
            ProgressBarVout->reset();
        const double V = Value ? *Value / 1000.0 : 0.0;
        const quint32 Now = KvPlatform::TickCount();
        if (quint32(Now - TimerShowPosition) > ShowPositionIntervalMs) {
            if (Value)
                FloatEditPosition->SetValueFloat(V);
            else
                FloatEditPosition->SetValueVar(QVariant());
            TimerShowPosition = Now;
        }
        // An unknown reading is no sample: the sweep's request stays open for the next one.
        if (RequestRegPositionForDiagram && Value) {
            RequestRegPositionForDiagram = false;
            const TDiagramMode Mode = FHost ? FHost->CurrentDiagramMode() : dmNone;
            if (SeriesHyst && Mode == dmForward)
                SeriesHyst->AddPoint(double(FloatEditManualPWM->ValueInt()), V);
            else if (SeriesHyst && Mode == dmBackward)
                SeriesHyst->AddPoint(double(FloatEditManualPWM->ValueInt()), V, BackwardColor);
        }
    }
    if (RegNum == regSetupVin) ShowReceivedSetting(FloatEditSetupVin, Value, 1000);
    if (RegNum == regCurrent) {
        if (Value)
            FloatEditCurrent->SetValueFloat(*Value / 100.0L);
        else
            FloatEditCurrent->SetValueVar(QVariant());
    }
    if (RegNum == regManualControlPWM && !(SweepDrivesDuty && FHost && FHost->CurrentDiagramMode() != dmNone))
        ShowReceivedSetting(FloatEditManualPWM, Value, 1);
    if (RegNum == regManualControlVolts) ShowReceivedSetting(FloatEditManualVolts, Value, 10);
}

void TFrameTamrelChannel::ShowReceivedSetting(TFloatEdit *Edit, std::optional<qint64> Value, int Scale) {
    // The text the user is typing into the field stays until the edit ends; the tester's
    // latest value is shown then unless the user committed a value of their own.
    Edit->ShowUnlessEditing([this, Edit, Value, Scale] {
        // Shown now, under the window's guard, or later when the edit ends: either way the value
        // came from the tester and is not written back.
        const QScopedValueRollback<bool> Showing(FShowingReceived, true);
        if (!Value)
            Edit->SetValueVar(QVariant()); // unknown: the empty field
        else if (Edit->IntegerMode())
            Edit->SetValueInt(*Value / Scale);
        else
            Edit->SetValueFloat(static_cast<long double>(*Value) / Scale);
        Edit->Validate(true, true);
    });
}

void TFrameTamrelChannel::DoRus() {
    LabelDutyCycle->setText(QStringLiteral("Скважность:"));
    LabelDutyCycle2->setText(QStringLiteral("Скважность:"));
    LabelMeasured->setText(QStringLiteral("(Измеренное)"));
    LabelSet->setText(QStringLiteral("(Заданное)"));
    LabelCurrent->setText(QStringLiteral("Ток"));
    NameFields();
}

void TFrameTamrelChannel::NameFields() {
    // Each field's captions are separate labels and repeat on the other panel, so a field is
    // named by the panel's title, its captions and its unit: "Channel 1: Vin (Set), V".
    auto Caption = [](const QLabel *L) {
        QString T = L->text().trimmed();
        if (T.endsWith(QLatin1Char(':'))) T.chop(1);
        return T;
    };
    auto Name = [this, &Caption](TFloatEdit *Edit, std::initializer_list<const QLabel *> Captions,
                                 const QLabel *Unit) {
        QStringList Words{Label1->text().trimmed()};
        for (const QLabel *C : Captions)
            Words << Caption(C);
        Edit->setAccessibleName(Words.join(QLatin1Char(' ')) + QStringLiteral(", ") + Caption(Unit));
    };
    Name(FloatEditSetupVin, {Label3, LabelSet}, Label5);
    Name(FloatEditManualPWM, {LabelDutyCycle2}, LabelManualUnit);
    Name(FloatEditManualVolts, {LabelDutyCycle}, Label12);
    Name(FloatEditPosition, {Label4, LabelMeasured}, Label6);
    Name(FloatEditCurrent, {LabelCurrent}, Label8);
}
