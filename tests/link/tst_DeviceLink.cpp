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
        TKvApplication::SetErrorDisplay([this](const QString &M) { Errors << M; });
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
        TLinkWindow W;
        QCOMPARE(W.Link->CurrentImageIndex(), 0);
        QVERIFY(!W.Link->sButtonConnect->isChecked());
        QVERIFY(W.Link->sButtonConnect->isCheckable());
        QCOMPARE(W.Link->sButtonConnect->toolTip(), QString("Подключиться к устройству"));
        QCOMPARE(W.Link->NConnectionSettings->text(), QString("Настройки соединения вручную"));
        QCOMPARE(W.Link->TimerCheckTimeOut->interval(), 100);
        QCOMPARE(W.Link->TimerSearchTimeOut->interval(), 2000);
        QVERIFY(!W.Link->DefaultImageList()[1].pixmap(QSize(137, 137)).isNull()); // drawn at any size
        W.Link->Disconnect(); // on a closed link: no event
        QVERIFY(W.Events.isEmpty());
    }

    // Two testers: the search connects to the one whose identification contains "Tavik" in
    // any letter case; the other's report changes nothing; the log holds this search only.
    void searchConnectsToTheTavikOne() {
        {
            auto Earlier = StartSim("Earlier");
            StartSearch({115200, dbEight, prNone, sbOneStopBit}, false, {});
            WaitSearchIdle();
            QVERIFY(SearchLogLines().join('\n').contains(Earlier->PortName()));
        }
        auto Other = StartSim("Scope 7 analyser");
        auto Tester = StartSim("TAVIK Tamrel 1.6");
        TLinkWindow W;
        W.show();
        W.Link->sButtonConnect->click();
        QVERIFY(W.Link->sButtonConnect->isChecked()); // down while searching
        QCOMPARE(W.Link->CurrentImageIndex(), 0);
        QVERIFY(W.Link->TimerSearchTimeOut->isActive());
        QTRY_COMPARE_WITH_TIMEOUT(W.Events.size(), 1, 3000);
        QCOMPARE(W.Events[0].Event, OnStart);
        QCOMPARE(W.Link->ComPortObject()->Port(), Tester->PortName());
        QCOMPARE(W.Link->BaudRate(), 115200);
        QVERIFY(!W.Link->TimerSearchTimeOut->isActive());
        WaitSearchIdle();
        QTest::qWait(50);
        QCOMPARE(W.Events.size(), 1);
        QCOMPARE(W.Link->ComPortObject()->Port(), Tester->PortName());
        const QString Log = SearchLogLines().join('\n');
        QVERIFY(Log.contains(Tester->PortName() + " Received TAVIK Tamrel 1.6"));
        QVERIFY(Log.contains(Other->PortName() + " Received Scope 7 analyser"));
        QVERIFY(!Log.contains("Earlier"));
        QVERIFY(Errors.isEmpty());
        W.Link->Disconnect();
    }

    // Two testers that both match: the first report connects, the second finds the link open.
    void twoMatchingReportsConnectOnce() {
        auto A = StartSim("Tavik A");
        auto B = StartSim("Tavik B");
        TLinkWindow W;
        W.Link->sButtonConnect->click();
        QTRY_COMPARE_WITH_TIMEOUT(W.Events.size(), 1, 3000);
        const QString Port = W.Link->ComPortObject()->Port();
        QVERIFY(Port == A->PortName() || Port == B->PortName());
        WaitSearchIdle();
        const QString Log = SearchLogLines().join('\n');
        QVERIFY(Log.contains(A->PortName() + " Received Tavik A") &&
                Log.contains(B->PortName() + " Received Tavik B"));
        QCOMPARE(W.Events.size(), 1);
        QCOMPARE(W.Link->ComPortObject()->Port(), Port);
        QVERIFY(Errors.isEmpty());
        W.Link->Disconnect();
    }

    // The start write: register 1 := 1; the button shows the connected state only once the
    // tester has acknowledged it; keep-alive reads then go out about once a second.
    void startWriteAndKeepAlive() {
        TSimOptions Slow;
        Slow.AnswerDelayMs = 60; // within the engine's 100 ms answer time
        auto Tester = StartSim("Tavik", Slow);
        TLinkWindow W;
        W.Link->SetSearchOnConnect(false);
        W.Link->ComPortObject()->SetPort(Tester->PortName());
        W.Link->sButtonConnect->click();
        QCOMPARE(W.Events.size(), 1); // started inside the click, before any answer
        QVERIFY(W.Link->IsConnected());
        QCOMPARE(W.Link->CurrentImageIndex(), 0); // not yet acknowledged
        QTRY_COMPARE_WITH_TIMEOUT(W.Link->CurrentImageIndex(), 1, 3000);
        QVERIFY(W.Link->sButtonConnect->isChecked());
        QCOMPARE(W.Link->sButtonConnect->toolTip(), QString("Связь установлена"));
        QCOMPARE(Tester->Device()->RegisterInt(1), 1);
        // one start write (a second only if the first missed the engine's 100 ms answer time)
        QVERIFY(CountFrames(*Tester, true, 7, 1) >= 1 && CountFrames(*Tester, true, 7, 1) <= 2);
        const quint32 Since = quint32(Tester->Device()->Now());
        QTest::qWait(2600);
        QVector<double> Reads;
        for (const TSimFrameRecord &F : Tester->FrameLog())
            if (F.Received && F.Command == 8 && F.Register == 1 && F.TimeMs >= Since) Reads << F.TimeMs;
        QVERIFY2(Reads.size() >= 2 && Reads.size() <= 5, qPrintable(QString::number(Reads.size())));
        // about once a second (the median ignores a request repeated after a missed answer)
        QVector<double> Gaps;
        for (int I = 1; I < Reads.size(); ++I)
            Gaps << Reads[I] - Reads[I - 1];
        std::sort(Gaps.begin(), Gaps.end());
        QVERIFY2(Gaps[Gaps.size() / 2] > 900, qPrintable(QString::number(Gaps[Gaps.size() / 2])));
        QVERIFY(W.Link->IsConnected());
        W.Link->Disconnect();
    }

    // A tester that goes quiet but stays on the line is declared lost on the first tick more
    // than 3500 ms after its last byte; a new connect then works.
    void lossAndReconnect() {
        auto Tester = StartSim("Tavik");
        TLinkWindow W;
        W.Link->DoEnglish();
        W.show();
        W.Link->sButtonConnect->click();
        QTRY_COMPARE_WITH_TIMEOUT(W.Link->CurrentImageIndex(), 1, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(W.Link->LastTransmitTime != 0, 1000); // a keep-alive went out
        const QString Port = Tester->PortName();
        Tester->Device()->SetSilent(true);
        QTest::qWait(150);
        QVERIFY(W.Link->IsConnected());
        // 3200 ms of silence and a few ticks more: not yet
        KvPlatform::SetTickCountOffset(W.Link->LastReceiveTime + 3200 - KvPlatform::TickCount());
        QTest::qWait(100);
        QVERIFY(W.Link->IsConnected());
        KvPlatform::SetTickCountOffset(KvPlatform::TickCountOffset() + 250);
        QTRY_VERIFY_WITH_TIMEOUT(!W.Link->IsConnected(), 1000);
        QVERIFY(quint32(KvPlatform::TickCount() - W.Link->LastReceiveTime) <= 3500 + 400);
        QCOMPARE(W.Events.size(), 2);
        QCOMPARE(W.Events[1].Event, OnStop);
        QVERIFY(W.Events[1].Lost);
        QCOMPARE(W.Link->CurrentImageIndex(), 2);
        QVERIFY(!W.Link->sButtonConnect->isChecked());
        QCOMPARE(W.Link->Balloon()->Title(), QString("Connection Lost"));
        QVERIFY(W.Link->Balloon()->isVisible());
        const QPoint Tip = W.Link->sButtonConnect->mapToGlobal(
            QPoint(W.Link->sButtonConnect->width() / 2, W.Link->sButtonConnect->height()));
        QCOMPARE(W.Link->Balloon()->ShownAt(), Tip);
        QVERIFY(Sound->Played.contains("SystemHand"));

        auto Again = StartSim("Tavik");
        KvPlatform::SetTickCountOffset(0);
        W.Link->sButtonConnect->click();
        QTRY_COMPARE_WITH_TIMEOUT(W.Events.size(), 3, 3000);
        QCOMPARE(W.Events[2].Event, OnStart);
        QVERIFY(!W.Link->ConnectionLost);
        QTRY_COMPARE_WITH_TIMEOUT(W.Link->CurrentImageIndex(), 1, 3000);
        QVERIFY(Port != QString() && W.Link->ComPortObject()->Port() == Again->PortName());
        W.Link->Disconnect();
    }

    void silenceBeforeFirstKeepAliveIsNoLoss() {
        TSimOptions Quiet;
        Quiet.Silent = true;
        auto Tester = StartSim("Tavik", Quiet);
        TLinkWindow W;
        W.Link->SetKeepConnection(false);
        W.Link->SetOnDeviceLinkStartStop(
            [&](IDeviceLink *, TDeviceLinkEvent E, bool L) {
                W.Events.append({E, L, 0});
            },
            {}, false);
        W.Link->ComPortObject()->SetPort(Tester->PortName());
        QVERIFY(W.Link->Connect());
        QVERIFY(!W.Link->Connect()); // already open: false, nothing changes
        QCOMPARE(W.Events.size(), 1);
        QCOMPARE(W.Link->CurrentImageIndex(), 1); // without the start write: connected at once
        KvPlatform::SetTickCountOffset(10000);
        QTest::qWait(250);
        QVERIFY(W.Link->IsConnected()); // keep-alive off
        // switched on: silence counts from now, and the first request goes out at once
        W.Link->SetKeepConnection(true);
        QVERIFY(W.Link->TimerCheckTimeOut->isActive());
        QTest::qWait(250);
        QVERIFY(W.Link->IsConnected());
        QVERIFY(W.Link->LastTransmitTime != 0);
        QTRY_VERIFY_WITH_TIMEOUT(CountFrames(*Tester, true, 8, 1) >= 2, 2000); // re-asked after each time-out
        KvPlatform::SetTickCountOffset(10000 + 3700);
        QTRY_VERIFY_WITH_TIMEOUT(!W.Link->IsConnected(), 1000);
        QVERIFY(W.Events.last().Lost);
    }

    // Disconnect writes register 1 := 0 before it closes; afterwards nothing is sent.
    void disconnectWritesStopFirst() {
        auto Tester = StartSim("Tavik");
        TLinkWindow W;
        int Before = 0;
        W.Link->BeforeDisconnect = [&](IDeviceLink *) { ++Before; };
        W.Link->SetSearchOnConnect(false);
        W.Link->ComPortObject()->SetPort(Tester->PortName());
        W.Link->sButtonConnect->click();
        QTRY_COMPARE_WITH_TIMEOUT(W.Link->CurrentImageIndex(), 1, 3000);
        QCOMPARE(Tester->Device()->RegisterInt(1), 1);
        W.Link->sButtonConnect->click(); // open: the click disconnects
        QVERIFY(!W.Link->IsConnected());
        QCOMPARE(Before, 1);
        QVERIFY(W.Link->Disconnecting);
        QCOMPARE(W.Events.size(), 2);
        QCOMPARE(W.Events[1].Event, OnStop);
        QVERIFY(!W.Events[1].Lost);
        QCOMPARE(W.Link->CurrentImageIndex(), 0);
        QVERIFY(!W.Link->sButtonConnect->isChecked());
        QTRY_COMPARE_WITH_TIMEOUT(CountFrames(*Tester, true, 7, 1), 2, 2000);
        QVector<TSimFrameRecord> Writes;
        for (const TSimFrameRecord &F : Tester->FrameLog())
            if (F.Received && F.Command == 7 && F.Register == 1) Writes << F;
        QVERIFY2(Writes.last().Raw.contains(QByteArray("\x07\x01\x02\x00", 4)),
                 qPrintable(Writes.last().RawHex()));
        const int Frames = int(Tester->FrameLog().size());
        W.Link->Transmit(QByteArray("\x7e\x08\x01\x7e", 4));
        QTest::qWait(50);
        QCOMPARE(int(Tester->FrameLog().size()), Frames);
        QVERIFY(Sound->Played.isEmpty());
    }

    // Without a factory: the first time an error the application shows, later the port is
    // closed and the connection counts as lost.
    void missingEngine() {
        auto Tester = StartSim("Tavik");
        TLinkWindow W;
        W.Link->SetOnCreateProtocolRef({});
        W.Link->SetSearchOnConnect(false);
        W.Link->ComPortObject()->SetPort(Tester->PortName());
        W.Link->sButtonConnect->click();
        QCOMPARE(Errors, QStringList{"Connection Lost (KvProtocol = nil)"});
        QVERIFY(W.Link->KvProtocolNil);
        QVERIFY(W.Link->IsConnected());
        QVERIFY(W.Link->KvProtocol() == nullptr);
        QVERIFY(!W.Link->IsConnected());
        QVERIFY(W.Link->ConnectionLost);
        QCOMPARE(W.Link->CurrentImageIndex(), 2);
        QCOMPARE(Errors.size(), 1);
    }

    void portThatCannotOpenIsShown() {
        TLinkWindow W;
        W.Link->SetSearchOnConnect(false);
        W.Link->ComPortObject()->SetPort("/dev/tamrel-no-such-port");
        W.Link->sButtonConnect->click();
        QCOMPARE(Errors.size(), 1);
        QVERIFY(Errors[0].startsWith("Unable to open com port"));
        QVERIFY(!W.Link->IsConnected());
        QVERIFY(W.Events.isEmpty());
    }

    // Nothing matches: after 2000 ms the button comes up with "Device Not Found"; after a
    // loss the same ending shows the lost state instead.
    void searchFindingNothing() {
        auto Other = StartSim("Scope 7");
        TLinkWindow W;
        W.Link->DoEnglish();
        W.Link->DeviceIdentStr.clear(); // an empty identification never matches
        W.show();
        W.Link->sButtonConnect->click();
        QTest::qWait(1500);
        QVERIFY(W.Link->sButtonConnect->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(!W.Link->sButtonConnect->isChecked(), 1500);
        QCOMPARE(W.Link->Balloon()->Title(), QString("Device Not Found"));
        QCOMPARE(W.Link->CurrentImageIndex(), 0);
        QVERIFY(W.Events.isEmpty());
        WaitSearchIdle();

        W.Link->ConnectionLost = true;
        W.Link->TimerSearchTimeOutTimer();
        QCOMPARE(W.Link->CurrentImageIndex(), 2);
        QCOMPARE(W.Link->Balloon()->Title(), QString("Connection Lost"));
        QVERIFY(Sound->Played.contains("SystemHand"));
    }

    void invalidSearchSettingsStillEndWithBalloon() {
        TLinkWindow W;
        W.Link->SetBaudRate(0);
        W.Link->sButtonConnect->click();
        QCOMPARE(Errors, QStringList{"Wrong COM-port settings"});
        QVERIFY(W.Link->TimerSearchTimeOut->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(!W.Link->sButtonConnect->isChecked(), 3000);
        QCOMPARE(W.Link->Balloon()->Title(), LinkTexts[2]);
    }

    void countersAndTexts() {
        auto Tester = StartSim("Tavik");
        TLinkWindow W;
        double R = 0, T = 0, L = 0;
        QVERIFY(!W.Link->GetCounters(R, T, L)); // closed
        W.Link->ComPortObject()->SetPort(Tester->PortName());
        W.Link->Connect();
        QTRY_COMPARE_WITH_TIMEOUT(W.Link->CurrentImageIndex(), 1, 3000);
        QVERIFY(W.Link->BytesTransmitted > 0);
        QVERIFY(W.Link->BytesReceived > 0);
        if (!W.Link->GetCounters(R, T, L)) { // just crossed a second boundary at midnight
            QTest::qWait(1100);
            QVERIFY(W.Link->GetCounters(R, T, L));
        }
        const quint32 PrevR = W.Link->PrevBytesReceived;
        QVERIFY(!W.Link->GetCounters(R, T, L) || W.Link->PrevBytesReceived != PrevR);
        QTest::qWait(1100);
        const quint32 Rx = W.Link->BytesReceived, Tx = W.Link->BytesTransmitted;
        const quint32 PRx = W.Link->PrevBytesReceived, PTx = W.Link->PrevBytesTransmitted;
        const qint32 Last = W.Link->LastGetCountersTime;
        QVERIFY(W.Link->GetCounters(R, T, L));
        const qint32 D = W.Link->LastGetCountersTime - Last;
        QVERIFY(D >= 1);
        if (W.Link->BytesReceived == Rx && W.Link->BytesTransmitted == Tx) {
            QCOMPARE(R, double(Rx - PRx) / D);
            QCOMPARE(T, double(Tx - PTx) / D);
            QCOMPARE(L, qMax(R, T) / 11520.0);
        }

        W.Link->DoEnglish();
        QCOMPARE(W.Link->NConnectionSettings->text(), QString("Manual Connection Settings"));
        W.Link->PopupMenuConnectionPopup();
        QCOMPARE(W.Link->NSearchOnConnect->text(), QString("Automatic search device \"Tavik\""));
        W.Link->IndicateConnectionStatus(W.Link, false);
        QCOMPARE(W.Link->sButtonConnect->toolTip(), QString("Device Connected"));
        W.Link->Disconnect();
        QCOMPARE(W.Link->sButtonConnect->toolTip(), QString("Connect to device"));
    }

    void protocolInThread() {
        auto Tester = StartSim("Tavik");
        TLinkWindow W;
        W.Link->SetProtocolInThread(true);
        QCOMPARE(W.Link->ComPortObject()->SyncMethod(), smNone);
        W.Link->ComPortObject()->SetPort(Tester->PortName());
        W.Link->Connect();
        QVERIFY(W.Link->KvProtocol()->SyncWithGui);
        QTRY_COMPARE_WITH_TIMEOUT(W.Link->CurrentImageIndex(), 1, 3000);
        W.Link->KvProtocol()->RequestRegister(0, 0, {});
        QTRY_VERIFY_WITH_TIMEOUT(W.Received.contains(0), 2000);
        try {
            W.Link->SetProtocolInThread(false);
            QFAIL("changed while open");
        } catch (const EComPort &E) {
            QCOMPARE(QString(E.what()), QString("Cannot set property while connected"));
        }
        W.Link->Disconnect();
        W.Link->SetProtocolInThread(false);
        QCOMPARE(W.Link->ComPortObject()->SyncMethod(), smThreadSync);
    }

    // Reading on the port's thread with delivery on the GUI thread, while the tester streams
    // values: every disconnect ends although the port's thread may be waiting for the GUI.
    void receiveAsyncUnderTrafficClosesCleanly() {
        TSimOptions Streaming;
        auto Tester = std::make_unique<TSimPty>();
        Streaming.Ident = "Tavik";
        Streaming.AutoSendPeriodMs = 5;
        QVERIFY(Tester->Start(Streaming));
        TLinkWindow W;
        W.Link->ReciveAsync = true;
        QThread *DeliveredOn = nullptr;
        W.Link->ComPortObject()->SetPort(Tester->PortName());
        for (int I = 0; I < 8; ++I) {
            QVERIFY(W.Link->Connect());
            QCOMPARE(W.Link->ComPortObject()->SyncMethod(), smNone);
            TOutputData EngineInput = W.Link->OnReceived;
            W.Link->SetOnReceived([&, EngineInput](const QByteArray &D) {
                DeliveredOn = QThread::currentThread();
                EngineInput(D);
            });
            QTRY_COMPARE_WITH_TIMEOUT(W.Link->CurrentImageIndex(), 1, 3000);
            const quint32 Before = W.Link->BytesReceived;
            QTRY_VERIFY_WITH_TIMEOUT(W.Link->BytesReceived > Before + 20, 2000);
            W.Link->Disconnect();
            QVERIFY(!W.Link->IsConnected());
        }
        QCOMPARE(DeliveredOn, QThread::currentThread());
        QVERIFY(Errors.isEmpty());
    }

    // With the engine's trace log on, the link writes its own lines into it.
    void traceLines() {
        auto Tester = StartSim("Tavik");
        QTemporaryDir Dir;
        TLinkWindow W;
        QString LogFile;
        W.Link->SetOnCreateProtocolRef([&](IDeviceLink *Sender) {
            auto *P = new TKvProtocol(Sender->GetTransmitProcedure(), TesterRegistersInfo(), {}, {}, {}, true,
                                      Dir.filePath("LinkTrace"), Sender->GetProtocolInThread());
            LogFile = P->LogFileName();
            Sender->SetKvProtocol(P);
            Sender->SetOnReceived([P](const QByteArray &Data) { P->InputData(Data); });
        });
        W.Link->ComPortObject()->SetPort(Tester->PortName());
        W.Link->Connect();
        QTRY_COMPARE_WITH_TIMEOUT(W.Link->CurrentImageIndex(), 1, 3000);
        // the line goes dead: the failed write shows at the next transmit, which then drops
        // the record and runs the keep-alive check
        Tester->Stop();
        const QByteArray Probe("\x7e\x08\x01\x09\x7e", 5);
        int Sent = 0;
        do { // the keep-alive may have met the dead line first
            W.Link->Transmit(Probe);
        } while (W.Link->AsyncPtr && ++Sent < 3);
        QVERIFY(!W.Link->AsyncPtr);
        QVERIFY(W.Link->IsConnected()); // the tester was heard from just now: not lost yet
        W.Link->Disconnect();
        QFile F(LogFile);
        QVERIFY2(F.open(QIODevice::ReadOnly), qPrintable(LogFile));
        const QString Log = QString::fromLocal8Bit(F.readAll());
        QVERIFY2(Log.contains(" ---KeepConnection = True(0): \r\n"), qPrintable(Log));
        QVERIFY(QRegularExpression("COM Transmit: \\(\\d+\\): \\[7E\\]").match(Log).hasMatch());
        QVERIFY(QRegularExpression("COM Received: \\(\\d+\\): ").match(Log).hasMatch());
        QVERIFY2(Log.contains("Async Transmit Exception: EComPort; WriteFile function failed"),
                 qPrintable(Log));
    }

    // Repeated connections on fresh port objects; the sanitizer build checks that none leaks.
    void repeatedConnectDisconnect() {
        auto Tester = StartSim("Tavik");
        TLinkWindow W;
        W.Link->ComPortObject()->SetPort(Tester->PortName());
        for (int I = 0; I < 25; ++I) {
            QVERIFY(W.Link->Connect());
            QTRY_COMPARE_WITH_TIMEOUT(W.Link->CurrentImageIndex(), 1, 3000);
            W.Link->Disconnect();
            QCOMPARE(W.Link->CurrentImageIndex(), 0);
        }
        QCOMPARE(W.Created, 25);
        QCOMPARE(W.Events.size(), 50);
        QVERIFY(Errors.isEmpty());
    }
};

TAMREL_TEST_MAIN(TDeviceLinkTest)
#include "tst_DeviceLink.moc"
