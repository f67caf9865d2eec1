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

    static bool LogHas(const QString &Line) {
        for (const QString &L : SearchLogLines())
            if (L.section(' ', 1) == Line) return true;
        return false;
    }
    static void WaitIdle() { QTRY_COMPARE_WITH_TIMEOUT(ActiveSearchProbes(), 0, 5000); }

private slots:
    void initTestCase() { Runtime = std::make_unique<TLinkRuntime>(); }
    void cleanup() { WaitIdle(); }

    void everyAnsweringPortIsReportedOnce() {
        auto Tavik = StartSim("tavik tester 2.1");
        auto Other = StartSim("Scope 7");
        QVector<TReport> Reports;
        StartSearch(Settings, false, [&](const QString &I, const QString &P, int B) {
            Reports.append({I, P, B});
        });
        QCOMPARE(SearchEngine->SearchThreads.size(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(Reports.size(), 2, 3000);
        WaitIdle();
        QCOMPARE(Reports.size(), 2);
        QMap<QString, QString> ByPort;
        for (const TReport &R : Reports) {
            ByPort[R.Port] = R.Ident;
            QCOMPARE(R.Baud, 115200);
        }
        QCOMPARE(ByPort.value(Tavik->PortName()), QString("tavik tester 2.1"));
        QCOMPARE(ByPort.value(Other->PortName()), QString("Scope 7"));
        const QString P = Tavik->PortName();
        for (const QString &Line :
             {P + " Thread Created", P + "   <in thread> Port Opened", P + "   <in thread> Send Request",
              P + " Received tavik tester 2.1", P + " Free", "(" + P + ")  Thread Done!"})
            QVERIFY2(LogHas(Line), qPrintable(Line + "\n" + SearchLogLines().join('\n')));
        // released 10 ms after the answer, so the second request never went out
        QCOMPARE(CountFrames(*Tavik, true, 8, 0), 1);
        // every line carries the seconds since the search started, three decimals
        QVERIFY(QRegularExpression("^\\d+[.,]\\d{3} ").match(SearchLogLines().first()).hasMatch());
    }

    void silentAndUnopenablePortsAreNotReported() {
        TSimOptions Quiet;
        Quiet.Silent = true;
        auto Silent = StartSim("Tavik", Quiet);
        const QString Plain = VirtualPortFolder() + "/NOTATTY";
        QFile F(VirtualPortFolder() + "/plain-file");
        QVERIFY(F.open(QIODevice::WriteOnly));
        F.close();
        QVERIFY(QFile::link(F.fileName(), Plain));
        int Reports = 0;
        StartSearch(Settings, false, [&](const QString &, const QString &, int) { ++Reports; });
        WaitIdle();
        QFile::remove(Plain);
        QFile::remove(F.fileName());
        QCOMPARE(Reports, 0);
        const QString S = Silent->PortName();
        QVERIFY(LogHas(S + " Receive TimeOut, Free"));
        QVERIFY(LogHas(S + " Thread Done!"));          // port still open when its thread ended
        QCOMPARE(CountFrames(*Silent, true, 8, 0), 2); // both requests went out, 200 ms apart
        QVERIFY2(LogHas(Plain + " Thread Done!   Can't Open"), qPrintable(SearchLogLines().join('\n')));
        QVERIFY(!LogHas(Plain + "   <in thread> Port Opened"));
    }

    void invalidSettingsStartNothing_data() {
        QTest::addColumn<int>("Baud");
        QTest::addColumn<int>("DataBits");
        QTest::addColumn<int>("Parity");
        QTest::addColumn<int>("StopBits");
        QTest::newRow("baud 0") << 0 << int(dbEight) << int(prNone) << int(sbOneStopBit);
        QTest::newRow("data bits") << 9600 << int(dbEight) + 1 << int(prNone) << int(sbOneStopBit);
        QTest::newRow("parity") << 9600 << int(dbEight) << int(prSpace) + 1 << int(sbOneStopBit);
        QTest::newRow("stop bits") << 9600 << int(dbEight) << int(prNone) << int(sbTwoStopBits) + 1;
    }
    void invalidSettingsStartNothing() {
        QFETCH(int, Baud);
        QFETCH(int, DataBits);
        QFETCH(int, Parity);
        QFETCH(int, StopBits);
        AddSearchLog("before");
        const TSearchEngine *Before = SearchEngine.get();
        try {
            StartSearch({Baud, TDataBits(DataBits), TParityBits(Parity), TStopBits(StopBits)}, false, {});
            QFAIL("search started");
        } catch (const ESearchError &E) {
            QCOMPARE(QString(E.what()), QString("Wrong COM-port settings"));
        }
        QCOMPARE(SearchEngine.get(), Before);
        QVERIFY(LogHas("before"));
        QCOMPARE(ActiveSearchProbes(), 0);
    }

    // A second search while the first waits for a slow device: the log starts again and the
    // late answer goes to the second search's handler.
    void lateAnswerGoesToTheCurrentSearch() {
        TSimOptions Slow;
        Slow.AnswerDelayMs = 300;
        auto Sim = StartSim("Tavik", Slow);
        int First = 0, Second = 0;
        StartSearch(Settings, false, [&](const QString &, const QString &, int) { ++First; });
        QTRY_VERIFY_WITH_TIMEOUT(LogHas(Sim->PortName() + "   <in thread> Send Request"), 2000);
        StartSearch(Settings, false, [&](const QString &, const QString &, int) { ++Second; });
        QTRY_COMPARE_WITH_TIMEOUT(Second, 1, 3000);
        WaitIdle();
        QCOMPARE(First, 0);
        QCOMPARE(Second, 1);
        QVERIFY(!LogHas(Sim->PortName() + "   <in thread> Port Opened") ||
                LogHas(Sim->PortName() + " Thread Done!   Can't Open"));
        QVERIFY(LogHas(Sim->PortName() + " Received Tavik"));
    }

    void reportToClosedReceiverIsDropped() {
        auto Sim = StartSim("Tavik");
        int Reports = 0;
        auto *Receiver = new QObject;
        StartSearch(
            Settings, false, [&](const QString &, const QString &, int) { ++Reports; }, Receiver);
        delete Receiver;
        WaitIdle();
        QVERIFY(LogHas(Sim->PortName() + " Free"));
        QCOMPARE(Reports, 0);
    }

    // The report runs from a timer: an error its handler raises goes to the search's error
    // handler, the probe is freed all the same, and the next search works.
    void reportErrorGoesToTheErrorHandler() {
        auto Sim = StartSim("Tavik");
        QStringList Errors;
        StartSearch(
            Settings, false,
            [](const QString &, const QString &, int) { throw std::runtime_error("report refused"); },
            nullptr,
            [&](std::exception_ptr E) {
                try {
                    std::rethrow_exception(E);
                } catch (const std::exception &Error) {
                    Errors << QString::fromUtf8(Error.what());
                }
            });
        QTRY_COMPARE_WITH_TIMEOUT(Errors.size(), 1, 3000);
        WaitIdle();
        QCOMPARE(Errors, QStringList{"report refused"});
        QVERIFY(LogHas(Sim->PortName() + " Free"));
        int Reports = 0;
        StartSearch(Settings, false, [&](const QString &, const QString &, int) { ++Reports; });
        QTRY_COMPARE_WITH_TIMEOUT(Reports, 1, 3000);
    }

    // A device that answers one request twice in a row: the probe reports once.
    void twoQuickAnswersGiveOneReport() {
        TPtyPair Pty;
        QVERIFY(Pty.Ok());
        const QString Link = VirtualPortFolder() + "/DOUBLE0";
        QVERIFY(QFile::link(Pty.SlaveName, Link));
        std::atomic<bool> Answered{false};
        std::thread Device([&] {
            if (Pty.Read(4, 3000).isEmpty()) // the request
                return;
            const QByteArray Answer = KvCodec::FrameCheckSum(QByteArray("\x07\x00\x01", 3) + "Tavik twice");
            Pty.Write(Answer + Answer);
            Answered = true;
        });
        QVector<TReport> Reports;
        StartSearch(Settings, false, [&](const QString &I, const QString &P, int B) {
            Reports.append({I, P, B});
        });
        WaitIdle();
        Device.join();
        QFile::remove(Link);
        QVERIFY(Answered);
        QCOMPARE(Reports.size(), 1);
        QCOMPARE(Reports[0].Ident, QString("Tavik twice"));
        QCOMPARE(Reports[0].Port, Link);
    }

    void noPortsNoProbes() {
        SetComPortTable(std::make_shared<TComPortTableNone>());
        int Reports = 0;
        StartSearch(Settings, true, [&](const QString &, const QString &, int) { ++Reports; });
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
