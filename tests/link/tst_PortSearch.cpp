// The port search against simulated testers on real pseudo-terminals: reports, log lines,
// ports that cannot be opened or do not answer, invalid settings, overlapping searches.
#include "TestMain.h"
#include "uFormConnectionSettingsMorvaSearch.h"
#include "uKvFrameCodec.h"
#include "uLinkTestSupport.h"
#include "uPtyPair.h"

#include <thread>

struct TReport {
    QString Ident, Port;
    int Baud;
};

class TPortSearchTest : public QObject {
    Q_OBJECT
    std::unique_ptr<TLinkRuntime> Runtime;
    const TComSettings Settings{115200, dbEight, prNone, sbOneStopBit};

    static bool LogHas(const QString &line) {
        for (const QString &l : SearchLogLines())
            if (l.section(' ', 1) == line) return true;
        return false;
    }
    static void WaitIdle() { QTRY_COMPARE_WITH_TIMEOUT(ActiveSearchProbes(), 0, 5000); }

private slots:
    void initTestCase() { Runtime = std::make_unique<TLinkRuntime>(); }
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
