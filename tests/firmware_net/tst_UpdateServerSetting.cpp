// The update server's address as a program setting: the command line wins over the
// settings file, which wins over the demo server; a bad value is reported, not used.
#include "TestMain.h"
#include "uUpdateServerSetting.h"

#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

class TUpdateServerSettingTest : public QObject {
    Q_OBJECT
private slots:
    void resolve_data() {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("inFile"); // "-" = no settings file
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("errorStart"); // empty = no error
        const QString demo = DefaultUpdateServerAddress;
        QTest::newRow("nothing set") << ""
                                     << "-" << demo << "";
        QTest::newRow("file without the entry") << ""
                                                << "" << demo << "";
        QTest::newRow("settings file") << ""
                                       << "http://updates.example/firmware_update/KVBL/"
                                       << "http://updates.example/firmware_update/KVBL/"
                                       << "";
        QTest::newRow("command line wins") << "https://other.example:8443/firmware_update/KVBL/"
                                           << "http://updates.example/firmware_update/KVBL/"
                                           << "https://other.example:8443/firmware_update/KVBL/"
                                           << "";
        QTest::newRow("trailing slash ensured") << "http://h/firmware_update/KVBL"
                                                << "-"
                                                << "http://h/firmware_update/KVBL/"
                                                << "";
        QTest::newRow("bad command line") << "ftp://h/firmware_update/KVBL/"
                                          << "-" << demo << "--update-server: ";
        QTest::newRow("no host") << "http:///x/"
                                 << "-" << demo << "--update-server: ";
        QTest::newRow("bad file entry") << ""
                                        << "updates.example" << demo << "<file>: ";
    }
    void resolve() {
        QFETCH(QString, commandLine);
        QFETCH(QString, inFile);
        QFETCH(QString, address);
        QFETCH(QString, errorStart);
        QTemporaryDir dir;
        const QString file = dir.filePath("tamrel.ini");
        if (inFile != "-") {
            QSettings s(file, QSettings::IniFormat);
            if (!inFile.isEmpty()) s.setValue(UpdateServerSettingKey, inFile);
            s.setValue("Other", 1);
        }
        QString error;
        QCOMPARE(ResolveUpdateServerAddress(commandLine, file, &error), address);
        errorStart.replace("<file>", file);
        if (errorStart.isEmpty())
            QCOMPARE(error, QString());
        else
            QVERIFY2(error.startsWith(errorStart) &&
                         error.endsWith("using " + QString(DefaultUpdateServerAddress)),
                     qPrintable(error));
    }

    // The program refuses a bad --update-server at once, saying why.
    void programRefusesABadCommandLineValue() {
        QProcess p;
        p.start(TAMREL_EXE, {"--update-server", "ftp://nowhere/"});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY2(p.readAllStandardError().contains(
                     "--update-server: \"ftp://nowhere/\" is not an http:// or https://"),
                 "message");
        p.start(TAMREL_EXE, {"--help"});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(p.readAllStandardOutput().contains("--update-server <url>"));
    }
};

TAMREL_TEST_MAIN_CORE(TUpdateServerSettingTest)
#include "tst_UpdateServerSetting.moc"
