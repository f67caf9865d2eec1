// The device link panel against simulated testers on real pseudo-terminals: search and
// connect, the start register and its acknowledgement, keep-alive, loss, orderly disconnect,
// the missing-engine error, counters, texts and repeated connections.
#include "TestMain.h"
#include "uBalloonHint.h"
#include "uFormConnectionSettingsMorvaSearch.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uKvApplication.h"
#include "uKvProtocol.h"
#include "uLinkTestSupport.h"
#include "uLinkTestWindow.h"
#include "uPlatformSound.h"
#include "uPlatformTick.h"
#include "uTamrelRegisterMap.h"

#include <QAction>
#include <QMenu>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QToolButton>

class TDeviceLinkTest : public QObject {
    Q_OBJECT
    std::unique_ptr<TLinkRuntime> Runtime;
    std::shared_ptr<TFakeSound> Sound;
    QStringList Errors;

    static void WaitSearchIdle() { QTRY_COMPARE_WITH_TIMEOUT(ActiveSearchProbes(), 0, 5000); }

private slots:
    void initTestCase() {
        Runtime = std::make_unique<TLinkRuntime>();
        TKvApplication::SetErrorDisplay([this](const QString &m) { Errors << m; });
    }
    void init() {
        Errors.clear();
        Sound = std::make_shared<TFakeSound>();
        KvPlatform::SetSystemSound(Sound);
        KvPlatform::SetTickCountOffset(0);
    }
    void cleanup() {
        KvPlatform::SetTickCountOffset(0);
        WaitSearchIdle();
    }

    void startsClosedWithRussianTexts() {
        TLinkWindow w;
        QCOMPARE(w.Link->CurrentImageIndex(), 0);
        QVERIFY(!w.Link->sButtonConnect->isChecked());
        QVERIFY(w.Link->sButtonConnect->isCheckable());
        QCOMPARE(w.Link->sButtonConnect->toolTip(), QString("Подключиться к устройству"));
        QCOMPARE(w.Link->NConnectionSettings->text(), QString("Настройки соединения вручную"));
        QCOMPARE(w.Link->TimerCheckTimeOut->interval(), 100);
        QCOMPARE(w.Link->TimerSearchTimeOut->interval(), 2000);
        QVERIFY(!w.Link->DefaultImageList()[1].pixmap(QSize(137, 137)).isNull()); // drawn at any size
        w.Link->Disconnect(); // on a closed link: no event
        QVERIFY(w.Events.isEmpty());
    }

    // Two testers: the search connects to the one whose identification contains "Tavik" in
    // any letter case; the other's report changes nothing; the log holds this search only.
    void searchConnectsToTheTavikOne() {
        {
            auto earlier = StartSim("Earlier");
            StartSearch({115200, dbEight, prNone, sbOneStopBit}, false, {});
            WaitSearchIdle();
            QVERIFY(SearchLogLines().join('\n').contains(earlier->PortName()));
        }
        auto other = StartSim("Scope 7 analyser");
        auto tester = StartSim("TAVIK Tamrel 1.6");
        TLinkWindow w;
        w.show();
        w.Link->sButtonConnect->click();
        QVERIFY(w.Link->sButtonConnect->isChecked()); // down while searching
        QCOMPARE(w.Link->CurrentImageIndex(), 0);
        QVERIFY(w.Link->TimerSearchTimeOut->isActive());
        QTRY_COMPARE_WITH_TIMEOUT(w.Events.size(), 1, 3000);
        QCOMPARE(w.Events[0].Event, OnStart);
        QCOMPARE(w.Link->ComPortObject()->Port(), tester->PortName());
        QCOMPARE(w.Link->BaudRate(), 115200);
        QVERIFY(!w.Link->TimerSearchTimeOut->isActive());
        WaitSearchIdle();
        QTest::qWait(50);
        QCOMPARE(w.Events.size(), 1);
        QCOMPARE(w.Link->ComPortObject()->Port(), tester->PortName());
        const QString log = SearchLogLines().join('\n');
        QVERIFY(log.contains(tester->PortName() + " Received TAVIK Tamrel 1.6"));
        QVERIFY(log.contains(other->PortName() + " Received Scope 7 analyser"));
        QVERIFY(!log.contains("Earlier"));
        QVERIFY(Errors.isEmpty());
        w.Link->Disconnect();
    }

