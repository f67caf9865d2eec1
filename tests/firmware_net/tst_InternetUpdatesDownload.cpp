// Downloads of the internet update frame against a real HTTP server on 127.0.0.1: a
// firmware image reaches the firmware window, programs are stored next to this program
// under free names and started, release notes are shown, a slow line leaves the GUI
// responsive, and names or sizes that are not safe are refused.
#include "TestMain.h"
#include "UpdatesTestFixture.h"
#include "uUpdateServerClient.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTimer>

class TInternetUpdatesDownloadTest : public QObject {
    Q_OBJECT

    // Lists TAMREL's files (Files: one name a line) and selects Name.
    static void ListAndSelect(TUpdatesFixture &f, const QByteArray &files, const QString &name) {
        f.PutDevices("TAMREL\r\n");
        f.PutFiles("TAMREL", files);
        f.Frame->EditSelectDevice->setText("TAMREL");
        f.Click(f.Frame->ButtonCheckUpdatesGetDevices);
        WAIT_IDLE(f);
        QVERIFY(f.SelectFile(name));
    }
    static void Download(TUpdatesFixture &f) {
        f.Click(f.Frame->ButtonDownloadFirmware);
        WAIT_IDLE(f);
    }
    static QByteArray Pattern(int size) {
        QByteArray b(size, 0);
        for (int i = 0; i < size; ++i)
            b[i] = char((i * 7 + i / 251) & 0xFF);
        return b;
    }
    static QByteArray ReadAll(const QString &path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

private slots:
    void firmwareReachesTheFirmwareWindow() {
        TUpdatesFixture f;
        const QString name = "Main 2.1;DeviceIdentStr=XYZ-BL.frm";
        const QByteArray image = Pattern(60 * 1024);
        f.Put("TAMREL/" + name, image);
        ListAndSelect(f, name.toUtf8() + "\r\n", name);
        Download(f);
        QCOMPARE(f.Errors, QStringList{});
        QCOMPARE(f.Loads.size(), 1);
        QCOMPARE(f.Loads.first().Buffer, image);
        QCOMPARE(f.Loads.first().FileName, name);
        QCOMPARE(f.Loads.first().Hide, false);
        QCOMPARE(f.Frame->LabelProgramFileName->text(), QString("Main 2.1"));
        QCOMPARE(f.Frame->LabelProgramFileName->toolTip(), QString("Main 2.1"));
        QCOMPARE(f.Frame->LabelOnWork->text(), QString("61440 Б"));
        QVERIFY(f.Frame->ButtonSaveToFile->isEnabled());
        QCOMPARE(f.Frame->ButtonSaveToFile->toolTip(), name + " (61440 B)");
        QCOMPARE(f.Frame->FirmwareName, name);
        QVERIFY(f.Frame->PanelAskLaunchProgram->isHidden());
        // A double click on the row downloads it again.
        f.Frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.Frame.get()));
        QTreeWidgetItem *row = f.Frame->SelectedFileRow();
        f.Frame->ListViewFiles->scrollToItem(row);
        const QPoint at = f.Frame->ListViewFiles->visualItemRect(row).center();
        // The view takes a double click as the second press on the row it was pressed on.
        QTest::mouseClick(f.Frame->ListViewFiles->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(f.Frame->ListViewFiles->viewport(), Qt::LeftButton, {}, at);
        WAIT_IDLE(f);
        QCOMPARE(f.Loads.size(), 2);
        QCOMPARE(f.Server->Requests.size(), 4);
    }

    void otherFilesHideTheFirmwarePanels() {
        TUpdatesFixture f;
        f.Put("TAMREL/data.bin", "12345");
        ListAndSelect(f, "data.bin\r\n", "data.bin");
        Download(f);
        QCOMPARE(f.Loads.size(), 1);
        QCOMPARE(f.Loads.first().Buffer, QByteArray());
        QCOMPARE(f.Loads.first().FileName, QString());
        QCOMPARE(f.Loads.first().Hide, true);
        QCOMPARE(f.Frame->LabelProgramFileName->text(), QString("data.bin"));
        QCOMPARE(f.Frame->ButtonSaveToFile->toolTip(), QString("data.bin (5 B)"));
    }

