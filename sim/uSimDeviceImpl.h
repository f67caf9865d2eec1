#pragma once
// The simulated tester's state and its private operations, shared by the units of the
// device: uSimDevice (public operations, framing, timing, unasked values) and
// uSimDeviceCommands (what the tester does with each command).
#include "uSimDevice.h"

#include "uKvFrameCodec.h"
#include "uSimActuator.h"
#include "uTamrelRegisterMap.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QtEndian>

#include <algorithm>
#include <cmath>

namespace SimDetail {

using namespace TamrelReg;

// Measured registers the tester sends by itself, in this order.
constexpr quint8 AutoSendRegisters[] = {regPosition1, regCurrent1, regHeadTemperature, regPosition2,
                                        regCurrent2};

// Largest block a block read returns at once; keeps every frame small.
constexpr int MaxBlockBytes = 1024;
constexpr int BlockRegionSize = 65536;

struct TSimReg {
    quint8 Type = 0;
    bool ReadOnly = false;
    qint64 Min = 0, Max = 0; // accepted range of written values (number types)
    bool Pinned = false;     // a measured value set by a test: the model leaves it alone
    QByteArray Raw;
};

inline QByteArray IntBytes(qint64 value, int size) {
    QByteArray out(size, 0);
    for (int i = 0; i < size; ++i)
        out[i] = char(quint64(value) >> (8 * i));
    return out;
}

inline qint64 BytesInt(const QByteArray &raw, bool isSigned) {
    quint64 v = 0;
    const int n = int(std::min<qsizetype>(raw.size(), 8));
    for (int i = 0; i < n; ++i)
        v |= quint64(quint8(raw[i])) << (8 * i);
    if (isSigned && n > 0 && n < 8 && (v >> (8 * n - 1)) & 1) v |= ~quint64(0) << (8 * n);
    return qint64(v);
}

inline bool TypeSigned(quint8 type) {
    return type == rtS8 || type == rtS16 || type == rtS32;
}

inline QByteArray Le16(quint16 v) {
    return IntBytes(v, 2);
}

} // namespace SimDetail

using namespace SimDetail;

struct TSimDevice::TImpl {
    mutable QMutex Lock;
    TSimOptions Opt;
    TSimOutput Output;

    TSimClock Clock;
    bool ManualClock = false;
    double ManualNow = 0;
    QElapsedTimer Elapsed;
    bool NeedRebase = true;
    double StartMs = 0;
    bool IsDead = false;
    bool Host = true;

    TSimReg Regs[RegisterCount];

    QByteArray RxBuffer;
    bool LastCrc = false; // format of the last good frame: unasked values follow it
    quint8 TxCounter = 0; // own packet counter, one per CRC frame sent
    int PrevHostCounter = -1;
    int HostGaps = 0;

    struct TPending {
        double Due;
        QByteArray Bytes;
        int Command, Register;
        bool Crc;
    };
    QVector<TPending> Queue; // in order of Due
    double LineFreeAt = 0;   // when the tester's line is free for the next frame sent
    double RxLineFreeAt = 0; // when the host's line is free for its next frame
    quint64 AnswerCount = 0;
    int LostReads = 0;     // answers lost to LoseReadsOf so far
    int TextReadsSeen = 0; // reads of TextReadsOf so far
    quint64 FrameCount = 0;
    quint32 Noise = 0x2545F491u;

    double NextAutoSend = 0;
    double LastModelMs = 0;
    TSimActuator Model;

    QByteArray Image;
    int Pages = 0;
    int StartRequests = 0; // start requests received, answered or not
    bool Updated = false;  // pages written since the host last let go
    qint64 Announced = -1;
    QHash<quint8, QByteArray> Blocks;

    QVector<TSimFrameRecord> Log;
    std::unique_ptr<QFile> LogFile;

    // ---- time ----
    double ClockNow() const {
        if (ManualClock) return ManualNow;
        if (Clock) return Clock();
        return double(Elapsed.nsecsElapsed()) / 1e6;
    }
    double NowLocked() {
        const double now = ClockNow();
        if (NeedRebase) {
            NeedRebase = false;
            StartMs = LastModelMs = LineFreeAt = RxLineFreeAt = now;
            NextAutoSend = now + Opt.AutoSendPeriodMs;
        }
        return now;
    }

