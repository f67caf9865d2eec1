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
        QTest::addColumn<QString>("CommandLine");
        QTest::addColumn<QString>("InFile"); // "-" = no settings file
        QTest::addColumn<QString>("Address");
        QTest::addColumn<QString>("ErrorStart"); // empty = no error
        const QString Demo = DefaultUpdateServerAddress;
        QTest::newRow("nothing set") << ""
                                     << "-" << Demo << "";
        QTest::newRow("file without the entry") << ""
                                                << "" << Demo << "";
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
                                          << "-" << Demo << "--update-server: ";
        QTest::newRow("no host") << "http:///x/"
                                 << "-" << Demo << "--update-server: ";
        QTest::newRow("bad file entry") << ""
                                        << "updates.example" << Demo << "<file>: ";
    }
    void resolve() {
        QFETCH(QString, CommandLine);
        QFETCH(QString, InFile);
        QFETCH(QString, Address);
        QFETCH(QString, ErrorStart);
        QTemporaryDir Dir;
        const QString File = Dir.filePath("tamrel.ini");
        if (InFile != "-") {
            QSettings S(File, QSettings::IniFormat);
            if (!InFile.isEmpty()) S.setValue(UpdateServerSettingKey, InFile);
            S.setValue("Other", 1);
        }
        QString Error;
        QCOMPARE(ResolveUpdateServerAddress(CommandLine, File, &Error), Address);
        ErrorStart.replace("<file>", File);
        if (ErrorStart.isEmpty())
            QCOMPARE(Error, QString());
        else
            QVERIFY2(Error.startsWith(ErrorStart) &&
                         Error.endsWith("using " + QString(DefaultUpdateServerAddress)),
                     qPrintable(Error));
    }

    // The program refuses a bad --update-server at once, saying why.
    void programRefusesABadCommandLineValue() {
        QProcess P;
        P.start(TAMREL_EXE, {"--update-server", "ftp://nowhere/"});
        QVERIFY(P.waitForFinished(30000));
        QCOMPARE(P.exitCode(), 2);
        QVERIFY2(P.readAllStandardError().contains(
                     "--update-server: \"ftp://nowhere/\" is not an http:// or https://"),
                 "message");
        P.start(TAMREL_EXE, {"--help"});
        QVERIFY(P.waitForFinished(30000));
        QCOMPARE(P.exitCode(), 0);
        QVERIFY(P.readAllStandardOutput().contains("--update-server <url>"));
    }
};

TAMREL_TEST_MAIN_CORE(TUpdateServerSettingTest)
#include "tst_UpdateServerSetting.moc"