    // An empty download changes nothing but the byte count.
    void emptyDownload() {
        TUpdatesFixture f;
        f.Put("TAMREL/a.bin", "abc");
        f.Put("TAMREL/empty.exe", "");
        ListAndSelect(f, "a.bin\r\nempty.exe\r\n", "a.bin");
        Download(f);
        QVERIFY(f.Frame->ButtonSaveToFile->isEnabled());
        QVERIFY(f.SelectFile("empty.exe"));
        Download(f);
        QCOMPARE(f.Errors, QStringList{});
        QVERIFY(!f.Frame->ButtonSaveToFile->isEnabled());
        QVERIFY(f.Frame->PanelAskLaunchProgram->isHidden());
        QCOMPARE(f.Frame->LabelProgramFileName->text(), QString("a.bin"));
        QCOMPARE(f.Frame->LabelOnWork->text(), QString("0 Б"));
        QCOMPARE(f.Loads.size(), 1);
        QCOMPARE(QDir(f.ProgramFolder()).entryList(QDir::Files), QStringList{});
    }

    // tool.exe twice: tool.exe, then tool(1).exe, both next to the running program.
    void programStoredUnderAFreeName() {
        TUpdatesFixture f;
        const QByteArray program = Pattern(3000);
        f.Put("TAMREL/tool.exe", program);
        ListAndSelect(f, "tool.exe\r\n", "tool.exe");
        Download(f);
        const QString first = QDir(f.ProgramFolder()).filePath("tool.exe");
        QCOMPARE(f.Errors, QStringList{});
        QCOMPARE(ReadAll(first), program);
        QVERIFY(QFileInfo(first).isExecutable());
        QVERIFY(!f.Frame->PanelAskLaunchProgram->isHidden());
        QCOMPARE(f.Frame->LabelProgramFileName->text(), first);
        QCOMPARE(f.Frame->ExeFullFileName, first);
        QCOMPARE(f.Loads.size(), 1);
        QCOMPARE(f.Loads.first().Hide, true);
        Download(f);
        const QString second = QDir(f.ProgramFolder()).filePath("tool(1).exe");
        QCOMPARE(ReadAll(second), program);
        QCOMPARE(ReadAll(first), program);
        QCOMPARE(f.Frame->ExeFullFileName, second);
        QCOMPARE(QDir(f.ProgramFolder()).entryList(QDir::Files), (QStringList{"tool(1).exe", "tool.exe"}));
    }

