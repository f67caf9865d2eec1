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

void TFormTamrel::RequestSweepSample(qint64 duty, TDiagramMode mode) {
    FrameTamrelChannel1->DiagramSampleDuty = duty;
    FrameTamrelChannel1->DiagramSampleMode = mode;
    FrameTamrelChannel1->RequestRegPositionForDiagram = true;
    RequestRegisterNow(FrameTamrelChannel1->regPosition);
}

void TFormTamrel::ButtonStartStopClick() {
    if (DiagramMode != dmNone) {
        DiagramMode = dmNone;
        StopActions();
        SweepStopped(false, true);
    } else if (LinkConnected()) {
        DiagramMode = dmForward;
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
    // A sweep still waiting for its last sample is finished with what it has.
    if (FSweepFinishing) FinishSweep();
    FSweepPoints.clear();
    FSweepSettings = {int(FloatEditDutyStart->ValueInt()), int(FloatEditDutyEnd->ValueInt()),
                      int(FloatEditStep->ValueInt()), int(FloatEditPeriod->ValueInt()), SamplingMode()};
    sSpeedButtonManualControl->setChecked(true);
    sSpeedButtonManualControlClick();
    ButtonStartStop->setText(QStringLiteral("Stop"));
    ChartHyst->xAxis->setRangeUpper(TamrelCharts::HystBottomMax(FloatEditDutyEnd->ValueInt()));
    TFloatEdit *duty = FrameTamrelChannel1->FloatEditManualPWM;
    duty->SetValueInt(FloatEditDutyStart->ValueInt());
    duty->Validate(true, true);
    // Settled sampling reads the start duty's position at the end of its period, at the first
    // tick; sampling right after the step reads it now.
    if (FSweepSettings.Sampling == smAfterStep)
        RequestSweepSample(FloatEditDutyStart->ValueInt(), dmForward);
    else
        FrameTamrelChannel1->RequestRegPositionForDiagram = false;
    SeriesHyst1->Clear();
    ReplotLater(ChartHyst);
    SetHystTimerInterval(int(FloatEditPeriod->ValueInt()));
}

void TFormTamrel::StopActions() {
    ButtonStartStop->setText(QStringLiteral("Start"));
    TFloatEdit *duty = FrameTamrelChannel1->FloatEditManualPWM;
    duty->SetValueInt(FloatEditDutyStart->ValueInt());
    duty->Validate(true, true);
    SetHystTimerInterval(0);
    ReplotLater(ChartHyst);
}

void TFormTamrel::TimerDrawChartHystTimer() {
    if (DiagramMode == dmNone) return;
    if (!LinkConnected()) {
        DiagramMode = dmNone;
        StopActions();
        SweepStopped(false, false);
        return;
    }
    TFloatEdit *dutyEdit = FrameTamrelChannel1->FloatEditManualPWM;
    const qint64 duty = dutyEdit->ValueInt();
    const qint64 start = FloatEditDutyStart->ValueInt();
    const qint64 end = FloatEditDutyEnd->ValueInt();
    const qint64 step = FloatEditStep->ValueInt();
    // A sweep keeps the sampling it started with; a change applies to the next sweep.
    const bool settled = FSweepSettings.Sampling == smSettled;
    // The duty in force has had its whole period to settle: its position is read first, and
    // the request goes out before the next duty's write, so the tester answers it for this
    // duty. A position read after the write would show the actuator before it moved.
    if (settled) RequestSweepSample(duty, DiagramMode);
    qint64 d = duty;
    if (DiagramMode == dmForward) {
        d = duty + step;
        if (d > end) DiagramMode = dmBackward;
    }
    if (DiagramMode == dmBackward) {
        d = duty - step;
        if (d <= start) {
            DiagramMode = dmNone;
            StopActions();
            SweepStopped(true, true);
            return;
        }
    }
    dutyEdit->SetValueInt(d);
    dutyEdit->Validate(true, true);
    if (!settled) RequestSweepSample(d, DiagramMode);
    ReplotLater(ChartHyst);
}
