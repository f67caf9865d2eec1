#pragma once
// The device link panel embedded in a plain window and configured as the program configures
// it, for the tests that drive the link against simulated testers.
#include "uFrameDeviceLinkComMorva.h"
#include "uKvProtocol.h"
#include "uPlatformSound.h"
#include "uPlatformTick.h"

#include <QStringList>
#include <QVBoxLayout>
#include <QVector>
#include <QWidget>
#include <QtTest/QtTest>

class TFakeSound : public ISystemSound {
public:
    QStringList Played;
    void PlayAsync(const QString &Name) override { Played << Name; }
};

struct TStartStop {
    TDeviceLinkEvent Event;
    bool Lost;
    quint32 SilenceMs; // ticks since the last received byte when the event came
};

// The tester's registers as the program's factory declares them.
inline TKvRegistersDynArray TesterRegisters() {
    TKvRegistersDynArray R(17);
    for (int I = 0; I < 17; ++I) {
        R[I].RegAdr = quint8(I);
        R[I].RegType = I == 0 ? rtString : I == 1 ? rtU8 : rtU16;
    }
    R[0].RegReadOnly = true;
    return R;
}

class TLinkWindow : public QWidget {
public:
    TLinkWindow() {
        Link = new TFrameDeviceLinkComMorva(this);
        auto *L = new QVBoxLayout(this);
        L->addWidget(Link);
        Link->DeviceIdentStr = "Tavik";
        Link->SetBaudRate(115200);
        Link->SetSearchOnConnect(true);
        Link->SetOnDeviceLinkStartStop(
            [this](IDeviceLink *Sender, TDeviceLinkEvent E, bool Lost) {
                QCOMPARE(Sender, static_cast<IDeviceLink *>(Link));
                Events.append({E, Lost, quint32(KvPlatform::TickCount() - Link->LastReceiveTime)});
            },
            {}, true);
        Link->SetKeepConnection(true);
        Link->SetOnCreateProtocolRef([this](IDeviceLink *Sender) {
            auto *P = new TKvProtocol(
                Sender->GetTransmitProcedure(), TesterRegisters(),
                [this](TKvProtocol *, quint8 RegNum) { Received.append(RegNum); }, {}, {}, false, "TamrelLog",
                Sender->GetProtocolInThread());
            Sender->SetKvProtocol(P);
            Sender->SetOnReceived([P](const QByteArray &Data) { P->InputData(Data); });
            ++Created;
        });
    }
    // What the menu item "Auto Start Stop" switches: the start/stop writes and keep-alive.
    void SetAutoStartStop(bool On) {
        Link->AutoStartStop = On;
        Link->SetKeepConnection(On);
    }
    TFrameDeviceLinkComMorva *Link;
    QVector<TStartStop> Events;
    QVector<quint8> Received;
    int Created = 0;
};
