#pragma once
// A device link without a port for the firmware window's own tests: connected or not at
// will, with a real protocol engine whose payloads are kept; the test answers as the boot
// loader by feeding frames into the engine.
#include "uKvDeviceLink.h"
#include "uKvFrameCodec.h"
#include "uKvProtocol.h"

#include <QStringList>
#include <QVector>

#include <memory>

class TLoaderTestLink : public IDeviceLink {
public:
    TLoaderTestLink() {
        Protocol = std::make_unique<TKvProtocol>(
            [this](const QByteArray &F) { Catch(F); }, TKvRegistersDynArray(), TOnRegisterNotify(), TOnAck(),
            TOutputData(), false, QStringLiteral("FirmwareTestLog"), false);
        Protocol->FirstPacket = false;
    }
    bool Connect() override { return Connected ? false : (Connected = true); }
    void Disconnect() override {
        Calls << QStringLiteral("Disconnect");
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
    void SetKeepConnection(bool A) override { Calls << QStringLiteral("SetKeepConnection(%1)").arg(A); }
    bool GetCounters(double &, double &, double &) override { return false; }
    bool GetProtocolInThread() override { return false; }
    void SetProtocolInThread(bool) override {}

    // The boot loader's answers.
    void AnswerStart(const QByteArray &Ident, quint16 FlashKiB = 64, quint16 PageSize = 128) {
        QByteArray P(1, char(0x52));
        for (quint16 V : {quint16(0x1234), FlashKiB, PageSize})
            P.append(char(V & 0xFF)).append(char(V >> 8));
        Protocol->InputData(KvCodec::FrameCheckSum(P + Ident));
    }
    void AnswerPage(quint8 Status = 0) {
        Protocol->InputData(KvCodec::FrameCheckSum(QByteArray("\x1A", 1) + char(Status)));
    }

    int StartRequests() const { return Count(0x52); }
    int Pages() const { return Count(0x1A); }
    int Count(quint8 Command) const {
        int N = 0;
        for (const QByteArray &P : Payloads)
            N += !P.isEmpty() && quint8(P[0]) == Command;
        return N;
    }

    bool Connected = false;
    QStringList Calls;            // link operations the window used, in order
    QVector<QByteArray> Payloads; // everything the engine sent
    std::unique_ptr<TKvProtocol> Protocol;

private:
    void Catch(const QByteArray &Frame) {
        Buffer += Frame;
        QByteArray Body;
        bool Skipped = false;
        while (KvCodec::TakeFrame(Buffer, Body, Skipped)) {
            const QByteArray B = KvCodec::Unescape(Body);
            if (KvCodec::BodyPassesCheckSum(B)) Payloads << B.chopped(1);
        }
    }
    QByteArray Buffer;
};
