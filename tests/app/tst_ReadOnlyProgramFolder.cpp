// The installed program's case: a program folder this user cannot write into. This test
// program copies itself into a folder made read-only (a read-only bind mount in a mount
// namespace of its own when run as root, whom file modes do not stop; the folder's modes
// otherwise) and runs the copy, which saves a chart screenshot and downloads a program from a
// real update server on 127.0.0.1: the screenshot lands in the user's Pictures folder and the
// program in the Downloads folder (the defaults, and the folders a user-dirs.dirs names), each
// named in the message; the program is never offered to replace this one and is started without
// the "delete=" parameter even with the box ticked; nothing lands next to the program.
// The folder rule itself (a missing folder, the install folder, a link to it) is checked here.
#include "TestMain.h"
#include "UpdatesTestFixture.h"
#include "uBalloonHint.h"
#include "uFormTamrel.h"
#include "uProgramFolder.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>

#include <memory>
#include <unistd.h>

namespace {

// Set in the copy's environment: the copy runs the checks that need the read-only folder.
constexpr char InCopyVariable[] = "TAMREL_TEST_READ_ONLY_COPY";

QByteArray ReadAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// Points the user's folder of one kind at HOME/<name> through the file the desktop keeps it in
// (a Russian desktop names them "Изображения", "Загрузки"); an empty name removes the file.
void SetUserDir(const char *key, const QString &name) {
    const QString config = qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME")
                               ? QDir::homePath() + QStringLiteral("/.config")
                               : qEnvironmentVariable("XDG_CONFIG_HOME");
    QDir().mkpath(config);
    QFile f(config + QStringLiteral("/user-dirs.dirs"));
    if (name.isEmpty()) {
        f.remove();
        return;
    }
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(key) + "=\"$HOME/" + name.toUtf8() + "\"\n");
}

} // namespace

// Runs in the read-only copy.
class TReadOnlyCopyChecks : public QObject {
    Q_OBJECT

    static void UserFolders_data() {
        QTest::addColumn<QString>("name"); // the user's folder below HOME; empty: the default
        QTest::newRow("default folder") << "";
        QTest::newRow("the user's own folder") << "Мои файлы/тамрел";
    }

private slots:
    void initTestCase() {
        const QString program = QCoreApplication::applicationDirPath();
        QVERIFY2(!ProgramFolderTakesFiles(program), qPrintable(program));
        // Really read-only, not only in the rule's opinion.
        QFile probe(program + QStringLiteral("/probe"));
        QVERIFY(!probe.open(QIODevice::WriteOnly));
    }

    void screenshotGoesToPictures_data() { UserFolders_data(); }
    void screenshotGoesToPictures() {
        QFETCH(QString, name);
        SetUserDir("XDG_PICTURES_DIR", name);
        const QString folder = name.isEmpty() ? QDir::homePath() + QStringLiteral("/Pictures")
                                              : QDir::homePath() + QLatin1Char('/') + name;
        QVERIFY(!QDir(folder).exists()); // made by the save
        TFormTamrel form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QString path = form.ButtonSaveWindowClick();
        QCOMPARE(QFileInfo(path).absolutePath(), folder);
        QVERIFY(QFileInfo(path).fileName().startsWith(QStringLiteral("Screenshot_")));
        QVERIFY(!QImage(path).isNull());
        QCOMPARE(form.BalloonHintInd->Title(), QStringLiteral("График сохранен: \n") + path);
        SetUserDir("XDG_PICTURES_DIR", QString());
    }

    void downloadedProgramGoesToDownloads_data() { UserFolders_data(); }
    void downloadedProgramGoesToDownloads() {
        QFETCH(QString, name);
        SetUserDir("XDG_DOWNLOAD_DIR", name);
        const QString folder = name.isEmpty() ? QDir::homePath() + QStringLiteral("/Downloads")
                                              : QDir::homePath() + QLatin1Char('/') + name;
        TUpdatesFixture f;
        f.Frame->ProgramFolder.clear(); // the running program's folder: the read-only copy
        // A program that writes down its arguments next to itself.
        f.Put("TAMREL/tool.exe", "#!/bin/sh\nfor a in \"$@\"; do printf '%s|' \"$a\"; done > "
                                 "\"$0.args\"\necho done >> \"$0.args\"\n");
        f.PutDevices("TAMREL\r\n");
        f.PutFiles("TAMREL", "tool.exe\r\n");
        f.Frame->EditSelectDevice->setText("TAMREL");
        f.Frame->show();
        f.Click(f.Frame->ButtonCheckUpdatesGetDevices);
        QTRY_COMPARE_WITH_TIMEOUT(f.SelectedFileName(), QString("tool.exe"), 20000);
        WAIT_IDLE(f);
        f.Click(f.Frame->ButtonDownloadFirmware);
        WAIT_IDLE(f);
        QCOMPARE(f.Errors, QStringList{});
        const QString stored = folder + QStringLiteral("/tool.exe");
        QVERIFY(QFileInfo(stored).isExecutable());
        QCOMPARE(f.Frame->ExeFullFileName, stored);
        QCOMPARE(f.Frame->LabelProgramFileName->text(), stored);
        // Not offered to replace this program; the message says how a new version is installed.
        QVERIFY(f.Frame->PanelAskLaunchProgram->isVisible());
        QVERIFY(!f.Frame->CheckBoxDeleteOld->isVisible());
        QVERIFY(f.Frame->LabelProgramKept->isVisible());
        QVERIFY2(f.Frame->LabelProgramKept->text().contains(QStringLiteral("sudo apt install ./tamrel_")),
                 qPrintable(f.Frame->LabelProgramKept->text()));
        f.Frame->DoEnglish();
        QVERIFY2(
            f.Frame->LabelProgramKept->text().startsWith(QStringLiteral("Saved in the Downloads folder")),
            qPrintable(f.Frame->LabelProgramKept->text()));

        // Started, but never told to delete this one, even with the hidden box ticked.
        int closes = 0;
        f.Frame->CloseMainWindow = [&] { ++closes; };
        f.Frame->CheckBoxDeleteOld->setChecked(true);
        f.Click(f.Frame->ButtonLaunchProgram);
        QCOMPARE(f.Errors, QStringList{});
        QTRY_COMPARE_WITH_TIMEOUT(ReadAll(stored + QStringLiteral(".args")), QByteArray("done\n"), 10000);
        QVERIFY(!f.Frame->TimerClose->isActive());
        QCOMPARE(closes, 0);
        SetUserDir("XDG_DOWNLOAD_DIR", QString());
    }
};

