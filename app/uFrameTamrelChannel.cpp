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

QLabel *NewLabel(QWidget *parent, const QString &name, const QString &text) {
    auto *l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
}

QSlider *NewSlider(QWidget *parent, const QString &name, int max, int tickEvery) {
    auto *s = new QSlider(Qt::Horizontal, parent);
    s->setObjectName(name);
    s->setRange(0, max);
    s->setTickInterval(tickEvery);
    s->setTickPosition(QSlider::TicksBelow);
    s->setValue(0);
    return s;
}

// A floating field: range, decimals, the three steps and the default; an empty text is
// allowed and bad input is corrected without a question when the user validates.
TFloatEdit *NewFloatEdit(QWidget *parent, const QString &name, long double max, int digits,
                         long double stepSm, long double step, long double stepPg, long double defaultValue) {
    auto *e = new TFloatEdit(parent);
    e->setObjectName(name);
    e->SetIntegerMode(false);
    e->SetMinValueFloat(0);
    e->SetMaxValueFloat(max);
    e->SetPrecisionDigits(10, digits);
    e->SetIncrementSM(stepSm);
    e->SetIncrement(step);
    e->SetIncrementPg(stepPg);
    e->SetValueDefaultFloat(defaultValue);
    e->SetEnableEmpty(true);
    e->SetAutoCorretion(true);
    e->SetValueFloat(0);
    e->ShowValue();
    return e;
}

QFrame *NewPanel(QWidget *parent, const QString &name) {
    auto *p = new QFrame(parent);
    p->setObjectName(name);
    return p;
}

int RoundHalfEven(long double v) {
    return int(std::nearbyint(double(v)));
}

} // namespace

