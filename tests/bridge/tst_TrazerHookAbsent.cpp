// An engine in a program that does not link the shared-memory server: a server name creates
// nothing, and the engine's trace log says so once.
#include "KvTestFixture.h"
#include "TestMain.h"
#include "uKvProtocol.h"
#include "uKvTrazerHook.h"

#include <QDir>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

class TestTrazerHookAbsent : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;

    static QStringList LogLines(const TKvProtocol &engine) {
        QFile file(engine.LogFileName());
        if (!file.open(QIODevice::ReadOnly)) return {};
        return QString::fromLocal8Bit(file.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase() {
        QVERIFY(FDir.isValid());
        QVERIFY(QDir::setCurrent(FDir.path())); // the trace logs land here
    }

    void serverNameWithoutServerLibrary() {
        QVERIFY(!TrazerServerFactory());
        const QString name = QStringLiteral("TamrelTest%1NoBridge").arg(QCoreApplication::applicationPid());
        QList<quint8> notified;
        auto engine =
            std::make_unique<TKvProtocol>([](const QByteArray &) {}, TKvRegistersDynArray{},
                                          [&](TKvProtocol *, quint8 r) { notified << r; }, TOnAck{},
                                          TOutputData{}, true, QStringLiteral("HookLog"), false, name);
        QVERIFY(!engine->TrazerServerI);
        QVERIFY(!engine->OnReceivedRegisterTrazer);
        QVERIFY(!engine->Registers[253].Known);
        QVERIFY(!engine->Registers[254].Known);
        const int fd = shm_open(("/" + name).toUtf8().constData(), O_RDONLY, 0);
        QCOMPARE(fd, -1);
        QVERIFY(shm_open(("/" + name + "Mutex").toUtf8().constData(), O_RDONLY, 0) == -1);

        // The engine works as without a server, and the log names the missing server once.
        engine->InputData(DeviceFrame(Hex("07 FE 0A 01 02 03")));
        engine->InputData(DeviceFrame(Hex("07 FE 0A 04")));
        QCOMPARE(notified, (QList<quint8>{254, 254}));
        const QStringList lines = LogLines(*engine);
        QCOMPARE(lines.filter(QStringLiteral("TrazerServer")).size(), 1);
        QVERIFY(lines.filter(QStringLiteral("TrazerServer"))
                    .first()
                    .endsWith(QStringLiteral(
                                  "TrazerServer \"%1\" not created: no shared-memory server in this program")
                                  .arg(name)));
        QVERIFY(lines.first().endsWith(QStringLiteral("KvProtocol Created")));
    }

    void noServerNameNoLine() {
        TKvProtocol engine([](const QByteArray &) {}, {}, {}, {}, {}, true, QStringLiteral("HookLogEmpty"),
                           false);
        QVERIFY(!engine.TrazerServerI);
        QVERIFY(LogLines(engine).filter(QStringLiteral("TrazerServer")).isEmpty());
    }
};

TAMREL_TEST_MAIN_CORE(TestTrazerHookAbsent)
#include "tst_TrazerHookAbsent.moc"
