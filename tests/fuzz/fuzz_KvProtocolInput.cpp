// Fuzz target for the engine's receiving side (TKvProtocol::InputData) in both modes, with the
// mode switches, the packet counters, every handler installed and requests sent in between.
//
// Input: two header bytes, then records. Header byte 0 sets the start:
//   bit 0 start in CRC mode          bit 1 first contact: a read that sends the CRC probe
//   bit 2 ForbidNewRegCommands       bit 3 the register handler queues a read and sends it
//   bit 4 a handler destroys the engine when register <header byte 1> arrives or is acknowledged
//   bit 5 SyncWithGui                bit 6 the output handler destroys the engine at frame
//                                           <header byte 1 mod 8 + 1>
// Each record starts with a kind byte (mod 8):
//   0 raw bytes [n][n bytes]                   1 checksum frame of a payload [n][payload]
//   2 CRC frame [counter][n][payload]          3 request [op][arg]
//   4 flip UseCrc16 (the mode switched from outside, midway)
//   5 flood [k][byte]: (k mod 96 + 1) KiB of one byte, after an opening delimiter when the byte is odd
//   6 frame in the engine's current mode, counter in sequence [n][payload]
//   7 process pending events
//
// Every chunk is fed to the engine and to a plain model of the receiver's rules; after each chunk
// the mode, the counters, the buffered bytes and the register mirror must agree, and the buffer
// must stay within its bound. Every frame the engine sends is checked on the way out.
#include "FuzzSupport.h"
#include "uKvProtocol.h"

#include <QCoreApplication>
#include <QVariant>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

// Registers the harness itself writes; received values for them are not compared, because a queued
// write puts its value into the mirror when it is sent.
constexpr int FirstWrittenReg = 240;

TKvRegistersDynArray Declarations() {
    const std::array<std::pair<quint8, TKvRegisterType>, 16> decl{{{0, rtString},
                                                                   {1, rtU8},
                                                                   {2, rtU16},
                                                                   {3, rtS16},
                                                                   {4, rtFloat},
                                                                   {5, rtU32},
                                                                   {6, rtS8},
                                                                   {7, rtDouble},
                                                                   {240, rtU8},
                                                                   {241, rtS16},
                                                                   {242, rtFloat},
                                                                   {243, rtString},
                                                                   {244, rtBinary},
                                                                   {245, rtDouble},
                                                                   {246, rtU32},
                                                                   {247, rtS32}}};
    TKvRegistersDynArray regs;
    for (const auto &[adr, type] : decl) {
        TKvRegister r;
        r.RegAdr = adr;
        r.RegType = type;
        regs.append(r);
    }
    return regs;
}

// The receiver's rules written out plainly: frame finding, unescaping, the two checks with the
// mode switches, the counter and the register values of the interpreter.
struct TModel {
    std::string Buffer;
    bool UseCrc16 = false;
    quint8 Prev = 255;
    quint16 Errors = 0;
    bool NewCommands = false;
    bool Forbid = false;
    std::array<TKvRegister, 256> Regs;

    NO_COVERAGE static std::string Pass(const std::string &in, char second, char result) {
        std::string out(in.size(), '\0');
        size_t n = 0;
        for (size_t i = 0; i < in.size(); ++i) {
            if (in[i] == 0x7D && i + 1 < in.size() && in[i + 1] == second) {
                out[n++] = result;
                ++i;
            } else {
                out[n++] = in[i];
            }
        }
        out.resize(n);
        return out;
    }
    NO_COVERAGE static bool SumOk(const std::string &b) {
        unsigned sum = 0;
        for (unsigned char c : b)
            sum += c;
        return (sum & 0xFF) == 0;
    }
    NO_COVERAGE static bool CrcOk(const std::string &b) {
        quint16 crc = 0xFFFF;
        for (unsigned char c : b) {
            crc ^= c;
            for (int i = 0; i < 8; ++i)
                crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
        }
        return crc == 0;
    }