    // A program's name that would not stay a plain name in the program's folder is refused
    // before anything is fetched or written.
    void unsafeProgramNamesRefused_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("parent folder") << "../evil.exe";
        QTest::newRow("parent folder, backslash") << "..\\evil.exe";
        QTest::newRow("subfolder") << "sub/evil.exe";
        QTest::newRow("subfolder, backslash") << "sub\\evil.exe";
        QTest::newRow("absolute path") << "/tmp/evil.exe";
        QTest::newRow("network share") << "\\\\host\\share\\evil.exe";
        QTest::newRow("drive letter") << "C:evil.exe";
        QTest::newRow("drive letter and path") << "C:\\evil.exe";
        QTest::newRow("control character") << "ev\x01il.exe";
        QTest::newRow("tab") << "ev\til.exe";
    }
    void unsafeProgramNamesRefused() {
        QFETCH(QString, name);
        TUpdatesFixture f;
        ListAndSelect(f, name.toUtf8() + "\r\n", name);
        const int requests = f.Server->Requests.size();
        f.Click(f.Frame->ButtonDownloadFirmware);
        WAIT_IDLE(f);
        QCOMPARE(f.Errors.size(), 1);
        QVERIFY2(f.Errors.first().contains("cannot be used as a local file name"),
                 qPrintable(f.Errors.first()));
        QVERIFY2(f.Errors.first().contains("nothing was stored"), qPrintable(f.Errors.first()));
        QCOMPARE(f.Server->Requests.size(), requests);
        QCOMPARE(QDir(f.Outside.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{"app"});
        QCOMPARE(QDir(f.ProgramFolder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{});
        QVERIFY(f.Frame->PanelAskLaunchProgram->isHidden());
        QCOMPARE(f.Loads.size(), 0);
    }

    void saveToDisk() {
        TUpdatesFixture f;
        const QByteArray bytes = Pattern(5000);
        f.Put("TAMREL/data.bin", bytes);
        ListAndSelect(f, "data.bin\r\n", "data.bin");
        Download(f);
        QStringList Proposed;
        const QString target = QDir(f.Outside.path()).filePath("saved.bin");
        f.Frame->AskSaveFileName = [&](const QString &name) {
            Proposed << name;
            return target;
        };
        f.Click(f.Frame->ButtonSaveToFile);
        QCOMPARE(Proposed, QStringList{"data.bin"});
        QCOMPARE(ReadAll(target), bytes);
        // Cancelled: nothing written.
        QVERIFY(QFile::remove(target));
        f.Frame->AskSaveFileName = [](const QString &) { return QString(); };
        f.Click(f.Frame->ButtonSaveToFile);
        QVERIFY(!QFile::exists(target));
        QCOMPARE(f.Errors, QStringList{});
    }

    // The save dialog is never offered a server's name that is not a plain file name.
    void unsafeNameNotProposedForSaving_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("parent folder") << "../evil.bin";
        QTest::newRow("parent folder, backslash") << "..\\evil.bin";
        QTest::newRow("absolute path") << "/etc/evil.bin";
        QTest::newRow("drive letter") << "C:\\evil.bin";
        QTest::newRow("control character") << "evil\x02.bin";
    }
    void unsafeNameNotProposedForSaving() {
        QFETCH(QString, name);
        TUpdatesFixture f;
        f.Frame->FirmwareStream = "bytes";
        f.Frame->FirmwareName = name;
        int asked = 0;
        f.Frame->AskSaveFileName = [&](const QString &) {
            ++asked;
            return QString();
        };
        f.Frame->ButtonSaveToFile->setEnabled(true);
        f.Click(f.Frame->ButtonSaveToFile);
        QCOMPARE(asked, 0);
        QCOMPARE(f.Errors.size(), 1);
        QVERIFY2(f.Errors.first().contains("cannot be used as a local file name"),
                 qPrintable(f.Errors.first()));
    }

    // After a failed download, "Save to disk" still saves the last complete one, under its
    // own name: never a truncated file.
    void failedDownloadKeepsThePreviousOne_data() {
        QTest::addColumn<QString>("fault");
        QTest::newRow("500") << "500";
        QTest::newRow("404") << "404";
        QTest::newRow("too large, no length") << "large";
        QTest::newRow("no answer") << "hang";
    }
    void failedDownloadKeepsThePreviousOne() {
        QFETCH(QString, fault);
        TUpdatesFixture f;
        const QByteArray good = Pattern(4000);
        f.Put("TAMREL/good.bin", good);
        f.Put("TAMREL/big.bin", Pattern(20000));
        ListAndSelect(f, "good.bin\r\nbig.bin\r\nmissing.bin\r\n", "good.bin");
        Download(f);
        QVERIFY(f.SelectFile(fault == "404" ? "missing.bin" : "big.bin"));
        f.Server->Options.FailStatus = fault == "500" ? 500 : 0;
        f.Server->Options.Hang = fault == "hang";
        f.Server->Options.NoContentLength = fault == "large";
        f.Frame->MaxDownloadBytes = 10000;
        f.Frame->IdHTTP1->TransferTimeoutMs = 300;
        Download(f);
        QCOMPARE(f.Errors.size(), 1);
        QCOMPARE(f.Loads.size(), 1);
        QCOMPARE(f.Frame->FirmwareName, QString("good.bin"));
        QCOMPARE(f.Frame->LabelProgramFileName->text(), QString("good.bin"));
        QVERIFY(f.Frame->ButtonSaveToFile->isEnabled());
        QCOMPARE(f.Frame->ButtonSaveToFile->toolTip(), QString("good.bin (4000 B)"));
        const QString target = QDir(f.Outside.path()).filePath("saved.bin");
        f.Frame->AskSaveFileName = [&](const QString &) { return target; };
        f.Click(f.Frame->ButtonSaveToFile);
        QCOMPARE(ReadAll(target), good);
    }

    // A download over 64 MiB is refused as soon as its length is known (a sparse file here).
    void downloadOver64MiBRefused() {
        TUpdatesFixture f;
        f.Put("TAMREL/huge.bin", "");
        QFile huge(QDir(f.Kvbl()).filePath("TAMREL/huge.bin"));
        QVERIFY(huge.resize(64 * 1024 * 1024 + 1));
        ListAndSelect(f, "huge.bin\r\n", "huge.bin");
        Download(f);
        QCOMPARE(f.Errors.size(), 1);
        QVERIFY2(f.Errors.first().startsWith("The update server's answer is larger than 64 MiB"),
                 qPrintable(f.Errors.first()));
        QCOMPARE(f.Loads.size(), 0);
        QVERIFY(!f.Frame->ButtonSaveToFile->isEnabled());
    }

    // A release note opens in a viewer of its own that fits the screen; a note longer than
    // anyone reads (4 MiB) shows its start and says so.
    void releaseNoteShown_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("cut");
        const QString text = QStringLiteral("Прошивка 1.7: исправлен ток канала 2.");
        QTest::newRow("UTF-8") << text.toUtf8() << text << false;
        QTest::newRow("windows-1251")
            << QByteArray("\xCF\xF0\xEE\xF8\xE8\xE2\xEA\xE0 1.7: \xE8\xF1\xEF\xF0\xE0\xE2"
                          "\xEB\xE5\xED \xF2\xEE\xEA \xEA\xE0\xED\xE0\xEB\xE0 2.")
            << text << false;
        // 4 MiB of lines of 17 bytes ("Строка" takes 12). 64 KiB is 3855 lines and one byte,
        // the first of the next "С": what is shown ends with the whole lines.
        const QByteArray line = QStringLiteral("Строка ok\r\n").toUtf8();
        QByteArray huge;
        while (huge.size() < 4 * 1024 * 1024)
            huge += line;
        QTest::newRow("4 MiB, cut inside a character")
            << huge << QString::fromUtf8(line).repeated(64 * 1024 / line.size()) << true;
    }
    void releaseNoteShown() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        QFETCH(bool, cut);
        TUpdatesFixture f;
        f.Frame->show();
        f.Put("TAMREL/notes.txt", bytes);
        ListAndSelect(f, "notes.txt\r\n", "notes.txt");
        Download(f);
        QCOMPARE(f.Errors, QStringList{});
        QDialog *viewer = nullptr;
        QTRY_VERIFY((viewer = f.Frame->findChild<QDialog *>("DialogReleaseNote")) && viewer->isVisible());
        auto *text = viewer->findChild<QPlainTextEdit *>("EditReleaseNote");
        QVERIFY(text);
        QVERIFY(text->isReadOnly());
        QCOMPARE(text->toPlainText(), shown.replace("\r\n", "\n"));
        QCOMPARE(viewer->windowTitle(), QString("notes.txt"));
        QCOMPARE(viewer->findChild<QLabel *>("LabelReleaseNoteCut") != nullptr, cut);
        // Within the screen, its Close button in reach.
        const QRect screen = viewer->screen()->availableGeometry();
        QVERIFY2(viewer->width() <= screen.width() && viewer->height() <= screen.height(),
                 qPrintable(QStringLiteral("%1x%2 on %3x%4")
                                .arg(viewer->width())
                                .arg(viewer->height())
                                .arg(screen.width())
                                .arg(screen.height())));
        QCOMPARE(f.Loads.size(), 1);
        QCOMPARE(f.Loads.first().Hide, true);
        // The viewer does not hold up the frame: another request runs while it is open.
        f.Click(f.Frame->ButtonCheckUpdatesGetDevices);
        WAIT_IDLE(f);
        QVERIFY(viewer->isVisible());
        viewer->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Close)->click();
        QTRY_VERIFY(!f.Frame->findChild<QDialog *>("DialogReleaseNote"));
    }

    // 1 KB/s: the download takes seconds; meanwhile the event loop keeps turning, the byte
    // count grows, and no second request can be started.
    void slowServerKeepsTheGuiResponsive() {
        TUpdatesFixture f;
        const QByteArray image = Pattern(3 * 1024);
        f.Put("TAMREL/slow;DeviceIdentStr=X.firmware", image);
        ListAndSelect(f, "slow;DeviceIdentStr=X.firmware\r\n", "slow;DeviceIdentStr=X.firmware");
        f.Server->Options.ThrottleBytesPerSecond = 1024;
        const int requests = f.Server->Requests.size();

        QElapsedTimer Clock;
        qint64 Last = 0, longestGap = 0;
        QTimer beat;
        QObject::connect(&beat, &QTimer::timeout, [&] {
            const qint64 now = Clock.elapsed();
            longestGap = qMax(longestGap, now - Last);
            Last = now;
        });
        QStringList counts;
        Clock.start();
        beat.start(10);
        f.Click(f.Frame->ButtonDownloadFirmware);
        QVERIFY(f.Frame->IsRequestRunning());
        for (QWidget *w : {static_cast<QWidget *>(f.Frame->ButtonCheckUpdatesGetDevices),
                           static_cast<QWidget *>(f.Frame->ButtonCheckUpdates),
                           static_cast<QWidget *>(f.Frame->ButtonDownloadFirmware),
                           static_cast<QWidget *>(f.Frame->ButtonSaveToFile),
                           static_cast<QWidget *>(f.Frame->ListViewDevices)})
            QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
        // Starting another request is ignored while this one runs.
        f.Frame->ButtonDownloadFirmwareClick();
        f.Frame->ButtonCheckUpdatesGetDevicesClick();
        f.Frame->ButtonCheckUpdatesClick();
        while (f.Frame->IsRequestRunning() && Clock.elapsed() < 30000) {
            QTest::qWait(20);
            const QString now = f.Frame->LabelOnWork->text();
            if (counts.isEmpty() || counts.last() != now) counts << now;
        }
        beat.stop();
        QCOMPARE(f.Errors, QStringList{});
        QCOMPARE(f.Server->Requests.size(), requests + 1);
        QCOMPARE(f.Loads.size(), 1);
        QCOMPARE(f.Loads.first().Buffer, image);
        // The count went up in steps while the bytes trickled in.
        QVERIFY2(counts.size() >= 3, qPrintable(counts.join(", ")));
        QCOMPARE(counts.last(), QString("3072 Б"));
        QVERIFY(Clock.elapsed() >= 1500);
        // A generous bound: a blocked GUI thread would show a gap of the whole transfer.
        QVERIFY2(longestGap < 750, qPrintable(QString::number(longestGap)));
        QVERIFY(f.Frame->ButtonDownloadFirmware->isEnabled());
        QVERIFY(f.Frame->ButtonCheckUpdatesGetDevices->isEnabled());
    }

    // The frame goes away (the program ends) in the middle of a download: nothing of it is
    // called afterwards.
    void frameDestroyedDuringADownload() {
        TUpdatesFixture f;
        f.Put("TAMREL/slow.bin", Pattern(4096));
        ListAndSelect(f, "slow.bin\r\n", "slow.bin");
        f.Server->Options.ThrottleBytesPerSecond = 1024;
        f.Click(f.Frame->ButtonDownloadFirmware);
        QTRY_VERIFY(f.Frame->LabelOnWork->text() != "-");
        f.Frame.reset();
        QTest::qWait(300);
        QCOMPARE(f.Loads.size(), 0);
        QCOMPARE(f.Errors, QStringList{});
    }

    // Launch: the stored program starts; with "Update" checked it gets delete="<this
    // program>" and this program closes 200 ms later.
    void launchProgram_data() {
        QTest::addColumn<bool>("deleteOld");
        QTest::newRow("delete old version") << true;
        QTest::newRow("keep this program") << false;
    }
    void launchProgram() {
        QFETCH(bool, deleteOld);
        TUpdatesFixture f;
        // A program that writes down its arguments next to itself.
        f.Put("TAMREL/tool.exe", "#!/bin/sh\nfor a in \"$@\"; do printf '%s|' \"$a\"; done > "
                                 "\"$0.args\"\necho done >> \"$0.args\"\n");
        ListAndSelect(f, "tool.exe\r\n", "tool.exe");
        Download(f);
        QVERIFY(!f.Frame->PanelAskLaunchProgram->isHidden());
        int closes = 0;
        f.Frame->CloseMainWindow = [&] { ++closes; };
        f.Frame->CheckBoxDeleteOld->setChecked(deleteOld);
        f.Click(f.Frame->ButtonLaunchProgram);
        QCOMPARE(f.Errors, QStringList{});
        const QString args = QDir(f.ProgramFolder()).filePath("tool.exe.args");
        QTRY_VERIFY_WITH_TIMEOUT(ReadAll(args).endsWith("done\n"), 10000);
        const QByteArray expected =
            deleteOld ? "delete=\"" + QCoreApplication::applicationFilePath().toUtf8() + "\"|done\n"
                      : "done\n";
        QCOMPARE(ReadAll(args), expected);
        if (deleteOld) {
            QTRY_COMPARE(closes, 1);
            QVERIFY(!f.Frame->TimerClose->isActive());
        } else {
            QTest::qWait(400);
            QCOMPARE(closes, 0);
            QVERIFY(!f.Frame->TimerClose->isActive());
        }
    }

    void launchWithoutTheStoredFileDoesNothing() {
        TUpdatesFixture f;
        f.Frame->ExeFullFileName = QDir(f.ProgramFolder()).filePath("gone.exe");
        int closes = 0;
        f.Frame->CloseMainWindow = [&] { ++closes; };
        f.Frame->CheckBoxDeleteOld->setChecked(true);
        f.Frame->ButtonLaunchProgramClick();
        QVERIFY(!f.Frame->TimerClose->isActive());
        QCOMPARE(f.Errors, QStringList{});
    }
};

TAMREL_TEST_MAIN(TInternetUpdatesDownloadTest)
#include "tst_InternetUpdatesDownload.moc"
