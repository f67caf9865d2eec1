// The port search against simulated testers on real pseudo-terminals: reports, log lines,
// ports that cannot be opened or do not answer, invalid settings, overlapping searches.
#include "TestMain.h"
#include "uChildProcess.h"
#include "uFormConnectionSettingsMorvaSearch.h"
#include "uKvFrameCodec.h"
#include "uLinkTestSupport.h"
#include "uPtyPair.h"

#include <QTemporaryDir>

#include <thread>
#include <unistd.h>

struct TReport {
    QString Ident, Port;
    int Baud;
};

class TPortSearchTest : public QObject {
    Q_OBJECT
    std::unique_ptr<TLinkRuntime> Runtime;
    const TComSettings Settings{115200, dbEight, prNone, sbOneStopBit};
    // udev's rule folders as the search sees them: by default the package's rule is in force,
    // so that the lines do not depend on what this host has installed.
    QTemporaryDir RuleFolders;
    QString RuleFolder(const QString &name) const { return RuleFolders.filePath(name); }
    void UseRuleFolders() {
        QStringList folders;
        for (const char *name : {"etc", "run", "usr-local-lib", "usr-lib"}) {
            QDir().mkpath(RuleFolder(name));
            folders << RuleFolder(name);
        }
        SetUdevRuleFoldersForTest(folders);
    }
    static void WriteFile(const QString &path, const QByteArray &bytes) {
        QFile f(path);
        QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
        QCOMPARE(f.write(bytes), bytes.size());
    }

    static bool LogHas(const QString &line) {
        for (const QString &l : SearchLogLines())
            if (l.section(' ', 1) == line) return true;
        return false;
    }
    static void WaitIdle() { QTRY_COMPARE_WITH_TIMEOUT(ActiveSearchProbes(), 0, 5000); }

private slots:
    void initTestCase() {
        Runtime = std::make_unique<TLinkRuntime>();
        UseRuleFolders();
        WriteFile(RuleFolder("usr-lib") + "/70-tamrel-tester.rules", "# the package's\n");
    }
    void cleanup() { WaitIdle(); }

