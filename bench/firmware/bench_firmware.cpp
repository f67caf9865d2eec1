// Speed of a firmware update: a 60 KiB image written into the simulated tester on a 115200-baud
// line, from the Start button to the success text, against the time the page frames and their
// statuses need on the wire.
#include "uFormFirmwareUpdate.h"
#include "uFormTamrel.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uSimPty.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <numeric>

namespace {

// One byte on a 115200-baud line with 10 bits per byte.
constexpr double ByteMs = 10.0 / 115200.0 * 1000.0;
constexpr int CmdPage = 26;

// Runs the event loop until Done or the time-out; a 1 ms timer wakes it to look at Done.
bool WaitFor(const std::function<bool()> &Done, int TimeoutMs) {
    QElapsedTimer T;
    T.start();
    QTimer Wake;
    Wake.start(1);
    while (!Done() && T.elapsed() < TimeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return Done();
}

void Idle(int Ms) {
    QEventLoop Loop;
    QTimer::singleShot(Ms, &Loop, &QEventLoop::quit);
    Loop.exec();
}

double Median(QVector<double> V) {
    std::sort(V.begin(), V.end());
    return V.isEmpty() ? 0 : (V.size() % 2 ? V[V.size() / 2] : (V[V.size() / 2 - 1] + V[V.size() / 2]) / 2);
}

// Connects and waits until the tester's firmware name has been read (the update button shows).
bool Connect(TFormTamrel &Form) {
    Form.DeviceLink->sButtonConnect->click();
    return WaitFor([&] { return Form.DeviceLink->IsConnected() && Form.ButtonUpdateFirmware->isVisible(); },
                   8000);
}

void BM_FirmwareUpdate60KiB(benchmark::State &State) {
    TSimOptions O;
    O.LineRate = 115200;
    O.AutoSendPeriodMs = 0; // only the update's own traffic on the line
    TSimPty Sim;
    QString Error;
    if (!Sim.Start(O, &Error)) {
        State.SkipWithError(qPrintable(Error));
        return;
    }
    TFormTamrel Form;
    new TFormFirmwareUpdate(&Form);
    Form.show();
    QByteArray Image(60 * 1024, 0);
    QRandomGenerator Rng(60);
    for (char &C : Image)
        C = char(Rng.bounded(256));
    // The tester reports this name after the update, so that the search finds it again.
    const QByteArray Name("Tavik TAMREL 2.0");
    Image.replace(0, Name.size() + 1, Name + '\0');

    const QString Success = QStringLiteral("Прошивка завершена успешно");
    QVector<double> Times, Bounds, HostTurn, TesterLate;
    double Pages = 0;
    for (auto _ : State) {
        for (int Run = 0; Run < 3; ++Run) {
            if (!Connect(Form)) {
                State.SkipWithError("no connection to the simulator");
                return;
            }
            Form.ButtonUpdateFirmware->click();
            TFormFirmwareUpdate *Fw = FormFirmwareUpdate;
            Fw->LoadFirmwareBuffer(Image, QStringLiteral("TAMREL 2.0;DeviceIdentStr=TAMREL-BL.firmware"),
                                   false);
            Fw->EditMessage->clear();
            Idle(300);
            Sim.Device()->ClearFrameLog();
            // Waits on the message itself: no polling timer competes with the transfer.
            QEventLoop Loop;
            const auto Watch =
                QObject::connect(Fw->EditMessage, &QLineEdit::textChanged, &Loop, [&](const QString &Text) {
                    if (Text == Success) Loop.quit();
                });
            QTimer::singleShot(30000, &Loop, &QEventLoop::quit);
            QElapsedTimer T;
            T.start();
            Fw->ButtonStartUpdate->click();
            Loop.exec();
            QObject::disconnect(Watch);
            if (Fw->EditMessage->text() != Success) {
                State.SkipWithError(qPrintable(QStringLiteral("no success: ") + Fw->EditMessage->text()));
                return;
            }
            Times << T.nsecsElapsed() / 1e6;
            qsizetype Bytes = 0;
            double LastAnswer = -1, LastPage = -1, LastPageBytes = 0;
            Pages = 0;
            for (const TSimFrameRecord &F : Sim.FrameLog()) {
                if (F.Command != CmdPage) continue;
                Bytes += F.Raw.size();
                if (F.Received) {
                    // From a status leaving the tester to the next page arriving: the program's turn.
                    ++Pages;
                    if (LastAnswer >= 0) HostTurn << F.TimeMs - LastAnswer;
                    LastPage = F.TimeMs;
                    LastPageBytes = F.Raw.size();
                } else {
                    LastAnswer = F.TimeMs;
                    // The simulated tester answers once the page and its status would have
                    // passed the line; what it takes beyond that is its own lateness.
                    if (LastPage >= 0)
                        TesterLate << F.TimeMs - LastPage - (LastPageBytes + F.Raw.size()) * ByteMs;
                }
            }
            Bounds << Bytes * ByteMs;
            // The window disconnects 500 ms after success.
            if (!WaitFor([&] { return !Form.DeviceLink->IsConnected(); }, 3000)) {
                State.SkipWithError("no disconnect after the update");
                return;
            }
            Idle(200);
        }
    }
    const double Ms = Median(Times), Bound = Median(Bounds);
    double Load[1] = {0};
    getloadavg(Load, 1);
    State.counters["transfer_ms"] = Ms;
    State.counters["wire_bound_ms"] = Bound;
    State.counters["bound_share_pct"] = 100.0 * Bound / Ms;
    State.counters["host_turnaround_ms"] = Median(HostTurn);
    // The mean shows the slow turns a loaded machine adds, which the median hides.
    State.counters["host_turnaround_mean_ms"] =
        HostTurn.isEmpty() ? 0 : std::accumulate(HostTurn.begin(), HostTurn.end(), 0.0) / HostTurn.size();
    State.counters["tester_late_ms"] = Median(TesterLate);
    State.counters["pages"] = Pages;
    State.counters["load_avg_1min"] = Load[0];
    Form.close();
}
BENCHMARK(BM_FirmwareUpdate60KiB)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The window's share of each page: showing one page's progress (bar, "position/size", speed
// label) with the window on screen, pages back to back; redraws come at most every 40 ms.
void BM_ShowPageProgress(benchmark::State &State) {
    TFormFirmwareUpdate Fw;
    Fw.show();
    Fw.LoadFirmwareBuffer(QByteArray(60 * 1024, 'x'), QStringLiteral("F;DeviceIdentStr=BL.firmware"), false);
    Fw.ProgressBar1->setMaximum(60 * 1024);
    Idle(100);
    quint32 Pos = 0;
    for (auto _ : State) {
        Pos = Pos + 128 < 60 * 1024 ? Pos + 128 : 128;
        Fw.OnFirmwareProgress(0, Pos, 60 * 1024);
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_ShowPageProgress)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // A private port folder: only this benchmark's simulator is found by the search.
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
