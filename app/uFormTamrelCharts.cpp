// The position chart of channel 1 and the hysteresis sweep.
#include "CompFloatEdit.h"
#include "uBalloonHint.h"
#include "uFormTamrel.h"
#include "uFrameTamrelChannel.h"
#include "uKvApplication.h"
#include "uPlatformTick.h"
#include "uTamrelCharts.h"
#include "uTamrelRegisterMap.h"

#include <QCheckBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <qcustomplot.h>

using namespace TamrelReg;

void TFormTamrel::ReplotLater(QCustomPlot *chart) {
    // Samples may arrive far faster than a screen can show them ("Draw often"): a sample only
    // marks its chart, and the frame timer redraws marked charts once per screen refresh.
    if (chart == ChartPosition)
        FPositionDirty = true;
    else
        FHystDirty = true;
    if (!FReplotTimer) {
        FReplotTimer = new QTimer(this);
        FReplotTimer->setSingleShot(true);
        qreal hz = 60;
        if (QScreen *s = screen()) hz = s->refreshRate() > 1 ? s->refreshRate() : 60;
        FReplotTimer->setInterval(qBound(8, int(1000 / hz), 50));
        FReplotTimer->setTimerType(Qt::PreciseTimer);
        connect(FReplotTimer, &QTimer::timeout, this, [this] {
            if (FPositionDirty) {
                FPositionDirty = false;
                ChartPosition->replot(QCustomPlot::rpQueuedRefresh);
            }
            if (FHystDirty) {
                FHystDirty = false;
                ChartHyst->replot(QCustomPlot::rpQueuedRefresh);
            }
        });
    }
    if (!FReplotTimer->isActive()) FReplotTimer->start();
}

void TFormTamrel::RequestRegisterNow(quint8 regNum) {
    TKvProtocol *p = LinkProtocol();
    if (!p) return;
    // The answer to a read outside the chains will be taken by the chain of its register.
    if (sCheckBoxPositionFast->isChecked() && FDrawOftenChains.IsCharted(regNum))
        FDrawOftenChains.MayHaveUnasked();
    p->RequestRegister(regNum, 0, TOnRegTimeoutOrError());
}

// ---- "Draw often" request chains ---------------------------------------------------------------

void TFormTamrel::DrawOftenSend(TKvProtocol *p, const QVector<quint8> &reads) {
    for (quint8 r : reads)
        p->RequestRegister(r, 0, TOnRegTimeoutOrError());
}

void TFormTamrel::DrawOftenReceived(quint8 regNum) {
    if (!sCheckBoxPositionFast->isChecked()) return;
    TKvProtocol *p = LinkProtocol();
    if (!p) return;
    const quint32 now = KvPlatform::TickCount();
    if (p != FDrawOftenProtocol) {
        // Reads sent over an earlier connection are answered by nobody.
        FDrawOftenChains.Reset(now);
        FDrawOftenProtocol = p;
    }
    if (!FDrawOftenTimer) {
        FDrawOftenTimer = new QTimer(this);
        connect(FDrawOftenTimer, &QTimer::timeout, this, [this] {
            TKvApplication::RunGuarded([this] {
                TKvProtocol *engine = LinkProtocol();
                if (!sCheckBoxPositionFast->isChecked() || !engine || engine != FDrawOftenProtocol) {
                    FDrawOftenTimer->stop();
                    return;
                }
                DrawOftenSend(engine, FDrawOftenChains.Expire(KvPlatform::TickCount(), engine->TimeOut));
            });
        });
    }
    if (!FDrawOftenTimer->isActive()) FDrawOftenTimer->start(int(p->TimeOut));
    // A measured value that nothing here asks for: the tester is sending by itself, so values
    // of the charted registers may have come unasked too.
    const TKvRegistersDynArray &map = TesterRegistersInfo();
    if (regNum < map.size() && map[regNum].RegReadOnly && regNum != FDrawOftenChains.FenceRegister() &&
        !FDrawOftenChains.IsCharted(regNum)) {
        FDrawOftenChains.MayHaveUnasked();
        return;
    }
    DrawOftenSend(p, FDrawOftenChains.Received(regNum, now));
}

// ---- Position chart -------------------------------------------------------------------------

void TFormTamrel::PositionVoltageSample(qint64 value) {
    const double v = value / 1000.0;
    ++TimeX;
    SeriesPositionVoltage->addData(TimeX, v);
    // The export gives each sample its time since the chart began.
    const quint32 now = KvPlatform::TickCount();
    if (FPositionSamples.isEmpty()) FPositionStartTick = now;
    FPositionSamples.append(QPointF(double(quint32(now - FPositionStartTick)), v));
    QCPAxis *left = ChartPosition->yAxis;
    left->setRangeUpper(TamrelCharts::GrownAxisMax(left->range().upper, v));
    if (TimeX >= ChartPosition->xAxis->range().upper) {
        TimeX = -1;
        SeriesPositionVoltage->data()->clear();
        SeriesPositionCurrent->data()->clear();
        FPositionSamples.clear();
        left->setRangeUpper(5);
    }
    ReplotLater(ChartPosition);
}

