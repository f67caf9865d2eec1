#pragma once
// A protocol engine wired to in-memory capture: every frame it sends is kept, and payloads
// are fed back as device frames in either mode.
#include "uKvProtocol.h"
#include "uPlatformTick.h"

#include <QByteArray>
#include <QList>
#include <memory>

inline QByteArray Hex(const char *Text) {
    return QByteArray::fromHex(QByteArray(Text).replace(' ', ""));
}

struct TKvCapture {
    QList<QByteArray> Frames;                 // frames as sent, with delimiters
    QList<quint8> Received;                   // OnReceivedRegister calls
    QList<quint8> ReceivedAuto;               // OnReceivedRegisterAuto calls
    QList<QByteArray> Unknown;                // OnUnknownCommand payloads
    QList<QList<int>> Acks;                   // OnAckAll (command, reg, error)
    QList<QPair<quint8, TKvPError>> TimeOuts; // request time-out callbacks
    QList<quint8> AckRegs;                    // write acknowledgement callbacks

    // Payload of a sent frame (checksum or CRC format), for readable assertions.
    static QByteArray PayloadOf(const QByteArray &Frame) {
        QByteArray body = KvCodec::Unescape(Frame.mid(1, Frame.size() - 2));
        if (KvCodec::BodyPassesCheckSum(body)) return body.left(body.size() - 1);
        if (KvCodec::BodyPassesCrc16(body)) return body.left(body.size() - 3);
        return {};
    }
    static bool IsCrcFrame(const QByteArray &Frame) {
        QByteArray body = KvCodec::Unescape(Frame.mid(1, Frame.size() - 2));
        return !KvCodec::BodyPassesCheckSum(body) && KvCodec::BodyPassesCrc16(body);
    }
    QList<QByteArray> Payloads() const {
        QList<QByteArray> out;
        for (const QByteArray &f : Frames)
            out << PayloadOf(f);
        return out;
    }
};

inline std::unique_ptr<TKvProtocol> MakeEngine(TKvCapture &Cap, const TKvRegistersDynArray &Regs = {},
                                               bool Log = false,
                                               const QString &LogName = QStringLiteral("KvTest")) {
    auto engine =
        std::make_unique<TKvProtocol>([&Cap](const QByteArray &f) { Cap.Frames << f; }, Regs,
                                      [&Cap](TKvProtocol *, quint8 r) { Cap.Received << r; },
                                      [&Cap](quint8 c, quint8 r, TKvPError e) {
                                          Cap.Acks << QList<int>{c, r, e};
                                      },
                                      [&Cap](const QByteArray &p) { Cap.Unknown << p; }, Log, LogName, false);
    engine->OnReceivedRegisterAuto = [&Cap](TKvProtocol *, quint8 r) { Cap.ReceivedAuto << r; };
    return engine;
}

// A device frame for the given payload.
inline QByteArray DeviceFrame(const QByteArray &Payload, bool Crc = false, quint8 Counter = 0) {
    return Crc ? KvCodec::FrameCrc16(Payload, Counter) : KvCodec::FrameCheckSum(Payload);
}

inline TOnRegTimeoutOrError RecordTimeOut(TKvCapture &Cap) {
    return [&Cap](TKvProtocol *, quint8 r, TKvPError e) { Cap.TimeOuts << qMakePair(r, e); };
}
inline TOnRegisterNotify RecordAck(TKvCapture &Cap) {
    return [&Cap](TKvProtocol *, quint8 r) { Cap.AckRegs << r; };
}

// Moves the injectable tick count forward; restores it when the test ends.
struct TTickShift {
    quint32 Saved = KvPlatform::TickCountOffset();
    void Advance(quint32 Ms) { KvPlatform::SetTickCountOffset(KvPlatform::TickCountOffset() + Ms); }
    void Set(quint32 Offset) { KvPlatform::SetTickCountOffset(Offset); }
    ~TTickShift() { KvPlatform::SetTickCountOffset(Saved); }
};
