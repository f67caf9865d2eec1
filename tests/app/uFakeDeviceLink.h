#pragma once
// A device link without a port for the window's own tests: "connected" or not at will, with a
// real protocol engine whose frames are caught and decoded into (command, register, value).
#include "uKvDeviceLink.h"
#include "uKvFrameCodec.h"
#include "uKvProtocol.h"
#include "uTamrelRegisterMap.h"

#include <QVector>
#include <memory>

struct TSentCommand {
    quint8 Command = 0; // 7 write, 8 read
    quint8 RegNum = 0;
    qint64 Value = 0; // writes only
};

class TFakeDeviceLink : public IDeviceLink {
public:
    TFakeDeviceLink() {
        Protocol = std::make_unique<TKvProtocol>([this](const QByteArray &f) { Catch(f); },
                                                 TesterRegistersInfo(), TOnRegisterNotify(), TOnAck(),
                                                 TOutputData(), false, QStringLiteral("TamrelLog"), false);
        // No first-contact probe: these tests look at what the window sends, not at the engine.
        Protocol->FirstPacket = false;
    }
    bool Connect() override { return Connected ? false : (Connected = true); }
    void Disconnect() override {
        if (Connected && AutoStartStop) Protocol->WriteRegisterValue(1, 0);
        Connected = false;
    }
    bool IsConnected() override { return Connected; }
    void Transmit(const QByteArray &data) override { Catch(data); }
    void SetOnReceived(TOutputData) override {}
    TOutputData GetTransmitProcedure() override {
        return [this](const QByteArray &d) { Catch(d); };
    }
    void SetOnDeviceLinkStartStop(TOnDeviceLinkStartStop, TBeforeDisconnect, bool) override {}
    void SetOnCreateProtocolRef(TOnCreateProtocolRef) override {}
    TKvProtocol *KvProtocol() override { return Connected ? Protocol.get() : nullptr; }
    void SetKvProtocol(TKvProtocol *) override {}
    void SetKeepConnection(bool a) override { KeepConnection = a; }
    bool GetCounters(double &, double &, double &) override { return false; }
    bool GetProtocolInThread() override { return false; }
    void SetProtocolInThread(bool) override {}

    QVector<TSentCommand> Writes() const {
        QVector<TSentCommand> w;
        for (const auto &c : Sent)
            if (c.Command == 7) w << c;
        return w;
    }
    QVector<quint8> Reads() const {
        QVector<quint8> r;
        for (const auto &c : Sent)
            if (c.Command == 8) r << c.RegNum;
        return r;
    }

    bool Connected = false;
    bool AutoStartStop = true;
    bool KeepConnection = false;
    QVector<TSentCommand> Sent;
    std::unique_ptr<TKvProtocol> Protocol;

private:
    void Catch(const QByteArray &frame) {
        Buffer += frame;
        QByteArray body;
        bool skipped = false;
        while (KvCodec::TakeFrame(Buffer, body, skipped)) {
            if (skipped || body.isEmpty()) continue;
            QByteArray b = KvCodec::Unescape(body);
            QByteArray payload;
            if (KvCodec::BodyPassesCheckSum(b))
                payload = b.chopped(1);
            else if (KvCodec::BodyPassesCrc16(b))
                payload = b.chopped(3);
            if (payload.size() < 2) continue;
            TSentCommand c;
            c.Command = quint8(payload[0]);
            c.RegNum = quint8(payload[1]);
            if (c.Command == 7 && payload.size() >= 3) {
                TKvRegister r;
                r.RegType = TKvRegisterType(quint8(payload[2]));
                r.RawData = payload.mid(3);
                c.Value = RegisterToVariant(r).toLongLong();
            }
            Sent << c;
        }
    }
    QByteArray Buffer;
};