    // ---- registers ----
    void InitRegisters() {
        for (const TRegisterDecl &decl : RegisterMap) {
            Regs[decl.RegAdr].Type = decl.RegType;
            Regs[decl.RegAdr].ReadOnly = decl.RegReadOnly;
        }
        Regs[regFirmwareName].Raw = Opt.Ident.toLatin1();
        // The accepted range of written values and the value at power-on of each number register.
        auto def = [this](quint8 r, qint64 min, qint64 max, qint64 value) {
            Regs[r].Min = min;
            Regs[r].Max = max;
            Regs[r].Raw = IntBytes(value, KvRegisterTypeSize[Regs[r].Type]);
        };
        def(regStartStop, 0, 1, 0);
        def(regPosition1, 0, 5000, 0);
        def(regResistiveHead, 0, 1, 0);
        def(regManualControl, 0, 255, 0);
        def(regManualControlPWM1, 0, 100, 0);
        def(regSetupVin1, 0, 5000, 2500);
        def(regHeadTemperature, 0, 0, 250);
        def(regCurrent1, 0, 0, 0);
        def(regManualControlPWM2, 0, 100, 0);
        def(regPumpType, 0, 2, 0);
        def(regPosition2, 0, 0, 0);
        def(regSetupVin2, 0, 5000, 2500);
        def(regCurrent2, 0, 0, 0);
        def(regManualInVolt, 0, 1, 0);
        def(regManualControlVolts1, 0, 140, 0);
        def(regManualControlVolts2, 0, 140, 0);
    }
    qint64 RegInt(int r) const { return BytesInt(Regs[r].Raw, TypeSigned(Regs[r].Type)); }
    void SetRegInt(int r, qint64 v) {
        const quint8 size = KvRegisterTypeSize[Regs[r].Type];
        Regs[r].Raw = IntBytes(v, size == KvAnySize ? 4 : size);
    }

    // ---- actuator ----
    TSimChannelInput ChannelInput(int duty, int vin, int volts) const {
        TSimChannelInput in;
        in.Manual = RegInt(regManualControl) != 0;
        in.VoltsMode = RegInt(regManualInVolt) == 1;
        in.DutyPercent = int(RegInt(duty));
        in.SetupVinMv = int(RegInt(vin));
        in.ManualTenthsVolt = int(RegInt(volts));
        return in;
    }
    void AdvanceModel(double now) {
        const double dt = std::min(now - LastModelMs, 5000.0);
        if (dt < 0.5) return;
        LastModelMs = now;
        Model.Step(ChannelInput(regManualControlPWM1, regSetupVin1, regManualControlVolts1),
                   ChannelInput(regManualControlPWM2, regSetupVin2, regManualControlVolts2), dt);
        auto measured = [this](int r, int v) {
            if (!Regs[r].Pinned) SetRegInt(r, v);
        };
        measured(regPosition1, Model.Channel(0).OutputMv());
        measured(regCurrent1, Model.Channel(0).CurrentCentiAmp());
        measured(regPosition2, Model.Channel(1).OutputMv());
        measured(regCurrent2, Model.Channel(1).CurrentCentiAmp());
        measured(regHeadTemperature, Model.TemperatureTenths());
    }

