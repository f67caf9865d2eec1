// The program's companion scope bridge: where its name comes from (the option, else the
// settings file), and the main window's connection engine publishing the tester's registers
// under it while connected.
#include "TestMain.h"
#include "TrazerTestSupport.h"
#include "uFormTamrel.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uPrivateRuntime.h"
#include "uSimPty.h"
#include "uTamrelScopeBridge.h"

#include <QToolButton>
#include <QtEndian>

class TestTamrelScopeBridge : public QObject {
    Q_OBJECT

    TPrivateSettings FSettings;
    TPrivateRuntime FRuntime; // a port folder of this test's own

private slots:
    void initTestCase() {
        QVERIFY(FSettings.Dir.isValid());
        QVERIFY(FRuntime.InUse());
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
};

TAMREL_TEST_MAIN(TestTamrelScopeBridge)
#include "tst_TamrelScopeBridge.moc"
