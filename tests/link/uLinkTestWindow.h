#pragma once
// The device link panel embedded in a plain window and configured as the program configures
// it, for the tests that drive the link against simulated testers.
#include "uFrameDeviceLinkComMorva.h"
#include "uKvProtocol.h"
#include "uPlatformSound.h"
#include "uPlatformTick.h"
#include "uTamrelRegisterMap.h"

#include <QApplication>
#include <QMutex>
#include <QStringList>
#include <QThread>
#include <QVBoxLayout>
#include <QVector>
#include <QWidget>
#include <QtTest/QtTest>

#include <atomic>
#include <memory>

class TFakeSound : public ISystemSound {
public:
    QStringList Played;
    void PlayAsync(const QString &name) override { Played << name; }
};

// The three ways the link can run: everything on the GUI thread (the program's), reading on
// the port's thread with delivery on the GUI thread, and the protocol on the port's thread.
enum class TLinkThreading { GuiThread, ReceiveAsync, ProtocolInThread };
Q_DECLARE_METATYPE(TLinkThreading)

inline void AddThreadingRows() {
    QTest::addColumn<TLinkThreading>("threading");
    QTest::newRow("GUI thread") << TLinkThreading::GuiThread;
    QTest::newRow("ReciveAsync") << TLinkThreading::ReceiveAsync;
    QTest::newRow("protocol in thread") << TLinkThreading::ProtocolInThread;
}

// Notes every event that reaches the watched widgets on another thread than the GUI thread:
// a widget touched from the port's thread shows here (setting a tool tip, for one, sends its
// event at once on the calling thread).
class TOffGuiThreadEvents : public QObject {
public:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (QThread::currentThread() != qApp->thread()) {
            QMutexLocker lock(&FLock);
            FSeen << QStringLiteral("%1 event %2").arg(watched->objectName()).arg(int(event->type()));
        }
        return false;
    }
    QStringList Seen() {
        QMutexLocker lock(&FLock);
        return FSeen;
    }

private:
    QMutex FLock;
    QStringList FSeen;
};

struct TStartStop {
    TDeviceLinkEvent Event;
    bool Lost;
    quint32 SilenceMs; // ticks since the last received byte when the event came
};

// Counts the engines alive: each engine the factory makes holds one mark until it is freed.
struct TEngineMark {
    explicit TEngineMark(std::shared_ptr<std::atomic<int>> live) : Live(std::move(live)) { ++*Live; }
    ~TEngineMark() { --*Live; }
    TEngineMark(const TEngineMark &) = delete;
    TEngineMark &operator=(const TEngineMark &) = delete;
    std::shared_ptr<std::atomic<int>> Live;
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
            auto mark = std::make_shared<TEngineMark>(LiveEngines);
            auto *p = new TKvProtocol(
                sender->GetTransmitProcedure(), TesterRegistersInfo(),
                [this, mark](TKvProtocol *, quint8 regNum) { Received.append(regNum); }, {}, {}, false,
                "TamrelLog", sender->GetProtocolInThread());
            sender->SetKvProtocol(p);
            sender->SetOnReceived([p](const QByteArray &bytes) { p->InputData(bytes); });
            ++Created;
        });
    }
    void SetThreading(TLinkThreading threading) {
        Link->ReciveAsync = threading == TLinkThreading::ReceiveAsync;
        Link->SetProtocolInThread(threading == TLinkThreading::ProtocolInThread);
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
    // Engines not yet freed; shared, so that it can be read after the window has gone.
    std::shared_ptr<std::atomic<int>> LiveEngines = std::make_shared<std::atomic<int>>(0);
};