    // ---- frame log ----
    void Record(double now, bool received, const QString &mode, const QByteArray &raw, int command, int reg) {
        TSimFrameRecord rec;
        rec.TimeMs = now - StartMs;
        rec.Received = received;
        rec.Mode = mode;
        rec.Raw = raw;
        rec.Command = command;
        rec.Register = reg;
        if (LogFile) {
            QJsonObject o;
            o["t"] = std::round(rec.TimeMs * 1000.0) / 1000.0;
            o["dir"] = received ? "rx" : "tx";
            o["mode"] = mode;
            o["hex"] = rec.RawHex();
            o["cmd"] = command;
            o["reg"] = reg;
            LogFile->write(QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n');
            LogFile->flush();
        }
        if (Log.size() >= MaxLogRecords) Log.remove(0, MaxLogRecords / 10);
        Log.append(rec);
    }

    // ---- sending ----
    double LineTimeMs(qsizetype bytes) const {
        return Opt.LineRate > 0 ? double(bytes) * 10.0 * 1000.0 / Opt.LineRate : 0.0;
    }
    QByteArray Garbage() {
        QByteArray g;
        const int n = 3 + int(Noise % 4);
        for (int i = 0; i < n; ++i) {
            Noise = Noise * 1664525u + 1013904223u;
            char c = char(Noise >> 24);
            if (c == KvCodec::FrameDelimiter) c = 0x55;
            g.append(c);
        }
        return g;
    }
    // Builds a frame and puts it on the line at Due (or later, when the line is busy).
    void Send(const QByteArray &payload, bool crc, double now, double due) {
        if (IsDead || !Host || Opt.Silent) return;
        QByteArray frame = crc ? KvCodec::FrameCrc16(payload, TxCounter++) : KvCodec::FrameCheckSum(payload);
        ++FrameCount;
        if (Opt.GarbageEveryN > 0 && FrameCount % quint64(Opt.GarbageEveryN) == 0) frame.prepend(Garbage());
        if (Opt.LineRate > 0) {
            const double start = std::max(due, LineFreeAt);
            due = start + LineTimeMs(frame.size());
            LineFreeAt = due;
        }
        if (!Queue.isEmpty()) due = std::max(due, Queue.last().Due);
        due = std::max(due, now);
        int command = -1, reg = -1;
        Classify(payload, command, reg);
        Queue.append({due, frame, command, reg, crc});
    }
    // True for an answer to a read of the register whose first answers are to be lost, while
    // some are left to lose.
    bool LoseReadAnswer(const QByteArray &payload) {
        if (Opt.LoseReadsOf < 0 || LostReads >= Opt.LoseReadsCount) return false;
        int command = -1, reg = -1;
        Classify(payload, command, reg);
        if ((command != KvCodec::CmdWriteReg && command != KvCodec::CmdWriteReg2) || reg != Opt.LoseReadsOf)
            return false;
        ++LostReads;
        return true;
    }
    // An answer to a request that was completely received at Arrived: delayed, possibly dropped.
    void Answer(const QByteArray &prefix, const QByteArray &payload, bool crc, double now, double arrived,
                double extraDelayMs = 0) {
        if (IsDead || !Host || Opt.Silent) return;
        ++AnswerCount;
        if ((Opt.DropEveryN > 0 && AnswerCount % quint64(Opt.DropEveryN) == 0) || LoseReadAnswer(payload)) {
            if (crc) ++TxCounter; // lost on the line: the host sees the gap in the counter
            return;
        }
        const double due = arrived + Opt.AnswerDelayMs + extraDelayMs;
        Send(prefix + payload, crc, now, due);
    }
    void FlushDue(double now, QVector<QByteArray> &out) {
        int n = 0;
        while (n < Queue.size() && Queue[n].Due <= now) {
            const TPending &p = Queue[n];
            Record(now, false, p.Crc ? "crc" : "cs", p.Bytes, p.Command, p.Register);
            out.append(p.Bytes);
            ++n;
        }
        if (n > 0) Queue.remove(0, n);
    }

    static void Classify(const QByteArray &payload, int &command, int &reg) {
        int i = 0;
        if (payload.size() >= 1 && quint8(payload[0]) == KvCodec::AddressMarker) i = 2;
        if (i >= payload.size()) return;
        command = quint8(payload[i]);
        switch (command) {
        case KvCodec::CmdWriteReg:
        case KvCodec::CmdReadReg:
        case KvCodec::CmdAutoSend:
        case KvCodec::CmdWriteReg2:
        case KvCodec::CmdReadReg2:
            if (i + 1 < payload.size()) reg = quint8(payload[i + 1]);
            break;
        case KvCodec::CmdAck:
        case KvCodec::CmdAck2:
            if (i + 2 < payload.size()) reg = quint8(payload[i + 2]);
            break;
        default:
            break;
        }
    }

    // ---- receiving ----
    void ReceiveLocked(const QByteArray &bytes, double now) {
        RxBuffer.append(bytes);
        KvCodec::CapBuffer(RxBuffer, 64 * 1024);
        QByteArray body;
        bool skipped = false;
        while (KvCodec::TakeFrame(RxBuffer, body, skipped)) {
            if (body.isEmpty()) continue;
            const QByteArray raw = KvCodec::FrameDelimiter + body + KvCodec::FrameDelimiter;
            const QByteArray u = KvCodec::Unescape(body);
            const bool sumOk = u.size() >= 2 && KvCodec::BodyPassesCheckSum(u);
            const bool crcOk = !Opt.ChecksumOnly && u.size() >= 4 && KvCodec::BodyPassesCrc16(u);
            // The format of the last good frame is tried first, as the host does, so that a
            // body passing both checks by chance keeps the current format.
            bool crc;
            if (LastCrc ? crcOk : (crcOk && !sumOk))
                crc = true;
            else if (sumOk)
                crc = false;
            else {
                int command = -1, reg = -1;
                Classify(u, command, reg);
                Record(now, true, "bad", raw, command, reg);
                continue;
            }
            QByteArray payload;
            if (crc) {
                const quint8 counter = quint8(u[u.size() - 3]);
                if (PrevHostCounter >= 0 && quint8(counter - quint8(PrevHostCounter) - 1) != 0) ++HostGaps;
                PrevHostCounter = counter;
                payload = u.left(u.size() - 3);
            } else {
                payload = u.left(u.size() - 1);
            }
            LastCrc = crc;
            int command = -1, reg = -1;
            Classify(payload, command, reg);
            Record(now, true, crc ? "crc" : "cs", raw, command, reg);
            // On a real line the request's last byte arrives only after the request's
            // transmission time, and requests sent together arrive one after the other.
            double arrived = now;
            if (Opt.LineRate > 0) {
                arrived = std::max(now, RxLineFreeAt) + LineTimeMs(raw.size());
                RxLineFreeAt = arrived;
            }
            if (!payload.isEmpty()) Dispatch(payload, crc, now, arrived);
        }
    }

    quint8 ValueCommand() const { return Opt.NewCommands ? KvCodec::CmdWriteReg2 : KvCodec::CmdWriteReg; }
    quint8 AckCommand() const { return Opt.NewCommands ? KvCodec::CmdAck2 : KvCodec::CmdAck; }

    QByteArray ValuePayload(quint8 command, int r) const {
        QByteArray p;
        p.append(char(command));
        p.append(char(r));
        p.append(char(Regs[r].Type));
        p.append(Regs[r].Raw);
        return p;
    }

    // Acts on one received payload (address prefix included) and queues the answer.
    void Dispatch(QByteArray payload, bool crc, double now, double arrived);
    // Stores one firmware page; returns its status.
    quint8 TakePage(const QByteArray &payload);
    // After an update, the tester starts the new firmware once the host lets go.
    void StartNewFirmware();

    // ---- periodic ----
    void TickLocked(double now) {
        if (IsDead) return;
        if (Opt.DieAfterMs > 0 && now - StartMs >= Opt.DieAfterMs) {
            IsDead = true;
            Queue.clear();
            return;
        }
        AdvanceModel(now);
        // The period runs on while nothing can be sent (silent, no host), so that the
        // transport's wait for the next period never turns into a busy loop.
        if (RegInt(regStartStop) == 1 && Opt.AutoSendPeriodMs > 0 && now >= NextAutoSend) {
            for (quint8 r : AutoSendRegisters)
                Send(ValuePayload(ValueCommand(), r), LastCrc, now, now);
            NextAutoSend += Opt.AutoSendPeriodMs;
            if (NextAutoSend <= now) // after a pause: no burst of missed periods
                NextAutoSend = now + Opt.AutoSendPeriodMs;
        }
    }
};