    NO_COVERAGE void Feed(const QByteArray &data) {
        Buffer.append(data.constData(), size_t(data.size()));
        size_t pos = 0;
        for (;;) {
            const size_t open = Buffer.find('\x7E', pos);
            if (open == std::string::npos) break;
            const size_t close = Buffer.find('\x7E', open + 1);
            if (close == std::string::npos) break;
            if (close == open + 1) {
                pos = open + 1;
                continue;
            }
            Body(Buffer.substr(open + 1, close - open - 1));
            pos = close + 1;
        }
        Buffer.erase(0, pos);
        if (Buffer.size() > size_t(TKvProtocol::MaxBufferRx)) {
            size_t cut = Buffer.size() - size_t(TKvProtocol::MaxBufferRx);
            const size_t delim = Buffer.find('\x7E', cut);
            if (delim != std::string::npos) cut = delim;
            Buffer.erase(0, cut);
        }
    }

    NO_COVERAGE void Body(const std::string &escaped) {
        std::string b = Pass(Pass(escaped, 0x3E, 0x7E), 0x3D, 0x7D);
        if (b.size() < 2) return;
        bool crc;
        if (UseCrc16) {
            if (CrcOk(b))
                crc = true;
            else if (SumOk(b)) {
                UseCrc16 = false;
                crc = false;
            } else
                return;
        } else {
            if (SumOk(b))
                crc = false;
            else if (CrcOk(b)) {
                UseCrc16 = true;
                Errors = 0;
                Prev = 255;
                crc = true;
            } else
                return;
        }
        if (crc) {
            if (b.size() < 4) return;
            const quint8 counter = quint8(b[b.size() - 3]);
            Errors = quint16(Errors + quint8(counter - Prev - 1));
            Prev = counter;
            b.resize(b.size() - 3);
        } else {
            b.resize(b.size() - 1);
        }
        if (!b.empty()) Dispatch(b);
    }

    NO_COVERAGE void Dispatch(std::string p) {
        quint8 dev = 0;
        if (quint8(p[0]) == 0xAD) {
            if (p.size() < 3) return;
            dev = quint8(p[1]);
            p.erase(0, 2);
        }
        quint8 cmd = quint8(p[0]);
        if ((cmd == 18 || cmd == 148) && !Forbid) NewCommands = true;
        if (NewCommands && cmd == 18) cmd = 7;
        if (cmd != 7 && cmd != 9) return;
        if (p.size() < 3) return;
        const quint8 reg = quint8(p[1]);
        const quint8 type = quint8(p[2]);
        if (type > KvRegisterTypeMax) return;
        if (KvRegisterTypeSize[type] != 255 && p.size() - 3 != KvRegisterTypeSize[type]) return;
        TKvRegister &r = Regs[reg];
        r.RegType = TKvRegisterType(type);
        r.DevAddress = dev;
        r.RawData = QByteArray(p.data() + 3, qsizetype(p.size() - 3));
        r.Known = true;
        r.UpdateCounter = quint16(r.UpdateCounter + 1);
    }
};

class THarness {
public:
    THarness(quint8 flags, quint8 arg) : FFlags(flags), FArg(arg) {
        const bool destroyOnReg = flags & 0x10;
        FEngine = std::make_unique<TKvProtocol>(
            [this](const QByteArray &frame) { Sent(frame); }, Declarations(),
            [this, destroyOnReg](TKvProtocol *sender, quint8 reg) {
                CHECK(sender == FEngine.get());
                if (FFlags & 0x08) {
                    // A handler that asks for more while the answer is being handled.
                    sender->RequestRegisterAsync(quint8(FirstWrittenReg + reg % 16));
                    sender->NextRegisterOperation(reg);
                }
                if (destroyOnReg && reg == FArg) FEngine.reset();
            },
            [this, destroyOnReg](quint8, quint8 reg, TKvPError) {
                if (destroyOnReg && reg == FArg) FEngine.reset();
            },
            [this](const QByteArray &payload) {
                CHECK(!payload.isEmpty());
                if ((FFlags & 0x10) && quint8(payload[0]) == FArg) FEngine.reset();
            },
            false, QString(), flags & 0x20);
        TKvProtocol &e = *FEngine;
        e.OnReceivedRegisterAuto = [this, destroyOnReg](TKvProtocol *, quint8 reg) {
            if (destroyOnReg && reg == FArg) FEngine.reset();
        };
        e.OnReadBlock = [](quint8, quint16, const QByteArray &) {};
        e.OnWriteBlock = [](quint8, quint16, quint16) {};
        e.OnClearBlock = [](quint8, quint16, quint16) {};
        e.ForbidNewRegCommands = flags & 0x04;
        FModel.Forbid = e.ForbidNewRegCommands;
        FModel.Regs = e.Registers;
        if (flags & 0x01) e.UseCrc16 = FModel.UseCrc16 = true;
        if (flags & 0x02) e.RequestRegister(2, 0, {});
        Compare();
    }