// Runs in the build tree: the folder rule, and the copy.
class TReadOnlyProgramFolderTest : public QObject {
    Q_OBJECT

private slots:
    void folderRule_data() {
        QTest::addColumn<QString>("folder"); // below a temporary folder T
        QTest::addColumn<QString>("install");
        QTest::addColumn<bool>("takesFiles");
        QTest::newRow("a writable folder") << "bin"
                                           << "usr/bin" << true;
        QTest::newRow("a missing folder") << "gone"
                                          << "usr/bin" << false;
        QTest::newRow("the install folder") << "usr/bin"
                                            << "usr/bin" << false;
        QTest::newRow("a link to the install folder") << "bin-link"
                                                      << "usr/bin" << false;
        QTest::newRow("no install folder on this host") << "bin"
                                                        << "usr/missing" << true;
    }
    void folderRule() {
        QFETCH(QString, folder);
        QFETCH(QString, install);
        QFETCH(bool, takesFiles);
        QTemporaryDir t;
        QVERIFY(QDir(t.path()).mkpath("usr/bin"));
        QVERIFY(QDir(t.path()).mkpath("bin"));
        QVERIFY(QFile::link(t.filePath("usr/bin"), t.filePath("bin-link")));
        QCOMPARE(ProgramFolderTakesFiles(t.filePath(folder), t.filePath(install)), takesFiles);
    }

    void savesGoToTheUsersFoldersFromAReadOnlyFolder() {
        QTemporaryDir t;
        QVERIFY(t.isValid());
        const QString folder = t.filePath(QStringLiteral("opt-tamrel"));
        QVERIFY(QDir().mkpath(folder));
        const QString copy =
            folder + QLatin1Char('/') + QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(InCopyVariable), QStringLiteral("1"));
        p.setProcessEnvironment(env);
        if (geteuid() == 0) {
            const QString script = QStringLiteral("set -e; mount --bind \"$1\" \"$1\"; mount -o "
                                                  "remount,bind,ro \"$1\"; exec \"$2\" -maxwarnings 0");
            p.start(QStringLiteral("unshare"),
                    {QStringLiteral("--mount"), QStringLiteral("--propagation"), QStringLiteral("private"),
                     QStringLiteral("sh"), QStringLiteral("-c"), script, QStringLiteral("sh"), folder, copy});
        } else {
            QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                                      QFileDevice::ReadGroup | QFileDevice::ExeGroup));
            p.start(copy, {QStringLiteral("-maxwarnings"), QStringLiteral("0")});
        }
        QVERIFY(p.waitForStarted(10000));
        QVERIFY(p.waitForFinished(240000));
        const QString out = QString::fromLocal8Bit(p.readAll());
        QFile::setPermissions(folder,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QVERIFY2(out.contains(QStringLiteral("Start testing of TReadOnlyCopyChecks")), qPrintable(out));
        QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, qPrintable(out));
        for (const char *check :
             {"screenshotGoesToPictures(default folder)", "screenshotGoesToPictures(the user's own folder)",
              "downloadedProgramGoesToDownloads(default folder)",
              "downloadedProgramGoesToDownloads(the user's own folder)"})
            QVERIFY2(out.contains(QStringLiteral("PASS   : TReadOnlyCopyChecks::") + QLatin1String(check)),
                     qPrintable(out));
        // Nothing beside the program.
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{QFileInfo(copy).fileName()});
    }
};

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir privateHome;
    if (privateHome.isValid()) qputenv("HOME", QFile::encodeName(privateHome.path()));
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    QTEST_SET_MAIN_SOURCE_PATH
    if (qEnvironmentVariableIsSet(InCopyVariable)) {
        // Qt's test mode ignores the desktop's user-dirs.dirs; the private home keeps the real
        // paths away from the user's.
        QStandardPaths::setTestModeEnabled(false);
        TReadOnlyCopyChecks checks;
        return QTest::qExec(&checks, argc, argv);
    }
    TReadOnlyProgramFolderTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ReadOnlyProgramFolder.moc"
