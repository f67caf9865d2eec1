// The demo update server as an HTTP server, spoken to with raw bytes over a real socket on
// 127.0.0.1: requests sent ahead without waiting (pipelining) are answered whole and in
// order, a client's "close" is kept, and a request head that never ends is refused.
#include "TestMain.h"
#include "uHttpResponses.h"
#include "uSimUpdateServer.h"

#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>

namespace {

QByteArray Pattern(int size, int seed) {
    QByteArray b(size, 0);
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 13 + seed + i / 509) & 0xFF);
    return b;
}

} // namespace

class TUpdateServerHttpTest : public QObject {
    Q_OBJECT
    QTemporaryDir Tree;
    std::unique_ptr<TSimUpdateServer> Server;
    QByteArray Big, Small;

    void Put(const QString &name, const QByteArray &bytes) {
        const QString path = QDir(Tree.path()).filePath("firmware_update/KVBL/TAMREL/" + name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(bytes), qint64(bytes.size()));
    }
    static QByteArray Get(const QByteArray &path, const QByteArray &extra = {}) {
        return "GET /firmware_update/KVBL/TAMREL/" + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra +
               "\r\n";
    }
    void Connect(QTcpSocket &s) {
        s.connectToHost(QHostAddress::LocalHost, Server->Port());
        QVERIFY(s.waitForConnected(5000));
    }

private slots:
    void initTestCase() {
        QVERIFY(Tree.isValid());
        // Larger than what the server writes at once, so that its body goes out in parts.
        Big = Pattern(300 * 1024, 1);
        Small = Pattern(700, 2);
        Put("big.bin", Big);
        Put("small.bin", Small);
        TSimUpdateServerOptions o;
        o.Root = Tree.path();
        o.Port = 0;
        Server = std::make_unique<TSimUpdateServer>(o);
        QString error;
        QVERIFY2(Server->Start(&error), qPrintable(error));
    }
    void init() {
        Server->Options.ThrottleBytesPerSecond = 0;
        Server->Options.NoContentLength = false;
    }

    // Five requests in one write: five answers, each head followed by its own body, in the
    // order asked.
    void pipelinedRequestsAnsweredInOrder_data() {
        QTest::addColumn<int>("bytesPerSecond");
        QTest::newRow("as fast as the socket drains") << 0;
        QTest::newRow("throttled") << 1024 * 1024;
    }
    void pipelinedRequestsAnsweredInOrder() {
        QFETCH(int, bytesPerSecond);
        Server->Options.ThrottleBytesPerSecond = bytesPerSecond;
        QTcpSocket s;
        Connect(s);
        const qint64 before = Server->RequestCount();
        s.write(Get("big.bin") + Get("small.bin") + Get("missing.bin") + Get("big.bin") + Get("small.bin"));
        QByteArray in;
        QList<THttpResponse> got;
        QTRY_VERIFY_WITH_TIMEOUT((in += s.readAll(), got += TakeHttpResponses(in), got.size() >= 5), 30000);
        QCOMPARE(got.size(), 5);
        const QList<int> statuses{got[0].Status, got[1].Status, got[2].Status, got[3].Status, got[4].Status};
        QCOMPARE(statuses, (QList<int>{200, 200, 404, 200, 200}));
        QVERIFY(got[0].Body == Big);
        QVERIFY(got[1].Body == Small);
        QVERIFY(got[3].Body == Big);
        QVERIFY(got[4].Body == Small);
        QCOMPARE(in, QByteArray()); // nothing after the last answer
        QCOMPARE(Server->RequestCount(), before + 5);
        QCOMPARE(s.state(), QAbstractSocket::ConnectedState); // kept for more
    }

    // A client that asks to close gets its answer and the close; what it sent after that
    // request is not answered.
    void closeAfterTheRequestThatAsksForIt_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::newRow("HTTP/1.1, Connection: close") << Get("small.bin", "Connection: close\r\n");
        QTest::newRow("HTTP/1.0") << QByteArray(
            "GET /firmware_update/KVBL/TAMREL/small.bin HTTP/1.0\r\n\r\n");
    }
    void closeAfterTheRequestThatAsksForIt() {
        QFETCH(QByteArray, request);
        QTcpSocket s;
        Connect(s);
        s.write(request + Get("big.bin"));
        QTRY_VERIFY_WITH_TIMEOUT(s.state() == QAbstractSocket::UnconnectedState, 10000);
        QByteArray in = s.readAll();
        const QList<THttpResponse> got = TakeHttpResponses(in);
        QCOMPARE(got.size(), 1);
        QVERIFY(got[0].Body == Small);
        QVERIFY2(got[0].Head.contains("Connection: close"), got[0].Head.constData());
        QCOMPARE(in, QByteArray());
    }

    // A head that never ends is refused once it is longer than any real one.
    void endlessRequestHeadRefused() {
        QTcpSocket s;
        Connect(s);
        s.write("GET /firmware_update/KVBL/TAMREL/small.bin HTTP/1.1\r\nX-Filler: ");
        s.write(QByteArray(64 * 1024, 'x'));
        QTRY_VERIFY_WITH_TIMEOUT(s.state() == QAbstractSocket::UnconnectedState, 10000);
        QVERIFY2(s.readAll().startsWith("HTTP/1.1 431 "), "no 431");
    }
};

TAMREL_TEST_MAIN_CORE(TUpdateServerHttpTest)
#include "tst_UpdateServerHttp.moc"