    // Two testers that both match: the first report connects, the second finds the link open.
    void twoMatchingReportsConnectOnce() {
        auto a = StartSim("Tavik A");
        auto b = StartSim("Tavik B");
        TLinkWindow w;
        w.Link->sButtonConnect->click();
        QTRY_COMPARE_WITH_TIMEOUT(w.Events.size(), 1, 3000);
        const QString port = w.Link->ComPortObject()->Port();
        QVERIFY(port == a->PortName() || port == b->PortName());
        WaitSearchIdle();
        const QString log = SearchLogLines().join('\n');
        QVERIFY(log.contains(a->PortName() + " Received Tavik A") &&
                log.contains(b->PortName() + " Received Tavik B"));
        QCOMPARE(w.Events.size(), 1);
        QCOMPARE(w.Link->ComPortObject()->Port(), port);
        QVERIFY(Errors.isEmpty());
        w.Link->Disconnect();
    }

    // The start write: register 1 := 1; the button shows the connected state only once the
    // tester has acknowledged it; keep-alive reads then go out about once a second.
    void startWriteAndKeepAlive() {
        TSimOptions slow;
        slow.AnswerDelayMs = 60; // within the engine's 100 ms answer time
        auto tester = StartSim("Tavik", slow);
        TLinkWindow w;
        w.Link->SetSearchOnConnect(false);
        w.Link->ComPortObject()->SetPort(tester->PortName());
        w.Link->sButtonConnect->click();
        QCOMPARE(w.Events.size(), 1); // started inside the click, before any answer
        QVERIFY(w.Link->IsConnected());
        QCOMPARE(w.Link->CurrentImageIndex(), 0); // not yet acknowledged
        QTRY_COMPARE_WITH_TIMEOUT(w.Link->CurrentImageIndex(), 1, 3000);
        QVERIFY(w.Link->sButtonConnect->isChecked());
        QCOMPARE(w.Link->sButtonConnect->toolTip(), QString("Связь установлена"));
        QCOMPARE(tester->Device()->RegisterInt(1), 1);
        // one start write (a second only if the first missed the engine's 100 ms answer time)
        QVERIFY(CountFrames(*tester, true, 7, 1) >= 1 && CountFrames(*tester, true, 7, 1) <= 2);
        const quint32 since = quint32(tester->Device()->Now());
        QTest::qWait(2600);
        QVector<double> reads;
        for (const TSimFrameRecord &f : tester->FrameLog())
            if (f.Received && f.Command == 8 && f.Register == 1 && f.TimeMs >= since) reads << f.TimeMs;
        QVERIFY2(reads.size() >= 2 && reads.size() <= 5, qPrintable(QString::number(reads.size())));
        // about once a second (the median ignores a request repeated after a missed answer)
        QVector<double> gaps;
        for (int i = 1; i < reads.size(); ++i)
            gaps << reads[i] - reads[i - 1];
        std::sort(gaps.begin(), gaps.end());
        QVERIFY2(gaps[gaps.size() / 2] > 900, qPrintable(QString::number(gaps[gaps.size() / 2])));
        QVERIFY(w.Link->IsConnected());
        w.Link->Disconnect();
    }

