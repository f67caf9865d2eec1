#pragma once
// The device link panel embedded in a plain window and configured as the program configures
// it, for the tests that drive the link against simulated testers.
#include "uFrameDeviceLinkComMorva.h"
#include "uKvProtocol.h"
#include "uPlatformSound.h"
#include "uPlatformTick.h"
#include "uTamrelRegisterMap.h"

#include <QStringList>
#include <QVBoxLayout>
#include <QVector>
#include <QWidget>
#include <QtTest/QtTest>

class TFakeSound : public ISystemSound {
public:
    QStringList Played;
    void PlayAsync(const QString &name) override { Played << name; }
};

struct TStartStop {
    TDeviceLinkEvent Event;
    bool Lost;
    quint32 SilenceMs; // ticks since the last received byte when the event came
};

class TLinkWindow : public QWidget {
public:
    TLinkWindow() {
        Link = new TFrameDeviceLinkComMorva(this);
        auto *l = new QVBoxLayout(this);
        l->addWidget(Link);
        Link->DeviceIdentStr = "Tavik";
        Link->SetBaudRate(115200);
        Link->SetSearchOnConnect(true);
        Link->SetOnDeviceLinkStartStop(
            [this](IDeviceLink *sender, TDeviceLinkEvent e, bool lost) {
                QCOMPARE(sender, static_cast<IDeviceLink *>(Link));
                Events.append({e, lost, quint32(KvPlatform::TickCount() - Link->LastReceiveTime)});
            },
            {}, true);
        Link->SetKeepConnection(true);
        // The factory as the program's: the tester's register map and the link's own transmit.
        Link->SetOnCreateProtocolRef([this](IDeviceLink *sender) {
            auto *p = new TKvProtocol(
                sender->GetTransmitProcedure(), TesterRegistersInfo(),
                [this](TKvProtocol *, quint8 regNum) { Received.append(regNum); }, {}, {}, false, "TamrelLog",
                sender->GetProtocolInThread());
            sender->SetKvProtocol(p);
            sender->SetOnReceived([p](const QByteArray &bytes) { p->InputData(bytes); });
            ++Created;
        });
    }
    // What the menu item "Auto Start Stop" switches: the start/stop writes and keep-alive.
    void SetAutoStartStop(bool on) {
        Link->AutoStartStop = on;
        Link->SetKeepConnection(on);
    }
    TFrameDeviceLinkComMorva *Link;
    QVector<TStartStop> Events;
    QVector<quint8> Received;
    int Created = 0;
};
