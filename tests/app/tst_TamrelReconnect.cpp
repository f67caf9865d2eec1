// "Reconnect automatically" end to end: the real main window and simulated testers on
// pseudo-terminals. A tester unplugged and plugged in again on another port is connected again
// by itself, the same tester only; a tester that drops right after a firmware update is waited
// for under its new name on its port; a press while waiting ends the wait; the choice is
// remembered; a sweep under way at the loss is stopped and says so.
#include "CompFloatEdit.h"
#include "TestMain.h"
#include "uBalloonHint.h"
#include "uFormConnectionSettingsMorvaSearch.h"
#include "uFormFirmwareUpdate.h"
#include "uFormTamrel.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uFrameTamrelChannel.h"
#include "uKvApplication.h"
#include "uPlatformTick.h"
#include "uPrivateRuntime.h"
#include "uSimPty.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QToolButton>

#include <memory>

namespace {

const QString TesterIdent = QStringLiteral("Tavik TAMREL sim 1.0");

std::unique_ptr<TSimPty> StartTester(const QString &ident) {
    auto sim = std::make_unique<TSimPty>();
    TSimOptions options;
    options.Ident = ident;
    QString error;
    if (!sim->Start(options, &error)) qFatal("simulator did not start: %s", qPrintable(error));
    return sim;
}

} // namespace

class TestTamrelReconnect : public QObject {
    Q_OBJECT

    TPrivateRuntime RuntimeDir; // a port folder of this test's own
    std::unique_ptr<TFormTamrel> Form;
    QStringList Errors;

    TFrameDeviceLinkComMorva *Link() const { return Form->DeviceLink; }

    void OpenWindow(bool reconnect) {
        Form = std::make_unique<TFormTamrel>();
        Link()->SetReconnectAutomatically(reconnect);
        Form->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
    }
    void ConnectBySearch(const TSimPty &sim) {
        Link()->sButtonConnect->click();
        QTRY_VERIFY_WITH_TIMEOUT(Link()->IsConnected(), 8000);
        QCOMPARE(Link()->ComPortObject()->Port(), sim.PortName());
        QTRY_COMPARE_WITH_TIMEOUT(Link()->CurrentImageIndex(), 1, 5000);
        // The tester has said who it is (register 0), so the link knows whom to wait for.
        QTRY_COMPARE_WITH_TIMEOUT(Form->ButtonUpdateFirmware->toolTip(), TesterIdent, 5000);
    }
    void WaitForLossAndWaiting() {
        QTRY_VERIFY_WITH_TIMEOUT(!Link()->IsConnected(), 6000);
        QTRY_VERIFY_WITH_TIMEOUT(Link()->WaitingForReconnect(), 1000);
        QCOMPARE(Link()->ReconnectIdent(), TesterIdent);
        QCOMPARE(Link()->CurrentImageIndex(), 3);
        QCOMPARE(Link()->sButtonConnect->toolTip(), "Waiting for the tester \"" + TesterIdent + "\"");
        QVERIFY(!Form->TimerUpdateRegisters->isActive());
    }

private slots:
    void initTestCase() {
        QVERIFY(RuntimeDir.InUse());
        TKvApplication::SetErrorDisplay([this](const QString &message) { Errors << message; });
    }
    void cleanupTestCase() { TKvApplication::SetErrorDisplay({}); }
    void init() {
        Errors.clear();
        QFile::remove(TFormTamrel::SettingsFilePath());
    }
    void cleanup() {
        Form.reset();
        QTRY_COMPARE_WITH_TIMEOUT(ActiveSearchProbes(), 0, 5000);
        KvPlatform::SetTickCountOffset(0);
    }

