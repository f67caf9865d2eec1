// Protocol engine speed: CRC, encoding and the whole receive path.
#include "uKvProtocol.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <benchmark/benchmark.h>
#include <boost/crc.hpp>

namespace {

QByteArray RandomBytes(int n, quint32 seed = 42) {
    QRandomGenerator rng(seed);
    QByteArray out(n, '\0');
    for (char &c : out)
        c = char(rng.bounded(256));
    return out;
}

void BM_Crc16Modbus(benchmark::State &state) {
    const QByteArray data = RandomBytes(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(KvCodec::CalcCrc16(data));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Crc16Modbus)->Arg(4096);

void BM_Crc16Boost(benchmark::State &state) {
    const QByteArray data = RandomBytes(int(state.range(0)));
    for (auto _ : state) {
        boost::crc_optimal<16, 0x8005, 0xFFFF, 0, true, true> crc;
        crc.process_bytes(data.constData(), std::size_t(data.size()));
        benchmark::DoNotOptimize(crc.checksum());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Crc16Boost)->Arg(4096);

// Mode 0 = checksum, 1 = CRC.
void BM_EncodeRegisterRead(benchmark::State &state) {
    qsizetype bytes = 0;
    TKvProtocol engine([&](const QByteArray &f) { bytes += f.size(); }, {}, {}, {}, {}, false, {}, false);
    engine.FirstPacket = false;
    engine.UseCrc16 = state.range(0) == 1;
    for (auto _ : state)
        engine.RequestRegister(6, 0, {});
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(state.range(0) ? "crc" : "checksum");
    benchmark::DoNotOptimize(bytes);
}
BENCHMARK(BM_EncodeRegisterRead)->Arg(0)->Arg(1);

void BM_EncodeFirmwarePage(benchmark::State &state) {
    const QByteArray page = QByteArray("\x1A\x05\x00", 3) + RandomBytes(128);
    qsizetype bytes = 0;
    TKvProtocol engine([&](const QByteArray &f) { bytes += f.size(); }, {}, {}, {}, {}, false, {}, false);
    engine.UseCrc16 = state.range(0) == 1;
    for (auto _ : state)
        engine.TxFrame(page);
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(state.range(0) ? "crc" : "checksum");
    benchmark::DoNotOptimize(bytes);
}
BENCHMARK(BM_EncodeFirmwarePage)->Arg(0)->Arg(1);

// InputData of one register-value frame through the interpreter to OnReceivedRegister.
void BM_DecodeDispatchRegisterValue(benchmark::State &state) {
    const bool crc = state.range(0) == 1;
    quint64 received = 0;
    TKvProtocol engine(
        {}, {}, [&](TKvProtocol *, quint8) { ++received; }, {}, {}, false, {}, false);
    engine.FirstPacket = false;
    engine.UseCrc16 = crc;
    const QByteArray payload = QByteArray::fromHex("07 02 04 7E 13"); // value with a byte to escape
    QList<QByteArray> frames;
    for (int c = 0; c < 256; ++c)
        frames << (crc ? KvCodec::FrameCrc16(payload, quint8(c)) : KvCodec::FrameCheckSum(payload));
    quint64 i = 0;
    qint64 bytes = 0;
    for (auto _ : state) {
        const QByteArray &f = frames[i++ & 0xFF];
        engine.InputData(f);
        bytes += f.size();
    }
    if (received != quint64(state.iterations())) state.SkipWithError("a frame was not delivered");
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(bytes);
    state.SetLabel(crc ? "crc" : "checksum");
}
BENCHMARK(BM_DecodeDispatchRegisterValue)->Arg(0)->Arg(1);

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
