// The device link when the line itself fails: a tester that vanishes (unplugged) and a tester
// that stops taking bytes. Both are shown as a lost connection at once, without waiting for
// the keep-alive's silence limit, and without holding up the window meanwhile.
#include "TestMain.h"
#include "uBalloonHint.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uKvApplication.h"
#include "uLinkTestSupport.h"
#include "uLinkTestWindow.h"
#include "uLoopLatency.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <QToolButton>

namespace {

// Read system calls this process has made so far, those of ended threads included.
bool ReadSyscalls(quint64 &count) {
    QFile f(QStringLiteral("/proc/self/io"));
    if (!f.open(QIODevice::ReadOnly)) return false;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("syscr:")) {
            count = line.mid(6).trimmed().toULongLong();
            return true;
        }
    return false;
}

} // namespace

class TDeviceLinkLossTest : public QObject {
    Q_OBJECT
    std::unique_ptr<TLinkRuntime> Runtime;
    std::shared_ptr<TFakeSound> Sound;
    QStringList Errors;

    void VerifyShownLost(TLinkWindow &w) {
        QVERIFY(!w.Link->IsConnected());
        QCOMPARE(w.Events.size(), 2);
        QCOMPARE(w.Events[1].Event, OnStop);
        QVERIFY(w.Events[1].Lost);
        QCOMPARE(w.Link->CurrentImageIndex(), 2);
        QVERIFY(!w.Link->sButtonConnect->isChecked());
        QCOMPARE(w.Link->Balloon()->Title(), QString("Connection Lost"));
        QVERIFY(w.Link->Balloon()->isVisible());
        QVERIFY(Sound->Played.contains("SystemHand"));
        QVERIFY(!w.Link->TimerCheckTimeOut->isActive());
        QVERIFY(Errors.isEmpty());
    }

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

    // The tester vanishes as an unplugged USB device does. The port's thread stops reading
    // the dead line at once (it does not spin on it), and the loss is shown right away,
    // whether or not keep-alive watches the line: with it, well inside the silence limit.
    void unpluggedTesterIsLostAtOnce_data() {
        QTest::addColumn<bool>("autoStartStop");
        QTest::newRow("auto start/stop on") << true;
        QTest::newRow("auto start/stop off (no keep-alive)") << false;
    }
    void unpluggedTesterIsLostAtOnce() {
        QFETCH(bool, autoStartStop);
        TSimOptions dying;
        dying.DieAfterMs = 1500;
        auto tester = StartSim("Tavik", dying);
        TLinkWindow w;
        w.SetAutoStartStop(autoStartStop);
        w.Link->DoEnglish();
        w.show();
        w.Link->SetSearchOnConnect(false);
        w.Link->ComPortObject()->SetPort(tester->PortName());
        w.Link->sButtonConnect->click();
        QTRY_COMPARE_WITH_TIMEOUT(w.Link->CurrentImageIndex(), 1, 3000);
        QCOMPARE(w.Events.size(), 1);

        QTRY_VERIFY_WITH_TIMEOUT(tester->Died(), 5000);
        quint64 before = 0, after = 0;
        QVERIFY2(ReadSyscalls(before), "no /proc/self/io");
        QTest::qWait(1000);
        QVERIFY(ReadSyscalls(after));
        // The event loop itself reads a few times per turn; a thread spinning on the hung-up
        // descriptor reads thousands of times a second.
        QVERIFY2(after - before < 1000,
                 qPrintable(QString("%1 reads in 1 s after the unplug").arg(after - before)));

        QTRY_VERIFY_WITH_TIMEOUT(!w.Link->IsConnected(), 5000);
        VerifyShownLost(w);
        // Not the keep-alive's silence check: that needs more than 3500 ms without a byte.
        QVERIFY2(w.Events[1].SilenceMs <= 3500, qPrintable(QString::number(w.Events[1].SilenceMs)));
    }

    // The line fails under a transmission: the tester is gone, a write finds the previous one
    // failed, and the silence check closes the link right there, with the engine that called
    // Transmit still on the stack. That engine must still be freed when the window closes
    // before the event loop turns again (a program that ends at that moment leaked it).
    void engineClosedInsideItsTransmissionIsFreed() {
        auto tester = StartSim("Tavik");
        auto w = std::make_unique<TLinkWindow>();
        const auto live = w->LiveEngines;
        w->show();
        w->Link->SetSearchOnConnect(false);
        w->Link->ComPortObject()->SetPort(tester->PortName());
        w->Link->sButtonConnect->click();
        QTRY_COMPARE_WITH_TIMEOUT(w->Link->CurrentImageIndex(), 1, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(w->Link->LastTransmitTime != 0, 3000); // keep-alive has sent
        QCOMPARE(live->load(), 1);

        TKvProtocol *engine = w->Link->KvProtocol();
        tester.reset(); // from here on no event is processed until the window is gone
        KvPlatform::SetTickCountOffset(4000);
        for (int i = 0; i < 5 && w->Link->IsConnected(); ++i)
            engine->RequestRegister(TamrelReg::regFirmwareName, 0, {});
        QVERIFY2(!w->Link->IsConnected(), "the failed writes did not close the line");
        QCOMPARE(w->Events.size(), 2);
        QCOMPARE(live->load(), 1); // waits for its transmission to unwind

        w.reset();
        QCOMPARE(live->load(), 0);
    }

    // A tester that goes on sending but stops reading: what the program writes backs up in
    // the line. The window keeps running (the GUI thread never waits for the line), values
    // still arrive, and once the line has taken nothing for the silence limit the link is
    // declared lost.
    void stuckOutputNeverHoldsTheWindow() {
        TSimOptions deaf;
        deaf.Ident = "Tavik";
        deaf.AutoSendPeriodMs = 20;
        deaf.DeafAfterMs = 800;
        TSimPty tester;
        QVERIFY(tester.Start(deaf));
        TLinkWindow W;
        W.Link->DoEnglish();
        W.show();
        W.Link->SetSearchOnConnect(false);
        W.Link->ComPortObject()->SetPort(tester.PortName());
        W.Link->sButtonConnect->click();
        QTRY_COMPARE_WITH_TIMEOUT(W.Link->CurrentImageIndex(), 1, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(tester.Device()->Deaf(), 5000);

        const qsizetype valuesBefore = W.Received.size();
        TLoopLatency latency(10);
        // More than the line's buffers hold, then the program goes on polling.
        W.Link->Transmit(QByteArray(256 * 1024, '\x55'));
        QByteArray requests;
        for (int i = 0; i < 10; ++i)
            requests += QByteArray("\x7e\x08\x01\x09\x7e", 5);
        int Polls = 0;
        QTimer polling;
        QObject::connect(&polling, &QTimer::timeout, [&] {
            W.Link->Transmit(requests);
            ++Polls;
        });
        polling.start(20);
        QTRY_VERIFY_WITH_TIMEOUT(!W.Link->IsConnected(), 20000);
        polling.stop();
        const qint64 gap = latency.MaxGap();
        QVERIFY2(gap < 1000, qPrintable(QString("the event loop stood still for %1 ms").arg(gap)));
        QVERIFY(Polls > 20);
        QVERIFY(W.Received.size() > valuesBefore + 20); // values went on arriving
        VerifyShownLost(W);
    }
};

TAMREL_TEST_MAIN(TDeviceLinkLossTest)
#include "tst_DeviceLinkLoss.moc"
