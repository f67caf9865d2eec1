// Servers coming and going: two side by side, a second one under a name in use, one whose
// previous instance crashed and left its named objects behind, and one whose name the host
// cannot use.
#include "TestMain.h"
#include "TrazerTestSupport.h"

#include <QDir>
#include <QScopeGuard>

class TestTrazerLifetime : public QObject {
    Q_OBJECT

    TCompanionSession C;
    std::unique_ptr<TCompanion> D; // a second companion for a second block

private slots:
    void initTestCase() {
        QVERIFY(C.Start());
        D = std::make_unique<TCompanion>(C.SettingsPath());
        QVERIFY(D->Started());
    }
    void cleanupTestCase() {
        C.Stop();
        D.reset();
    }

    void twoServersSideBySide() {
        const QString nameA = UniqueServerName(QStringLiteral("SideA"));
        const QString nameB = UniqueServerName(QStringLiteral("SideB"));
        auto a = std::make_unique<TServedEngine>(nameA);
        TServedEngine b(nameB, {Declared(5, rtU8)});
        QCOMPARE(C->Ask("open " + nameA), QStringLiteral("ok 1000289"));
        QCOMPARE(D->Ask("open " + nameB), QStringLiteral("ok 1000289"));
        QCOMPARE(C->Ask("alive " + nameA), QStringLiteral("alive"));
        QCOMPARE(C->Ask("alive " + nameB), QStringLiteral("alive"));
        QCOMPARE(C->Ask("registry " + nameA), QStringLiteral("present"));
        QCOMPARE(C->Ask("registry " + nameB), QStringLiteral("present"));
        QCOMPARE(C->Ask("setcount 0"), QStringLiteral("ok"));
        QCOMPARE(D->Ask("setcount 0"), QStringLiteral("ok"));

        a->Stream("from A");
        b.Stream("from B");
        b.Stream("again B");
        QCOMPARE(C->Ask("take"), QStringLiteral("records 1 torn 0 ") + HexOf("from A"));
        QCOMPARE(D->Ask("take"),
                 QStringLiteral("records 2 torn 0 ") + HexOf("from B") + " " + HexOf("again B"));

        // Commands go to the engine whose block carries them.
        QCOMPARE(D->Ask("write 5 3"), QStringLiteral("ok"));
        a->Traffic();
        QVERIFY(a->Sent.isEmpty());
        b.Traffic();
        QCOMPARE(b.Sent, QList<QByteArray>{Hex("07 05 02 03")});

        a.reset();
        QCOMPARE(C->Ask("alive " + nameA), QStringLiteral("missing"));
        QCOMPARE(C->Ask("registry " + nameA), QStringLiteral("absent"));
        QCOMPARE(C->Ask("alive " + nameB), QStringLiteral("alive"));
        QCOMPARE(C->Ask("registry " + nameB), QStringLiteral("present"));
        b.Stream("B lives");
        QCOMPARE(D->Ask("take"), QStringLiteral("records 1 torn 0 ") + HexOf("B lives"));
    }

    // One server per name: a second engine under a name in use gets no block and says why; the
    // first keeps serving and its names stay when the second goes. Once the first has ended,
    // the name is free for a new one.
    void secondServerOfANameInUseIsRefused() {
        const QString name = UniqueServerName(QStringLiteral("Same"));
        auto first = std::make_unique<TServedEngine>(name);
        QVERIFY(first->Server()->PSharedBuffer);
        QCOMPARE(C->Ask("open " + name), QStringLiteral("ok 1000289"));
        QCOMPARE(C->Ask("setcount 0"), QStringLiteral("ok"));

        auto second = std::make_unique<TServedEngine>(name);
        QVERIFY(!second->Server()->PSharedBuffer);
        QCOMPARE(second->Server()->HMutexProtocolLive, TTrazerHandle(0));
        QCOMPARE(second->Server()->Refusal(),
                 QStringLiteral("Scope bridge \"%1\" is off: a running server publishes under this name "
                                "(/%1Mutex is locked)")
                     .arg(name));
        second.reset();
        QCOMPARE(C->Ask("alive " + name), QStringLiteral("alive"));
        QCOMPARE(C->Ask("registry " + name), QStringLiteral("present"));
        first->Stream("still here");
        QCOMPARE(C->Ask("take"), QStringLiteral("records 1 torn 0 ") + HexOf("still here"));

        first.reset();
        QCOMPARE(C->Ask("alive " + name), QStringLiteral("missing"));
        QCOMPARE(C->Ask("open " + name), QStringLiteral("missing"));
        TServedEngine third(name);
        QVERIFY(third.Server()->PSharedBuffer);
        QVERIFY(third.Server()->Refusal().isEmpty());
        QCOMPARE(C->Ask("open " + name), QStringLiteral("ok 1000289"));
    }

