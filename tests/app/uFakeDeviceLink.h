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
        Protocol = std::make_unique<TKvProtocol>([this](const QByteArray &F) { Catch(F); },
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
    void Transmit(const QByteArray &Data) override { Catch(Data); }
    void SetOnReceived(TOutputData) override {}
    TOutputData GetTransmitProcedure() override {
        return [this](const QByteArray &D) { Catch(D); };
    }
    void SetOnDeviceLinkStartStop(TOnDeviceLinkStartStop, TBeforeDisconnect, bool) override {}
    void SetOnCreateProtocolRef(TOnCreateProtocolRef) override {}
    TKvProtocol *KvProtocol() override { return Connected ? Protocol.get() : nullptr; }
    void SetKvProtocol(TKvProtocol *) override {}
    void SetKeepConnection(bool A) override { KeepConnection = A; }
    bool GetCounters(double &, double &, double &) override { return false; }
    bool GetProtocolInThread() override { return false; }
    void SetProtocolInThread(bool) override {}

    QVector<TSentCommand> Writes() const {
        QVector<TSentCommand> W;
        for (const auto &C : Sent)
            if (C.Command == 7) W << C;
        return W;
    }
    QVector<quint8> Reads() const {
        QVector<quint8> R;
        for (const auto &C : Sent)
            if (C.Command == 8) R << C.RegNum;
        return R;
    }

    bool Connected = false;
    bool AutoStartStop = true;
    bool KeepConnection = false;
    QVector<TSentCommand> Sent;
    std::unique_ptr<TKvProtocol> Protocol;

private:
    void Catch(const QByteArray &Frame) {
        Buffer += Frame;
        QByteArray Body;
        bool Skipped = false;
        while (KvCodec::TakeFrame(Buffer, Body, Skipped)) {
            if (Skipped || Body.isEmpty()) continue;
            QByteArray B = KvCodec::Unescape(Body);
            QByteArray Payload;
            if (KvCodec::BodyPassesCheckSum(B))
                Payload = B.chopped(1);
            else if (KvCodec::BodyPassesCrc16(B))
                Payload = B.chopped(3);
            if (Payload.size() < 2) continue;
            TSentCommand C;
            C.Command = quint8(Payload[0]);
            C.RegNum = quint8(Payload[1]);
            if (C.Command == 7 && Payload.size() >= 3) {
                TKvRegister R;
                R.RegType = TKvRegisterType(quint8(Payload[2]));
                R.RawData = Payload.mid(3);
                C.Value = RegisterToVariant(R).toLongLong();
            }
            Sent << C;
        }
    }
    QByteArray Buffer;
};
