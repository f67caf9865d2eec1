// Speed of the tester application against the simulated tester on a 115200-baud line:
// the polling tick, "Draw often" sampling with its CPU cost and redraw rate, one redraw of a
// full position chart, and the program's start-up time and peak memory.
#include "uFormTamrel.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uKvFrameCodec.h"
#include "uSimPty.h"
#include "uTamrelRegisterMap.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QProcess>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <benchmark/benchmark.h>
#include <qcustomplot.h>

#include <algorithm>
#include <functional>
#include <sys/resource.h>

namespace {

// One byte on a 115200-baud line with 10 bits per byte.
constexpr double ByteMs = 10.0 / 115200.0 * 1000.0;

// Runs the event loop until Done or the time-out; sleeps between events (a 1 ms timer wakes
// it to look at Done), so the waiting itself costs next to no CPU.
bool WaitFor(const std::function<bool()> &Done, int TimeoutMs) {
    QElapsedTimer T;
    T.start();
    QTimer Wake;
    Wake.start(1);
    while (!Done() && T.elapsed() < TimeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return Done();
}

// Runs the event loop for Ms milliseconds.
void Idle(int Ms) {
    QEventLoop Loop;
    QTimer::singleShot(Ms, &Loop, &QEventLoop::quit);
    Loop.exec();
}

double Median(QVector<double> V) {
    std::sort(V.begin(), V.end());
    return V.isEmpty() ? 0 : (V.size() % 2 ? V[V.size() / 2] : (V[V.size() / 2 - 1] + V[V.size() / 2]) / 2);
}

double CpuSeconds() {
    rusage U{};
    getrusage(RUSAGE_SELF, &U);
    return U.ru_utime.tv_sec + U.ru_stime.tv_sec + (U.ru_utime.tv_usec + U.ru_stime.tv_usec) / 1e6;
}

// Presses the connect button and waits for the started connection.
bool ConnectForm(TFormTamrel &Form) {
    Form.show();
    Form.DeviceLink->sButtonConnect->click();
    return WaitFor(
        [&] { return Form.DeviceLink->IsConnected() && Form.DeviceLink->CurrentImageIndex() == 1; }, 8000);
}

// The polling tick in volts mode (10 reads) against a line-rate tester: time from the tick to
// the last of its answers, against the time the tick's bytes need on the wire.
void BM_PollingTickVolts(benchmark::State &State) {
    TSimOptions O;
    O.LineRate = 115200;
    O.AutoSendPeriodMs = 0; // only the tick's own traffic on the line
    TSimPty Sim;
    QString Error;
    if (!Sim.Start(O, &Error)) {
        State.SkipWithError(qPrintable(Error));
        return;
    }
    TFormTamrel Form;
    if (!ConnectForm(Form)) {
        State.SkipWithError("no connection to the simulator");
        return;
    }
    Form.DeviceLink->SetKeepConnection(false);
    Form.TimerUpdateRegisters->stop(); // the ticks are driven here
    Form.NManualInVolt->trigger();
    Idle(300);
    const QVector<quint8> Polled = Form.PolledRegisters();
    QVector<double> Times, Bounds, HostTurn, TesterLatency;
    for (auto _ : State) {
        for (int i = 0; i < 50; ++i) {
            Sim.Device()->ClearFrameLog();
            const auto Before = Form.ReceivedRegisterCount;
            QElapsedTimer T;
            T.start();
            Form.TimerUpdateRegistersTimer();
            const bool Done = WaitFor(
                [&] {
                    for (quint8 R : Polled)
                        if (Form.ReceivedRegisterCount[R] == Before[R]) return false;
                    return true;
                },
                3000);
            const double Ms = T.nsecsElapsed() / 1e6;
            if (!Done) {
                State.SkipWithError("a tick was not answered");
                return;
            }
            qsizetype Bytes = 0;
            const QVector<TSimFrameRecord> Log = Sim.FrameLog();
            double LastIn = -1, LastOutEnd = -1;
            for (const TSimFrameRecord &F : Log) {
                if (!Polled.contains(quint8(F.Register))) continue;
                Bytes += F.Raw.size();
                // Where the time goes: the tester from a request's arrival to its answer, and
                // this program from the tester's answer to its next request.
                if (F.Received) {
                    if (LastOutEnd >= 0) HostTurn << F.TimeMs - LastOutEnd;
                    LastIn = F.TimeMs;
                } else if (LastIn >= 0) {
                    TesterLatency << F.TimeMs - LastIn;
                    LastOutEnd = F.TimeMs;
                }
            }
            Times << Ms;
            Bounds << Bytes * ByteMs;
            Idle(20);
        }
    }
    const double Tick = Median(Times), Bound = Median(Bounds);
    State.counters["tick_ms"] = Tick;
    State.counters["wire_bound_ms"] = Bound;
    State.counters["ratio_to_bound"] = Tick / Bound;
    State.counters["tester_answer_latency_ms"] = Median(TesterLatency);
    State.counters["host_turnaround_ms"] = Median(HostTurn);
    Form.close();
}
BENCHMARK(BM_PollingTickVolts)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// "Draw often" against a line-rate tester in its own process: samples per second that reach
// the position chart, against what the line can carry, with this process's CPU time and the
// number of chart redraws per second.
void BM_DrawOften(benchmark::State &State) {
    QProcess Sim;
    Sim.setProgram(QStringLiteral(TAMREL_SIM_PATH));
    Sim.setArguments({QStringLiteral("--line-rate"), QStringLiteral("115200"),
                      QStringLiteral("--auto-send-period"), QStringLiteral("0")});
    Sim.start();
    if (!Sim.waitForStarted(5000) ||
        !WaitFor([&] { return Sim.canReadLine() || Sim.state() != QProcess::Running; }, 5000) ||
        !Sim.readLine().startsWith("TAMSIM port:")) {
        State.SkipWithError("the simulator did not start");
        return;
    }
    TFormTamrel Form;
    if (!ConnectForm(Form)) {
        State.SkipWithError("no connection to the simulator");
        Sim.terminate();
        Sim.waitForFinished(3000);
        return;
    }
    Form.DeviceLink->SetKeepConnection(false);
    Form.TimerUpdateRegisters->stop(); // only the chart's requests on the line
    Form.sCheckBoxPositionFast->click();
    TKvProtocol *P = Form.LinkProtocol();
    P->RequestRegister(TamrelReg::regPosition1, 0, {});
    P->RequestRegister(TamrelReg::regCurrent1, 0, {});
    Idle(500);

    double Samples = 0, Seconds = 0, Cpu = 0, Replots = 0;
    for (auto _ : State) {
        const quint32 N0 = Form.ReceivedRegisterCount[TamrelReg::regPosition1];
        const quint64 R0 = Form.ChartReplotCount();
        const double C0 = CpuSeconds();
        QElapsedTimer T;
        T.start();
        Idle(3000);
        Seconds = T.nsecsElapsed() / 1e9;
        Cpu = CpuSeconds() - C0;
        Samples = Form.ReceivedRegisterCount[TamrelReg::regPosition1] - N0;
        Replots = double(Form.ChartReplotCount() - R0);
    }
    // The line's bound: each chain (position, current) is a request followed by its answer;
    // both chains share the two directions of the line.
    auto Frame = [&](const QByteArray &Payload) {
        return P->UseCrc16 ? KvCodec::FrameCrc16(Payload, 0).size() : KvCodec::FrameCheckSum(Payload).size();
    };
    auto Answer = [&](quint8 R) {
        return Frame(QByteArray(1, char(7)) + char(R) + char(P->Registers[R].RegType) +
                     P->Registers[R].RawData);
    };
    const double Req2 = Frame(QByteArray("\x08\x02", 2)), Req8 = Frame(QByteArray("\x08\x08", 2));
    const double Ans2 = Answer(2), Ans8 = Answer(8);
    const double PerSampleMs = std::max(
        {(Req2 + Ans2) * ByteMs, (Req8 + Ans8) * ByteMs, (Ans2 + Ans8) * ByteMs, (Req2 + Req8) * ByteMs});
    const double Rate = Samples / Seconds, Bound = 1000.0 / PerSampleMs;
    State.counters["samples_per_s"] = Rate;
    State.counters["bound_per_s"] = Bound;
    State.counters["share_of_bound_pct"] = 100.0 * Rate / Bound;
    State.counters["cpu_pct_of_core"] = 100.0 * Cpu / Seconds;
    State.counters["replots_per_s"] = Replots / Seconds;
    Form.close();
    Idle(100);
    Sim.terminate();
    Sim.waitForFinished(3000);
}
BENCHMARK(BM_DrawOften)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// One redraw of a position chart holding 1000 voltage and 1000 current samples.
void BM_ReplotFull1000(benchmark::State &State) {
    TFormTamrel Form;
    Form.show();
    Idle(100);
    Form.sCheckBoxPositionFast->click(); // 1000-sample chart; not connected, so no requests
    TKvProtocol Source([](const QByteArray &) {}, TesterRegistersInfo(), {}, {}, {}, false, {}, false);
    for (int i = 0; i < 999; ++i) {
        VariantToRegister(Source.Registers[2], qint32(2500 + 2000 * std::sin(i / 40.0)));
        Form.OnReceivedRegister(&Source, 2);
        VariantToRegister(Source.Registers[8], qint32(150 + 100 * std::cos(i / 25.0)));
        Form.OnReceivedRegister(&Source, 8);
    }
    for (auto _ : State)
        Form.ChartPosition->replot(QCustomPlot::rpImmediateRefresh);
    State.counters["points"] = double(Form.SeriesPositionVoltage->data()->size());
}
BENCHMARK(BM_ReplotFull1000)->Unit(benchmark::kMillisecond);

// Showing the ten values of a volts-mode polling tick (the window's share of each answer).
void BM_ShowPolledValues(benchmark::State &State) {
    TFormTamrel Form;
    Form.show();
    Idle(100);
    Form.NManualInVolt->trigger();
    TKvProtocol Source([](const QByteArray &) {}, TesterRegistersInfo(), {}, {}, {}, false, {}, false);
    const QVector<quint8> Polled = Form.PolledRegisters();
    for (quint8 R : Polled)
        VariantToRegister(Source.Registers[R], R == 14 ? 1 : (R == 4 ? 1 : 3));
    for (auto _ : State)
        for (quint8 R : Polled)
            Form.OnReceivedRegister(&Source, R);
    State.SetItemsProcessed(State.iterations() * Polled.size());
}
BENCHMARK(BM_ShowPolledValues)->Unit(benchmark::kMicrosecond);

// Start-up: from starting the program's process to its main window's first paint, offscreen;
// median of 10 runs, with the peak resident memory the program reports at that moment.
void BM_StartUp(benchmark::State &State) {
    QVector<double> Times, Rss;
    for (auto _ : State) {
        for (int i = 0; i < 10; ++i) {
            QProcess Probe;
            QElapsedTimer T;
            T.start();
            Probe.start(QStringLiteral(TAMREL_STARTUP_PROBE_PATH), {});
            if (!Probe.waitForStarted(5000) || !Probe.waitForReadyRead(10000)) {
                State.SkipWithError("the program did not show its window");
                return;
            }
            const double Ms = T.nsecsElapsed() / 1e6;
            const QList<QByteArray> Parts = Probe.readLine().trimmed().split(' ');
            Probe.waitForFinished(5000);
            Times << Ms;
            Rss << Parts.value(1).toDouble() / 1024.0;
        }
    }
    State.counters["startup_ms"] = Median(Times);
    State.counters["peak_rss_mb"] = Median(Rss);
}
BENCHMARK(BM_StartUp)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // A private port folder: only this benchmark's simulators are found by the search.
    QTemporaryDir Runtime;
    qputenv("XDG_RUNTIME_DIR", Runtime.path().toLocal8Bit());
    QApplication App(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