    bool Alive() const { return bool(FEngine); }
    TKvProtocol &Engine() { return *FEngine; }

    void Feed(const QByteArray &data) {
        if (!FEngine) return;
        FModel.Feed(data);
        FEngine->InputData(data);
        Compare();
    }

    void FlipMode() {
        if (!FEngine) return;
        FEngine->UseCrc16 = !FEngine->UseCrc16;
        FModel.UseCrc16 = FEngine->UseCrc16;
    }

    void Request(quint8 op, quint8 arg) {
        if (!FEngine) return;
        TKvProtocol &e = *FEngine;
        const quint8 written = quint8(FirstWrittenReg + arg % 8);
        try {
            switch (op % 8) {
            case 0:
                e.RequestRegister(arg, 0, [](TKvProtocol *, quint8, TKvPError) {});
                break;
            case 1:
                e.RequestRegisterAsync(arg, arg & 1);
                e.NextRegisterOperation(0);
                break;
            case 2:
                e.WriteRegisterValue(written, arg & 1 ? QVariant(int(arg) - 128) : QVariant(arg / 7.0));
                break;
            case 3:
                e.WriteRegisterAsync(written, QVariant(QString::number(arg)), {},
                                     [](TKvProtocol *, quint8) {});
                e.NextRegisterOperation(0);
                break;
            case 4:
                e.TestPacketCounterTransmit();
                break;
            case 5:
                e.FirmwareStart([](quint16, quint16, quint16, const QByteArray &) {}, arg & 1, arg * 100u);
                break;
            case 6:
                e.FirmwareWrite(QByteArray(arg * 4, char(arg)), [](quint8, quint32, quint32) {});
                break;
            default:
                e.TxAck(arg, quint8(arg + 1), quint8(arg + 2));
                break;
            }
        } catch (const EKvProtocol &) {
            // A value that does not fit its register, or an image too long: refused by design.
        }
        if (!FEngine) return;
        // What the request wrote into the mirror is the harness's, not the model's.
        FModel.Regs[written] = FEngine->Registers[written];
        Compare();
    }

    // A frame as the device would send it next in the engine's current mode.
    QByteArray InSequence(const QByteArray &payload) const {
        if (FEngine->UseCrc16) return KvCodec::FrameCrc16(payload, quint8(FEngine->PrevPacketCounter + 1));
        return KvCodec::FrameCheckSum(payload);
    }

private:
    void Sent(const QByteArray &frame) {
        CHECK(FEngine);
        const TKvProtocol &e = *FEngine;
        CHECK(frame.size() >= 4 && frame.startsWith(KvCodec::FrameDelimiter) &&
              frame.endsWith(KvCodec::FrameDelimiter));
        const QByteArray inner = frame.mid(1, frame.size() - 2);
        CHECK(!inner.contains(KvCodec::FrameDelimiter));
        const QByteArray body = KvCodec::Unescape(inner);
        CHECK(KvCodec::Escape(body) == inner);
        // A CRC frame carries the counter just used; a checksum frame goes only in checksum mode,
        // and a CRC frame in checksum mode only as the probe.
        const bool crcOk = body.size() >= 4 && KvCodec::BodyPassesCrc16(body) &&
                           quint8(body[body.size() - 3]) == quint8(e.PacketCounterTransmit - 1);
        if (e.UseCrc16)
            CHECK(crcOk);
        else
            CHECK(KvCodec::BodyPassesCheckSum(body) || (crcOk && e.WasTryCrc16));
        ++FSent;
        if ((FFlags & 0x40) && FSent == FArg % 8 + 1) FEngine.reset();
    }

