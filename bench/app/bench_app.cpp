// Speed of the tester application against the simulated tester on the tester's line rate:
// the polling tick, "Draw often" sampling with its CPU cost and redraw rate, one redraw of a
// full position chart, and the program's start-up time and peak memory.
#include "uFormTamrel.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uKvFrameCodec.h"
#include "uKvHopTrace.h"
#include "uSimPty.h"
#include "uTamrelRegisterMap.h"
#include "uTamrelTester.h"

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
#include <vector>

namespace {

// One byte on the tester's line with 10 bits per byte.
constexpr double ByteMs = 10.0 / TamrelTester::BaudRate * 1000.0;

// Runs the event loop until Done or the time-out; sleeps between events (a 1 ms timer wakes
// it to look at Done), so the waiting itself costs next to no CPU.
bool WaitFor(const std::function<bool()> &done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    QTimer wake;
    wake.start(1);
    while (!done() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

// Runs the event loop for Ms milliseconds.
void Idle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double Median(QVector<double> v) {
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : (v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2);
}

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The two configurations side by side: 0 = the program's (answers handled on the GUI
// thread), 1 = the protocol in the port's thread.
bool Threaded(const benchmark::State &state) {
    return state.range(0) != 0;
}

// Spread over the repetitions, next to Google Benchmark's mean and median.
double MinOf(const std::vector<double> &v) {
    return v.empty() ? 0 : *std::min_element(v.begin(), v.end());
}
double MaxOf(const std::vector<double> &v) {
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

// One run per configuration, five repetitions each, reported with their median and range.
void BothConfigurations(benchmark::internal::Benchmark *b) {
    b->ArgName("threaded")
        ->Arg(0)
        ->Arg(1)
        ->Iterations(1)
        ->Repetitions(5)
        ->ComputeStatistics("min", MinOf)
        ->ComputeStatistics("max", MaxOf)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

// Where an exchange's time goes, in microseconds per hop (see uKvHopTrace.h).
void HopCounters(benchmark::State &state, const KvHopTrace::TTotals &hops) {
    using T = KvHopTrace::TTotals;
    state.counters["hop_write_to_read_us"] = T::MeanUs(hops.WriteToReadNs, hops.WriteToReadCount);
    state.counters["hop_read_to_dispatch_us"] = T::MeanUs(hops.ReadToDispatchNs, hops.ReadToDispatchCount);
    state.counters["hop_dispatch_to_write_us"] = T::MeanUs(hops.DispatchToWriteNs, hops.DispatchToWriteCount);
}

// Traces the hops while it lives.
struct THopTracing {
    KvHopTrace::TTotals Totals;
    THopTracing() { KvHopTrace::Active = &Totals; }
    ~THopTracing() { KvHopTrace::Active = nullptr; }
};

// Presses the connect button and waits for the started connection.
bool ConnectForm(TFormTamrel &form) {
    form.show();
    form.DeviceLink->sButtonConnect->click();
    return WaitFor(
        [&] { return form.DeviceLink->IsConnected() && form.DeviceLink->CurrentImageIndex() == 1; }, 8000);
}

// The polling tick in volts mode (10 reads) against a line-rate tester: time from the tick to
// the last of its answers, against the time the tick's bytes need on the wire.
void BM_PollingTickVolts(benchmark::State &state) {
    TSimOptions o;
    o.LineRate = TamrelTester::BaudRate;
    o.AutoSendPeriodMs = 0; // only the tick's own traffic on the line
    TSimPty sim;
    QString error;
    if (!sim.Start(o, &error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    TFormTamrel form;
    form.DeviceLink->SetProtocolInThread(Threaded(state));
    if (!ConnectForm(form)) {
        state.SkipWithError("no connection to the simulator");
        return;
    }
    form.DeviceLink->SetKeepConnection(false);
    form.TimerUpdateRegisters->stop(); // the ticks are driven here
    form.NManualInVolt->trigger();
    Idle(300);
    const QVector<quint8> Polled = form.PolledRegisters();
    QVector<double> times, bounds, hostTurn, testerLatency;
    THopTracing hops;
    for (auto _ : state) {
        for (int i = 0; i < 50; ++i) {
            sim.Device()->ClearFrameLog();
            const auto Before = form.ReceivedRegisterCount;
            QElapsedTimer t;
            t.start();
            // A hop never spans the pause between two ticks.
            hops.Totals.LastDispatch = -1;
            form.TimerUpdateRegistersTimer();
            const bool done = WaitFor(
                [&] {
                    for (quint8 r : Polled)
                        if (form.ReceivedRegisterCount[r] == Before[r]) return false;
                    return true;
                },
                3000);
            const double ms = t.nsecsElapsed() / 1e6;
            if (!done) {
                state.SkipWithError("a tick was not answered");
                return;
            }
            qsizetype bytes = 0;
            const QVector<TSimFrameRecord> log = sim.FrameLog();
            double lastIn = -1, lastOutEnd = -1;
            for (const TSimFrameRecord &f : log) {
                if (!Polled.contains(quint8(f.Register))) continue;
                bytes += f.Raw.size();
                // Where the time goes: the tester from a request's arrival to its answer, and
                // this program from the tester's answer to its next request.
                if (f.Received) {
                    if (lastOutEnd >= 0) hostTurn << f.TimeMs - lastOutEnd;
                    lastIn = f.TimeMs;
                } else if (lastIn >= 0) {
                    testerLatency << f.TimeMs - lastIn;
                    lastOutEnd = f.TimeMs;
                }
            }
            times << ms;
            bounds << bytes * ByteMs;
            Idle(20);
        }
    }
    const double tick = Median(times), bound = Median(bounds);
    state.counters["tick_ms"] = tick;
    state.counters["wire_bound_ms"] = bound;
    state.counters["ratio_to_bound"] = tick / bound;
    state.counters["tester_answer_latency_ms"] = Median(testerLatency);
    state.counters["host_turnaround_ms"] = Median(hostTurn);
    HopCounters(state, hops.Totals);
    form.close();
}
BENCHMARK(BM_PollingTickVolts)->Apply(BothConfigurations);

// "Draw often" against a line-rate tester in its own process: samples per second that reach
// the position chart, against what the line can carry, with this process's CPU time and the
// number of chart redraws per second.
void BM_DrawOften(benchmark::State &state) {
    QProcess sim;
    sim.setProgram(QStringLiteral(TAMREL_SIM_PATH));
    sim.setArguments({QStringLiteral("--line-rate"), QString::number(TamrelTester::BaudRate),
                      QStringLiteral("--auto-send-period"), QStringLiteral("0")});
    sim.start();
    if (!sim.waitForStarted(5000) ||
        !WaitFor([&] { return sim.canReadLine() || sim.state() != QProcess::Running; }, 5000) ||
        !sim.readLine().startsWith("TAMSIM port:")) {
        state.SkipWithError("the simulator did not start");
        return;
    }
    TFormTamrel form;
    form.DeviceLink->SetProtocolInThread(Threaded(state));
    if (!ConnectForm(form)) {
        state.SkipWithError("no connection to the simulator");
        sim.terminate();
        sim.waitForFinished(3000);
        return;
    }
    form.DeviceLink->SetKeepConnection(false);
    form.TimerUpdateRegisters->stop(); // only the chart's requests on the line
    form.sCheckBoxPositionFast->click();
    TKvProtocol *P = form.LinkProtocol();
    P->RequestRegister(TamrelReg::regPosition1, 0, {});
    P->RequestRegister(TamrelReg::regCurrent1, 0, {});
    Idle(500);

    double samples = 0, seconds = 0, cpu = 0, replots = 0;
    THopTracing hops;
    for (auto _ : state) {
        const quint32 n0 = form.ReceivedRegisterCount[TamrelReg::regPosition1];
        const quint64 r0 = form.ChartReplotCount();
        const double c0 = CpuSeconds();
        QElapsedTimer t;
        t.start();
        Idle(3000);
        seconds = t.nsecsElapsed() / 1e9;
        cpu = CpuSeconds() - c0;
        samples = form.ReceivedRegisterCount[TamrelReg::regPosition1] - n0;
        replots = double(form.ChartReplotCount() - r0);
    }
    // The line's bound: each chain (position, current) is a request followed by its answer;
    // both chains share the two directions of the line.
    auto frame = [&](const QByteArray &payload) {
        return P->UseCrc16 ? KvCodec::FrameCrc16(payload, 0).size() : KvCodec::FrameCheckSum(payload).size();
    };
    auto answer = [&](quint8 r) {
        return frame(QByteArray(1, char(7)) + char(r) + char(P->Registers[r].RegType) +
                     P->Registers[r].RawData);
    };
    const double req2 = frame(QByteArray("\x08\x02", 2)), req8 = frame(QByteArray("\x08\x08", 2));
    const double ans2 = answer(2), ans8 = answer(8);
    const double perSampleMs = std::max(
        {(req2 + ans2) * ByteMs, (req8 + ans8) * ByteMs, (ans2 + ans8) * ByteMs, (req2 + req8) * ByteMs});
    const double rate = samples / seconds, bound = 1000.0 / perSampleMs;
    state.counters["samples_per_s"] = rate;
    state.counters["bound_per_s"] = bound;
    state.counters["share_of_bound_pct"] = 100.0 * rate / bound;
    state.counters["cpu_pct_of_core"] = 100.0 * cpu / seconds;
    state.counters["replots_per_s"] = replots / seconds;
    HopCounters(state, hops.Totals);
    form.close();
    Idle(100);
    sim.terminate();
    sim.waitForFinished(3000);
}
BENCHMARK(BM_DrawOften)->Apply(BothConfigurations);

// One redraw of a position chart holding 1000 voltage and 1000 current samples.
void BM_ReplotFull1000(benchmark::State &state) {
    TFormTamrel form;
    form.show();
    Idle(100);
    form.sCheckBoxPositionFast->click(); // 1000-sample chart; not connected, so no requests
    TKvProtocol source([](const QByteArray &) {}, TesterRegistersInfo(), {}, {}, {}, false, {}, false);
    for (int i = 0; i < 999; ++i) {
        VariantToRegister(source.Registers[2], qint32(2500 + 2000 * std::sin(i / 40.0)));
        form.OnReceivedRegister(&source, 2);
        VariantToRegister(source.Registers[8], qint32(150 + 100 * std::cos(i / 25.0)));
        form.OnReceivedRegister(&source, 8);
    }
    for (auto _ : state)
        form.ChartPosition->replot(QCustomPlot::rpImmediateRefresh);
    state.counters["points"] = double(form.SeriesPositionVoltage->data()->size());
}
BENCHMARK(BM_ReplotFull1000)->Unit(benchmark::kMillisecond);

// Showing the ten values of a volts-mode polling tick (the window's share of each answer).
void BM_ShowPolledValues(benchmark::State &state) {
    TFormTamrel form;
    form.show();
    Idle(100);
    form.NManualInVolt->trigger();
    TKvProtocol source([](const QByteArray &) {}, TesterRegistersInfo(), {}, {}, {}, false, {}, false);
    const QVector<quint8> polled = form.PolledRegisters();
    for (quint8 r : polled)
        VariantToRegister(source.Registers[r], r == 14 ? 1 : (r == 4 ? 1 : 3));
    for (auto _ : state)
        for (quint8 r : polled)
            form.OnReceivedRegister(&source, r);
    state.SetItemsProcessed(state.iterations() * polled.size());
}
BENCHMARK(BM_ShowPolledValues)->Unit(benchmark::kMicrosecond);

// Start-up: from starting the program's process to its main window's first paint, offscreen;
// median of 10 runs, with the peak resident memory the program reports at that moment.
void BM_StartUp(benchmark::State &state) {
    QVector<double> times, rss;
    for (auto _ : state) {
        for (int i = 0; i < 10; ++i) {
            QProcess probe;
            QElapsedTimer t;
            t.start();
            probe.start(QStringLiteral(TAMREL_STARTUP_PROBE_PATH), {});
            if (!probe.waitForStarted(5000) || !probe.waitForReadyRead(10000)) {
                state.SkipWithError("the program did not show its window");
                return;
            }
            const double ms = t.nsecsElapsed() / 1e6;
            const QList<QByteArray> parts = probe.readLine().trimmed().split(' ');
            probe.waitForFinished(5000);
            times << ms;
            rss << parts.value(1).toDouble() / 1024.0;
        }
    }
    state.counters["startup_ms"] = Median(times);
    state.counters["peak_rss_mb"] = Median(rss);
}
BENCHMARK(BM_StartUp)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // A private port folder: only this benchmark's simulators are found by the search.
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
