// Speed of a firmware update: a 60 KiB image written into the simulated tester on the tester's
// line, from the Start button to the success text, against the time the page frames and their
// statuses need on the wire.
#include "uFormFirmwareUpdate.h"
#include "uFormTamrel.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uSimPty.h"
#include "uTamrelTester.h"

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

// One byte on the tester's line with 10 bits per byte.
constexpr double ByteMs = 10.0 / TamrelTester::BaudRate * 1000.0;
constexpr int CmdPage = 26;

// Runs the event loop until Done or the time-out; a 1 ms timer wakes it to look at Done.
bool WaitFor(const std::function<bool()> &done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    QTimer wake;
    wake.start(1);
    while (!done() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

void Idle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double Median(QVector<double> v) {
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : (v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2);
}

// Connects and waits until the tester's firmware name has been read (the update button shows).
bool Connect(TFormTamrel &form) {
    form.DeviceLink->sButtonConnect->click();
    return WaitFor([&] { return form.DeviceLink->IsConnected() && form.ButtonUpdateFirmware->isVisible(); },
                   8000);
}

void BM_FirmwareUpdate60KiB(benchmark::State &state) {
    TSimOptions o;
    o.LineRate = TamrelTester::BaudRate;
    o.AutoSendPeriodMs = 0; // only the update's own traffic on the line
    TSimPty sim;
    QString error;
    if (!sim.Start(o, &error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    TFormTamrel form;
    new TFormFirmwareUpdate(&form);
    form.show();
    QByteArray image(60 * 1024, 0);
    QRandomGenerator rng(60);
    for (char &c : image)
        c = char(rng.bounded(256));
    // The tester reports this name after the update, so that the search finds it again.
    const QByteArray name = QByteArray(TamrelTester::IdentPrefix) + " TAMREL 2.0";
    image.replace(0, name.size() + 1, name + '\0');

    const QString success = QStringLiteral("Прошивка завершена успешно");
    QVector<double> times, bounds, hostTurn, testerLate;
    double pages = 0;
    for (auto _ : state) {
        for (int run = 0; run < 3; ++run) {
            if (!Connect(form)) {
                state.SkipWithError("no connection to the simulator");
                return;
            }
            form.ButtonUpdateFirmware->click();
            TFormFirmwareUpdate *fw = FormFirmwareUpdate;
            fw->LoadFirmwareBuffer(image, QStringLiteral("TAMREL 2.0;DeviceIdentStr=TAMREL-BL.firmware"),
                                   false);
            fw->EditMessage->clear();
            Idle(300);
            sim.Device()->ClearFrameLog();
            // Waits on the message itself: no polling timer competes with the transfer.
            QEventLoop Loop;
            const auto watch =
                QObject::connect(fw->EditMessage, &QLineEdit::textChanged, &Loop, [&](const QString &text) {
                    if (text == success) Loop.quit();
                });
            QTimer::singleShot(30000, &Loop, &QEventLoop::quit);
            QElapsedTimer t;
            t.start();
            fw->ButtonStartUpdate->click();
            Loop.exec();
            QObject::disconnect(watch);
            if (fw->EditMessage->text() != success) {
                state.SkipWithError(qPrintable(QStringLiteral("no success: ") + fw->EditMessage->text()));
                return;
            }
            times << t.nsecsElapsed() / 1e6;
            qsizetype bytes = 0;
            double lastAnswer = -1, lastPage = -1, lastPageBytes = 0;
            pages = 0;
            for (const TSimFrameRecord &f : sim.FrameLog()) {
                if (f.Command != CmdPage) continue;
                bytes += f.Raw.size();
                if (f.Received) {
                    // From a status leaving the tester to the next page arriving: the program's turn.
                    ++pages;
                    if (lastAnswer >= 0) hostTurn << f.TimeMs - lastAnswer;
                    lastPage = f.TimeMs;
                    lastPageBytes = f.Raw.size();
                } else {
                    lastAnswer = f.TimeMs;
                    // The simulated tester answers once the page and its status would have
                    // passed the line; what it takes beyond that is its own lateness.
                    if (lastPage >= 0)
                        testerLate << f.TimeMs - lastPage - (lastPageBytes + f.Raw.size()) * ByteMs;
                }
            }
            bounds << bytes * ByteMs;
            // The window disconnects 500 ms after success.
            if (!WaitFor([&] { return !form.DeviceLink->IsConnected(); }, 3000)) {
                state.SkipWithError("no disconnect after the update");
                return;
            }
            Idle(200);
        }
    }
    const double ms = Median(times), bound = Median(bounds);
    double load[1] = {0};
    getloadavg(load, 1);
    state.counters["transfer_ms"] = ms;
    state.counters["wire_bound_ms"] = bound;
    state.counters["bound_share_pct"] = 100.0 * bound / ms;
    state.counters["host_turnaround_ms"] = Median(hostTurn);
    // The mean shows the slow turns a loaded machine adds, which the median hides.
    state.counters["host_turnaround_mean_ms"] =
        hostTurn.isEmpty() ? 0 : std::accumulate(hostTurn.begin(), hostTurn.end(), 0.0) / hostTurn.size();
    state.counters["tester_late_ms"] = Median(testerLate);
    state.counters["pages"] = pages;
    state.counters["load_avg_1min"] = load[0];
    form.close();
}
BENCHMARK(BM_FirmwareUpdate60KiB)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The window's share of each page: showing one page's progress (bar, "position/size", speed
// label) with the window on screen, pages back to back; redraws come at most every 40 ms.
void BM_ShowPageProgress(benchmark::State &state) {
    TFormFirmwareUpdate fw;
    fw.show();
    fw.LoadFirmwareBuffer(QByteArray(60 * 1024, 'x'), QStringLiteral("F;DeviceIdentStr=BL.firmware"), false);
    fw.ProgressBar1->setMaximum(60 * 1024);
    Idle(100);
    quint32 pos = 0;
    for (auto _ : state) {
        pos = pos + 128 < 60 * 1024 ? pos + 128 : 128;
        fw.OnFirmwareProgress(0, pos, 60 * 1024);
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_ShowPageProgress)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // A private port folder: only this benchmark's simulator is found by the search.
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
