// The device link reconnecting by itself: a tester that is unplugged and comes back (on
// another virtual port) is connected again when "Reconnect automatically" is on, only when it
// has the lost tester's identification, and not once the technician has stopped the wait.
#include "TestMain.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uKvApplication.h"
#include "uLinkTestSupport.h"
#include "uLinkTestWindow.h"

#include <QAction>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

class TDeviceLinkReconnectTest : public QObject {
    Q_OBJECT
    std::unique_ptr<TLinkRuntime> Runtime;
    QStringList Errors;

    // Connects W by the search to a tester "Tavik" and unplugs it; returns the lost port.
    QString ConnectAndUnplug(TLinkWindow &w) {
        auto lost = StartSim("Tavik");
        w.Link->sButtonConnect->click();
        [&] { QTRY_COMPARE_WITH_TIMEOUT(w.Link->CurrentImageIndex(), 1, 5000); }();
        const QString port = w.Link->ComPortObject()->Port();
        lost->Stop(); // unplugged
        [&] { QTRY_VERIFY_WITH_TIMEOUT(!w.Link->IsConnected(), 6000); }();
        return port;
    }

    // Frames the tester has received from the program.
    static int PollsSince(const TSimPty &sim) {
        int n = 0;
        for (const TSimFrameRecord &f : sim.FrameLog())
            n += f.Received ? 1 : 0;
        return n;
    }

private slots:
    void initTestCase() {
        Runtime = std::make_unique<TLinkRuntime>();
        TKvApplication::SetErrorDisplay([this](const QString &m) { Errors << m; });
        KvPlatform::SetSystemSound(std::make_shared<TFakeSound>());
    }
    void init() { Errors.clear(); }

    // The caption is Russian at start and English after DoEnglish, as the other texts (first:
    // the texts are shared by all links, and the other cases switch them).
    void captionFollowsLanguage() {
        TFrameDeviceLinkComMorva link;
        QCOMPARE(link.NReconnectAutomatically->text(), QString("Переподключаться автоматически"));
        link.DoEnglish();
        QCOMPARE(link.NReconnectAutomatically->text(), QString("Reconnect automatically"));
    }

    // The lost tester comes back on another port (another device sits on the old one): the
    // link is connected to it again within 3 s, and the tester is polled as after a connect.
    void sameTesterOnAnotherPortIsReconnected() {
        TLinkWindow w;
        w.Link->DoEnglish();
        w.show();
        w.Link->SetReconnectAutomatically(true);
        const QString lostPort = ConnectAndUnplug(w);
        QCOMPARE(w.Events.size(), 2);
        QVERIFY(w.Events[1].Lost);
        QVERIFY(w.Link->WaitingForReconnect());
        QCOMPARE(w.Link->CurrentImageIndex(), 3);
        QCOMPARE(w.Link->sButtonConnect->toolTip(), QString("Waiting for the tester \"Tavik\""));
        QVERIFY(!w.Link->sButtonConnect->isChecked());

        auto other = StartSim("Kestrel"); // takes the port the lost tester had
        auto back = StartSim("Tavik");
        QVERIFY(back->PortName() != lostPort);
        QTRY_VERIFY_WITH_TIMEOUT(w.Link->IsConnected(), 3000);
        QCOMPARE(w.Link->ComPortObject()->Port(), back->PortName());
        QTRY_COMPARE_WITH_TIMEOUT(w.Link->CurrentImageIndex(), 1, 3000);
        QVERIFY(!w.Link->WaitingForReconnect());
        QCOMPARE(w.Events.size(), 3);
        QCOMPARE(w.Events[2].Event, OnStart);
        QCOMPARE(w.Link->sButtonConnect->toolTip(), QString("Device Connected"));
        // Keep-alive polls the tester that came back.
        const int polled = PollsSince(*back);
        QTRY_VERIFY_WITH_TIMEOUT(PollsSince(*back) > polled + 1, 5000);
        QVERIFY2(Errors.isEmpty(), qPrintable(Errors.join('\n')));
    }

    // Cases where the link must stay disconnected although a tester answers: one with another
    // identification, the item off, the wait stopped by a press on the button.
    void noReconnect_data() {
        QTest::addColumn<QString>("comesBack");
        QTest::addColumn<bool>("itemOn");
        QTest::addColumn<bool>("pressWhileWaiting");
        QTest::newRow("another identification") << "Tavik 2" << true << false;
        QTest::newRow("menu item off") << "Tavik" << false << false;
        QTest::newRow("press while waiting") << "Tavik" << true << true;
    }
    void noReconnect() {
        QFETCH(QString, comesBack);
        QFETCH(bool, itemOn);
        QFETCH(bool, pressWhileWaiting);
        TLinkWindow w;
        w.Link->DoEnglish();
        w.show();
        w.Link->SetReconnectAutomatically(itemOn);
        ConnectAndUnplug(w);
        QCOMPARE(w.Link->WaitingForReconnect(), itemOn);
        if (pressWhileWaiting) {
            w.Link->sButtonConnect->click();
            QVERIFY(!w.Link->WaitingForReconnect());
            QVERIFY(!w.Link->TimerReconnect->isActive());
            QCOMPARE(w.Link->CurrentImageIndex(), 0);
            QCOMPARE(w.Link->sButtonConnect->toolTip(), QString("Connect to device"));
            QVERIFY(!w.Link->sButtonConnect->isChecked());
        }
        auto back = StartSim(comesBack);
        // Two retries' worth: a reconnect that should not happen would have happened.
        QTest::qWait(2 * w.Link->ReconnectIntervalMs + 1500);
        QVERIFY(!w.Link->IsConnected());
        QCOMPARE(w.Events.size(), 2);
        QCOMPARE(w.Link->WaitingForReconnect(), itemOn && !pressWhileWaiting);
    }

    // The technician's own disconnect is no loss: nothing is waited for.
    void ownDisconnectDoesNotWait() {
        auto tester = StartSim("Tavik");
        TLinkWindow w;
        w.show();
        w.Link->SetReconnectAutomatically(true);
        w.Link->sButtonConnect->click();
        QTRY_COMPARE_WITH_TIMEOUT(w.Link->CurrentImageIndex(), 1, 5000);
        w.Link->sButtonConnect->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w.Link->IsConnected(), 3000);
        QVERIFY(!w.Link->WaitingForReconnect());
        QCOMPARE(w.Link->CurrentImageIndex(), 0);
    }

    // The menu item is remembered in the settings file: a new panel reads it.
    void itemIsRemembered() {
        QTemporaryDir dir;
        const QString file = dir.filePath("tamrel.ini");
        for (const bool on : {true, false}) {
            {
                TFrameDeviceLinkComMorva first;
                first.SetSettingsFile(file);
                first.NReconnectAutomatically->trigger();
                if (first.ReconnectAutomatically() != on) first.NReconnectAutomatically->trigger();
                QCOMPARE(first.ReconnectAutomatically(), on);
            }
            TFrameDeviceLinkComMorva next;
            next.SetSettingsFile(file);
            QCOMPARE(next.ReconnectAutomatically(), on);
            QVERIFY(next.PopupMenuConnection->actions().contains(next.NReconnectAutomatically));
        }
        TFrameDeviceLinkComMorva unset;
        QVERIFY(!unset.ReconnectAutomatically());
    }
};

TAMREL_TEST_MAIN(TDeviceLinkReconnectTest)
#include "tst_DeviceLinkReconnect.moc"