TFrameTamrelChannel::TFrameTamrelChannel(ITamrelChannelHost *host, QWidget *parent)
    : QFrame(parent), FHost(host) {
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
    auto *main = new QVBoxLayout(this);
    main->setContentsMargins(2, 2, 2, 2);
    main->setSpacing(0);

    // Title bar.
    Panel1 = NewPanel(this, QStringLiteral("Panel1"));
    Panel1->setFixedHeight(224 - 4 - 87 - 102);
    auto *titleRow = new QHBoxLayout(Panel1);
    titleRow->setContentsMargins(6, 0, 6, 0);
    Label1 = NewLabel(Panel1, QStringLiteral("Label1"), QStringLiteral("Channel 1:"));
    QFont titleFont = Label1->font();
    titleFont.setPixelSize(20);
    Label1->setFont(titleFont);
    titleRow->addWidget(Label1);
    titleRow->addStretch();
    main->addWidget(Panel1);

    // Setting section: three alternatives in the same place.
    PanelVinManual = NewPanel(this, QStringLiteral("PanelVinManual"));
    PanelVinManual->setFixedHeight(87);
    auto *stack = new QGridLayout(PanelVinManual);
    stack->setContentsMargins(0, 0, 0, 0);

    auto makeSection = [this, stack](const QString &name, QSlider *&slider, const QString &sliderName,
                                     int max, int tick, QLabel *caption, QLabel *caption2, TFloatEdit *edit,
                                     QLabel *unit) {
        QFrame *p = NewPanel(PanelVinManual, name);
        auto *g = new QGridLayout(p);
        g->setContentsMargins(8, 4, 8, 4);
        caption->setParent(p);
        edit->setParent(p);
        unit->setParent(p);
        auto *row = new QHBoxLayout;
        row->addWidget(caption);
        if (caption2) {
            caption2->setParent(p);
            row->addWidget(caption2);
        }
        row->addStretch();
        edit->setFixedWidth(90);
        row->addWidget(edit);
        row->addWidget(unit);
        g->addLayout(row, 0, 0);
        slider = NewSlider(p, sliderName, max, tick);
        g->addWidget(slider, 1, 0);
        stack->addWidget(p, 0, 0);
        return p;
    };

    Label3 = NewLabel(this, QStringLiteral("Label3"), QStringLiteral("Vin"));
    LabelSet = NewLabel(this, QStringLiteral("LabelSet"), QStringLiteral("(Set)"));
    Label5 = NewLabel(this, QStringLiteral("Label5"), QStringLiteral("V"));
    FloatEditSetupVin =
        NewFloatEdit(this, QStringLiteral("FloatEditSetupVin"), 5, 3, 0.001L, 0.01L, 0.1L, 1.0L);
    PanelVin = makeSection(QStringLiteral("PanelVin"), TrackBarVin, QStringLiteral("TrackBarVin"), 500, 50,
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
        makeSection(QStringLiteral("PanelManualPWM"), TrackBarManualPWM, QStringLiteral("TrackBarManualPWM"),
                    100, 10, LabelDutyCycle2, nullptr, FloatEditManualPWM, LabelManualUnit);

    LabelDutyCycle = NewLabel(this, QStringLiteral("LabelDutyCycle"), QStringLiteral("Duty cycle:"));
    Label12 = NewLabel(this, QStringLiteral("Label12"), QStringLiteral("V"));
    FloatEditManualVolts =
        NewFloatEdit(this, QStringLiteral("FloatEditManualVolts"), 14, 1, 0.01L, 0.1L, 1.0L, 1.0L);
    PanelManualVolts = makeSection(QStringLiteral("PanelManualVolts"), TrackBarManualVolts,
                                   QStringLiteral("TrackBarManualVolts"), 140, 10, LabelDutyCycle, nullptr,
                                   FloatEditManualVolts, Label12);
    main->addWidget(PanelVinManual);

    // Measured section.
    Panel4 = NewPanel(this, QStringLiteral("Panel4"));
    Panel4->setFixedHeight(102);
    auto *m = new QGridLayout(Panel4);
    m->setContentsMargins(8, 2, 8, 2);
    Label4 = NewLabel(Panel4, QStringLiteral("Label4"), QStringLiteral("Vout"));
    LabelMeasured = NewLabel(Panel4, QStringLiteral("LabelMeasured"), QStringLiteral("(Measured)"));
    FloatEditPosition = NewFloatEdit(Panel4, QStringLiteral("FloatEditPosition"), 5, 3, 1, 1, 10, 1.0L);
    FloatEditPosition->setReadOnly(true);
    FloatEditPosition->setFixedWidth(110);
    QFont big = FloatEditPosition->font();
    big.setPixelSize(22);
    big.setBold(true);
    FloatEditPosition->setFont(big);
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

    auto *voutCaption = new QHBoxLayout;
    voutCaption->addWidget(Label4);
    voutCaption->addWidget(LabelMeasured);
    voutCaption->addStretch();
    m->addLayout(voutCaption, 0, 0);
    m->addWidget(FloatEditPosition, 0, 1);
    m->addWidget(Label6, 0, 2);
    m->addWidget(LabelVout, 0, 3);
    m->addWidget(ProgressBarVout, 1, 0, 1, 4);
    m->addWidget(LabelCurrent, 2, 0);
    m->addWidget(FloatEditCurrent, 2, 1);
    m->addWidget(Label8, 2, 2);
    m->addWidget(LabelCur, 2, 3);
    main->addWidget(Panel4);
}

void TFrameTamrelChannel::SetManualControl(bool manualControl, bool inVolts) {
    PanelVin->setVisible(!manualControl);
    PanelManualPWM->setVisible(manualControl && !inVolts);
    PanelManualVolts->setVisible(manualControl && inVolts);
}

void TFrameTamrelChannel::WriteRegister(quint8 regNum, const QVariant &value) {
    if (FShowingReceived || !FHost || FHost->SkipWrites() || !FHost->LinkConnected()) return;
    if (TKvProtocol *p = FHost->LinkProtocol()) p->WriteRegisterValue(regNum, value);
}

// ---- Slider and field couplings ------------------------------------------------------------

bool TFrameTamrelChannel::HoldsValue(TFloatEdit *edit) {
    // An empty field holds no value (an unknown one was received, or the user cleared it): the
    // slider stays where it is and nothing is sent.
    return edit->ValueVar().isValid();
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
    const long double v = FloatEditSetupVin->ValueFloat();
    SkipTrackBarOnChange = true;
    TrackBarVin->setValue(RoundHalfEven(v * 100));
    SkipTrackBarOnChange = false;
    WriteRegister(regSetupVin, double(v * 1000));
}

void TFrameTamrelChannel::FloatEditManualPWMValidate() {
    if (!HoldsValue(FloatEditManualPWM)) return;
    const qint64 v = FloatEditManualPWM->ValueInt();
    SkipTrackBarOnChange = true;
    TrackBarManualPWM->setValue(int(std::clamp<qint64>(v, 0, 100)));
    SkipTrackBarOnChange = false;
    WriteRegister(regManualControlPWM, v);
}

void TFrameTamrelChannel::FloatEditManualVoltsValidate() {
    if (!HoldsValue(FloatEditManualVolts)) return;
    const long double v = FloatEditManualVolts->ValueFloat();
    SkipTrackBarOnChange = true;
    TrackBarManualVolts->setValue(RoundHalfEven(v * 10));
    SkipTrackBarOnChange = false;
    WriteRegister(regManualControlVolts, double(v * 10));
}

// ---- Received values -----------------------------------------------------------------------

void TFrameTamrelChannel::OnReceivedRegister(quint8 regNum, std::optional<qint64> value) {
    if (regNum == regPosition) {
        // The bar shows every value; it cannot show one outside its range, so it is pinned to
        // the nearer end. An unknown value empties it.
        if (value)
            ProgressBarVout->setValue(
                int(std::clamp<qint64>(*value, ProgressBarVout->minimum(), ProgressBarVout->maximum())));
        else
            ProgressBarVout->reset();
        const double v = value ? *value / 1000.0 : 0.0;
        const quint32 now = KvPlatform::TickCount();
        if (quint32(now - TimerShowPosition) > ShowPositionIntervalMs) {
            if (value)
                FloatEditPosition->SetValueFloat(v);
            else
                FloatEditPosition->SetValueVar(QVariant());
            TimerShowPosition = now;
        }
    }
    if (regNum == regSetupVin) ShowReceivedSetting(FloatEditSetupVin, value, 1000);
    if (regNum == regCurrent) {
        if (value)
            FloatEditCurrent->SetValueFloat(*value / 100.0L);
        else
            FloatEditCurrent->SetValueVar(QVariant());
    }
    if (regNum == regManualControlPWM && !(SweepDrivesDuty && FHost && FHost->CurrentDiagramMode() != dmNone))
        ShowReceivedSetting(FloatEditManualPWM, value, 1);
    if (regNum == regManualControlVolts) ShowReceivedSetting(FloatEditManualVolts, value, 10);
}

void TFrameTamrelChannel::AddSweepPoint(const TTestRecordPoint &point) {
    if (!SeriesHyst) return;
    if (point.Branch == sbFalling)
        SeriesHyst->AddPoint(point.Duty, point.Volts, BackwardColor);
    else
        SeriesHyst->AddPoint(point.Duty, point.Volts);
}

void TFrameTamrelChannel::ShowReceivedSetting(TFloatEdit *edit, std::optional<qint64> value, int scale) {
    // The text the user is typing into the field stays until the edit ends; the tester's
    // latest value is shown then unless the user committed a value of their own.
    edit->ShowUnlessEditing([this, edit, value, scale] {
        // Shown now, under the window's guard, or later when the edit ends: either way the value
        // came from the tester and is not written back.
        const QScopedValueRollback<bool> showing(FShowingReceived, true);
        if (!value)
            edit->SetValueVar(QVariant()); // unknown: the empty field
        else if (edit->IntegerMode())
            edit->SetValueInt(*value / scale);
        else
            edit->SetValueFloat(static_cast<long double>(*value) / scale);
        edit->Validate(true, true);
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

void TFrameTamrelChannel::DoEnglish() {
    LabelDutyCycle->setText(QStringLiteral("Duty cycle:"));
    LabelDutyCycle2->setText(QStringLiteral("Duty cycle:"));
    LabelMeasured->setText(QStringLiteral("(Measured)"));
    LabelSet->setText(QStringLiteral("(Set)"));
    LabelCurrent->setText(QStringLiteral("Current"));
    NameFields();
}

void TFrameTamrelChannel::NameFields() {
    // Each field's captions are separate labels and repeat on the other panel, so a field is
    // named by the panel's title, its captions and its unit: "Channel 1: Vin (Set), V".
    auto caption = [](const QLabel *l) {
        QString t = l->text().trimmed();
        if (t.endsWith(QLatin1Char(':'))) t.chop(1);
        return t;
    };
    auto name = [this, &caption](TFloatEdit *edit, std::initializer_list<const QLabel *> captions,
                                 const QLabel *unit) {
        QStringList words{Label1->text().trimmed()};
        for (const QLabel *c : captions)
            words << caption(c);
        edit->setAccessibleName(words.join(QLatin1Char(' ')) + QStringLiteral(", ") + caption(unit));
    };
    name(FloatEditSetupVin, {Label3, LabelSet}, Label5);
    name(FloatEditManualPWM, {LabelDutyCycle2}, LabelManualUnit);
    name(FloatEditManualVolts, {LabelDutyCycle}, Label12);
    name(FloatEditPosition, {Label4, LabelMeasured}, Label6);
    name(FloatEditCurrent, {LabelCurrent}, Label8);
}
