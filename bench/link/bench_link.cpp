// Device link benchmarks against a simulated tester on a real pseudo-terminal.
//  - ConnectBySearch: from pressing the connect button (search on) to the start notification,
//    with the tester answering at once; one press per repetition, median over 20.
//  - ConnectDisconnectCycles: connect, wait for the start acknowledgement, disconnect; run it
//    in the sanitizer build to see that repeated connections leak nothing.
//  - UnplugToStop: the connected tester vanishes (its pty closes, as a USB device that is
//    pulled out) until the link reports OnStop with the connection lost; one unplug per
//    repetition, median over 20.
#include "uComPortList.h"
#include "uFormConnectionSettingsMorvaSearch.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uKvProtocol.h"
#include "uSimPty.h"
#include "uTamrelRegisterMap.h"
#include "uTamrelTester.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

class TVirtualPortTable : public IComPortTable {
public:
    TComNameDescriptions ReadTable() override {
        return ReadLinuxComPortTable(QStringLiteral("/nonexistent-sysfs"), QStringLiteral("/dev"),
                                     VirtualPortFolder());
    }
};

struct TBenchLink {
    TFrameDeviceLinkComMorva Link;
    QEventLoop *Waiting = nullptr;
    bool Started = false;
    bool StoppedLost = false;

    TBenchLink() {
        Link.DeviceIdentStr = QLatin1String(TamrelTester::IdentPrefix);
        Link.SetBaudRate(TamrelTester::BaudRate);
        Link.SetSearchOnConnect(true);
        Link.SetKeepConnection(true);
        Link.SetOnDeviceLinkStartStop(
            [this](IDeviceLink *, TDeviceLinkEvent e, bool lost) {
                if (e == OnStart) {
                    Started = true;
                    if (Waiting) Waiting->quit();
                }
                if (e == OnStop && lost) {
                    StoppedLost = true;
                    if (Waiting) Waiting->quit();
                }
            },
            {}, true);
        Link.SetOnCreateProtocolRef([](IDeviceLink *sender) {
            auto *p = new TKvProtocol(sender->GetTransmitProcedure(), TesterRegistersInfo(), {}, {}, {},
                                      false, "TamrelLog", sender->GetProtocolInThread());
            sender->SetKvProtocol(p);
            sender->SetOnReceived([p](const QByteArray &data) { p->InputData(data); });
        });
    }

    template <class Pred> static bool Pump(Pred done, int timeoutMs) {
        QElapsedTimer t;
        t.start();
        while (!done()) {
            if (t.elapsed() > timeoutMs) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return true;
    }
};

std::unique_ptr<TSimPty> StartSim() {
    auto sim = std::make_unique<TSimPty>();
    TSimOptions o;
    o.Ident = QLatin1String(TamrelTester::IdentPrefix) + QStringLiteral(" TAMREL");
    o.AutoSendPeriodMs = 0;
    sim->Start(o);
    return sim;
}

void BM_ConnectBySearch(benchmark::State &state) {
    auto sim = StartSim();
    TBenchLink b;
    for (auto _ : state) {
        QEventLoop loop;
        b.Waiting = &loop;
        b.Started = false;
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        b.Link.sButtonConnect->click();
        if (!b.Started) loop.exec();
        b.Waiting = nullptr;
        state.PauseTiming();
        if (!b.Started) state.SkipWithError("no connection within 5 s");
        b.Link.Disconnect();
        TBenchLink::Pump([] { return ActiveSearchProbes() == 0; }, 5000);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ConnectBySearch)
    ->Iterations(1)
    ->Repetitions(20)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ConnectDisconnectCycles(benchmark::State &state) {
    auto sim = StartSim();
    TBenchLink b;
    b.Link.ComPortObject()->SetPort(sim->PortName());
    for (auto _ : state) {
        b.Link.Connect();
        if (!TBenchLink::Pump([&] { return b.Link.CurrentImageIndex() == 1; }, 5000)) {
            state.SkipWithError("start not acknowledged");
            break;
        }
        b.Link.Disconnect();
    }
}
BENCHMARK(BM_ConnectDisconnectCycles)->Iterations(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_UnplugToStop(benchmark::State &state) {
    TBenchLink b;
    b.Link.SetSearchOnConnect(false);
    for (auto _ : state) {
        auto sim = StartSim();
        b.Link.ComPortObject()->SetPort(sim->PortName());
        b.Link.Connect();
        if (!TBenchLink::Pump([&] { return b.Link.CurrentImageIndex() == 1; }, 5000)) {
            state.SkipWithError("start not acknowledged");
            break;
        }
        b.StoppedLost = false;
        QEventLoop loop;
        b.Waiting = &loop;
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        QElapsedTimer t;
        t.start();
        sim->Stop(); // the pty closes under the link
        if (!b.StoppedLost) loop.exec();
        state.SetIterationTime(double(t.nsecsElapsed()) / 1e9);
        b.Waiting = nullptr;
        if (!b.StoppedLost) {
            state.SkipWithError("no loss reported within 10 s");
            break;
        }
    }
}
BENCHMARK(BM_UnplugToStop)
    ->Iterations(1)
    ->Repetitions(20)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    QApplication app(argc, argv);
    QDir().mkpath(VirtualPortFolder());
    SetComPortTable(std::make_shared<TVirtualPortTable>());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