void TFormTamrel::PositionCurrentSample(qint64 value) {
    const double a = value / 100.0;
    SeriesPositionCurrent->addData(TimeX, a);
    QCPAxis *left = ChartPosition->yAxis;
    left->setRangeUpper(TamrelCharts::GrownAxisMax(left->range().upper, a));
    ReplotLater(ChartPosition);
}

void TFormTamrel::sCheckBoxPositionFastClick() {
    // Switched either way, the chains start afresh with the next values.
    FDrawOftenChains.Reset(KvPlatform::TickCount());
    if (FDrawOftenTimer) FDrawOftenTimer->stop();
    SeriesPositionVoltage->data()->clear();
    SeriesPositionCurrent->data()->clear();
    FPositionSamples.clear();
    TimeX = -1;
    ChartPosition->xAxis->setRangeUpper(sCheckBoxPositionFast->isChecked() ? 1000 : 100);
    ReplotLater(ChartPosition);
}

// ---- Hysteresis sweep -----------------------------------------------------------------------

void TFormTamrel::SetHystTimerInterval(int ms) {
    // An interval of 0 means "stopped" here; a QTimer would fire continuously with it.
    if (ms <= 0) {
        TimerDrawChartHyst->stop();
        return;
    }
    TimerDrawChartHyst->start(ms);
}

TSamplingMode TFormTamrel::SamplingMode() const {
    return CheckBoxSampleAfterStep->isChecked() ? smAfterStep : smSettled;
}

void TFormTamrel::ButtonStartStopClick() {
    if (DiagramMode != dmNone) {
        StopSweep(ssUser);
    } else if (LinkConnected()) {
        StartActions();
    } else {
        StopActions();
        // Nothing can start without the tester: say so at the button instead of doing nothing.
        BalloonHintInd->SetTitle(TextSweepNotConnected);
        BalloonHintInd->ShowHint(
            ButtonStartStop->mapToGlobal(QPoint(ButtonStartStop->width() / 2, ButtonStartStop->height())));
    }
}

void TFormTamrel::StartActions() {
    sSpeedButtonManualControl->setChecked(true);
    sSpeedButtonManualControlClick();
    ButtonStartStop->setText(QStringLiteral("Stop"));
    ChartHyst->xAxis->setRangeUpper(TamrelCharts::HystBottomMax(FloatEditDutyEnd->ValueInt()));
    SeriesHyst1->Clear();
    ReplotLater(ChartHyst);
    // The sweep writes the start duty, asks for its position when sampling right after each
    // step, and starts the step timer.
    FSweep.Start({int(FloatEditDutyStart->ValueInt()), int(FloatEditDutyEnd->ValueInt()),
                  int(FloatEditStep->ValueInt()), int(FloatEditPeriod->ValueInt()), SamplingMode()});
}

void TFormTamrel::StopActions() {
    WriteDuty(FloatEditDutyStart->ValueInt());
    StepsEnded();
}

void TFormTamrel::StopSweep(TSweepStop why) {
    // The duty returns to the start the field shows now.
    FSweep.Follow(FrameTamrelChannel1->FloatEditManualPWM->ValueInt(), FloatEditDutyStart->ValueInt(),
                  FloatEditDutyEnd->ValueInt(), FloatEditStep->ValueInt());
    FSweep.Stop(why);
}

void TFormTamrel::TimerDrawChartHystTimer() {
    if (DiagramMode == dmNone) return;
    if (!LinkConnected()) {
        StopSweep(ssLinkLost);
        return;
    }
    // The technician may change the fields (or move the duty) during a sweep: the next step
    // follows them.
    FSweep.Follow(FrameTamrelChannel1->FloatEditManualPWM->ValueInt(), FloatEditDutyStart->ValueInt(),
                  FloatEditDutyEnd->ValueInt(), FloatEditStep->ValueInt());
    FSweep.Tick();
    ReplotLater(ChartHyst);
}

// ---- The sweep's tester: channel 1 over the link, steps on the step timer ---------------------

void TFormTamrel::WriteDuty(qint64 duty) {
    // Through the field: the slider follows, and register 5 is written when connected.
    TFloatEdit *edit = FrameTamrelChannel1->FloatEditManualPWM;
    edit->SetValueInt(duty);
    edit->Validate(true, true);
}

void TFormTamrel::RequestPosition() {
    RequestRegisterNow(FrameTamrelChannel1->regPosition);
}

void TFormTamrel::StartSteps(int periodMs) {
    SetHystTimerInterval(periodMs);
}

void TFormTamrel::StepsEnded() {
    ButtonStartStop->setText(QStringLiteral("Start"));
    SetHystTimerInterval(0);
    ReplotLater(ChartHyst);
}

void TFormTamrel::SampleTaken(const TTestRecordPoint &point) {
    FrameTamrelChannel1->AddSweepPoint(point);
    ReplotLater(ChartHyst);
}
