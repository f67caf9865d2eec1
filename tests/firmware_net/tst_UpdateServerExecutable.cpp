// tamrel-update-server serving the bundled demo tree, as ./scripts/run starts it: the frame
// finds the tester's folder, lists its release note and its firmware image last, and the
// image is meant for the simulated tester's boot loader and fits its flash.
#include "TestMain.h"
#include "uFrameInternetUpdates.h"
#include "uHttpResponses.h"
#include "uKvApplication.h"
#include "uSimOptions.h"

#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTcpSocket>
#include <QTreeWidget>

class TUpdateServerExecutableTest : public QObject {
    Q_OBJECT
    QProcess Server;
    QString Base;
    QStringList Errors;

private slots:
    // The server's resident memory, from the system's view of its process.
    qint64 ServerRssBytes() const {
        QFile status(QStringLiteral("/proc/%1/status").arg(Server.processId()));
        if (!status.open(QIODevice::ReadOnly)) return -1;
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
        return -1;
    }

    void initTestCase() {
        // Memory freed by the server goes back to use at once, also under AddressSanitizer,
        // whose quarantine would otherwise hold on to it and look like growth.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
        env.insert(QStringLiteral("ASAN_OPTIONS"),
                   (asan.isEmpty() ? QString() : asan + u':') + QStringLiteral("quarantine_size_mb=1"));
        Server.setProcessEnvironment(env);
        Server.start(TAMREL_UPDATE_SERVER_EXE, {"--updates", TAMREL_DEMO_UPDATES, "--http-port", "0"});
        QVERIFY(Server.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(Server.canReadLine(), 10000);
        const QString line = QString::fromUtf8(Server.readLine()).trimmed();
        QVERIFY2(line.startsWith("Update server: http://127.0.0.1:"), qPrintable(line));
        Base = line.mid(QString("Update server: ").size());
        QVERIFY(Base.endsWith("/firmware_update/KVBL/"));
        TKvApplication::SetErrorDisplay([this](const QString &m) { Errors << m; });
    }
    void cleanupTestCase() {
        TKvApplication::SetErrorDisplay({});
        Server.terminate();
        Server.waitForFinished();
    }

    void demoTreeThroughTheFrame() {
        TFrameInternetUpdates frame;
        frame.BaseAddress = Base;
        QVector<QPair<QByteArray, QString>> loads;
        frame.LoadFirmwareBuffer = [&](const QByteArray &b, const QString &n, bool) { loads.append({b, n}); };
        frame.EditSelectDevice->setText("TAMREL");
        frame.ButtonCheckUpdatesGetDevicesClick();
        QTRY_VERIFY_WITH_TIMEOUT(!frame.IsRequestRunning(), 20000);
        QCOMPARE(Errors, QStringList{});
        QCOMPARE(frame.ListViewDevices->topLevelItemCount(), 2);
        QCOMPARE(frame.ListViewDevices->topLevelItem(0)->text(0), QString("TAMREL"));
        QCOMPARE(frame.ListViewDevices->topLevelItem(1)->text(0), QString("TAMREL-LAB"));
        QCOMPARE(frame.FileGroupItem(0)->childCount(), 1);
        QCOMPARE(frame.FileGroupItem(2)->childCount(), 1);
        QCOMPARE(frame.FileGroupItem(0)->child(0)->text(0), QString("Tamrel 1.7"));
        QCOMPARE(frame.SelectedFileRow(), frame.FileGroupItem(0)->child(0));
        frame.ButtonDownloadFirmwareClick();
        QTRY_VERIFY_WITH_TIMEOUT(!frame.IsRequestRunning(), 20000);
        QCOMPARE(Errors, QStringList{});
        QCOMPARE(loads.size(), 1);
        // Meant for the simulated tester: its boot loader's identification, smaller than its flash.
        const TSimOptions sim;
        const QString name = loads.first().second;
        const QString ident = name.section("DeviceIdentStr=", 1).section(';', 0, 0).section('.', 0, 0);
        QCOMPARE(ident.toLower(), sim.LoaderIdent.toLower());
        QVERIFY(!loads.first().first.isEmpty());
        QVERIFY(loads.first().first.size() < sim.FlashSizeKiB * 1024);
    }

    // The server never serves anything outside its folder.
    void pathsOutsideTheTreeNotServed_data() {
        QTest::addColumn<QByteArray>("path");
        QTest::newRow("dot dot") << QByteArray("/firmware_update/../../../etc/passwd");
        QTest::newRow("escaped dot dot") << QByteArray("/firmware_update/%2e%2e/%2e%2e/%2e%2e/etc/passwd");
        QTest::newRow("escaped slash") << QByteArray("/..%2f..%2f..%2fetc%2fpasswd");
    }
    void pathsOutsideTheTreeNotServed() {
        QFETCH(QByteArray, path);
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, quint16(QUrl(Base).port()));
        QVERIFY(s.waitForConnected(5000));
        s.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(s.canReadLine(), 5000);
        QCOMPARE(s.readLine(), QByteArray("HTTP/1.1 404 Not Found\r\n"));
    }

    // 21,000 requests as the program's client sends them, a hundred at a time without waiting
    // on one connection: every one is answered, and the server holds no more memory after the
    // last twenty thousand than after the first thousand.
    void manyRequestsLeaveTheServersMemoryAsItWas() {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, quint16(QUrl(Base).port()));
        QVERIFY(s.waitForConnected(5000));
        const QByteArray request = "GET /firmware_update/KVBL/TAMREL/index.txt HTTP/1.1\r\n"
                                   "Host: 127.0.0.1\r\nAccept: text/html, */*\r\n"
                                   "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
                                   "Accept-Encoding: gzip, deflate\r\nAccept-Language: ru-RU,en,*\r\n"
                                   "Connection: Keep-Alive\r\n\r\n";
        QByteArray batch;
        for (int i = 0; i < 100; ++i)
            batch += request;
        QByteArray in;
        qint64 answered = 0;
        auto run = [&](int batches) {
            for (int b = 0; b < batches; ++b) {
                s.write(batch);
                const qint64 want = answered + 100;
                while (answered < want) {
                    if (!s.waitForReadyRead(10000)) return false;
                    in += s.readAll();
                    for (const THttpResponse &r : TakeHttpResponses(in)) {
                        if (r.Status != 200) return false;
                        ++answered;
                    }
                }
            }
            return true;
        };
        QVERIFY(run(10));
        const qint64 rssBefore = ServerRssBytes();
        QVERIFY(rssBefore > 0);
        QVERIFY(run(200));
        QCOMPARE(answered, qint64(21000));
        const qint64 grown = ServerRssBytes() - rssBefore;
        QVERIFY2(grown < 8 * 1024 * 1024, qPrintable(QStringLiteral("grew by %1 KiB").arg(grown / 1024)));
    }

    void badOptions_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("no folder") << QStringList{"--http-port", "0"}
                                   << QByteArray("--updates: give the folder");
        QTest::newRow("bad port") << QStringList{"--updates", TAMREL_DEMO_UPDATES, "--http-port", "70000"}
                                  << QByteArray("--http-port: expected a number");
        QTest::newRow("unknown option") << QStringList{"--nonsense"} << QByteArray("nonsense");
    }
    void badOptions() {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, message);
        QProcess p;
        p.start(TAMREL_UPDATE_SERVER_EXE, args);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY2(p.readAllStandardError().contains(message), message.constData());
    }
};

TAMREL_TEST_MAIN(TUpdateServerExecutableTest)
#include "tst_UpdateServerExecutable.moc"
