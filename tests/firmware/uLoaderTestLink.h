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
            [this](const QByteArray &f) { Catch(f); }, TKvRegistersDynArray(), TOnRegisterNotify(), TOnAck(),
            TOutputData(), false, QStringLiteral("FirmwareTestLog"), false);
        Protocol->FirstPacket = false;
    }
    bool Connect() override { return Connected ? false : (Connected = true); }
    void Disconnect() override {
        Calls << QStringLiteral("Disconnect");
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
    void SetKeepConnection(bool a) override { Calls << QStringLiteral("SetKeepConnection(%1)").arg(a); }
    bool GetCounters(double &, double &, double &) override { return false; }
    bool GetProtocolInThread() override { return false; }
    void SetProtocolInThread(bool) override {}

    // The boot loader's answers.
    void AnswerStart(const QByteArray &ident, quint16 flashKiB = 64, quint16 pageSize = 128) {
        QByteArray p(1, char(0x52));
        for (quint16 v : {quint16(0x1234), flashKiB, pageSize})
            p.append(char(v & 0xFF)).append(char(v >> 8));
        Protocol->InputData(KvCodec::FrameCheckSum(p + ident));
    }
    void AnswerPage(quint8 status = 0) {
        Protocol->InputData(KvCodec::FrameCheckSum(QByteArray("\x1A", 1) + char(status)));
    }

    int StartRequests() const { return Count(0x52); }
    int Pages() const { return Count(0x1A); }
    int Count(quint8 command) const {
        int n = 0;
        for (const QByteArray &p : Payloads)
            n += !p.isEmpty() && quint8(p[0]) == command;
        return n;
    }

    bool Connected = false;
    QStringList Calls;            // link operations the window used, in order
    QVector<QByteArray> Payloads; // everything the engine sent
    std::unique_ptr<TKvProtocol> Protocol;

private:
    void Catch(const QByteArray &frame) {
        Buffer += frame;
        QByteArray body;
        bool skipped = false;
        while (KvCodec::TakeFrame(Buffer, body, skipped)) {
            const QByteArray b = KvCodec::Unescape(body);
            if (KvCodec::BodyPassesCheckSum(b)) Payloads << b.chopped(1);
        }
    }
    QByteArray Buffer;
};
