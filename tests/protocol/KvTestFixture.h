#pragma once
// A protocol engine wired to in-memory capture: every frame it sends is kept, and payloads
// are fed back as device frames in either mode.
#include "uKvProtocol.h"
#include "uPlatformTick.h"

#include <QByteArray>
#include <QList>
#include <memory>

inline QByteArray Hex(const char *text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
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
    static QByteArray PayloadOf(const QByteArray &frame) {
        QByteArray body = KvCodec::Unescape(frame.mid(1, frame.size() - 2));
        if (KvCodec::BodyPassesCheckSum(body)) return body.left(body.size() - 1);
        if (KvCodec::BodyPassesCrc16(body)) return body.left(body.size() - 3);
        return {};
    }
    static bool IsCrcFrame(const QByteArray &frame) {
        QByteArray body = KvCodec::Unescape(frame.mid(1, frame.size() - 2));
        return !KvCodec::BodyPassesCheckSum(body) && KvCodec::BodyPassesCrc16(body);
    }
    QList<QByteArray> Payloads() const {
        QList<QByteArray> out;
        for (const QByteArray &f : Frames)
            out << PayloadOf(f);
        return out;
    }
};

inline std::unique_ptr<TKvProtocol> MakeEngine(TKvCapture &cap, const TKvRegistersDynArray &regs = {},
                                               bool log = false,
                                               const QString &logName = QStringLiteral("KvTest")) {
    auto engine =
        std::make_unique<TKvProtocol>([&cap](const QByteArray &f) { cap.Frames << f; }, regs,
                                      [&cap](TKvProtocol *, quint8 r) { cap.Received << r; },
                                      [&cap](quint8 c, quint8 r, TKvPError e) {
                                          cap.Acks << QList<int>{c, r, e};
                                      },
                                      [&cap](const QByteArray &p) { cap.Unknown << p; }, log, logName, false);
    engine->OnReceivedRegisterAuto = [&cap](TKvProtocol *, quint8 r) { cap.ReceivedAuto << r; };
    return engine;
}

// A device frame for the given payload.
inline QByteArray DeviceFrame(const QByteArray &payload, bool crc = false, quint8 counter = 0) {
    return crc ? KvCodec::FrameCrc16(payload, counter) : KvCodec::FrameCheckSum(payload);
}

inline TOnRegTimeoutOrError RecordTimeOut(TKvCapture &cap) {
    return [&cap](TKvProtocol *, quint8 r, TKvPError e) { cap.TimeOuts << qMakePair(r, e); };
}
inline TOnRegisterNotify RecordAck(TKvCapture &cap) {
    return [&cap](TKvProtocol *, quint8 r) { cap.AckRegs << r; };
}

// Moves the injectable tick count forward; restores it when the test ends.
struct TTickShift {
    quint32 Saved = KvPlatform::TickCountOffset();
    void Advance(quint32 ms) { KvPlatform::SetTickCountOffset(KvPlatform::TickCountOffset() + ms); }
    void Set(quint32 offset) { KvPlatform::SetTickCountOffset(offset); }
    ~TTickShift() { KvPlatform::SetTickCountOffset(Saved); }
};
