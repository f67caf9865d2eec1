#pragma once
// A simulated tester on a manual clock with its output decoded into payloads, for tests that
// talk to the device in raw frames.
#include "uKvFrameCodec.h"
#include "uSimDevice.h"

#include <QByteArray>
#include <QVector>

#include <memory>

inline QByteArray Hex(const char *text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

struct TSimFrame {
    QByteArray Payload;
    bool Crc = false;
    quint8 Counter = 0;
};

// Collects the device's bytes and cuts them into frames the way a host does.
struct TSimCapture {
    QByteArray Raw;    // every byte the device sent
    QByteArray Buffer; // not yet cut into frames
    QVector<TSimFrame> Frames;

    void Feed(const QByteArray &bytes) {
        Raw.append(bytes);
        Buffer.append(bytes);
        QByteArray body;
        bool skipped = false;
        while (KvCodec::TakeFrame(Buffer, body, skipped)) {
            const QByteArray u = KvCodec::Unescape(body);
            // The CRC is tried first: a CRC frame passes the 8-bit sum by chance far more
            // often than a checksum frame passes the CRC.
            if (u.size() >= 4 && KvCodec::BodyPassesCrc16(u))
                Frames.append({u.left(u.size() - 3), true, quint8(u[u.size() - 3])});
            else if (u.size() >= 2 && KvCodec::BodyPassesCheckSum(u))
                Frames.append({u.left(u.size() - 1), false, 0});
        }
    }
    QVector<QByteArray> Payloads() const {
        QVector<QByteArray> out;
        for (const TSimFrame &f : Frames)
            out.append(f.Payload);
        return out;
    }
    void Clear() {
        Raw.clear();
        Buffer.clear();
        Frames.clear();
    }
};

// A device at time 0 of a manual clock.
struct TSimBench {
    TSimCapture Cap;
    std::unique_ptr<TSimDevice> Dev;
    quint32 Now = 0;

    explicit TSimBench(const TSimOptions &options = {}) : Dev(std::make_unique<TSimDevice>(options)) {
        Dev->SetOutput([this](const QByteArray &b) { Cap.Feed(b); });
        Dev->Tick(0);
    }
    void Request(const QByteArray &payload, bool crc = false, quint8 counter = 0) {
        Dev->Receive(crc ? KvCodec::FrameCrc16(payload, counter) : KvCodec::FrameCheckSum(payload));
    }
    void At(quint32 ms) {
        Now = ms;
        Dev->Tick(ms);
    }
    // Ticks every millisecond up to Ms, as a transport would.
    void RunTo(quint32 ms) {
        while (Now < ms)
            At(Now + 1);
    }
};
