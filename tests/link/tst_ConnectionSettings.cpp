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
    static std::unique_ptr<TFormConnectionSettingsMorva> Open(TComPort &port,
                                                              const QString &ident = "Tavik") {
        auto f = std::make_unique<TFormConnectionSettingsMorva>();
        f->FComPort = [&port] { return &port; };
        f->TimerRefreshPortsTimer();
        f->SelectPort(port.Port());
        for (TComComboBox *c : {f->ComCombo1, f->ComCombo2, f->ComCombo3, f->ComCombo4})
            c->SetComPort(f->FComPort);
        f->EditDeviceIdentStr->setText(ident);
        return f;
    }
    static void WaitSearchIdle() { QTRY_COMPARE_WITH_TIMEOUT(ActiveSearchProbes(), 0, 5000); }
    // The line settings a simulator's pseudo-terminal is set to.
    static termios LineOf(const TSimPty &sim) {
        termios t{};
        const int fd = ::open(sim.SlavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0) {
            ::tcgetattr(fd, &t);
            ::close(fd);
        }
        return t;
    }

private slots:
    void initTestCase() {
        Runtime = std::make_unique<TLinkRuntime>();
        TKvApplication::SetErrorDisplay([this](const QString &m) { Errors << m; });
    }
    void init() { Errors.clear(); }
    void cleanup() { WaitSearchIdle(); }

    void layoutAndRussianTexts() {
        TComPort port;
        auto f = Open(port);
        QCOMPARE(f->windowTitle(), QString("Настройки соединения"));
        QCOMPARE(f->Label1->text(), QString("Доступные COM-порты:"));
        QCOMPARE(f->ButtonSettings->text(), QString("Настройки \nпорта"));
        QCOMPARE(f->ButtonSearch->text(), QString("Поиск"));
        QCOMPARE(f->CheckBoxFilterOnlyUSB->text(), QString("Только USB COM-порты"));
        QCOMPARE(f->NShowAdvanced->text(), QString("Дополнительные настройки"));
        QCOMPARE(f->ActionShowLog->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_L));
        QCOMPARE(f->Panel1->width(), 225);
        QCOMPARE(f->PanelComPortSettings->width(), 160);
        QVERIFY(f->TimerRefreshPorts->isActive());
        QCOMPARE(f->TimerRefreshPorts->interval(), 1000);
        QCOMPARE(f->TimerSearchTimeOut->interval(), 1000);
        QCOMPARE(f->ComCombo1->count(), 22);
        QCOMPARE(f->ComCombo1->itemText(12), QString("115200"));
        QCOMPARE(f->ComCombo2->itemText(4), QString("Space"));
        QCOMPARE(f->ComCombo4->itemText(1), QString("1.5"));
        QVERIFY(f->ButtonOK->isDefault());
        f->show();
        QVERIFY(f->PanelComPortSettings->isHidden());
        const int narrow = f->sizeHint().width();
        f->ButtonSettings->click();
        QVERIFY(f->PanelComPortSettings->isVisible());
        QVERIFY(f->sizeHint().width() > narrow);
        f->ButtonSettings->click();
        QVERIFY(f->PanelComPortSettings->isHidden());
        f->DoEnglish();
        QCOMPARE(f->Label1->text(), QString("Available COM ports:"));
        QCOMPARE(f->ButtonSettings->text(), QString("Port Settings"));
        QCOMPARE(f->ButtonSearch->text(), QString("Search"));
        QCOMPARE(f->CheckBoxFilterOnlyUSB->text(), QString("USB COM ports only"));
        QCOMPARE(DeviceNotFoundText, QString("Device Not Found"));
        QCOMPARE(f->windowTitle(), QString("Настройки соединения"));
        DeviceNotFoundText = "Устройство не найдено";
    }

    void refreshKeepsOrDropsTheSelection() {
        auto a = StartSim("Tavik");
        auto b = StartSim("Tavik");
        TComPort port;
        port.SetPort(b->PortName());
        auto f = Open(port);
        QCOMPARE(f->ListBoxComPorts->count(), 2);
        QCOMPARE(f->SelectedPort(), b->PortName());
        f->TimerRefreshPortsTimer();
        QCOMPARE(f->SelectedPort(), b->PortName());
        b->Stop(); // the port vanishes
        f->TimerRefreshPortsTimer();
        QCOMPARE(f->ListBoxComPorts->count(), 1);
        QCOMPARE(f->SelectedPort(), QString());
    }

    void okAppliesPortChoosersAndIdent() {
        auto a = StartSim("Tavik");
        TComPort port;
        port.SetPort("COM-old");
        auto f = Open(port, "Tavik");
        QCOMPARE(f->SelectedPort(), QString());
        f->SelectPort(a->PortName());
        f->ComCombo1->setCurrentIndex(f->ComCombo1->findText("57600"));
        f->ComCombo2->setCurrentIndex(2);
        f->ComCombo3->setCurrentIndex(2);
        f->ComCombo4->setCurrentIndex(2);
        f->EditDeviceIdentStr->setText("Other");
        DialogDeviceIdentStr = "Tavik";
        f->ButtonOK->click();
        QCOMPARE(port.Port(), a->PortName());
        QCOMPARE(port.CustomBaudRate(), 57600);
        QCOMPARE(port.ParityBits(), prEven);
        QCOMPARE(port.DataBits(), dbSeven);
        QCOMPARE(port.StopBits(), sbTwoStopBits);
        QCOMPARE(DialogDeviceIdentStr, QString("Other"));
        QCOMPARE(f->result(), int(QDialog::Accepted));

        // nothing selected: the port name is emptied
        auto g = Open(port);
        g->SelectPort(QString());
        g->ButtonOK->click();
        QCOMPARE(port.Port(), QString());
    }

    void choosersChangeAnOpenPortAtOnce() {
        TPtyPair pty;
        TComPort port;
        port.SetPort(pty.SlaveName);
        port.SetCustomBaudRate(115200);
        port.SetConnected(true);
        auto f = Open(port);
        QCOMPARE(f->ComCombo1->currentText(), QString("115200"));
        f->ComCombo1->setCurrentIndex(f->ComCombo1->findText("9600"));
        emit f->ComCombo1->activated(f->ComCombo1->currentIndex());
        QCOMPARE(port.CustomBaudRate(), 9600);
        QCOMPARE(pty.SlaveSpeed(), speed_t(B9600));
        // (a pty keeps 8 data bits and no parity whatever is asked; stop bits it takes)
        f->ComCombo4->setCurrentIndex(2);
        emit f->ComCombo4->activated(2);
        QCOMPARE(port.StopBits(), sbTwoStopBits);
        QVERIFY(pty.TwoStopBits());
        // a typed rate that is not listed, then text that is no number
        f->ComCombo1->setEditText("200");
        emit f->ComCombo1->lineEdit()->editingFinished();
        QCOMPARE(port.CustomBaudRate(), 200);
        QCOMPARE(pty.SlaveSpeed(), speed_t(B200));
        f->ComCombo1->setEditText("fast");
        emit f->ComCombo1->lineEdit()->editingFinished();
        QCOMPARE(Errors, QStringList{"'fast' is not a valid integer value"});
        QCOMPARE(port.CustomBaudRate(), 200);
        QCOMPARE(f->ComCombo1->currentText(), QString("200"));
        QVERIFY(port.Connected());
    }

    void notListedRateShowsAsNumber() {
        TComPort port;
        port.SetCustomBaudRate(31250);
        auto f = Open(port);
        QCOMPARE(f->ComCombo1->currentText(), QString("31250"));
    }

    // Reports end the waiting; the identification field selects with letter case counting,
    // an empty field never selects.
    void searchSelectsOnlyMatchingPorts_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<bool>("selects");
        QTest::newRow("matching") << "Tavik" << true;
        QTest::newRow("letter case counts") << "tavik" << false;
        QTest::newRow("empty field") << "" << false;
    }
    void searchSelectsOnlyMatchingPorts() {
        QFETCH(QString, field);
        QFETCH(bool, selects);
        auto tester = StartSim("Tavik 1.6");
        auto other = StartSim("Scope");
        TComPort port;
        port.SetCustomBaudRate(115200);
        auto f = Open(port, field);
        f->show();
        f->ButtonSearch->click();
        QVERIFY(!f->ButtonSearch->isEnabled());
        QVERIFY(f->TimerSearchTimeOut->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(f->ButtonSearch->isEnabled(), 3000);
        QVERIFY(!f->TimerSearchTimeOut->isActive());
        WaitSearchIdle();
        QCOMPARE(f->SelectedPort(), selects ? tester->PortName() : QString());
        QCOMPARE(f->BalloonHintInd->ShowCount(), 0);
        QCOMPARE(port.Port(), QString()); // only OK changes the port
    }

    void searchWithoutAnswerShowsBalloon() {
        TComPort port;
        port.SetCustomBaudRate(115200);
        auto f = Open(port);
        f->show();
        f->ButtonSearch->click();
        QTest::qWait(700);
        QVERIFY(!f->ButtonSearch->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(f->ButtonSearch->isEnabled(), 1500);
        QCOMPARE(f->BalloonHintInd->Title(), QString("Устройство не найдено"));
        QCOMPARE(f->BalloonHintInd->Text(), QString("Последовательных портов нет"));
        QCOMPARE(f->BalloonHintInd->ShownAt(), f->ButtonSearch->mapToGlobal(QPoint(
                                                   f->ButtonSearch->width() / 2, f->ButtonSearch->height())));
    }

    void closedWindowDropsLateReports() {
        TSimOptions slow;
        slow.AnswerDelayMs = 150;
        auto tester = StartSim("Tavik", slow);
        TComPort port;
        port.SetCustomBaudRate(115200);
        {
            auto f = Open(port);
            f->ButtonSearch->click();
        }
        WaitSearchIdle();
        QVERIFY(SearchLogLines().join('\n').contains(tester->PortName() + " Free"));
        QVERIFY(Errors.isEmpty());
    }

    void advancedToggleAndLog() {
        TComPort port;
        auto f = Open(port);
        QVERIFY(!f->NShowAdvanced->isChecked());
        QVERIFY(!f->EditDeviceIdentStr->isReadOnly());
        f->NShowAdvanced->trigger();
        QVERIFY(!f->EditDeviceIdentStr->isReadOnly());
        f->NShowAdvanced->trigger();
        QVERIFY(f->EditDeviceIdentStr->isReadOnly());

        {
            QMutexLocker l(&SearchLogLock);
            SearchLog = QStringList{"0.000 one", "0.010 two"};
        }
        QString shown;
        TFormConnectionSettingsMorva::ShowLogText = [&](const QString &t) { shown = t; };
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.get()));
        f->activateWindow();
        QTest::keyClick(f.get(), Qt::Key_L, Qt::ControlModifier);
        TFormConnectionSettingsMorva::ShowLogText = nullptr;
        QCOMPARE(shown, QString("0.000 one\n0.010 two"));
    }

    // Modal use through the link's menu item: only OK carries the identification out.
    void modalWindowFromTheLink_data() {
        QTest::addColumn<bool>("pressOk");
        QTest::newRow("OK") << true;
        QTest::newRow("closed otherwise") << false;
    }
    void modalWindowFromTheLink() {
        QFETCH(bool, pressOk);
        auto tester = StartSim("Tavik");
        TFrameDeviceLinkComMorva link;
        link.DeviceIdentStr = "Tavik";
        link.DoEnglish();
        bool Seen = false;
        OnConnectionSettingsShown = [&](TFormConnectionSettingsMorva *f) {
            Seen = true;
            QCOMPARE(f->ButtonSearch->text(), QString("Search")); // English through the link
            QCOMPARE(f->EditDeviceIdentStr->text(), QString("Tavik"));
            f->SelectPort(tester->PortName());
            f->EditDeviceIdentStr->setText("Tavik2");
            if (pressOk)
                f->ButtonOK->click();
            else
                f->reject();
        };
        link.NConnectionSettings->trigger();
        OnConnectionSettingsShown = nullptr;
        UseEnglish = false;
        QVERIFY(Seen);
        QCOMPARE(link.DeviceIdentStr, QString(pressOk ? "Tavik2" : "Tavik"));
        QCOMPARE(link.ComPortObject()->Port(), pressOk ? tester->PortName() : QString());
        QVERIFY(!link.IsConnected());
    }

    // The link's button with no port and no search opens the window, then connects to the
    // port chosen there; OK with nothing chosen leaves the link closed.
    void linkButtonWithoutPortAsksForOne() {
        auto tester = StartSim("Tavik");
        TFrameDeviceLinkComMorva link;
        link.SetSearchOnConnect(false);
        OnConnectionSettingsShown = [&](TFormConnectionSettingsMorva *f) {
            f->SelectPort(QString());
            f->ButtonOK->click();
        };
        link.sButtonConnect->click();
        QVERIFY(!link.IsConnected());
        QVERIFY(!link.sButtonConnect->isChecked());
        OnConnectionSettingsShown = [&](TFormConnectionSettingsMorva *f) {
            f->SelectPort(tester->PortName());
            f->ButtonOK->click();
        };
        link.sButtonConnect->click();
        OnConnectionSettingsShown = nullptr;
        QVERIFY(link.IsConnected());
        QCOMPARE(link.CurrentImageIndex(), 1);
        link.Disconnect();
    }

    // Another port chosen while connected: the connection moves there.
    void okMovesAnOpenConnection() {
        auto a = StartSim("Tavik");
        auto b = StartSim("Tavik");
        TFrameDeviceLinkComMorva link;
        QVector<TDeviceLinkEvent> events;
        link.SetOnDeviceLinkStartStop([&](IDeviceLink *, TDeviceLinkEvent e, bool) { events << e; }, {},
                                      false);
        link.ComPortObject()->SetPort(a->PortName());
        link.Connect();
        OnConnectionSettingsShown = [&](TFormConnectionSettingsMorva *f) {
            f->SelectPort(b->PortName());
            f->ButtonOK->click();
        };
        link.NConnectionSettings->trigger();
        OnConnectionSettingsShown = nullptr;
        QVERIFY(link.IsConnected());
        QCOMPARE(link.ComPortObject()->Port(), b->PortName());
        QCOMPARE(events, (QVector<TDeviceLinkEvent>{OnStart, OnStop, OnStart}));
        QTRY_VERIFY_WITH_TIMEOUT(b->HostPresent(), 1000);
        link.Disconnect();
    }

    // A search report that connects while the window is open gives the link a fresh port
    // object. Whatever the window does afterwards, a chooser or OK, must reach that port and
    // the line it holds, not the object the window was opened on.
    void windowFollowsThePortOfASearchThatConnects_data() {
        QTest::addColumn<QString>("action");
        QTest::newRow("choosers, then closed") << "choosers";
        QTest::newRow("OK on the connected port") << "ok";
        QTest::newRow("OK on another port") << "move";
    }
    void windowFollowsThePortOfASearchThatConnects() {
        QFETCH(QString, action);
        auto Tester = StartSim("Tavik");
        auto Other = StartSim("Scope");
        TFrameDeviceLinkComMorva link;
        link.DeviceIdentStr = "Tavik";
        link.SetBaudRate(115200);
        link.SetSearchOnConnect(true);
        link.sButtonConnect->click(); // the search runs; its report comes once the window is open
        QVERIFY(!link.IsConnected());
        const TComPort *Before = link.ComPortObject();
        bool Done = false;
        OnConnectionSettingsShown = [&](TFormConnectionSettingsMorva *f) {
            // A failed check never leaves the window open.
            auto close = qScopeGuard([f] {
                if (f->isVisible()) f->reject();
            });
            QTRY_VERIFY_WITH_TIMEOUT(link.IsConnected(), 5000);
            QVERIFY(link.ComPortObject() != Before);
            f->ComCombo1->setCurrentIndex(f->ComCombo1->findText("57600"));
            f->ComCombo4->setCurrentIndex(2);
            if (action == "choosers") {
                emit f->ComCombo1->activated(f->ComCombo1->currentIndex());
                emit f->ComCombo4->activated(2);
            } else {
                f->SelectPort(action == "move" ? Other->PortName() : Tester->PortName());
                f->ButtonOK->click();
            }
            Done = true;
        };
        link.NConnectionSettings->trigger();
        OnConnectionSettingsShown = nullptr;
        QVERIFY(Done);
        QCOMPARE(Errors, QStringList());
        QVERIFY(link.IsConnected());
        QCOMPARE(link.CurrentImageIndex(), 1);
        const TComPort *now = link.ComPortObject();
        const TSimPty &at = action == "move" ? *Other : *Tester;
        QCOMPARE(now->Port(), at.PortName());
        QCOMPARE(now->CustomBaudRate(), 57600);
        QCOMPARE(now->StopBits(), sbTwoStopBits);
        const termios line = LineOf(at);
        QCOMPARE(::cfgetospeed(&line), speed_t(B57600));
        QVERIFY((line.c_cflag & CSTOPB) != 0);
        link.Disconnect();
        QVERIFY(!link.IsConnected());
    }
};

TAMREL_TEST_MAIN(TConnectionSettingsTest)
#include "tst_ConnectionSettings.moc"