    NO_COVERAGE void Compare() {
        if (!FEngine) return;
        const TKvProtocol &e = *FEngine;
        CHECK(e.BufferedBytes() <= TKvProtocol::MaxBufferRx);
        CHECK(e.BufferedBytes() == qsizetype(FModel.Buffer.size()));
        CHECK(e.UseCrc16 == FModel.UseCrc16);
        CHECK(e.PrevPacketCounter == FModel.Prev);
        CHECK(e.PacketCounterErrors == FModel.Errors);
        CHECK(e.NewCommands == FModel.NewCommands);
        for (int r = 0; r < FirstWrittenReg; ++r) {
            const TKvRegister &a = e.Registers[size_t(r)];
            const TKvRegister &b = FModel.Regs[size_t(r)];
            CHECK(a.UpdateCounter == b.UpdateCounter);
            CHECK(a.RawData == b.RawData);
            CHECK(a.RegType == b.RegType);
            CHECK(a.DevAddress == b.DevAddress);
            CHECK(a.Known == b.Known);
        }
    }

    quint8 FFlags;
    quint8 FArg;
    int FSent = 0;
    TModel FModel;
    std::unique_ptr<TKvProtocol> FEngine;
};

class TReader {
public:
    TReader(const uint8_t *data, size_t size) : FData(data), FSize(size) {}
    bool AtEnd() const { return FPos >= FSize; }
    quint8 Byte() { return FPos < FSize ? FData[FPos++] : 0; }
    QByteArray Bytes(size_t n) {
        n = std::min(n, FSize - FPos);
        QByteArray out(reinterpret_cast<const char *>(FData + FPos), qsizetype(n));
        FPos += n;
        return out;
    }

private:
    const uint8_t *FData;
    size_t FSize;
    size_t FPos = 0;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // The engine's time-out timer needs an event dispatcher on this thread.
    CreateApplication<QCoreApplication>("fuzz_KvProtocolInput");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    TReader in(data, size);
    const quint8 flags = in.Byte();
    const quint8 arg = in.Byte();
    THarness h(flags, arg);
    while (!in.AtEnd() && h.Alive()) {
        switch (in.Byte() % 8) {
        case 0:
            h.Feed(in.Bytes(in.Byte()));
            break;
        case 1: {
            const QByteArray payload = in.Bytes(in.Byte());
            if (!payload.isEmpty()) h.Feed(KvCodec::FrameCheckSum(payload));
            break;
        }
        case 2: {
            const quint8 counter = in.Byte();
            const QByteArray payload = in.Bytes(in.Byte());
            if (!payload.isEmpty()) h.Feed(KvCodec::FrameCrc16(payload, counter));
            break;
        }
        case 3: {
            const quint8 op = in.Byte();
            h.Request(op, in.Byte());
            break;
        }
        case 4:
            h.FlipMode();
            break;
        case 5: {
            const int kib = in.Byte() % 96 + 1;
            const quint8 b = in.Byte();
            QByteArray flood(kib * 1024, char(b == 0x7E ? 0x55 : b));
            if (b & 1) flood.prepend(KvCodec::FrameDelimiter);
            h.Feed(flood);
            break;
        }
        case 6: {
            const QByteArray payload = in.Bytes(in.Byte());
            if (!payload.isEmpty()) h.Feed(h.InSequence(payload));
            break;
        }
        default:
            QCoreApplication::processEvents();
            break;
        }
    }
    return 0;
}