    // A tester that goes quiet but stays on the line is declared lost on the first tick more
    // than 3500 ms after its last byte; a new connect then works.
    void lossAndReconnect() {
        auto tester = StartSim("Tavik");
        TLinkWindow w;
        w.Link->DoEnglish();
        w.show();
        w.Link->sButtonConnect->click();
        QTRY_COMPARE_WITH_TIMEOUT(w.Link->CurrentImageIndex(), 1, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(w.Link->LastTransmitTime != 0, 1000); // a keep-alive went out
        const QString port = tester->PortName();
        tester->Device()->SetSilent(true);
        QTest::qWait(150);
        QVERIFY(w.Link->IsConnected());
        // 3200 ms of silence and a few ticks more: not yet
        KvPlatform::SetTickCountOffset(w.Link->LastReceiveTime + 3200 - KvPlatform::TickCount());
        QTest::qWait(100);
        QVERIFY(w.Link->IsConnected());
        KvPlatform::SetTickCountOffset(KvPlatform::TickCountOffset() + 250);
        QTRY_VERIFY_WITH_TIMEOUT(!w.Link->IsConnected(), 1000);
        QVERIFY(quint32(KvPlatform::TickCount() - w.Link->LastReceiveTime) <= 3500 + 400);
        QCOMPARE(w.Events.size(), 2);
        QCOMPARE(w.Events[1].Event, OnStop);
        QVERIFY(w.Events[1].Lost);
        QCOMPARE(w.Link->CurrentImageIndex(), 2);
        QVERIFY(!w.Link->sButtonConnect->isChecked());
        QCOMPARE(w.Link->Balloon()->Title(), QString("Connection Lost"));
        QCOMPARE(w.Link->Balloon()->Text(), QString());
        QVERIFY(w.Link->Balloon()->isVisible());
        const QPoint tip = w.Link->sButtonConnect->mapToGlobal(
            QPoint(w.Link->sButtonConnect->width() / 2, w.Link->sButtonConnect->height()));
        QCOMPARE(w.Link->Balloon()->ShownAt(), tip);
        QVERIFY(Sound->Played.contains("SystemHand"));

        auto again = StartSim("Tavik");
        KvPlatform::SetTickCountOffset(0);
        w.Link->sButtonConnect->click();
        QTRY_COMPARE_WITH_TIMEOUT(w.Events.size(), 3, 3000);
        QCOMPARE(w.Events[2].Event, OnStart);
        QVERIFY(!w.Link->ConnectionLost);
        QTRY_COMPARE_WITH_TIMEOUT(w.Link->CurrentImageIndex(), 1, 3000);
        QVERIFY(port != QString() && w.Link->ComPortObject()->Port() == again->PortName());
        w.Link->Disconnect();
    }

    void silenceBeforeFirstKeepAliveIsNoLoss() {
        TSimOptions quiet;
        quiet.Silent = true;
        auto tester = StartSim("Tavik", quiet);
        TLinkWindow w;
        w.Link->SetKeepConnection(false);
        w.Link->SetOnDeviceLinkStartStop(
            [&](IDeviceLink *, TDeviceLinkEvent e, bool l) {
                w.Events.append({e, l, 0});
            },
            {}, false);
        w.Link->ComPortObject()->SetPort(tester->PortName());
        QVERIFY(w.Link->Connect());
        QVERIFY(!w.Link->Connect()); // already open: false, nothing changes
        QCOMPARE(w.Events.size(), 1);
        QCOMPARE(w.Link->CurrentImageIndex(), 1); // without the start write: connected at once
        KvPlatform::SetTickCountOffset(10000);
        QTest::qWait(250);
        QVERIFY(w.Link->IsConnected()); // keep-alive off
        // switched on: silence counts from now, and the first request goes out at once
        w.Link->SetKeepConnection(true);
        QVERIFY(w.Link->TimerCheckTimeOut->isActive());
        QTest::qWait(250);
        QVERIFY(w.Link->IsConnected());
        QVERIFY(w.Link->LastTransmitTime != 0);
        QTRY_VERIFY_WITH_TIMEOUT(CountFrames(*tester, true, 8, 1) >= 2, 2000); // re-asked after each time-out
        KvPlatform::SetTickCountOffset(10000 + 3700);
        QTRY_VERIFY_WITH_TIMEOUT(!w.Link->IsConnected(), 1000);
        QVERIFY(w.Events.last().Lost);
    }

    // Disconnect writes register 1 := 0 before it closes; afterwards nothing is sent.
    void disconnectWritesStopFirst_data() { AddThreadingRows(); }
    void disconnectWritesStopFirst() {
        QFETCH(TLinkThreading, threading);
        auto tester = StartSim("Tavik");
        TLinkWindow w;
        w.SetThreading(threading);
        int before = 0;
        w.Link->BeforeDisconnect = [&](IDeviceLink *) { ++before; };
        w.Link->SetSearchOnConnect(false);
        w.Link->ComPortObject()->SetPort(tester->PortName());
        w.Link->sButtonConnect->click();
        QTRY_COMPARE_WITH_TIMEOUT(w.Link->CurrentImageIndex(), 1, 3000);
        QCOMPARE(tester->Device()->RegisterInt(1), 1);
        w.Link->sButtonConnect->click(); // open: the click disconnects
        QVERIFY(!w.Link->IsConnected());
        QCOMPARE(before, 1);
        QVERIFY(w.Link->Disconnecting);
        QCOMPARE(w.Events.size(), 2);
        QCOMPARE(w.Events[1].Event, OnStop);
        QVERIFY(!w.Events[1].Lost);
        QCOMPARE(w.Link->CurrentImageIndex(), 0);
        QVERIFY(!w.Link->sButtonConnect->isChecked());
        QTRY_COMPARE_WITH_TIMEOUT(CountFrames(*tester, true, 7, 1), 2, 2000);
        QVector<TSimFrameRecord> writes;
        for (const TSimFrameRecord &f : tester->FrameLog())
            if (f.Received && f.Command == 7 && f.Register == 1) writes << f;
        QVERIFY2(writes.last().Raw.contains(QByteArray("\x07\x01\x02\x00", 4)),
                 qPrintable(writes.last().RawHex()));
        const int frames = int(tester->FrameLog().size());
        w.Link->Transmit(QByteArray("\x7e\x08\x01\x7e", 4));
        QTest::qWait(50);
        QCOMPARE(int(tester->FrameLog().size()), frames);
        QVERIFY(Sound->Played.isEmpty());
    }

    // Without a factory: the first time an error the application shows, later the port is
    // closed and the connection counts as lost.
    void missingEngine() {
        auto tester = StartSim("Tavik");
        TLinkWindow w;
        w.Link->SetOnCreateProtocolRef({});
        w.Link->SetSearchOnConnect(false);
        w.Link->ComPortObject()->SetPort(tester->PortName());
        w.Link->sButtonConnect->click();
        QCOMPARE(Errors, QStringList{"Connection Lost (KvProtocol = nil)"});
        QVERIFY(w.Link->KvProtocolNil);
        QVERIFY(w.Link->IsConnected());
        QVERIFY(w.Link->KvProtocol() == nullptr);
        QVERIFY(!w.Link->IsConnected());
        QVERIFY(w.Link->ConnectionLost);
        QCOMPARE(w.Link->CurrentImageIndex(), 2);
        QCOMPARE(Errors.size(), 1);
    }

    void portThatCannotOpenIsShown() {
        TLinkWindow w;
        w.Link->SetSearchOnConnect(false);
        w.Link->ComPortObject()->SetPort("/dev/tamrel-no-such-port");
        w.Link->sButtonConnect->click();
        QCOMPARE(Errors.size(), 1);
        QVERIFY(Errors[0].startsWith("Unable to open com port"));
        QVERIFY(!w.Link->IsConnected());
        QVERIFY(w.Events.isEmpty());
    }

    // Nothing matches: after 2000 ms the button comes up with "Device Not Found" and what the
    // search saw; after a loss the press's search ends the same way (its own outcome decides,
    // not the loss before it).
    void searchFindingNothing() {
        auto other = StartSim("Scope 7");
        TLinkWindow w;
        w.Link->DoEnglish();
        w.Link->DeviceIdentStr.clear(); // an empty identification never matches
        w.show();
        w.Link->sButtonConnect->click();
        QTest::qWait(1500);
        QVERIFY(w.Link->sButtonConnect->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(!w.Link->sButtonConnect->isChecked(), 1500);
        QCOMPARE(w.Link->Balloon()->Title(), QString("Device Not Found"));
        // Under it, what the search saw: the device that answered is named with its port.
        QCOMPARE(w.Link->Balloon()->Text(), "Scope 7 on " + other->PortName() + " is not a Tamrel tester");
        QCOMPARE(w.Link->CurrentImageIndex(), 0);
        QVERIFY(w.Events.isEmpty());
        WaitSearchIdle();

        w.Link->ConnectionLost = true; // as a loss leaves it
        w.Link->sButtonConnect->click();
        QVERIFY(w.Link->TimerSearchTimeOut->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(!w.Link->TimerSearchTimeOut->isActive(), 3000);
        QCOMPARE(w.Link->Balloon()->Title(), QString("Device Not Found"));
        QCOMPARE(w.Link->Balloon()->Text(), "Scope 7 on " + other->PortName() + " is not a Tamrel tester");
        QCOMPARE(w.Link->CurrentImageIndex(), 0);
        QVERIFY(!w.Link->ConnectionLost);
        QVERIFY(!w.Link->sButtonConnect->isChecked());
        WaitSearchIdle();
    }

    // A press whose search cannot start still ends with the balloon, and says nothing of what
    // an earlier search saw.
    void invalidSearchSettingsStillEndWithBalloon() {
        auto other = StartSim("Scope 7");
        StartSearch({115200, dbEight, prNone, sbOneStopBit}, false,
                    [](const QString &, const QString &, int) {});
        WaitSearchIdle();
        QCOMPARE(SearchEngine->Outcomes.size(), 1); // an earlier search that saw another device
        TLinkWindow w;
        w.Link->SetBaudRate(0);
        w.Link->sButtonConnect->click();
        QCOMPARE(Errors, QStringList{"Wrong COM-port settings"});
        QVERIFY(w.Link->TimerSearchTimeOut->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(!w.Link->sButtonConnect->isChecked(), 3000);
        QCOMPARE(w.Link->Balloon()->Title(), LinkTexts[2]);
        QCOMPARE(w.Link->Balloon()->Text(), QString());
    }

    void countersAndTexts() {
        auto tester = StartSim("Tavik");
        TLinkWindow w;
        double r = 0, t = 0, l = 0;
        QVERIFY(!w.Link->GetCounters(r, t, l)); // closed
        w.Link->ComPortObject()->SetPort(tester->PortName());
        w.Link->Connect();
        QTRY_COMPARE_WITH_TIMEOUT(w.Link->CurrentImageIndex(), 1, 3000);
        QVERIFY(w.Link->BytesTransmitted > 0);
        QVERIFY(w.Link->BytesReceived > 0);
        if (!w.Link->GetCounters(r, t, l)) { // just crossed a second boundary at midnight
            QTest::qWait(1100);
            QVERIFY(w.Link->GetCounters(r, t, l));
        }
        const quint32 prevR = w.Link->PrevBytesReceived;
        QVERIFY(!w.Link->GetCounters(r, t, l) || w.Link->PrevBytesReceived != prevR);
        QTest::qWait(1100);
        const quint32 rx = w.Link->BytesReceived, tx = w.Link->BytesTransmitted;
        const quint32 pRx = w.Link->PrevBytesReceived, pTx = w.Link->PrevBytesTransmitted;
        const qint32 last = w.Link->LastGetCountersTime;
        QVERIFY(w.Link->GetCounters(r, t, l));
        const qint32 d = w.Link->LastGetCountersTime - last;
        QVERIFY(d >= 1);
        if (w.Link->BytesReceived == rx && w.Link->BytesTransmitted == tx) {
            QCOMPARE(r, double(rx - pRx) / d);
            QCOMPARE(t, double(tx - pTx) / d);
            QCOMPARE(l, qMax(r, t) / 11520.0);
        }

        w.Link->DoEnglish();
        QCOMPARE(w.Link->NConnectionSettings->text(), QString("Manual Connection Settings"));
        w.Link->PopupMenuConnectionPopup();
        QCOMPARE(w.Link->NSearchOnConnect->text(), QString("Automatic search device \"Tavik\""));
        w.Link->IndicateConnectionStatus(w.Link, false);
        QCOMPARE(w.Link->sButtonConnect->toolTip(), QString("Device Connected"));
        w.Link->Disconnect();
        QCOMPARE(w.Link->sButtonConnect->toolTip(), QString("Connect to device"));
    }

    void protocolInThread() {
        auto tester = StartSim("Tavik");
        TLinkWindow w;
        w.Link->SetProtocolInThread(true);
        QCOMPARE(w.Link->ComPortObject()->SyncMethod(), smNone);
        w.Link->ComPortObject()->SetPort(tester->PortName());
        w.Link->Connect();
        QVERIFY(w.Link->KvProtocol()->SyncWithGui);
        QTRY_COMPARE_WITH_TIMEOUT(w.Link->CurrentImageIndex(), 1, 3000);
        w.Link->KvProtocol()->RequestRegister(0, 0, {});
        QTRY_VERIFY_WITH_TIMEOUT(w.Received.contains(0), 2000);
        try {
            w.Link->SetProtocolInThread(false);
            QFAIL("changed while open");
        } catch (const EComPort &e) {
            QCOMPARE(QString(e.what()), QString("Cannot set property while connected"));
        }
        // The refused change leaves the link as it was: the port still delivers on its thread.
        QVERIFY(w.Link->GetProtocolInThread());
        QCOMPARE(w.Link->ComPortObject()->SyncMethod(), smNone);
        w.Link->Disconnect();
        w.Link->SetProtocolInThread(false);
        QCOMPARE(w.Link->ComPortObject()->SyncMethod(), smThreadSync);
    }

    // Reading on the port's thread with delivery on the GUI thread, while the tester streams
    // values: every disconnect ends although the port's thread may be waiting for the GUI.
    void receiveAsyncUnderTrafficClosesCleanly() {
        TSimOptions streaming;
        auto tester = std::make_unique<TSimPty>();
        streaming.Ident = "Tavik";
        streaming.AutoSendPeriodMs = 5;
        QVERIFY(tester->Start(streaming));
        TLinkWindow w;
        w.Link->ReciveAsync = true;
        QThread *deliveredOn = nullptr;
        w.Link->ComPortObject()->SetPort(tester->PortName());
        for (int i = 0; i < 8; ++i) {
            QVERIFY(w.Link->Connect());
            QCOMPARE(w.Link->ComPortObject()->SyncMethod(), smNone);
            TOutputData engineInput = w.Link->OnReceived;
            w.Link->SetOnReceived([&, engineInput](const QByteArray &d) {
                deliveredOn = QThread::currentThread();
                engineInput(d);
            });
            QTRY_COMPARE_WITH_TIMEOUT(w.Link->CurrentImageIndex(), 1, 3000);
            const quint32 before = w.Link->BytesReceived;
            QTRY_VERIFY_WITH_TIMEOUT(w.Link->BytesReceived > before + 20, 2000);
            w.Link->Disconnect();
            QVERIFY(!w.Link->IsConnected());
        }
        QCOMPARE(deliveredOn, QThread::currentThread());
        QVERIFY(Errors.isEmpty());
    }

    // With the engine's trace log on, the link writes its own lines into it.
    void traceLines() {
        auto tester = StartSim("Tavik");
        QTemporaryDir Dir;
        TLinkWindow w;
        QString logFile;
        w.Link->SetOnCreateProtocolRef([&](IDeviceLink *sender) {
            auto *p = new TKvProtocol(sender->GetTransmitProcedure(), TesterRegistersInfo(), {}, {}, {}, true,
                                      Dir.filePath("LinkTrace"), sender->GetProtocolInThread());
            logFile = p->LogFileName();
            sender->SetKvProtocol(p);
            sender->SetOnReceived([p](const QByteArray &data) { p->InputData(data); });
        });
        w.Link->ComPortObject()->SetPort(tester->PortName());
        w.Link->Connect();
        QTRY_COMPARE_WITH_TIMEOUT(w.Link->CurrentImageIndex(), 1, 3000);
        // the line goes dead: the failed write shows at the next transmit, which then drops
        // the record and runs the keep-alive check
        tester->Stop();
        const QByteArray probe("\x7e\x08\x01\x09\x7e", 5);
        int sent = 0;
        do { // the keep-alive may have met the dead line first
            w.Link->Transmit(probe);
        } while (w.Link->AsyncPtr && ++sent < 3);
        QVERIFY(!w.Link->AsyncPtr);
        QVERIFY(w.Link->IsConnected()); // the tester was heard from just now: not lost yet
        w.Link->Disconnect();
        QFile f(logFile);
        QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(logFile));
        const QString log = QString::fromLocal8Bit(f.readAll());
        QVERIFY2(log.contains(" ---KeepConnection = True(0): \r\n"), qPrintable(log));
        QVERIFY(QRegularExpression("COM Transmit: \\(\\d+\\): \\[7E\\]").match(log).hasMatch());
        QVERIFY(QRegularExpression("COM Received: \\(\\d+\\): ").match(log).hasMatch());
        QVERIFY2(log.contains("Async Transmit Exception: EComPort; WriteFile function failed"),
                 qPrintable(log));
    }

    // Repeated connections on fresh port objects; the sanitizer build checks that none leaks.
    void repeatedConnectDisconnect_data() { AddThreadingRows(); }
    void repeatedConnectDisconnect() {
        QFETCH(TLinkThreading, threading);
        auto tester = StartSim("Tavik");
        TLinkWindow w;
        w.SetThreading(threading);
        w.Link->ComPortObject()->SetPort(tester->PortName());
        for (int i = 0; i < 25; ++i) {
            QVERIFY(w.Link->Connect());
            QTRY_COMPARE_WITH_TIMEOUT(w.Link->CurrentImageIndex(), 1, 3000);
            w.Link->Disconnect();
            QCOMPARE(w.Link->CurrentImageIndex(), 0);
        }
        QCOMPARE(w.Created, 25);
        QCOMPARE(w.Events.size(), 50);
        QVERIFY(Errors.isEmpty());
    }

    // The connect button, its image and its tool tip are touched on the GUI thread only,
    // whichever thread the link reads and parses on; the start's acknowledgement still shows.
    void buttonTouchedOnGuiThreadOnly_data() { AddThreadingRows(); }
    void buttonTouchedOnGuiThreadOnly() {
        QFETCH(TLinkThreading, threading);
        auto tester = StartSim("Tavik");
        TLinkWindow w;
        w.SetThreading(threading);
        TOffGuiThreadEvents offGuiThread;
        w.Link->sButtonConnect->installEventFilter(&offGuiThread);
        w.Link->ComPortObject()->SetPort(tester->PortName());
        QVERIFY(w.Link->Connect());
        QTRY_COMPARE_WITH_TIMEOUT(w.Link->CurrentImageIndex(), 1, 3000);
        QVERIFY(w.Link->sButtonConnect->isChecked());
        QCOMPARE(w.Link->sButtonConnect->toolTip(), LinkTexts[0]);
        w.Link->KvProtocol()->RequestRegister(0, 0, {});
        QTRY_VERIFY_WITH_TIMEOUT(w.Received.contains(0), 2000);
        w.Link->Disconnect();
        QCOMPARE(w.Link->CurrentImageIndex(), 0);
        QCOMPARE(offGuiThread.Seen(), QStringList());
    }

    // A line setting changed while the tester streams values: the GUI thread waits for the
    // port's thread to apply it, so that thread must not be left waiting for the GUI thread.
    // The values go on arriving afterwards.
    void lineSettingWhileReceiving_data() { AddThreadingRows(); }
    void lineSettingWhileReceiving() {
        QFETCH(TLinkThreading, threading);
        auto tester = StartStreamingSim("Tavik", 2);
        TLinkWindow w;
        w.SetThreading(threading);
        w.Link->ComPortObject()->SetPort(tester->PortName());
        QVERIFY(w.Link->Connect());
        QTRY_COMPARE_WITH_TIMEOUT(w.Link->CurrentImageIndex(), 1, 3000);
        for (int i = 0; i < 10; ++i) {
            QThread::msleep(30); // busy: meanwhile the port's thread has bytes to hand over
            TDeadlockWatchdog watchdog(15000, "a line setting changed while bytes arrive");
            w.Link->SetBaudRate(i % 2 ? 115200 : 57600);
        }
        QCOMPARE(w.Link->BaudRate(), 115200);
        const quint32 before = w.Link->BytesReceived;
        QTRY_VERIFY_WITH_TIMEOUT(w.Link->BytesReceived > before + 20, 2000);
        QVERIFY(w.Link->IsConnected());
        w.Link->Disconnect();
        QVERIFY(Errors.isEmpty());
    }

    // The register mirror is shared by the thread that parses (it stores the values) and the
    // GUI thread (it shows them and writes settings) while the tester streams values and the
    // GUI polls: the thread sanitizer build checks every access; every build checks that the
    // shown values and the written setting are right.
    void registerMirrorSharedAcrossThreads_data() { AddThreadingRows(); }
    void registerMirrorSharedAcrossThreads() {
        QFETCH(TLinkThreading, threading);
        auto tester = StartStreamingSim("Tavik", 3);
        TLinkWindow w;
        w.SetThreading(threading);
        QVector<int> pumpTypesShown;
        int shown = 0;
        w.Link->SetOnCreateProtocolRef([&](IDeviceLink *sender) {
            auto *p = new TKvProtocol(
                sender->GetTransmitProcedure(), TesterRegistersInfo(),
                [&](TKvProtocol *s, quint8 regNum) {
                    QVERIFY(QThread::currentThread() == qApp->thread());
                    const QVariant value = RegisterToVariant(s->RegisterCopy(regNum));
                    if (regNum == TamrelReg::regPumpType) pumpTypesShown << value.toInt();
                    ++shown;
                },
                {}, {}, false, "TamrelLog", sender->GetProtocolInThread());
            sender->SetKvProtocol(p);
            sender->SetOnReceived([p](const QByteArray &bytes) { p->InputData(bytes); });
        });
        w.Link->ComPortObject()->SetPort(tester->PortName());
        QVERIFY(w.Link->Connect());
        QTRY_COMPARE_WITH_TIMEOUT(w.Link->CurrentImageIndex(), 1, 3000);
        int lastWritten = 0;
        quint16 positionUpdates = 0;
        for (int i = 0; i < 20; ++i) {
            TKvProtocol *p = w.Link->KvProtocol();
            QVERIFY(p);
            lastWritten = i % 3;
            p->WriteRegisterValue(TamrelReg::regPumpType, lastWritten);
            for (quint8 r : {TamrelReg::regPosition1, TamrelReg::regCurrent1, TamrelReg::regHeadTemperature,
                             TamrelReg::regPumpType})
                p->RequestRegisterAsync(r);
            p->NextRegisterOperation(0);
            QVERIFY(TKvPError(p->AnswerError) <= KvErrDataType);
            QVERIFY(!p->NewCommands);
            // the values the tester sends unasked, as a chart would sample them
            for (int k = 0; k < 10; ++k) {
                const TKvRegister position = p->RegisterCopy(TamrelReg::regPosition1);
                if (position.Known) positionUpdates = position.UpdateCounter;
                QTest::qWait(2);
            }
        }
        QVERIFY(positionUpdates > 20);
        QTRY_COMPARE_WITH_TIMEOUT(tester->Device()->RegisterInt(TamrelReg::regPumpType), lastWritten, 2000);
        TKvProtocol *p = w.Link->KvProtocol();
        p->RequestRegister(TamrelReg::regPumpType, 0, {});
        QTRY_VERIFY_WITH_TIMEOUT(!pumpTypesShown.isEmpty() && pumpTypesShown.last() == lastWritten, 2000);
        QVERIFY(shown > 20);
        w.Link->Disconnect();
        QVERIFY(Errors.isEmpty());
    }
};

TAMREL_TEST_MAIN(TDeviceLinkTest)
#include "tst_DeviceLink.moc"
