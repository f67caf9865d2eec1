// The program's companion scope bridge: where its name comes from (the option, else the
// settings file), a name the system cannot use said at start, the main window's connection
// engine publishing the tester's registers under it while connected, and a refusal (another
// user's object under the name) shown once while the tester is served as usual.
#include "TestMain.h"
#include "TrazerTestSupport.h"
#include "uChildProcess.h"
#include "uFormTamrel.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uKvApplication.h"
#include "uPrivateRuntime.h"
#include "uSimPty.h"
#include "uTamrelScopeBridge.h"

#include <QScopeGuard>
#include <QToolButton>
#include <QtEndian>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

class TestTamrelScopeBridge : public QObject {
    Q_OBJECT

    TPrivateSettings FSettings;
    TPrivateRuntime FRuntime; // a port folder of this test's own

    QStringList Errors; // what the application's error display was asked to show

private slots:
    void initTestCase() {
        QVERIFY(FSettings.Dir.isValid());
        QVERIFY(FRuntime.InUse());
        TKvApplication::SetErrorDisplay([this](const QString &message) { Errors << message; });
    }
    void cleanupTestCase() { TKvApplication::SetErrorDisplay({}); }
    void init() { Errors.clear(); }

    // The program started with a name the system cannot use says so on its standard error at
    // once and goes on without the bridge.
    void programSaysAnUnusableNameAtStart_data() {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("line");
        QTest::newRow("a slash inside")
            << "Bench/Rig"
            << "tamrel: Scope bridge \"Bench/Rig\" is off: a name may not contain \"/\"";
        QTest::newRow("300 characters")
            << QString(300, QLatin1Char('R'))
            << "tamrel: Scope bridge \"" + QString(300, QLatin1Char('R')) +
                   "\" is off: the name is too long: 305 bytes with \"Mutex\" appended, the system takes at "
                   "most 255";
    }
    void programSaysAnUnusableNameAtStart() {
        QFETCH(QString, given);
        QFETCH(QString, line);
        // Started without QProcess: the thread build goes on checking this process afterwards.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        TChildProcess program;
        QVERIFY(program.Start(QStringLiteral(TAMREL_EXE), {QStringLiteral("--scope-bridge"), given},
                              TChildProcess::ErrorMerged));
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += program.ReadAll()).contains(line.toUtf8()), 30000);
        QVERIFY(program.Running()); // the program goes on, without the bridge
    }

    void bridgeName_data() {
        QTest::addColumn<bool>("optionGiven");
        QTest::addColumn<QString>("optionValue");
        QTest::addColumn<QString>("setting"); // "ScopeBridge" in the settings file; empty: not there
        QTest::addColumn<QString>("name");
        QTest::newRow("off by default") << false << ""
                                        << ""
                                        << "";
        QTest::newRow("--scope-bridge Rig") << true << "Rig"
                                            << ""
                                            << "Rig";
        QTest::newRow("settings file") << false << ""
                                       << "Bench"
                                       << "Bench";
        QTest::newRow("option before settings file") << true << "Rig"
                                                     << "Bench"
                                                     << "Rig";
        QTest::newRow("empty option turns it off") << true << ""
                                                   << "Bench"
                                                   << "";
    }
    void bridgeName() {
        QFETCH(bool, optionGiven);
        QFETCH(QString, optionValue);
        QFETCH(QString, setting);
        QFETCH(QString, name);
        const QString file = FSettings.Dir.filePath(QStringLiteral("tamrel/tamrel.ini"));
        {
            QSettings program(file, QSettings::IniFormat);
            if (setting.isEmpty())
                program.remove(QLatin1String(ScopeBridgeSettingKey));
            else
                program.setValue(QLatin1String(ScopeBridgeSettingKey), setting);
        }
        QCOMPARE(TamrelScopeBridgeName(optionGiven, optionValue, file), name);
    }

    // The window connected to the simulated tester through the port search: the companion
    // finds the server by name and has a register read at the pace of the window's polling.
    void windowPublishesWhileConnected() {
        TSimPty sim;
        QString error;
        QVERIFY2(sim.Start({}, &error), qPrintable(error));
        const QString name = UniqueServerName(QStringLiteral("Window"));
        TCompanion companion(FSettings.Path());
        QVERIFY(companion.Started());

        auto form = std::make_unique<TFormTamrel>();
        form->ScopeBridgeName = QStringLiteral("Terminal") + name;
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QCOMPARE(companion.Ask("alive " + name), QStringLiteral("missing")); // nothing before connecting
        form->DeviceLink->sButtonConnect->click();
        QTRY_VERIFY_WITH_TIMEOUT(form->DeviceLink->IsConnected(), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(sim.Device()->RegisterInt(1), qint64(1), 20000);
        QCOMPARE(companion.Ask("alive " + name), QStringLiteral("alive"));
        QCOMPARE(companion.Ask("open " + name), QStringLiteral("ok 1000289"));

        const quint16 vin = qFromLittleEndian<quint16>(sim.Register(6).constData());
        QCOMPARE(companion.Ask("read 6"), QStringLiteral("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(companion.Ask("answer"),
                                  QStringLiteral("status=3 type=4 size=8 value=%1").arg(vin), 20000);

        form.reset(); // closing the window disconnects and frees the engine with its server
        QCOMPARE(companion.Ask("alive " + name), QStringLiteral("missing"));
        QCOMPARE(companion.Ask("registry " + name), QStringLiteral("absent"));
    }

    // Another user's object under the bridge's name (here: one every user may write): the
    // window connects and polls as usual, the error display says once why the bridge is off,
    // also over a second connect, and the object is left as it was.
    void windowShowsTheRefusalOnce() {
        TSimPty sim;
        QString error;
        QVERIFY2(sim.Start({}, &error), qPrintable(error));
        const QString name = UniqueServerName(QStringLiteral("Taken"));
        const QByteArray shmName = ("/" + name).toUtf8();
        const QByteArray planted(4096, 'p');
        {
            const int fd = shm_open(shmName.constData(), O_RDWR | O_CREAT | O_EXCL, 0666);
            QVERIFY(fd >= 0);
            QCOMPARE(fchmod(fd, 0666), 0);
            QCOMPARE(pwrite(fd, planted.constData(), size_t(planted.size()), 0), ssize_t(planted.size()));
            close(fd);
        }
        const auto remove = qScopeGuard([&] { shm_unlink(shmName.constData()); });

        auto form = std::make_unique<TFormTamrel>();
        form->ScopeBridgeName = name;
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        for (int connect = 0; connect < 2; ++connect) {
            const qint64 readsBefore = sim.Device()->FrameLog().size();
            form->DeviceLink->sButtonConnect->click();
            QTRY_VERIFY_WITH_TIMEOUT(form->DeviceLink->IsConnected(), 20000);
            QTRY_COMPARE_WITH_TIMEOUT(sim.Device()->RegisterInt(1), qint64(1), 20000);
            QTRY_VERIFY_WITH_TIMEOUT(sim.Device()->FrameLog().size() > readsBefore + 20, 20000); // polled
            QCOMPARE(Errors.size(), 1);
            QCOMPARE(Errors[0], QStringLiteral("Scope bridge \"%1\" is off: the shared-memory object /%1 has "
                                               "mode 0666: other users may use it (only one of mode 0600 is "
                                               "taken over)")
                                    .arg(name));
            form->DeviceLink->sButtonConnect->click(); // disconnect
            QTRY_VERIFY_WITH_TIMEOUT(!form->DeviceLink->IsConnected(), 20000);
        }
        form.reset();
        const int fd = shm_open(shmName.constData(), O_RDONLY, 0);
        QVERIFY(fd >= 0);
        struct stat st {};
        QCOMPARE(fstat(fd, &st), 0);
        QByteArray now(4096, '\0');
        QCOMPARE(pread(fd, now.data(), size_t(now.size()), 0), ssize_t(now.size()));
        close(fd);
        QCOMPARE(qint64(st.st_size), qint64(planted.size()));
        QCOMPARE(uint(st.st_mode & 07777), 0666u);
        QCOMPARE(now, planted);
    }
};

TAMREL_TEST_MAIN(TestTamrelScopeBridge)
#include "tst_TamrelScopeBridge.moc"
