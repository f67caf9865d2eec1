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

void TFormTamrel::ReplotLater(QCustomPlot *Chart) {
    // Samples may arrive far faster than a screen can show them ("Draw often"): a sample only
    // marks its chart, and the frame timer redraws marked charts once per screen refresh.
    if (Chart == ChartPosition)
        FPositionDirty = true;
    else
        FHystDirty = true;
    if (!FReplotTimer) {
        FReplotTimer = new QTimer(this);
        FReplotTimer->setSingleShot(true);
        qreal Hz = 60;
        if (QScreen *S = screen()) Hz = S->refreshRate() > 1 ? S->refreshRate() : 60;
        FReplotTimer->setInterval(qBound(8, int(1000 / Hz), 50));
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

void TFormTamrel::RequestRegisterNow(quint8 RegNum) {
    TKvProtocol *P = LinkProtocol();
    if (!P) return;
    // The answer to a read outside the chains will be taken by the chain of its register.
    if (sCheckBoxPositionFast->isChecked() && FDrawOftenChains.IsCharted(RegNum))
        FDrawOftenChains.MayHaveUnasked();
    P->RequestRegister(RegNum, 0, TOnRegTimeoutOrError());
}

// ---- "Draw often" request chains ---------------------------------------------------------------

void TFormTamrel::DrawOftenSend(TKvProtocol *P, const QVector<quint8> &Reads) {
    for (quint8 R : Reads)
        P->RequestRegister(R, 0, TOnRegTimeoutOrError());
}

void TFormTamrel::DrawOftenReceived(quint8 RegNum) {
    if (!sCheckBoxPositionFast->isChecked()) return;
    TKvProtocol *P = LinkProtocol();
    if (!P) return;
    const quint32 Now = KvPlatform::TickCount();
    if (P != FDrawOftenProtocol) {
        // Reads sent over an earlier connection are answered by nobody.
        FDrawOftenChains.Reset(Now);
        FDrawOftenProtocol = P;
    }
    if (!FDrawOftenTimer) {
        FDrawOftenTimer = new QTimer(this);
        connect(FDrawOftenTimer, &QTimer::timeout, this, [this] {
            TKvApplication::RunGuarded([this] {
                TKvProtocol *Engine = LinkProtocol();
                if (!sCheckBoxPositionFast->isChecked() || !Engine || Engine != FDrawOftenProtocol) {
                    FDrawOftenTimer->stop();
                    return;
                }
                DrawOftenSend(Engine, FDrawOftenChains.Expire(KvPlatform::TickCount(), Engine->TimeOut));
            });
        });
    }
    if (!FDrawOftenTimer->isActive()) FDrawOftenTimer->start(int(P->TimeOut));
    // A measured value that nothing here asks for: the tester is sending by itself, so values
    // of the charted registers may have come unasked too.
    const TKvRegistersDynArray &Map = TesterRegistersInfo();
    if (RegNum < Map.size() && Map[RegNum].RegReadOnly && RegNum != FDrawOftenChains.FenceRegister() &&
        !FDrawOftenChains.IsCharted(RegNum)) {
        FDrawOftenChains.MayHaveUnasked();
        return;
    }
    DrawOftenSend(P, FDrawOftenChains.Received(RegNum, Now));
}

// ---- Position chart -------------------------------------------------------------------------

void TFormTamrel::PositionVoltageSample(qint64 Value) {
    const double V = Value / 1000.0;
    ++TimeX;
    SeriesPositionVoltage->addData(TimeX, V);
    QCPAxis *Left = ChartPosition->yAxis;
    Left->setRangeUpper(TamrelCharts::GrownAxisMax(Left->range().upper, V));
    if (TimeX >= ChartPosition->xAxis->range().upper) {
        TimeX = -1;
        SeriesPositionVoltage->data()->clear();
        SeriesPositionCurrent->data()->clear();
        Left->setRangeUpper(5);
    }
    ReplotLater(ChartPosition);
}

void TFormTamrel::PositionCurrentSample(qint64 Value) {
    const double A = Value / 100.0;
    SeriesPositionCurrent->addData(TimeX, A);
    QCPAxis *Left = ChartPosition->yAxis;
    Left->setRangeUpper(TamrelCharts::GrownAxisMax(Left->range().upper, A));
    ReplotLater(ChartPosition);
}

void TFormTamrel::sCheckBoxPositionFastClick() {
    // Switched either way, the chains start afresh with the next values.
    FDrawOftenChains.Reset(KvPlatform::TickCount());
    if (FDrawOftenTimer) FDrawOftenTimer->stop();
    SeriesPositionVoltage->data()->clear();
    SeriesPositionCurrent->data()->clear();
    TimeX = -1;
    ChartPosition->xAxis->setRangeUpper(sCheckBoxPositionFast->isChecked() ? 1000 : 100);
    ReplotLater(ChartPosition);
}

// ---- Hysteresis sweep -----------------------------------------------------------------------

void TFormTamrel::SetHystTimerInterval(int Ms) {
    // An interval of 0 means "stopped" here; a QTimer would fire continuously with it.
    if (Ms <= 0) {
        TimerDrawChartHyst->stop();
        return;
    }
    TimerDrawChartHyst->start(Ms);
}

void TFormTamrel::ButtonStartStopClick() {
    if (DiagramMode != dmNone) {
        DiagramMode = dmNone;
        StopActions();
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
    sSpeedButtonManualControl->setChecked(true);
    sSpeedButtonManualControlClick();
    ButtonStartStop->setText(QStringLiteral("Stop"));
    ChartHyst->xAxis->setRangeUpper(TamrelCharts::HystBottomMax(FloatEditDutyEnd->ValueInt()));
    TFloatEdit *Duty = FrameTamrelChannel1->FloatEditManualPWM;
    Duty->SetValueInt(FloatEditDutyStart->ValueInt());
    Duty->Validate(true, true);
    FrameTamrelChannel1->RequestRegPositionForDiagram = true;
    RequestRegisterNow(FrameTamrelChannel1->regPosition);
    SeriesHyst1->Clear();
    ReplotLater(ChartHyst);
    SetHystTimerInterval(int(FloatEditPeriod->ValueInt()));
}

void TFormTamrel::StopActions() {
    ButtonStartStop->setText(QStringLiteral("Start"));
    TFloatEdit *Duty = FrameTamrelChannel1->FloatEditManualPWM;
    Duty->SetValueInt(FloatEditDutyStart->ValueInt());
    Duty->Validate(true, true);
    SetHystTimerInterval(0);
    ReplotLater(ChartHyst);
}

void TFormTamrel::TimerDrawChartHystTimer() {
    if (DiagramMode == dmNone) return;
    if (!LinkConnected()) {
        DiagramMode = dmNone;
        StopActions();
        return;
    }
    TFloatEdit *DutyEdit = FrameTamrelChannel1->FloatEditManualPWM;
    const qint64 Duty = DutyEdit->ValueInt();
    const qint64 Start = FloatEditDutyStart->ValueInt();
    const qint64 End = FloatEditDutyEnd->ValueInt();
    const qint64 Step = FloatEditStep->ValueInt();
    qint64 D = Duty;
    if (DiagramMode == dmForward) {
        D = Duty + Step;
        if (D > End) DiagramMode = dmBackward;
    }
    if (DiagramMode == dmBackward) {
        D = Duty - Step;
        if (D <= Start) {
            DiagramMode = dmNone;
            StopActions();
            return;
        }
    }
    DutyEdit->SetValueInt(D);
    DutyEdit->Validate(true, true);
    FrameTamrelChannel1->RequestRegPositionForDiagram = true;
    RequestRegisterNow(FrameTamrelChannel1->regPosition);
    ReplotLater(ChartHyst);
}