    // Unplugged, then plugged in again on another port while another tester of the same kind
    // (another identification) has taken the old one: the link connects to the same tester
    // within 3 s, polling resumes, and the other tester is left alone.
    void sameTesterBackOnAnotherPort() {
        auto filler = StartTester(QStringLiteral("Filler"));
        auto tester = StartTester(TesterIdent);
        OpenWindow(true);
        ConnectBySearch(*tester);
        const QString oldPort = tester->PortName();

        tester->Stop();
        WaitForLossAndWaiting();
        auto sameKind = StartTester(QStringLiteral("Tavik TAMREL sim 2.0")); // takes the freed port
        QCOMPARE(sameKind->PortName(), oldPort);
        // At least one search runs while only the tester of the same kind is there: it is
        // asked who it is and left alone.
        const int asked = sameKind->FrameLog().size();
        QTRY_VERIFY_WITH_TIMEOUT(sameKind->FrameLog().size() > asked, 3000);
        QTest::qWait(300);
        QVERIFY(!Link()->IsConnected());
        QVERIFY(Link()->WaitingForReconnect());
        filler->Stop();
        auto back = StartTester(TesterIdent);
        QVERIFY(back->PortName() != oldPort);
        QTRY_VERIFY_WITH_TIMEOUT(Link()->IsConnected(), 3000);
        QCOMPARE(Link()->ComPortObject()->Port(), back->PortName());
        QVERIFY(!Link()->WaitingForReconnect());
        QTRY_COMPARE_WITH_TIMEOUT(Link()->CurrentImageIndex(), 1, 3000);
        QCOMPARE(Link()->sButtonConnect->toolTip(), QStringLiteral("Device Connected"));
        // Polling as after a normal connect.
        back->Device()->SetRegisterInt(Form->FrameTamrelChannel1->regSetupVin, 2345);
        QTRY_COMPARE_WITH_TIMEOUT(Form->FrameTamrelChannel1->FloatEditSetupVin->text(),
                                  QStringLiteral("2.345"), 5000);
        QVERIFY(Form->TimerUpdateRegisters->isActive());
        QVERIFY(!sameKind->HostPresent());
        QVERIFY2(Errors.isEmpty(), qPrintable(Errors.join('\n')));
    }

    // The tester drops right after a successful update, before the program's own disconnect,
    // and comes back on its port under its new firmware's name. The link waits for it there
    // under that name (the hint says so), leaves a tester of the same kind on another port
    // alone, and connects the updated one.
    void updatedTesterBackUnderItsNewName() {
        auto other = StartTester(QStringLiteral("Filler")); // not the kind the link looks for, yet
        auto tester = StartTester(TesterIdent);
        OpenWindow(true);
        ConnectBySearch(*tester);
        const QString port = tester->PortName();
        QTRY_VERIFY_WITH_TIMEOUT(Form->ButtonUpdateFirmware->isVisible(), 5000);
        Form->ButtonUpdateFirmware->click();
        TFormFirmwareUpdate *fw = FormFirmwareUpdate;
        QVERIFY(fw);
        fw->TimerDisconnect->setInterval(600000); // the drop comes first
        QByteArray image(4096, '\x5A');
        const QByteArray newName("Tavik TAMREL sim 2.1");
        image.replace(0, newName.size() + 1, newName + '\0');
        fw->LoadFirmwareBuffer(image, QStringLiteral("F;DeviceIdentStr=TAMREL-BL.firmware"), false);
        fw->ButtonStartUpdate->click();
        QTRY_COMPARE_WITH_TIMEOUT(fw->EditMessage->text(), QStringLiteral("Прошивка завершена успешно"),
                                  30000);
        QVERIFY(Link()->IsConnected());

        other->Device()->SetIdent(QStringLiteral("Tavik TAMREL sim 2.0")); // now of the same kind
        tester->Stop();
        QTRY_VERIFY_WITH_TIMEOUT(!Link()->IsConnected(), 6000);
        QTRY_VERIFY_WITH_TIMEOUT(Link()->WaitingForReconnect(), 1000);
        QCOMPARE(Link()->ReconnectPort(), port);
        QCOMPARE(Link()->sButtonConnect->toolTip(),
                 "Waiting for the updated tester on " + port + ": \"TAMREL-BL\" or any \"Tavik\" tester");
        // At least one search runs while only the other tester is there: asked, left alone.
        const int asked = other->FrameLog().size();
        QTRY_VERIFY_WITH_TIMEOUT(other->FrameLog().size() > asked, 5000);
        QTest::qWait(300);
        QVERIFY(!Link()->IsConnected());
        QVERIFY(Link()->WaitingForReconnect());

        auto back = StartTester(QString::fromLatin1(newName)); // the updated tester, on its port
        QCOMPARE(back->PortName(), port);
        QTRY_VERIFY_WITH_TIMEOUT(Link()->IsConnected(), 5000);
        QCOMPARE(Link()->ComPortObject()->Port(), port);
        QVERIFY(!Link()->WaitingForReconnect());
        QTRY_COMPARE_WITH_TIMEOUT(Form->ButtonUpdateFirmware->toolTip(), QString::fromLatin1(newName), 5000);
        QVERIFY(!other->HostPresent());
        QVERIFY2(Errors.isEmpty(), qPrintable(Errors.join('\n')));
    }

    // With the item off, a loss stays a loss: the tester that comes back is not connected.
    void offLeavesTheLossShown() {
        auto tester = StartTester(TesterIdent);
        OpenWindow(false);
        ConnectBySearch(*tester);
        tester->Stop();
        QTRY_VERIFY_WITH_TIMEOUT(!Link()->IsConnected(), 6000);
        QVERIFY(!Link()->WaitingForReconnect());
        QCOMPARE(Link()->CurrentImageIndex(), 2);
        auto back = StartTester(TesterIdent);
        QTest::qWait(3000);
        QVERIFY(!Link()->IsConnected());
        QCOMPARE(Link()->CurrentImageIndex(), 2);
    }