    void everyAnsweringPortIsReportedOnce() {
        auto tavik = StartSim("tavik tester 2.1");
        auto other = StartSim("Scope 7");
        QVector<TReport> reports;
        StartSearch(Settings, false, [&](const QString &i, const QString &p, int b) {
            reports.append({i, p, b});
        });
        QCOMPARE(SearchEngine->SearchThreads.size(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(reports.size(), 2, 3000);
        WaitIdle();
        QCOMPARE(reports.size(), 2);
        QMap<QString, QString> byPort;
        for (const TReport &r : reports) {
            byPort[r.Port] = r.Ident;
            QCOMPARE(r.Baud, 115200);
        }
        QCOMPARE(byPort.value(tavik->PortName()), QString("tavik tester 2.1"));
        QCOMPARE(byPort.value(other->PortName()), QString("Scope 7"));
        const QString p = tavik->PortName();
        for (const QString &line :
             {p + " Thread Created", p + "   <in thread> Port Opened", p + "   <in thread> Send Request",
              p + " Received tavik tester 2.1", p + " Free", "(" + p + ")  Thread Done!"})
            QVERIFY2(LogHas(line), qPrintable(line + "\n" + SearchLogLines().join('\n')));
        // released 10 ms after the answer, so the second request never went out
        QCOMPARE(CountFrames(*tavik, true, 8, 0), 1);
        // every line carries the seconds since the search started, three decimals
        QVERIFY(QRegularExpression("^\\d+[.,]\\d{3} ").match(SearchLogLines().first()).hasMatch());
    }

    void silentAndUnopenablePortsAreNotReported() {
        TSimOptions quiet;
        quiet.Silent = true;
        auto silent = StartSim("Tavik", quiet);
        const QString plain = VirtualPortFolder() + "/NOTATTY";
        QFile f(VirtualPortFolder() + "/plain-file");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        QVERIFY(QFile::link(f.fileName(), plain));
        int reports = 0;
        StartSearch(Settings, false, [&](const QString &, const QString &, int) { ++reports; });
        WaitIdle();
        QFile::remove(plain);
        QFile::remove(f.fileName());
        QCOMPARE(reports, 0);
        const QString s = silent->PortName();
        QVERIFY(LogHas(s + " Receive TimeOut, Free"));
        QVERIFY(LogHas(s + " Thread Done!"));          // port still open when its thread ended
        QCOMPARE(CountFrames(*silent, true, 8, 0), 2); // both requests went out, 200 ms apart
        QVERIFY2(LogHas(plain + " Thread Done!   Can't Open"), qPrintable(SearchLogLines().join('\n')));
        QVERIFY(!LogHas(plain + "   <in thread> Port Opened"));
    }

    // The lines under "Device Not Found", one per port, in either language.
    void explanationLines_data() {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("ident");
        QTest::addColumn<QString>("english");
        QTest::addColumn<QString>("russian");
        QTest::newRow("other device") << int(spsAnswered) << "Other 1.0"
                                      << "Other 1.0 on P is not a Tamrel tester"
                                      << "Other 1.0 на P — не тестер Tamrel";
        QTest::newRow("device without a name") << int(spsAnswered) << ""
                                               << "A device without a name on P is not a Tamrel tester"
                                               << "Устройство без имени на P — не тестер Tamrel";
        QTest::newRow("silent") << int(spsOpened) << ""
                                << "P: opened, no answer"
                                << "P: открыт, ответа нет";
        QTest::newRow("still opening") << int(spsOpening) << ""
                                       << "P: did not open in time"
                                       << "P: не открылся вовремя";
        QTest::newRow("busy") << int(spsBusy) << ""
                              << "P: busy, another program uses it"
                              << "P: занят другой программой";
        QTest::newRow("no permission") << int(spsNoPermission) << ""
                                       << "P: no permission to open it; join the dialout group (sudo usermod "
                                          "-aG dialout $USER) and log in again"
                                       << "P: нет прав на открытие; вступите в группу dialout (sudo usermod "
                                          "-aG dialout $USER) и войдите в "
                                          "систему снова";
        QTest::newRow("gone") << int(spsNotFound) << ""
                              << "P: gone"
                              << "P: устройство исчезло";
        QTest::newRow("other failure") << int(spsOpenFailed) << ""
                                       << "P: cannot be opened (why)"
                                       << "P: не открывается (why)";
    }
    void explanationLines() {
        QFETCH(int, state);
        QFETCH(QString, ident);
        QFETCH(QString, english);
        QFETCH(QString, russian);
        const TSearchPortOutcome outcome{QStringLiteral("P"), TSearchPortState(state), ident,
                                         QStringLiteral("why")};
        QCOMPARE(ExplainSearch({outcome}, true), QStringList{english});
        QCOMPARE(ExplainSearch({outcome}, false), QStringList{russian});
    }
    // The mend for a port the user may not open: the package's udev rule while udev does not use
    // it (absent, or masked in a folder that comes first), else the dialout group.
    void noPermissionNamesTheRuleUntilItIsInForce_data() {
        QTest::addColumn<QString>("where");      // folder of a rule file of the package's name
        QTest::addColumn<QByteArray>("content"); // "->null": a link to /dev/null
        QTest::addColumn<QString>("masked");     // folder of a second file of that name, if any
        QTest::addColumn<bool>("ruleHint");
        QTest::newRow("no rule") << "" << QByteArray() << "" << true;
        QTest::newRow("the package's rule") << "usr-lib" << QByteArray("# rule\n") << "" << false;
        QTest::newRow("a copy in /usr/local") << "usr-local-lib" << QByteArray("# rule\n") << "" << false;
        QTest::newRow("only for this boot") << "run" << QByteArray("# rule\n") << "" << false;
        QTest::newRow("masked by a link to /dev/null")
            << "usr-lib" << QByteArray("# rule\n") << "etc" << true;
        QTest::newRow("masked by an empty file")
            << "usr-lib" << QByteArray("# rule\n") << "etc+empty" << true;
        QTest::newRow("overridden by the administrator's own")
            << "usr-lib" << QByteArray("# rule\n") << "etc+own" << false;
        QTest::newRow("an empty rule") << "usr-lib" << QByteArray() << "" << true;
    }
    void noPermissionNamesTheRuleUntilItIsInForce() {
        QFETCH(QString, where);
        QFETCH(QByteArray, content);
        QFETCH(QString, masked);
        QFETCH(bool, ruleHint);
        QTemporaryDir root;
        QStringList folders;
        for (const char *name : {"etc", "run", "usr-local-lib", "usr-lib"}) {
            QVERIFY(QDir(root.path()).mkdir(name));
            folders << root.filePath(name);
        }
        const QString name = "/70-tamrel-tester.rules";
        if (!where.isEmpty()) WriteFile(root.filePath(where) + name, content);
        if (masked == "etc") QVERIFY(QFile::link("/dev/null", root.filePath("etc") + name));
        if (masked == "etc+empty") WriteFile(root.filePath("etc") + name, QByteArray());
        if (masked == "etc+own") WriteFile(root.filePath("etc") + name, "# the administrator's\n");
        SetUdevRuleFoldersForTest(folders);
        const TSearchPortOutcome outcome{QStringLiteral("/dev/ttyUSB0"), spsNoPermission, {}, {}};
        const QString english = ExplainSearch({outcome}, true).join('\n');
        const QString russian = ExplainSearch({outcome}, false).join('\n');
        UseRuleFolders();
        if (ruleHint) {
            QCOMPARE(english,
                     "/dev/ttyUSB0: no permission to open it; install the tamrel package (its udev rule "
                     "70-tamrel-tester.rules lets the logged-in user open the tester's USB adapter) "
                     "and plug the tester in again, or join the dialout group (sudo usermod -aG "
                     "dialout $USER) and log in again");
            QCOMPARE(russian,
                     "/dev/ttyUSB0: нет прав на открытие; установите пакет tamrel (его правило udev "
                     "70-tamrel-tester.rules открывает USB-адаптер тестера вошедшему пользователю) и "
                     "подключите тестер заново, или вступите в группу dialout (sudo usermod -aG "
                     "dialout $USER) и войдите в систему снова");
        } else {
            QCOMPARE(english, "/dev/ttyUSB0: no permission to open it; join the dialout group (sudo usermod "
                              "-aG dialout $USER) and log in again");
            QCOMPARE(russian, "/dev/ttyUSB0: нет прав на открытие; вступите в группу dialout (sudo usermod "
                              "-aG dialout $USER) и войдите в систему снова");
        }
    }
    void explanationWithoutPorts() {
        QCOMPARE(ExplainSearch({}, true), QStringList{"No serial port found"});
        QCOMPARE(ExplainSearch({}, false), QStringList{"Последовательных портов нет"});
    }
    void openFailureKinds_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("state");
        QTest::newRow("EBUSY") << EBUSY << int(spsBusy);
        QTest::newRow("EACCES") << EACCES << int(spsNoPermission);
        QTest::newRow("EPERM") << EPERM << int(spsNoPermission);
        QTest::newRow("ENOENT") << ENOENT << int(spsNotFound);
        QTest::newRow("ENXIO") << ENXIO << int(spsNotFound);
        QTest::newRow("EIO") << EIO << int(spsOpenFailed);
        QTest::newRow("unknown") << 0 << int(spsOpenFailed);
    }
    void openFailureKinds() {
        QFETCH(int, code);
        QFETCH(int, state);
        QCOMPARE(int(SearchOpenFailureState(code)), state);
    }

    // Against real ports: another device, a silent tester, a port another program holds and
    // one that is no serial port; each port's line says what it did, also in the search log.
    void searchSaysWhatEachPortDid() {
        auto other = StartSim("Other 1.0");
        TSimOptions quiet;
        quiet.Silent = true;
        auto silent = StartSim("Tavik", quiet);
        auto held = StartSim("Tavik");
        TChildProcess holder;
        QVERIFY(holder.Start(QStringLiteral(PORT_HOLDER_EXE), {held->PortName()}));
        QCOMPARE(holder.ReadLine(10000).trimmed(), QByteArray("held"));
        QTemporaryDir elsewhere;
        QFile plain(elsewhere.filePath("plain-file"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        const QString notATty = VirtualPortFolder() + "/NOTATTY";
        QVERIFY(QFile::link(plain.fileName(), notATty));

        StartSearch(Settings, false, [](const QString &, const QString &, int) {});
        WaitIdle();
        holder.CloseWrite();
        QVERIFY(holder.WaitForFinished(10000));
        QFile::remove(notATty);
        QFile::remove(plain.fileName());

        QMap<QString, QString> lines;
        const QStringList explained = ExplainSearch(SearchEngine->Outcomes, true);
        QCOMPARE(explained.size(), 4);
        for (const QString &line : explained)
            for (const QString &port : {other->PortName(), silent->PortName(), held->PortName(), notATty})
                if (line.contains(port)) lines[port] = line;
        QCOMPARE(lines.value(other->PortName()),
                 "Other 1.0 on " + other->PortName() + " is not a Tamrel tester");
        QCOMPARE(lines.value(silent->PortName()), silent->PortName() + ": opened, no answer");
        QCOMPARE(lines.value(held->PortName()), held->PortName() + ": busy, another program uses it");
        QVERIFY2(lines.value(notATty).startsWith(notATty + ": cannot be opened ("),
                 qPrintable(lines.value(notATty)));
        // The reason of a port that would not open is in the search log too.
        QVERIFY2(LogHas(held->PortName() + ": busy, another program uses it"),
                 qPrintable(SearchLogLines().join('\n')));
    }

    // A port the user may not open: the hint to join the dialout group.
    void searchSaysWhenPermissionIsMissing() {
        if (geteuid() == 0) {
            // Root opens a port whatever its rights, so the refusal cannot happen in this
            // process: this function runs again in a copy of the program as "nobody", which
            // starts its own tester and is refused by the port's rights.
            TChildProcess child;
            QVERIFY(child.Start(QStringLiteral("runuser"),
                                {QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--"),
                                 QCoreApplication::applicationFilePath(),
                                 QStringLiteral("searchSaysWhenPermissionIsMissing")},
                                TChildProcess::ErrorMerged));
            QVERIFY(child.WaitForFinished(60000));
            const QString output = QString::fromLocal8Bit(child.ReadAll());
            // A build folder that "nobody" may not enter (a home folder of 0700) leaves no way.
            if (!output.contains(QLatin1String("Start testing of TPortSearchTest")))
                QSKIP(qPrintable("the test program cannot run as nobody from here: " + output.trimmed()));
            QVERIFY2(child.ExitCode() == 0, qPrintable(output));
            QVERIFY2(output.contains(
                         QLatin1String("PASS   : TPortSearchTest::searchSaysWhenPermissionIsMissing()")),
                     qPrintable(output));
            return;
        }
        auto tester = StartSim("Tavik");
        const QString device = QFileInfo(tester->PortName()).canonicalFilePath();
        QVERIFY(QFile::setPermissions(device, QFileDevice::Permissions()));
        StartSearch(Settings, false, [](const QString &, const QString &, int) {});
        WaitIdle();
        QFile::setPermissions(device, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        const QStringList explained = ExplainSearch(SearchEngine->Outcomes, true);
        QCOMPARE(explained.size(), 1);
        QVERIFY2(explained[0].contains("no permission to open it; join the dialout group"),
                 qPrintable(explained[0]));
    }

    void invalidSettingsStartNothing_data() {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("stopBits");
        QTest::newRow("baud 0") << 0 << int(dbEight) << int(prNone) << int(sbOneStopBit);
        QTest::newRow("data bits") << 9600 << int(dbEight) + 1 << int(prNone) << int(sbOneStopBit);
        QTest::newRow("parity") << 9600 << int(dbEight) << int(prSpace) + 1 << int(sbOneStopBit);
        QTest::newRow("stop bits") << 9600 << int(dbEight) << int(prNone) << int(sbTwoStopBits) + 1;
    }
    void invalidSettingsStartNothing() {
        QFETCH(int, baud);
        QFETCH(int, dataBits);
        QFETCH(int, parity);
        QFETCH(int, stopBits);
        AddSearchLog("before");
        const TSearchEngine *before = SearchEngine.get();
        try {
            StartSearch({baud, TDataBits(dataBits), TParityBits(parity), TStopBits(stopBits)}, false, {});
            QFAIL("search started");
        } catch (const ESearchError &e) {
            QCOMPARE(QString(e.what()), QString("Wrong COM-port settings"));
        }
        QCOMPARE(SearchEngine.get(), before);
        QVERIFY(LogHas("before"));
        QCOMPARE(ActiveSearchProbes(), 0);
    }

    // A second search while the first waits for a slow device: the log starts again and the
    // late answer goes to the second search's handler.
    void lateAnswerGoesToTheCurrentSearch() {
        TSimOptions slow;
        slow.AnswerDelayMs = 300;
        auto sim = StartSim("Tavik", slow);
        int first = 0, second = 0;
        StartSearch(Settings, false, [&](const QString &, const QString &, int) { ++first; });
        QTRY_VERIFY_WITH_TIMEOUT(LogHas(sim->PortName() + "   <in thread> Send Request"), 2000);
        StartSearch(Settings, false, [&](const QString &, const QString &, int) { ++second; });
        QTRY_COMPARE_WITH_TIMEOUT(second, 1, 3000);
        WaitIdle();
        QCOMPARE(first, 0);
        QCOMPARE(second, 1);
        QVERIFY(!LogHas(sim->PortName() + "   <in thread> Port Opened") ||
                LogHas(sim->PortName() + " Thread Done!   Can't Open"));
        QVERIFY(LogHas(sim->PortName() + " Received Tavik"));
    }

    void reportToClosedReceiverIsDropped() {
        auto sim = StartSim("Tavik");
        int reports = 0;
        auto *receiver = new QObject;
        StartSearch(
            Settings, false, [&](const QString &, const QString &, int) { ++reports; }, receiver);
        delete receiver;
        WaitIdle();
        QVERIFY(LogHas(sim->PortName() + " Free"));
        QCOMPARE(reports, 0);
    }

    // The report runs from a timer: an error its handler raises goes to the search's error
    // handler, the probe is freed all the same, and the next search works.
    void reportErrorGoesToTheErrorHandler() {
        auto sim = StartSim("Tavik");
        QStringList errors;
        StartSearch(
            Settings, false,
            [](const QString &, const QString &, int) { throw std::runtime_error("report refused"); },
            nullptr,
            [&](std::exception_ptr e) {
                try {
                    std::rethrow_exception(e);
                } catch (const std::exception &error) {
                    errors << QString::fromUtf8(error.what());
                }
            });
        QTRY_COMPARE_WITH_TIMEOUT(errors.size(), 1, 3000);
        WaitIdle();
        QCOMPARE(errors, QStringList{"report refused"});
        QVERIFY(LogHas(sim->PortName() + " Free"));
        int reports = 0;
        StartSearch(Settings, false, [&](const QString &, const QString &, int) { ++reports; });
        QTRY_COMPARE_WITH_TIMEOUT(reports, 1, 3000);
    }

    // A device that answers one request twice in a row: the probe reports once.
    void twoQuickAnswersGiveOneReport() {
        TPtyPair Pty;
        QVERIFY(Pty.Ok());
        const QString link = VirtualPortFolder() + "/DOUBLE0";
        QVERIFY(QFile::link(Pty.SlaveName, link));
        std::atomic<bool> answered{false};
        std::thread device([&] {
            if (Pty.Read(4, 3000).isEmpty()) // the request
                return;
            const QByteArray answer = KvCodec::FrameCheckSum(QByteArray("\x07\x00\x01", 3) + "Tavik twice");
            Pty.Write(answer + answer);
            answered = true;
        });
        QVector<TReport> reports;
        StartSearch(Settings, false, [&](const QString &i, const QString &p, int b) {
            reports.append({i, p, b});
        });
        WaitIdle();
        device.join();
        QFile::remove(link);
        QVERIFY(answered);
        QCOMPARE(reports.size(), 1);
        QCOMPARE(reports[0].Ident, QString("Tavik twice"));
        QCOMPARE(reports[0].Port, link);
    }

    void noPortsNoProbes() {
        SetComPortTable(std::make_shared<TComPortTableNone>());
        int reports = 0;
        StartSearch(Settings, true, [&](const QString &, const QString &, int) { ++reports; });
        SetComPortTable(std::make_shared<TVirtualPortTable>());
        QCOMPARE(SearchEngine->SearchThreads.size(), 0);
        QCOMPARE(ActiveSearchProbes(), 0);
        QVERIFY(SearchLogLines().isEmpty());
    }

private:
    class TComPortTableNone : public IComPortTable {
    public:
        TComNameDescriptions ReadTable() override { return {}; }
    };
};

TAMREL_TEST_MAIN_CORE(TPortSearchTest)
#include "tst_PortSearch.moc"
