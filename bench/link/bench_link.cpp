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
        Link.DeviceIdentStr = "Tavik";
        Link.SetBaudRate(115200);
        Link.SetSearchOnConnect(true);
        Link.SetKeepConnection(true);
        Link.SetOnDeviceLinkStartStop(
            [this](IDeviceLink *, TDeviceLinkEvent E, bool Lost) {
                if (E == OnStart) {
                    Started = true;
                    if (Waiting) Waiting->quit();
                }
                if (E == OnStop && Lost) {
                    StoppedLost = true;
                    if (Waiting) Waiting->quit();
                }
            },
            {}, true);
        Link.SetOnCreateProtocolRef([](IDeviceLink *Sender) {
            auto *P = new TKvProtocol(Sender->GetTransmitProcedure(), TesterRegistersInfo(), {}, {}, {},
                                      false, "TamrelLog", Sender->GetProtocolInThread());
            Sender->SetKvProtocol(P);
            Sender->SetOnReceived([P](const QByteArray &Data) { P->InputData(Data); });
        });
    }

    template <class Pred> static bool Pump(Pred Done, int TimeoutMs) {
        QElapsedTimer T;
        T.start();
        while (!Done()) {
            if (T.elapsed() > TimeoutMs) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return true;
    }
};

std::unique_ptr<TSimPty> StartSim() {
    auto Sim = std::make_unique<TSimPty>();
    TSimOptions O;
    O.Ident = "Tavik TAMREL";
    O.AutoSendPeriodMs = 0;
    Sim->Start(O);
    return Sim;
}

void BM_ConnectBySearch(benchmark::State &State) {
    auto Sim = StartSim();
    TBenchLink B;
    for (auto _ : State) {
        QEventLoop Loop;
        B.Waiting = &Loop;
        B.Started = false;
        QTimer::singleShot(5000, &Loop, &QEventLoop::quit);
        B.Link.sButtonConnect->click();
        if (!B.Started) Loop.exec();
        B.Waiting = nullptr;
        State.PauseTiming();
        if (!B.Started) State.SkipWithError("no connection within 5 s");
        B.Link.Disconnect();
        TBenchLink::Pump([] { return ActiveSearchProbes() == 0; }, 5000);
        State.ResumeTiming();
    }
}
BENCHMARK(BM_ConnectBySearch)
    ->Iterations(1)
    ->Repetitions(20)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ConnectDisconnectCycles(benchmark::State &State) {
    auto Sim = StartSim();
    TBenchLink B;
    B.Link.ComPortObject()->SetPort(Sim->PortName());
    for (auto _ : State) {
        B.Link.Connect();
        if (!TBenchLink::Pump([&] { return B.Link.CurrentImageIndex() == 1; }, 5000)) {
            State.SkipWithError("start not acknowledged");
            break;
        }
        B.Link.Disconnect();
    }
}
BENCHMARK(BM_ConnectDisconnectCycles)->Iterations(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_UnplugToStop(benchmark::State &State) {
    TBenchLink B;
    B.Link.SetSearchOnConnect(false);
    for (auto _ : State) {
        auto Sim = StartSim();
        B.Link.ComPortObject()->SetPort(Sim->PortName());
        B.Link.Connect();
        if (!TBenchLink::Pump([&] { return B.Link.CurrentImageIndex() == 1; }, 5000)) {
            State.SkipWithError("start not acknowledged");
            break;
        }
        B.StoppedLost = false;
        QEventLoop Loop;
        B.Waiting = &Loop;
        QTimer::singleShot(10000, &Loop, &QEventLoop::quit);
        QElapsedTimer T;
        T.start();
        Sim->Stop(); // the pty closes under the link
        if (!B.StoppedLost) Loop.exec();
        State.SetIterationTime(double(T.nsecsElapsed()) / 1e9);
        B.Waiting = nullptr;
        if (!B.StoppedLost) {
            State.SkipWithError("no loss reported within 10 s");
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
    QTemporaryDir Runtime;
    QFile::setPermissions(Runtime.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", Runtime.path().toLocal8Bit());
    QApplication App(argc, argv);
    QDir().mkpath(VirtualPortFolder());
    SetComPortTable(std::make_shared<TVirtualPortTable>());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
