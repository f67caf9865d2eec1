// Simulated tester speed: the cost of one request in-process, the round trip over its
// pseudo-terminal, and the line rate that a throttled simulator holds.
#include "uKvProtocol.h"
#include "uSimPipe.h"
#include "uSimPty.h"
#include "uTamrelTester.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace {

// One register read answered through the in-process pipe, by the protocol engine as host.
void BM_PipeRegisterRead(benchmark::State &state) {
    TKvProtocol *engine = nullptr;
    TSimPipe pipe({}, [&engine](const QByteArray &b) { engine->InputData(b); });
    int received = 0;
    TKvProtocol e([&pipe](const QByteArray &f) { pipe.Write(f); }, {},
                  [&received](TKvProtocol *, quint8) { ++received; }, {}, {}, false, {}, false);
    engine = &e;
    e.FirstPacket = false;
    e.UseCrc16 = state.range(0) == 1;
    for (auto _ : state)
        e.RequestRegister(6, 0, {});
    if (received != int(state.iterations())) state.SkipWithError("an answer was missing");
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(state.range(0) ? "crc" : "checksum");
}
BENCHMARK(BM_PipeRegisterRead)->Arg(0)->Arg(1);

// A host on the published port: raw descriptor, frames cut with the codec.
struct TRawHost {
    int Fd = -1;
    QByteArray Buffer;
    explicit TRawHost(const QString &port) {
        Fd = ::open(QFile::encodeName(port).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    }
    ~TRawHost() {
        if (Fd >= 0) ::close(Fd);
    }
    bool Send(const QByteArray &frame) {
        return ::write(Fd, frame.constData(), size_t(frame.size())) == frame.size();
    }
    // Waits up to TimeoutMs for one complete frame; returns its body (empty on time-out).
    QByteArray NextFrame(int timeoutMs) {
        QElapsedTimer t;
        t.start();
        for (;;) {
            QByteArray body;
            bool skipped = false;
            while (KvCodec::TakeFrame(Buffer, body, skipped))
                if (!body.isEmpty()) return body;
            const int left = timeoutMs - int(t.elapsed());
            if (left <= 0) return {};
            pollfd p{Fd, POLLIN, 0};
            if (::poll(&p, 1, left) <= 0) continue;
            char buf[4096];
            const ssize_t n = ::read(Fd, buf, sizeof buf);
            if (n > 0) Buffer.append(buf, int(n));
        }
    }
};

// Request to answer over the pty: unthrottled (the thread's reaction) and at the tester's line rate.
void BM_PtyRoundTrip(benchmark::State &state) {
    TSimOptions o;
    o.AutoSendPeriodMs = 0;
    o.LineRate = int(state.range(0));
    TSimPty sim;
    QString error;
    if (!sim.Start(o, &error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    TRawHost host(sim.PortName());
    const QByteArray request = KvCodec::FrameCheckSum(QByteArray::fromHex("0803"));
    for (auto _ : state) {
        if (!host.Send(request) || host.NextFrame(1000).isEmpty()) {
            state.SkipWithError("no answer within a second");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(o.LineRate ? std::to_string(o.LineRate) + " baud" : std::string("unthrottled"));
}
BENCHMARK(BM_PtyRoundTrip)->Arg(0)->Arg(TamrelTester::BaudRate)->Unit(benchmark::kMicrosecond)->UseRealTime();

// A new holder of the port is served at once: open, one request, its answer, close (as every
// probe of a port search does).
void BM_PtyOpenToAnswer(benchmark::State &state) {
    TSimOptions o;
    o.AutoSendPeriodMs = 0;
    TSimPty sim;
    if (!sim.Start(o)) {
        state.SkipWithError("no pty");
        return;
    }
    const QByteArray request = KvCodec::FrameCheckSum(QByteArray::fromHex("0800"));
    for (auto _ : state) {
        TRawHost host(sim.PortName());
        if (!host.Send(request) || host.NextFrame(1000).isEmpty()) {
            state.SkipWithError("no answer within a second");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PtyOpenToAnswer)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Unasked values as fast as the line allows: the bytes per second stay at baud / 10.
void BM_PtyThrottledStream(benchmark::State &state) {
    TSimOptions o;
    o.AutoSendPeriodMs = 1; // more than the tester's line can carry
    o.LineRate = TamrelTester::BaudRate;
    TSimPty sim;
    if (!sim.Start(o)) {
        state.SkipWithError("no pty");
        return;
    }
    TRawHost host(sim.PortName());
    host.Send(KvCodec::FrameCheckSum(QByteArray::fromHex("07010201")));
    host.NextFrame(1000);
    qint64 bytes = 0;
    for (auto _ : state) {
        // One iteration = 100 ms of line traffic.
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 100) {
            pollfd p{host.Fd, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0) continue;
            char buf[4096];
            const ssize_t n = ::read(host.Fd, buf, sizeof buf);
            if (n > 0) bytes += n;
        }
    }
    state.SetBytesProcessed(bytes);
    state.SetLabel("expected about 11520 bytes/s");
}
BENCHMARK(BM_PtyThrottledStream)->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
