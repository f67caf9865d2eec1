// tamrel-update-server serving the bundled demo tree, as ./scripts/run starts it: the frame
// finds the tester's folder, lists its release note and its firmware image last, and the
// image is meant for the simulated tester's boot loader and fits its flash.
#include "TestMain.h"
#include "uFrameInternetUpdates.h"
#include "uKvApplication.h"
#include "uSimOptions.h"

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
    void initTestCase() {
        Server.start(TAMREL_UPDATE_SERVER_EXE, {"--updates", TAMREL_DEMO_UPDATES, "--http-port", "0"});
        QVERIFY(Server.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(Server.canReadLine(), 10000);
        const QString Line = QString::fromUtf8(Server.readLine()).trimmed();
        QVERIFY2(Line.startsWith("Update server: http://127.0.0.1:"), qPrintable(Line));
        Base = Line.mid(QString("Update server: ").size());
        QVERIFY(Base.endsWith("/firmware_update/KVBL/"));
        TKvApplication::SetErrorDisplay([this](const QString &M) { Errors << M; });
    }
    void cleanupTestCase() {
        TKvApplication::SetErrorDisplay({});
        Server.terminate();
        Server.waitForFinished();
    }

    void demoTreeThroughTheFrame() {
        TFrameInternetUpdates Frame;
        Frame.BaseAddress = Base;
        QVector<QPair<QByteArray, QString>> Loads;
        Frame.LoadFirmwareBuffer = [&](const QByteArray &B, const QString &N, bool) { Loads.append({B, N}); };
        Frame.EditSelectDevice->setText("TAMREL");
        Frame.ButtonCheckUpdatesGetDevicesClick();
        QTRY_VERIFY_WITH_TIMEOUT(!Frame.IsRequestRunning(), 20000);
        QCOMPARE(Errors, QStringList{});
        QCOMPARE(Frame.ListViewDevices->topLevelItemCount(), 2);
        QCOMPARE(Frame.ListViewDevices->topLevelItem(0)->text(0), QString("TAMREL"));
        QCOMPARE(Frame.ListViewDevices->topLevelItem(1)->text(0), QString("TAMREL-LAB"));
        QCOMPARE(Frame.FileGroupItem(0)->childCount(), 1);
        QCOMPARE(Frame.FileGroupItem(2)->childCount(), 1);
        QCOMPARE(Frame.FileGroupItem(0)->child(0)->text(0), QString("Tamrel 1.7"));
        QCOMPARE(Frame.SelectedFileRow(), Frame.FileGroupItem(0)->child(0));
        Frame.ButtonDownloadFirmwareClick();
        QTRY_VERIFY_WITH_TIMEOUT(!Frame.IsRequestRunning(), 20000);
        QCOMPARE(Errors, QStringList{});
        QCOMPARE(Loads.size(), 1);
        // Meant for the simulated tester: its boot loader's identification, smaller than its flash.
        const TSimOptions Sim;
        const QString Name = Loads.first().second;
        const QString Ident = Name.section("DeviceIdentStr=", 1).section(';', 0, 0).section('.', 0, 0);
        QCOMPARE(Ident.toLower(), Sim.LoaderIdent.toLower());
        QVERIFY(!Loads.first().first.isEmpty());
        QVERIFY(Loads.first().first.size() < Sim.FlashSizeKiB * 1024);
    }

    // The server never serves anything outside its folder.
    void pathsOutsideTheTreeNotServed_data() {
        QTest::addColumn<QByteArray>("Path");
        QTest::newRow("dot dot") << QByteArray("/firmware_update/../../../etc/passwd");
        QTest::newRow("escaped dot dot") << QByteArray("/firmware_update/%2e%2e/%2e%2e/%2e%2e/etc/passwd");
        QTest::newRow("escaped slash") << QByteArray("/..%2f..%2f..%2fetc%2fpasswd");
    }
    void pathsOutsideTheTreeNotServed() {
        QFETCH(QByteArray, Path);
        QTcpSocket S;
        S.connectToHost(QHostAddress::LocalHost, quint16(QUrl(Base).port()));
        QVERIFY(S.waitForConnected(5000));
        S.write("GET " + Path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(S.canReadLine(), 5000);
        QCOMPARE(S.readLine(), QByteArray("HTTP/1.1 404 Not Found\r\n"));
    }

    void badOptions_data() {
        QTest::addColumn<QStringList>("Args");
        QTest::addColumn<QByteArray>("Message");
        QTest::newRow("no folder") << QStringList{"--http-port", "0"}
                                   << QByteArray("--updates: give the folder");
        QTest::newRow("bad port") << QStringList{"--updates", TAMREL_DEMO_UPDATES, "--http-port", "70000"}
                                  << QByteArray("--http-port: expected a number");
        QTest::newRow("unknown option") << QStringList{"--nonsense"} << QByteArray("nonsense");
    }
    void badOptions() {
        QFETCH(QStringList, Args);
        QFETCH(QByteArray, Message);
        QProcess P;
        P.start(TAMREL_UPDATE_SERVER_EXE, Args);
        QVERIFY(P.waitForFinished(10000));
        QCOMPARE(P.exitCode(), 2);
        QVERIFY2(P.readAllStandardError().contains(Message), Message.constData());
    }
};

TAMREL_TEST_MAIN(TUpdateServerExecutableTest)
#include "tst_UpdateServerExecutable.moc"
