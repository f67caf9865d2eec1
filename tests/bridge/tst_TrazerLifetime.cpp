// Servers coming and going: two side by side, two of one name, one whose previous instance
// crashed and left its named objects behind, and one that cannot create its block.
#include "TestMain.h"
#include "TrazerTestSupport.h"

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

    // Two engines under one name share the block, as two handles of one named mapping do; the
    // names stay while either lives.
    void twoServersOfOneName() {
        const QString name = UniqueServerName(QStringLiteral("Same"));
        auto first = std::make_unique<TServedEngine>(name);
        auto second = std::make_unique<TServedEngine>(name);
        QCOMPARE(C->Ask("open " + name), QStringLiteral("ok 1000289"));
        QCOMPARE(C->Ask("setcount 0"), QStringLiteral("ok"));
        first.reset();
        QCOMPARE(C->Ask("alive " + name), QStringLiteral("alive"));
        QCOMPARE(C->Ask("open " + name), QStringLiteral("ok 1000289"));
        second->Stream("still here");
        QCOMPARE(C->Ask("take"), QStringLiteral("records 1 torn 0 ") + HexOf("still here"));
        second.reset();
        QCOMPARE(C->Ask("alive " + name), QStringLiteral("missing"));
        QCOMPARE(C->Ask("open " + name), QStringLiteral("missing"));
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
    // without one; its end takes away no other server's announcement.
    void serverWithoutBlock_data() {
        QTest::addColumn<QString>("given");
        QTest::newRow("name with a slash") << "Bad/Name";
        QTest::newRow("nothing left of the name") << "Terminal";
    }
    void serverWithoutBlock() {
        QFETCH(QString, given);
        const QString liveName = UniqueServerName(QStringLiteral("Live"));
        TServedEngine live(liveName);
        auto e = std::make_unique<TServedEngine>(given);
        TTrazerServer *server = e->Server();
        QVERIFY(server);
        QVERIFY(!server->PSharedBuffer);
        QVERIFY(!server->PSharedBufferExt);
        QVERIFY(!server->PInputBuffer);
        QCOMPARE(server->HFileMapping, TTrazerHandle(0));
        QCOMPARE(server->HMutexProtocolLive, TTrazerHandle(0));
        QVERIFY(!e->Engine->OnReceivedRegisterTrazer);
        e->Stream("value");
        e->Traffic();
        QCOMPARE(e->Notified, (QList<quint8>{254, 2}));
        QVERIFY(e->Sent.isEmpty());
        e.reset();
        QCOMPARE(C->Ask("registry " + liveName), QStringLiteral("present"));
        QCOMPARE(C->Ask("alive " + liveName), QStringLiteral("alive"));
    }
};

TAMREL_TEST_MAIN_CORE(TestTrazerLifetime)
#include "tst_TrazerLifetime.moc"