    // A press on the button while waiting ends the wait: the button is back to "not connected"
    // and the tester that comes back afterwards is not connected by itself.
    void pressWhileWaitingStopsWaiting() {
        auto tester = StartTester(TesterIdent);
        OpenWindow(true);
        ConnectBySearch(*tester);
        tester->Stop();
        WaitForLossAndWaiting();
        Link()->sButtonConnect->click();
        QVERIFY(!Link()->WaitingForReconnect());
        QVERIFY(!Link()->TimerReconnect->isActive());
        QCOMPARE(Link()->CurrentImageIndex(), 0);
        QVERIFY(!Link()->sButtonConnect->isChecked());
        QCOMPARE(Link()->sButtonConnect->toolTip(), QStringLiteral("Connect to device"));
        auto back = StartTester(TesterIdent);
        QTest::qWait(3000);
        QVERIFY(!Link()->IsConnected());
        QCOMPARE(Link()->CurrentImageIndex(), 0);
    }

    // The technician's own disconnect is no loss: nothing is waited for, and a sweep under way
    // stops without the loss being reported.
    void disconnectIsNoLoss() {
        auto tester = StartTester(TesterIdent);
        OpenWindow(true);
        ConnectBySearch(*tester);
        Form->sPageControl1->setCurrentWidget(Form->sTabSheetChartHyst);
        Form->FloatEditPeriod->SetValueInt(10000);
        Form->ButtonStartStop->click();
        QCOMPARE(Form->DiagramMode, dmForward);
        Link()->sButtonConnect->click();
        QTRY_COMPARE_WITH_TIMEOUT(Form->DiagramMode, dmNone, 3000);
        QVERIFY(!Form->BalloonHintInd->isVisible() ||
                !Form->BalloonHintInd->Title().startsWith(QStringLiteral("Sweep stopped")));
        QTRY_VERIFY_WITH_TIMEOUT(!Link()->IsConnected(), 3000);
        QVERIFY(!Link()->WaitingForReconnect());
        QCOMPARE(Link()->CurrentImageIndex(), 0);
    }

    // A sweep under way when the tester goes is stopped at the loss, says so, and does not go
    // on by itself once the tester is back, however long its steps.
    void sweepStoppedAtTheLoss() {
        auto tester = StartTester(TesterIdent);
        OpenWindow(true);
        ConnectBySearch(*tester);
        Form->sPageControl1->setCurrentWidget(Form->sTabSheetChartHyst);
        Form->FloatEditDutyStart->SetValueInt(20);
        Form->FloatEditDutyEnd->SetValueInt(60);
        Form->FloatEditStep->SetValueInt(5);
        Form->FloatEditPeriod->SetValueInt(10000); // the next step would come long after the return
        Form->ButtonStartStop->click();
        QCOMPARE(Form->DiagramMode, dmForward);
        tester->Stop();
        WaitForLossAndWaiting();
        QCOMPARE(Form->DiagramMode, dmNone);
        QCOMPARE(Form->ButtonStartStop->text(), QStringLiteral("Start"));
        QVERIFY(Form->BalloonHintInd->isVisible());
        QCOMPARE(Form->BalloonHintInd->Title(),
                 QStringLiteral("Sweep stopped: the connection to the tester was lost"));

        auto back = StartTester(TesterIdent);
        QTRY_VERIFY_WITH_TIMEOUT(Link()->IsConnected(), 3000);
        QTest::qWait(500);
        QCOMPARE(Form->DiagramMode, dmNone);
        QCOMPARE(Form->ButtonStartStop->text(), QStringLiteral("Start"));
    }

    // The choice is kept in the program's settings file and read by the next window.
    void choiceRemembered() {
        for (const bool on : {true, false}) {
            {
                OpenWindow(!on);
                Link()->NReconnectAutomatically->trigger();
                QCOMPARE(Link()->ReconnectAutomatically(), on);
                Form.reset();
            }
            Form = std::make_unique<TFormTamrel>();
            QCOMPARE(Link()->ReconnectAutomatically(), on);
            QCOMPARE(QSettings(TFormTamrel::SettingsFilePath(), QSettings::IniFormat)
                         .value(QStringLiteral("Link/ReconnectAutomatically"))
                         .toBool(),
                     on);
            Form.reset();
        }
    }
};

TAMREL_TEST_MAIN(TestTamrelReconnect)
#include "tst_TamrelReconnect.moc"
