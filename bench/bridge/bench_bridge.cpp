// Shared-memory server speed: the server's handling of one 64-byte value of register 254 with
// the spin lock free (the record appended, the command record looked at), the same value from
// a received frame through the engine, and a client's lock / read / unlock cycle on the block
// mapped by name the way the companion program maps it.
#include "uKvProtocol.h"
#include "uTrazerServerKv.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <atomic>
#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

QString BenchServerName(const char *tag) {
    return QStringLiteral("TamrelBench%1%2").arg(QCoreApplication::applicationPid()).arg(QLatin1String(tag));
}

void EmptyBuffer(TTrazerServer &server) {
    TrazerStore<qint32>(server.PSharedBuffer, offsetof(TTrazerSharedRecord, InputBufferCount), 0);
}

QByteArray Value64() {
    QByteArray value(64, '\0');
    for (int i = 0; i < value.size(); ++i)
        value[i] = char(i * 7 + 1);
    return value;
}

// The server's handler as the engine calls it for each value of register 254. The buffer
// restarts at 0 by itself whenever a record no longer fits (69-byte records never fill it
// exactly), so the count only grows and wraps as in a long recording.
void BM_TrazerAppend64(benchmark::State &state) {
    TKvProtocol engine({}, {}, {}, {}, {}, false, {}, false, BenchServerName("Append"));
    auto *server = dynamic_cast<TTrazerServer *>(engine.TrazerServerI.get());
    if (!server || !server->PSharedBuffer) {
        state.SkipWithError("no shared block");
        return;
    }
    EmptyBuffer(*server);
    engine.Registers[254].RawData = Value64();
    for (auto _ : state)
        server->OnReceivedRegister(&engine, 254);
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * 69);
}
BENCHMARK(BM_TrazerAppend64);

// A received frame with a 64-byte value of register 254, InputData to OnReceivedRegister:
// 0 without a server, 1 with the server recording it.
void BM_TrazerFrameToRecord64(benchmark::State &state) {
    const bool served = state.range(0) == 1;
    quint64 received = 0;
    TKvProtocol engine(
        {}, {}, [&](TKvProtocol *, quint8) { ++received; }, {}, {}, false, {}, false,
        served ? BenchServerName("Frame") : QString());
    if (served) {
        auto *server = dynamic_cast<TTrazerServer *>(engine.TrazerServerI.get());
        if (!server || !server->PSharedBuffer) {
            state.SkipWithError("no shared block");
            return;
        }
        EmptyBuffer(*server);
    } else {
        engine.Registers[254].RegType = rtBinStream;
    }
    const QByteArray frame = KvCodec::FrameCheckSum(QByteArray::fromHex("07FE0A") + Value64());
    for (auto _ : state)
        engine.InputData(frame);
    if (received != quint64(state.iterations())) state.SkipWithError("a frame was not delivered");
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(served ? "with server" : "without server");
}
BENCHMARK(BM_TrazerFrameToRecord64)->Arg(0)->Arg(1);

// The companion's cycle: take the lock (exchange 0 for 1), read the count, release it
// (decrement), on the block opened by its name.
void BM_CompanionLockReadUnlock(benchmark::State &state) {
    const QString name = BenchServerName("Client");
    TKvProtocol engine({}, {}, {}, {}, {}, false, {}, false, name);
    const qsizetype size = TrazerBlockSize(TrazerInputBufferSize);
    const int fd = shm_open(("/" + name).toUtf8().constData(), O_RDWR, 0);
    void *block =
        fd < 0 ? MAP_FAILED : mmap(nullptr, size_t(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (fd >= 0) close(fd);
    if (block == MAP_FAILED) {
        state.SkipWithError("block not found by name");
        return;
    }
    auto *bytes = static_cast<unsigned char *>(block);
    std::atomic_ref<std::int32_t> lock(*reinterpret_cast<std::int32_t *>(block));
    qint64 seen = 0;
    for (auto _ : state) {
        std::int32_t expected = 0;
        while (!lock.compare_exchange_strong(expected, 1, std::memory_order_acquire,
                                             std::memory_order_relaxed)) {
            expected = 0;
            sched_yield();
        }
        seen += qFromLittleEndian<qint32>(bytes + 9);
        lock.fetch_sub(1, std::memory_order_release);
    }
    benchmark::DoNotOptimize(seen);
    munmap(block, size_t(size));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CompanionLockReadUnlock);

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    // The servers' announcements go to a folder of the benchmark's own, not the user's settings.
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