    // A server process killed while holding the spin lock leaves its block, its liveness
    // object and its announcement behind. The next server of that name starts cleanly on them
    // and the companion can tell that it lives.
    void serverAfterACrashedInstance() {
        const QString name = UniqueServerName(QStringLiteral("Crash"));
        QProcess crashed;
        crashed.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        crashed.start(QStringLiteral(TRAZER_SERVER_PROC_EXE),
                      {QStringLiteral("Terminal") + name, QStringLiteral("--settings"), C.SettingsPath(),
                       QStringLiteral("--hold-lock")});
        QVERIFY(crashed.waitForStarted(30000));
        QTRY_VERIFY_WITH_TIMEOUT(crashed.canReadLine(), 30000);
        QCOMPARE(QString::fromUtf8(crashed.readLine()).trimmed(), QStringLiteral("ready ") + name);
        QCOMPARE(C->Ask("alive " + name), QStringLiteral("alive"));
        crashed.write("crash\n");
        QVERIFY(crashed.waitForFinished(30000));
        QCOMPARE(crashed.exitStatus(), QProcess::CrashExit);

        QCOMPARE(C->Ask("alive " + name), QStringLiteral("dead"));
        QCOMPARE(C->Ask("registry " + name), QStringLiteral("present"));
        QCOMPARE(C->Ask("open " + name), QStringLiteral("ok 1000289"));
        QCOMPARE(C->Ask("peek 0 4"), QStringLiteral("01000000")); // the lock the dead server held

        auto e = std::make_unique<TServedEngine>(name);
        QVERIFY(e->Server()->PSharedBuffer);
        QCOMPARE(C->Ask("alive " + name), QStringLiteral("alive"));
        QCOMPARE(C->Ask("head"), QStringLiteral("lock=0 reg=0 params=0 count=1000000"));
        QVERIFY(C->Ask("ext").startsWith(QStringLiteral("type=1 size=276 ")));
        QCOMPARE(C->Ask("setcount 0"), QStringLiteral("ok"));
        e->Stream("after the crash");
        QCOMPARE(C->Ask("take"), QStringLiteral("records 1 torn 0 ") + HexOf("after the crash"));

        e.reset();
        QCOMPARE(C->Ask("alive " + name), QStringLiteral("missing"));
        QCOMPARE(C->Ask("registry " + name), QStringLiteral("absent"));
    }

    // A name the host cannot give a block: the server stays inert and the engine works as
    // without one; the engine's trace log says why, and the server's end takes away no other
    // server's announcement.
    void serverWithoutBlock_data() {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("why");
        QTest::newRow("name with a slash")
            << "Bad/Name"
            << "Scope bridge \"Bad/Name\" is off: a name may not contain \"/\"";
        QTest::newRow("nothing left of the name") << "Terminal"
                                                  << "Scope bridge \"\" is off: the name is empty";
        QTest::newRow("251 characters: 256 with \"Mutex\"")
            << QString(251, QLatin1Char('L'))
            << "Scope bridge \"" + QString(251, QLatin1Char('L')) +
                   "\" is off: the name is too long: 256 bytes with \"Mutex\" appended, the system takes at "
                   "most 255";
        QTest::newRow("126 two-byte characters: 257 bytes with \"Mutex\"")
            << QString(126, QChar(0x416))
            << "Scope bridge \"" + QString(126, QChar(0x416)) +
                   "\" is off: the name is too long: 257 bytes with \"Mutex\" appended, the system takes at "
                   "most 255";
    }
    void serverWithoutBlock() {
        QFETCH(QString, given);
        QFETCH(QString, why);
        const QString liveName = UniqueServerName(QStringLiteral("Live"));
        TServedEngine live(liveName);
        QTemporaryDir logDir;
        QVERIFY(logDir.isValid());
        const QString cwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(logDir.path())); // the trace log lands here
        std::unique_ptr<TKvProtocol> engine;
        {
            const auto back = qScopeGuard([&] { QDir::setCurrent(cwd); });
            engine = std::make_unique<TKvProtocol>([](const QByteArray &) {}, TKvRegistersDynArray{},
                                                   TOnRegisterNotify{}, TOnAck{}, TOutputData{}, true,
                                                   QStringLiteral("BadNameLog"), false, given);
        }
        auto *server = dynamic_cast<TTrazerServer *>(engine->TrazerServerI.get());
        QVERIFY(server);
        QCOMPARE(server->Refusal(), why);
        QVERIFY(!server->PSharedBuffer);
        QVERIFY(!server->PSharedBufferExt);
        QVERIFY(!server->PInputBuffer);
        QCOMPARE(server->HFileMapping, TTrazerHandle(0));
        QCOMPARE(server->HMutexProtocolLive, TTrazerHandle(0));
        QVERIFY(!engine->OnReceivedRegisterTrazer);
        QFile log(QDir(logDir.path()).filePath(engine->LogFileName()));
        QVERIFY2(log.open(QIODevice::ReadOnly), qPrintable(log.fileName()));
        QVERIFY2(QString::fromLocal8Bit(log.readAll()).contains(why), "the trace log says why");
        engine.reset();
        QCOMPARE(C->Ask("registry " + liveName), QStringLiteral("present"));
        QCOMPARE(C->Ask("alive " + liveName), QStringLiteral("alive"));
    }

    // The longest name the system takes: 250 characters, 255 bytes with "Mutex".
    void longestUsableName() {
        const QString tag = UniqueServerName(QStringLiteral("Max"));
        const QString name = tag + QString(250 - tag.size(), QLatin1Char('x'));
        auto e = std::make_unique<TServedEngine>(name);
        QVERIFY2(e->Server()->Refusal().isEmpty(), qPrintable(e->Server()->Refusal()));
        QCOMPARE(C->Ask("open " + name), QStringLiteral("ok 1000289"));
        QCOMPARE(C->Ask("alive " + name), QStringLiteral("alive"));
        e.reset();
        QCOMPARE(C->Ask("alive " + name), QStringLiteral("missing"));
    }
};

TAMREL_TEST_MAIN_CORE(TestTrazerLifetime)
#include "tst_TrazerLifetime.moc"
