// The connection settings window: selection kept and dropped by the refresh, OK with and
// without a selection, choosers applied to an open port at once, the search with and without
// a matching identification, the balloon, the advanced toggle, the log and the texts, and a
// window that keeps working on the link's port when a search connects while it is open.
#include "TestMain.h"
#include "uBalloonHint.h"
#include "uFormConnectionSettingsMorva.h"
#include "uFormConnectionSettingsMorvaSearch.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uKvApplication.h"
#include "uLinkTestSupport.h"
#include "uPtyPair.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimer>
#include <QToolButton>

class TConnectionSettingsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<TLinkRuntime> Runtime;
    QStringList Errors;

    // A window set up the way ShowConnectionSettings sets it up, without running modally.
    static std::unique_ptr<TFormConnectionSettingsMorva> Open(TComPort &Port,
                                                              const QString &Ident = "Tavik") {
        auto F = std::make_unique<TFormConnectionSettingsMorva>();
        F->FComPort = [&Port] { return &Port; };
        F->TimerRefreshPortsTimer();
        F->SelectPort(Port.Port());
        for (TComComboBox *C : {F->ComCombo1, F->ComCombo2, F->ComCombo3, F->ComCombo4})
            C->SetComPort(F->FComPort);
        F->EditDeviceIdentStr->setText(Ident);
        return F;
    }
    static void WaitSearchIdle() { QTRY_COMPARE_WITH_TIMEOUT(ActiveSearchProbes(), 0, 5000); }
    // The line settings a simulator's pseudo-terminal is set to.
    static termios LineOf(const TSimPty &Sim) {
        termios T{};
        const int Fd = ::open(Sim.SlavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (Fd >= 0) {
            ::tcgetattr(Fd, &T);
            ::close(Fd);
        }
        return T;
    }

private slots:
    void initTestCase() {
        Runtime = std::make_unique<TLinkRuntime>();
        TKvApplication::SetErrorDisplay([this](const QString &M) { Errors << M; });
    }
    void init() { Errors.clear(); }
    void cleanup() { WaitSearchIdle(); }

    void layoutAndRussianTexts() {
        TComPort Port;
        auto F = Open(Port);
        QCOMPARE(F->windowTitle(), QString("Настройки соединения"));
        QCOMPARE(F->Label1->text(), QString("Доступные COM-порты:"));
        QCOMPARE(F->ButtonSettings->text(), QString("Настройки \nпорта"));
        QCOMPARE(F->ButtonSearch->text(), QString("Поиск"));
        QCOMPARE(F->CheckBoxFilterOnlyUSB->text(), QString("Только USB COM-порты"));
        QCOMPARE(F->NShowAdvanced->text(), QString("Дополнительные настройки"));
        QCOMPARE(F->ActionShowLog->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_L));
        QCOMPARE(F->Panel1->width(), 225);
        QCOMPARE(F->PanelComPortSettings->width(), 160);
        QVERIFY(F->TimerRefreshPorts->isActive());
        QCOMPARE(F->TimerRefreshPorts->interval(), 1000);
        QCOMPARE(F->TimerSearchTimeOut->interval(), 1000);
        QCOMPARE(F->ComCombo1->count(), 22);
        QCOMPARE(F->ComCombo1->itemText(12), QString("115200"));
        QCOMPARE(F->ComCombo2->itemText(4), QString("Space"));
        QCOMPARE(F->ComCombo4->itemText(1), QString("1.5"));
        QVERIFY(F->ButtonOK->isDefault());
        F->show();
        QVERIFY(F->PanelComPortSettings->isHidden());
        const int Narrow = F->sizeHint().width();
        F->ButtonSettings->click();
        QVERIFY(F->PanelComPortSettings->isVisible());
        QVERIFY(F->sizeHint().width() > Narrow);
        F->ButtonSettings->click();
        QVERIFY(F->PanelComPortSettings->isHidden());
        F->DoEnglish();
        QCOMPARE(F->Label1->text(), QString("Available COM ports:"));
        QCOMPARE(F->ButtonSettings->text(), QString("Port Settings"));
        QCOMPARE(F->ButtonSearch->text(), QString("Search"));
        QCOMPARE(F->CheckBoxFilterOnlyUSB->text(), QString("USB COM ports only"));
        QCOMPARE(DeviceNotFoundText, QString("Device Not Found"));
        QCOMPARE(F->windowTitle(), QString("Настройки соединения"));
        DeviceNotFoundText = "Устройство не найдено";
    }

    void refreshKeepsOrDropsTheSelection() {
        auto A = StartSim("Tavik");
        auto B = StartSim("Tavik");
        TComPort Port;
        Port.SetPort(B->PortName());
        auto F = Open(Port);
        QCOMPARE(F->ListBoxComPorts->count(), 2);
        QCOMPARE(F->SelectedPort(), B->PortName());
        F->TimerRefreshPortsTimer();
        QCOMPARE(F->SelectedPort(), B->PortName());
        B->Stop(); // the port vanishes
        F->TimerRefreshPortsTimer();
        QCOMPARE(F->ListBoxComPorts->count(), 1);
        QCOMPARE(F->SelectedPort(), QString());
    }

    void okAppliesPortChoosersAndIdent() {
        auto A = StartSim("Tavik");
        TComPort Port;
        Port.SetPort("COM-old");
        auto F = Open(Port, "Tavik");
        QCOMPARE(F->SelectedPort(), QString());
        F->SelectPort(A->PortName());
        F->ComCombo1->setCurrentIndex(F->ComCombo1->findText("57600"));
        F->ComCombo2->setCurrentIndex(2);
        F->ComCombo3->setCurrentIndex(2);
        F->ComCombo4->setCurrentIndex(2);
        F->EditDeviceIdentStr->setText("Other");
        DialogDeviceIdentStr = "Tavik";
        F->ButtonOK->click();
        QCOMPARE(Port.Port(), A->PortName());
        QCOMPARE(Port.CustomBaudRate(), 57600);
        QCOMPARE(Port.ParityBits(), prEven);
        QCOMPARE(Port.DataBits(), dbSeven);
        QCOMPARE(Port.StopBits(), sbTwoStopBits);
        QCOMPARE(DialogDeviceIdentStr, QString("Other"));
        QCOMPARE(F->result(), int(QDialog::Accepted));

        // nothing selected: the port name is emptied
        auto G = Open(Port);
        G->SelectPort(QString());
        G->ButtonOK->click();
        QCOMPARE(Port.Port(), QString());
    }

    void choosersChangeAnOpenPortAtOnce() {
        TPtyPair Pty;
        TComPort Port;
        Port.SetPort(Pty.SlaveName);
        Port.SetCustomBaudRate(115200);
        Port.SetConnected(true);
        auto F = Open(Port);
        QCOMPARE(F->ComCombo1->currentText(), QString("115200"));
        F->ComCombo1->setCurrentIndex(F->ComCombo1->findText("9600"));
        emit F->ComCombo1->activated(F->ComCombo1->currentIndex());
        QCOMPARE(Port.CustomBaudRate(), 9600);
        QCOMPARE(Pty.SlaveSpeed(), speed_t(B9600));
        // (a pty keeps 8 data bits and no parity whatever is asked; stop bits it takes)
        F->ComCombo4->setCurrentIndex(2);
        emit F->ComCombo4->activated(2);
        QCOMPARE(Port.StopBits(), sbTwoStopBits);
        QVERIFY(Pty.TwoStopBits());
        // a typed rate that is not listed, then text that is no number
        F->ComCombo1->setEditText("200");
        emit F->ComCombo1->lineEdit()->editingFinished();
        QCOMPARE(Port.CustomBaudRate(), 200);
        QCOMPARE(Pty.SlaveSpeed(), speed_t(B200));
        F->ComCombo1->setEditText("fast");
        emit F->ComCombo1->lineEdit()->editingFinished();
        QCOMPARE(Errors, QStringList{"'fast' is not a valid integer value"});
        QCOMPARE(Port.CustomBaudRate(), 200);
        QCOMPARE(F->ComCombo1->currentText(), QString("200"));
        QVERIFY(Port.Connected());
    }

    void notListedRateShowsAsNumber() {
        TComPort Port;
        Port.SetCustomBaudRate(31250);
        auto F = Open(Port);
        QCOMPARE(F->ComCombo1->currentText(), QString("31250"));
    }

    // Reports end the waiting; the identification field selects with letter case counting,
    // an empty field never selects.
    void searchSelectsOnlyMatchingPorts_data() {
        QTest::addColumn<QString>("Field");
        QTest::addColumn<bool>("Selects");
        QTest::newRow("matching") << "Tavik" << true;
        QTest::newRow("letter case counts") << "tavik" << false;
        QTest::newRow("empty field") << "" << false;
    }
    void searchSelectsOnlyMatchingPorts() {
        QFETCH(QString, Field);
        QFETCH(bool, Selects);
        auto Tester = StartSim("Tavik 1.6");
        auto Other = StartSim("Scope");
        TComPort Port;
        Port.SetCustomBaudRate(115200);
        auto F = Open(Port, Field);
        F->show();
        F->ButtonSearch->click();
        QVERIFY(!F->ButtonSearch->isEnabled());
        QVERIFY(F->TimerSearchTimeOut->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(F->ButtonSearch->isEnabled(), 3000);
        QVERIFY(!F->TimerSearchTimeOut->isActive());
        WaitSearchIdle();
        QCOMPARE(F->SelectedPort(), Selects ? Tester->PortName() : QString());
        QCOMPARE(F->BalloonHintInd->ShowCount(), 0);
        QCOMPARE(Port.Port(), QString()); // only OK changes the port
    }

    void searchWithoutAnswerShowsBalloon() {
        TComPort Port;
        Port.SetCustomBaudRate(115200);
        auto F = Open(Port);
        F->show();
        F->ButtonSearch->click();
        QTest::qWait(700);
        QVERIFY(!F->ButtonSearch->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(F->ButtonSearch->isEnabled(), 1500);
        QCOMPARE(F->BalloonHintInd->Title(), QString("Устройство не найдено"));
        QCOMPARE(F->BalloonHintInd->ShownAt(), F->ButtonSearch->mapToGlobal(QPoint(
                                                   F->ButtonSearch->width() / 2, F->ButtonSearch->height())));
    }

    void closedWindowDropsLateReports() {
        TSimOptions Slow;
        Slow.AnswerDelayMs = 150;
        auto Tester = StartSim("Tavik", Slow);
        TComPort Port;
        Port.SetCustomBaudRate(115200);
        {
            auto F = Open(Port);
            F->ButtonSearch->click();
        }
        WaitSearchIdle();
        QVERIFY(SearchLogLines().join('\n').contains(Tester->PortName() + " Free"));
        QVERIFY(Errors.isEmpty());
    }

    void advancedToggleAndLog() {
        TComPort Port;
        auto F = Open(Port);
        QVERIFY(!F->NShowAdvanced->isChecked());
        QVERIFY(!F->EditDeviceIdentStr->isReadOnly());
        F->NShowAdvanced->trigger();
        QVERIFY(!F->EditDeviceIdentStr->isReadOnly());
        F->NShowAdvanced->trigger();
        QVERIFY(F->EditDeviceIdentStr->isReadOnly());

        {
            QMutexLocker L(&SearchLogLock);
            SearchLog = QStringList{"0.000 one", "0.010 two"};
        }
        QString Shown;
        TFormConnectionSettingsMorva::ShowLogText = [&](const QString &T) { Shown = T; };
        F->show();
        QVERIFY(QTest::qWaitForWindowExposed(F.get()));
        F->activateWindow();
        QTest::keyClick(F.get(), Qt::Key_L, Qt::ControlModifier);
        TFormConnectionSettingsMorva::ShowLogText = nullptr;
        QCOMPARE(Shown, QString("0.000 one\n0.010 two"));
    }

    // Modal use through the link's menu item: only OK carries the identification out.
    void modalWindowFromTheLink_data() {
        QTest::addColumn<bool>("PressOk");
        QTest::newRow("OK") << true;
        QTest::newRow("closed otherwise") << false;
    }
    void modalWindowFromTheLink() {
        QFETCH(bool, PressOk);
        auto Tester = StartSim("Tavik");
        TFrameDeviceLinkComMorva Link;
        Link.DeviceIdentStr = "Tavik";
        Link.DoEnglish();
        bool Seen = false;
        OnConnectionSettingsShown = [&](TFormConnectionSettingsMorva *F) {
            Seen = true;
            QCOMPARE(F->ButtonSearch->text(), QString("Search")); // English through the link
            QCOMPARE(F->EditDeviceIdentStr->text(), QString("Tavik"));
            F->SelectPort(Tester->PortName());
            F->EditDeviceIdentStr->setText("Tavik2");
            if (PressOk)
                F->ButtonOK->click();
            else
                F->reject();
        };
        Link.NConnectionSettings->trigger();
        OnConnectionSettingsShown = nullptr;
        UseEnglish = false;
        QVERIFY(Seen);
        QCOMPARE(Link.DeviceIdentStr, QString(PressOk ? "Tavik2" : "Tavik"));
        QCOMPARE(Link.ComPortObject()->Port(), PressOk ? Tester->PortName() : QString());
        QVERIFY(!Link.IsConnected());
    }

    // The link's button with no port and no search opens the window, then connects to the
    // port chosen there; OK with nothing chosen leaves the link closed.
    void linkButtonWithoutPortAsksForOne() {
        auto Tester = StartSim("Tavik");
        TFrameDeviceLinkComMorva Link;
        Link.SetSearchOnConnect(false);
        OnConnectionSettingsShown = [&](TFormConnectionSettingsMorva *F) {
            F->SelectPort(QString());
            F->ButtonOK->click();
        };
        Link.sButtonConnect->click();
        QVERIFY(!Link.IsConnected());
        QVERIFY(!Link.sButtonConnect->isChecked());
        OnConnectionSettingsShown = [&](TFormConnectionSettingsMorva *F) {
            F->SelectPort(Tester->PortName());
            F->ButtonOK->click();
        };
        Link.sButtonConnect->click();
        OnConnectionSettingsShown = nullptr;
        QVERIFY(Link.IsConnected());
        QCOMPARE(Link.CurrentImageIndex(), 1);
        Link.Disconnect();
    }

    // Another port chosen while connected: the connection moves there.
    void okMovesAnOpenConnection() {
        auto A = StartSim("Tavik");
        auto B = StartSim("Tavik");
        TFrameDeviceLinkComMorva Link;
        QVector<TDeviceLinkEvent> Events;
        Link.SetOnDeviceLinkStartStop([&](IDeviceLink *, TDeviceLinkEvent E, bool) { Events << E; }, {},
                                      false);
        Link.ComPortObject()->SetPort(A->PortName());
        Link.Connect();
        OnConnectionSettingsShown = [&](TFormConnectionSettingsMorva *F) {
            F->SelectPort(B->PortName());
            F->ButtonOK->click();
        };
        Link.NConnectionSettings->trigger();
        OnConnectionSettingsShown = nullptr;
        QVERIFY(Link.IsConnected());
        QCOMPARE(Link.ComPortObject()->Port(), B->PortName());
        QCOMPARE(Events, (QVector<TDeviceLinkEvent>{OnStart, OnStop, OnStart}));
        QTRY_VERIFY_WITH_TIMEOUT(B->HostPresent(), 1000);
        Link.Disconnect();
    }

    // A search report that connects while the window is open gives the link a fresh port
    // object. Whatever the window does afterwards, a chooser or OK, must reach that port and
    // the line it holds, not the object the window was opened on.
    void windowFollowsThePortOfASearchThatConnects_data() {
        QTest::addColumn<QString>("Action");
        QTest::newRow("choosers, then closed") << "choosers";
        QTest::newRow("OK on the connected port") << "ok";
        QTest::newRow("OK on another port") << "move";
    }
    void windowFollowsThePortOfASearchThatConnects() {
        QFETCH(QString, Action);
        auto Tester = StartSim("Tavik");
        auto Other = StartSim("Scope");
        TFrameDeviceLinkComMorva Link;
        Link.DeviceIdentStr = "Tavik";
        Link.SetBaudRate(115200);
        Link.SetSearchOnConnect(true);
        Link.sButtonConnect->click(); // the search runs; its report comes once the window is open
        QVERIFY(!Link.IsConnected());
        const TComPort *Before = Link.ComPortObject();
        bool Done = false;
        OnConnectionSettingsShown = [&](TFormConnectionSettingsMorva *F) {
            // A failed check never leaves the window open.
            auto Close = qScopeGuard([F] {
                if (F->isVisible()) F->reject();
            });
            QTRY_VERIFY_WITH_TIMEOUT(Link.IsConnected(), 5000);
            QVERIFY(Link.ComPortObject() != Before);
            F->ComCombo1->setCurrentIndex(F->ComCombo1->findText("57600"));
            F->ComCombo4->setCurrentIndex(2);
            if (Action == "choosers") {
                emit F->ComCombo1->activated(F->ComCombo1->currentIndex());
                emit F->ComCombo4->activated(2);
            } else {
                F->SelectPort(Action == "move" ? Other->PortName() : Tester->PortName());
                F->ButtonOK->click();
            }
            Done = true;
        };
        Link.NConnectionSettings->trigger();
        OnConnectionSettingsShown = nullptr;
        QVERIFY(Done);
        QCOMPARE(Errors, QStringList());
        QVERIFY(Link.IsConnected());
        QCOMPARE(Link.CurrentImageIndex(), 1);
        const TComPort *Now = Link.ComPortObject();
        const TSimPty &At = Action == "move" ? *Other : *Tester;
        QCOMPARE(Now->Port(), At.PortName());
        QCOMPARE(Now->CustomBaudRate(), 57600);
        QCOMPARE(Now->StopBits(), sbTwoStopBits);
        const termios Line = LineOf(At);
        QCOMPARE(::cfgetospeed(&Line), speed_t(B57600));
        QVERIFY((Line.c_cflag & CSTOPB) != 0);
        Link.Disconnect();
        QVERIFY(!Link.IsConnected());
    }
};

TAMREL_TEST_MAIN(TConnectionSettingsTest)
#include "tst_ConnectionSettings.moc"
