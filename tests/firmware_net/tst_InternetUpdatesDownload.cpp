// Downloads of the internet update frame against a real HTTP server on 127.0.0.1: a
// firmware image reaches the firmware window, programs are stored next to this program
// under free names and started, release notes are shown, a slow line leaves the GUI
// responsive, and names or sizes that are not safe are refused.
#include "TestMain.h"
#include "UpdatesTestFixture.h"
#include "uUpdateServerClient.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

class TInternetUpdatesDownloadTest : public QObject {
    Q_OBJECT

    // Lists TAMREL's files (Files: one name a line) and selects Name.
    static void ListAndSelect(TUpdatesFixture &F, const QByteArray &Files, const QString &Name) {
        F.PutDevices("TAMREL\r\n");
        F.PutFiles("TAMREL", Files);
        F.Frame->EditSelectDevice->setText("TAMREL");
        F.Click(F.Frame->ButtonCheckUpdatesGetDevices);
        WAIT_IDLE(F);
        QVERIFY(F.SelectFile(Name));
    }
    static void Download(TUpdatesFixture &F) {
        F.Click(F.Frame->ButtonDownloadFirmware);
        WAIT_IDLE(F);
    }
    static QByteArray Pattern(int Size) {
        QByteArray B(Size, 0);
        for (int I = 0; I < Size; ++I)
            B[I] = char((I * 7 + I / 251) & 0xFF);
        return B;
    }
    static QByteArray ReadAll(const QString &Path) {
        QFile F(Path);
        return F.open(QIODevice::ReadOnly) ? F.readAll() : QByteArray("<missing>");
    }

private slots:
    void firmwareReachesTheFirmwareWindow() {
        TUpdatesFixture F;
        const QString Name = "Main 2.1;DeviceIdentStr=XYZ-BL.frm";
        const QByteArray Image = Pattern(60 * 1024);
        F.Put("TAMREL/" + Name, Image);
        ListAndSelect(F, Name.toUtf8() + "\r\n", Name);
        Download(F);
        QCOMPARE(F.Errors, QStringList{});
        QCOMPARE(F.Loads.size(), 1);
        QCOMPARE(F.Loads.first().Buffer, Image);
        QCOMPARE(F.Loads.first().FileName, Name);
        QCOMPARE(F.Loads.first().Hide, false);
        QCOMPARE(F.Frame->LabelProgramFileName->text(), QString("Main 2.1"));
        QCOMPARE(F.Frame->LabelProgramFileName->toolTip(), QString("Main 2.1"));
        QCOMPARE(F.Frame->LabelOnWork->text(), QString("61440 Б"));
        QVERIFY(F.Frame->ButtonSaveToFile->isEnabled());
        QCOMPARE(F.Frame->ButtonSaveToFile->toolTip(), Name + " (61440 B)");
        QCOMPARE(F.Frame->FirmwareName, Name);
        QVERIFY(F.Frame->PanelAskLaunchProgram->isHidden());
        // A double click on the row downloads it again.
        F.Frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(F.Frame.get()));
        QTreeWidgetItem *Row = F.Frame->SelectedFileRow();
        F.Frame->ListViewFiles->scrollToItem(Row);
        const QPoint At = F.Frame->ListViewFiles->visualItemRect(Row).center();
        // The view takes a double click as the second press on the row it was pressed on.
        QTest::mouseClick(F.Frame->ListViewFiles->viewport(), Qt::LeftButton, {}, At);
        QTest::mouseDClick(F.Frame->ListViewFiles->viewport(), Qt::LeftButton, {}, At);
        WAIT_IDLE(F);
        QCOMPARE(F.Loads.size(), 2);
        QCOMPARE(F.Server->Requests.size(), 4);
    }

    void otherFilesHideTheFirmwarePanels() {
        TUpdatesFixture F;
        F.Put("TAMREL/data.bin", "12345");
        ListAndSelect(F, "data.bin\r\n", "data.bin");
        Download(F);
        QCOMPARE(F.Loads.size(), 1);
        QCOMPARE(F.Loads.first().Buffer, QByteArray());
        QCOMPARE(F.Loads.first().FileName, QString());
        QCOMPARE(F.Loads.first().Hide, true);
        QCOMPARE(F.Frame->LabelProgramFileName->text(), QString("data.bin"));
        QCOMPARE(F.Frame->ButtonSaveToFile->toolTip(), QString("data.bin (5 B)"));
    }

    // An empty download changes nothing but the byte count.
    void emptyDownload() {
        TUpdatesFixture F;
        F.Put("TAMREL/a.bin", "abc");
        F.Put("TAMREL/empty.exe", "");
        ListAndSelect(F, "a.bin\r\nempty.exe\r\n", "a.bin");
        Download(F);
        QVERIFY(F.Frame->ButtonSaveToFile->isEnabled());
        QVERIFY(F.SelectFile("empty.exe"));
        Download(F);
        QCOMPARE(F.Errors, QStringList{});
        QVERIFY(!F.Frame->ButtonSaveToFile->isEnabled());
        QVERIFY(F.Frame->PanelAskLaunchProgram->isHidden());
        QCOMPARE(F.Frame->LabelProgramFileName->text(), QString("a.bin"));
        QCOMPARE(F.Frame->LabelOnWork->text(), QString("0 Б"));
        QCOMPARE(F.Loads.size(), 1);
        QCOMPARE(QDir(F.ProgramFolder()).entryList(QDir::Files), QStringList{});
    }

    // tool.exe twice: tool.exe, then tool(1).exe, both next to the running program.
    void programStoredUnderAFreeName() {
        TUpdatesFixture F;
        const QByteArray Program = Pattern(3000);
        F.Put("TAMREL/tool.exe", Program);
        ListAndSelect(F, "tool.exe\r\n", "tool.exe");
        Download(F);
        const QString First = QDir(F.ProgramFolder()).filePath("tool.exe");
        QCOMPARE(F.Errors, QStringList{});
        QCOMPARE(ReadAll(First), Program);
        QVERIFY(QFileInfo(First).isExecutable());
        QVERIFY(!F.Frame->PanelAskLaunchProgram->isHidden());
        QCOMPARE(F.Frame->LabelProgramFileName->text(), First);
        QCOMPARE(F.Frame->ExeFullFileName, First);
        QCOMPARE(F.Loads.size(), 1);
        QCOMPARE(F.Loads.first().Hide, true);
        Download(F);
        const QString Second = QDir(F.ProgramFolder()).filePath("tool(1).exe");
        QCOMPARE(ReadAll(Second), Program);
        QCOMPARE(ReadAll(First), Program);
        QCOMPARE(F.Frame->ExeFullFileName, Second);
        QCOMPARE(QDir(F.ProgramFolder()).entryList(QDir::Files), (QStringList{"tool(1).exe", "tool.exe"}));
    }

    // A program's name that would not stay a plain name in the program's folder is refused
    // before anything is fetched or written.
    void unsafeProgramNamesRefused_data() {
        QTest::addColumn<QString>("Name");
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
        QFETCH(QString, Name);
        TUpdatesFixture F;
        ListAndSelect(F, Name.toUtf8() + "\r\n", Name);
        const int Requests = F.Server->Requests.size();
        F.Click(F.Frame->ButtonDownloadFirmware);
        WAIT_IDLE(F);
        QCOMPARE(F.Errors.size(), 1);
        QVERIFY2(F.Errors.first().contains("cannot be used as a local file name"),
                 qPrintable(F.Errors.first()));
        QVERIFY2(F.Errors.first().contains("nothing was stored"), qPrintable(F.Errors.first()));
        QCOMPARE(F.Server->Requests.size(), Requests);
        QCOMPARE(QDir(F.Outside.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{"app"});
        QCOMPARE(QDir(F.ProgramFolder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{});
        QVERIFY(F.Frame->PanelAskLaunchProgram->isHidden());
        QCOMPARE(F.Loads.size(), 0);
    }

    void saveToDisk() {
        TUpdatesFixture F;
        const QByteArray Bytes = Pattern(5000);
        F.Put("TAMREL/data.bin", Bytes);
        ListAndSelect(F, "data.bin\r\n", "data.bin");
        Download(F);
        QStringList Proposed;
        const QString Target = QDir(F.Outside.path()).filePath("saved.bin");
        F.Frame->AskSaveFileName = [&](const QString &Name) {
            Proposed << Name;
            return Target;
        };
        F.Click(F.Frame->ButtonSaveToFile);
        QCOMPARE(Proposed, QStringList{"data.bin"});
        QCOMPARE(ReadAll(Target), Bytes);
        // Cancelled: nothing written.
        QVERIFY(QFile::remove(Target));
        F.Frame->AskSaveFileName = [](const QString &) { return QString(); };
        F.Click(F.Frame->ButtonSaveToFile);
        QVERIFY(!QFile::exists(Target));
        QCOMPARE(F.Errors, QStringList{});
    }

    // The save dialog is never offered a server's name that is not a plain file name.
    void unsafeNameNotProposedForSaving_data() {
        QTest::addColumn<QString>("Name");
        QTest::newRow("parent folder") << "../evil.bin";
        QTest::newRow("parent folder, backslash") << "..\\evil.bin";
        QTest::newRow("absolute path") << "/etc/evil.bin";
        QTest::newRow("drive letter") << "C:\\evil.bin";
        QTest::newRow("control character") << "evil\x02.bin";
    }
    void unsafeNameNotProposedForSaving() {
        QFETCH(QString, Name);
        TUpdatesFixture F;
        F.Frame->FirmwareStream = "bytes";
        F.Frame->FirmwareName = Name;
        int Asked = 0;
        F.Frame->AskSaveFileName = [&](const QString &) {
            ++Asked;
            return QString();
        };
        F.Frame->ButtonSaveToFile->setEnabled(true);
        F.Click(F.Frame->ButtonSaveToFile);
        QCOMPARE(Asked, 0);
        QCOMPARE(F.Errors.size(), 1);
        QVERIFY2(F.Errors.first().contains("cannot be used as a local file name"),
                 qPrintable(F.Errors.first()));
    }

    // After a failed download, "Save to disk" still saves the last complete one, under its
    // own name: never a truncated file.
    void failedDownloadKeepsThePreviousOne_data() {
        QTest::addColumn<QString>("Fault");
        QTest::newRow("500") << "500";
        QTest::newRow("404") << "404";
        QTest::newRow("too large, no length") << "large";
        QTest::newRow("no answer") << "hang";
    }
    void failedDownloadKeepsThePreviousOne() {
        QFETCH(QString, Fault);
        TUpdatesFixture F;
        const QByteArray Good = Pattern(4000);
        F.Put("TAMREL/good.bin", Good);
        F.Put("TAMREL/big.bin", Pattern(20000));
        ListAndSelect(F, "good.bin\r\nbig.bin\r\nmissing.bin\r\n", "good.bin");
        Download(F);
        QVERIFY(F.SelectFile(Fault == "404" ? "missing.bin" : "big.bin"));
        F.Server->Options.FailStatus = Fault == "500" ? 500 : 0;
        F.Server->Options.Hang = Fault == "hang";
        F.Server->Options.NoContentLength = Fault == "large";
        F.Frame->MaxDownloadBytes = 10000;
        F.Frame->IdHTTP1->TransferTimeoutMs = 300;
        Download(F);
        QCOMPARE(F.Errors.size(), 1);
        QCOMPARE(F.Loads.size(), 1);
        QCOMPARE(F.Frame->FirmwareName, QString("good.bin"));
        QCOMPARE(F.Frame->LabelProgramFileName->text(), QString("good.bin"));
        QVERIFY(F.Frame->ButtonSaveToFile->isEnabled());
        QCOMPARE(F.Frame->ButtonSaveToFile->toolTip(), QString("good.bin (4000 B)"));
        const QString Target = QDir(F.Outside.path()).filePath("saved.bin");
        F.Frame->AskSaveFileName = [&](const QString &) { return Target; };
        F.Click(F.Frame->ButtonSaveToFile);
        QCOMPARE(ReadAll(Target), Good);
    }

    // A download over 64 MiB is refused as soon as its length is known (a sparse file here).
    void downloadOver64MiBRefused() {
        TUpdatesFixture F;
        F.Put("TAMREL/huge.bin", "");
        QFile Huge(QDir(F.Kvbl()).filePath("TAMREL/huge.bin"));
        QVERIFY(Huge.resize(64 * 1024 * 1024 + 1));
        ListAndSelect(F, "huge.bin\r\n", "huge.bin");
        Download(F);
        QCOMPARE(F.Errors.size(), 1);
        QVERIFY2(F.Errors.first().startsWith("The update server's answer is larger than 64 MiB"),
                 qPrintable(F.Errors.first()));
        QCOMPARE(F.Loads.size(), 0);
        QVERIFY(!F.Frame->ButtonSaveToFile->isEnabled());
    }

    void releaseNoteShown_data() {
        QTest::addColumn<QByteArray>("Bytes");
        const QString Text = QStringLiteral("Прошивка 1.7: исправлен ток канала 2.");
        QTest::newRow("UTF-8") << Text.toUtf8();
        QTest::newRow("windows-1251")
            << QByteArray("\xCF\xF0\xEE\xF8\xE8\xE2\xEA\xE0 1.7: \xE8\xF1\xEF\xF0\xE0\xE2"
                          "\xEB\xE5\xED \xF2\xEE\xEA \xEA\xE0\xED\xE0\xEB\xE0 2.");
    }
    void releaseNoteShown() {
        QFETCH(QByteArray, Bytes);
        TUpdatesFixture F;
        F.Frame->show();
        F.Put("TAMREL/notes.txt", Bytes);
        ListAndSelect(F, "notes.txt\r\n", "notes.txt");
        Download(F);
        QMessageBox *Box = nullptr;
        QTRY_VERIFY((Box = F.Frame->findChild<QMessageBox *>("MessageBoxReleaseNote")) && Box->isVisible());
        QCOMPARE(Box->text(), QStringLiteral("Прошивка 1.7: исправлен ток канала 2."));
        QCOMPARE(Box->windowTitle(), QString("notes.txt"));
        QCOMPARE(F.Loads.size(), 1);
        QCOMPARE(F.Loads.first().Hide, true);
        // The box does not hold up the frame: another request runs while it is open.
        F.Click(F.Frame->ButtonCheckUpdatesGetDevices);
        WAIT_IDLE(F);
        QVERIFY(Box->isVisible());
        Box->accept();
        QTRY_VERIFY(!F.Frame->findChild<QMessageBox *>("MessageBoxReleaseNote"));
    }

    // 1 KB/s: the download takes seconds; meanwhile the event loop keeps turning, the byte
    // count grows, and no second request can be started.
    void slowServerKeepsTheGuiResponsive() {
        TUpdatesFixture F;
        const QByteArray Image = Pattern(3 * 1024);
        F.Put("TAMREL/slow;DeviceIdentStr=X.firmware", Image);
        ListAndSelect(F, "slow;DeviceIdentStr=X.firmware\r\n", "slow;DeviceIdentStr=X.firmware");
        F.Server->Options.ThrottleBytesPerSecond = 1024;
        const int Requests = F.Server->Requests.size();

        QElapsedTimer Clock;
        qint64 Last = 0, LongestGap = 0;
        QTimer Beat;
        QObject::connect(&Beat, &QTimer::timeout, [&] {
            const qint64 Now = Clock.elapsed();
            LongestGap = qMax(LongestGap, Now - Last);
            Last = Now;
        });
        QStringList Counts;
        Clock.start();
        Beat.start(10);
        F.Click(F.Frame->ButtonDownloadFirmware);
        QVERIFY(F.Frame->IsRequestRunning());
        for (QWidget *W : {static_cast<QWidget *>(F.Frame->ButtonCheckUpdatesGetDevices),
                           static_cast<QWidget *>(F.Frame->ButtonCheckUpdates),
                           static_cast<QWidget *>(F.Frame->ButtonDownloadFirmware),
                           static_cast<QWidget *>(F.Frame->ButtonSaveToFile),
                           static_cast<QWidget *>(F.Frame->ListViewDevices)})
            QVERIFY2(!W->isEnabled(), qPrintable(W->objectName()));
        // Starting another request is ignored while this one runs.
        F.Frame->ButtonDownloadFirmwareClick();
        F.Frame->ButtonCheckUpdatesGetDevicesClick();
        F.Frame->ButtonCheckUpdatesClick();
        while (F.Frame->IsRequestRunning() && Clock.elapsed() < 30000) {
            QTest::qWait(20);
            const QString Now = F.Frame->LabelOnWork->text();
            if (Counts.isEmpty() || Counts.last() != Now) Counts << Now;
        }
        Beat.stop();
        QCOMPARE(F.Errors, QStringList{});
        QCOMPARE(F.Server->Requests.size(), Requests + 1);
        QCOMPARE(F.Loads.size(), 1);
        QCOMPARE(F.Loads.first().Buffer, Image);
        // The count went up in steps while the bytes trickled in.
        QVERIFY2(Counts.size() >= 3, qPrintable(Counts.join(", ")));
        QCOMPARE(Counts.last(), QString("3072 Б"));
        QVERIFY(Clock.elapsed() >= 1500);
        // A generous bound: a blocked GUI thread would show a gap of the whole transfer.
        QVERIFY2(LongestGap < 750, qPrintable(QString::number(LongestGap)));
        QVERIFY(F.Frame->ButtonDownloadFirmware->isEnabled());
        QVERIFY(F.Frame->ButtonCheckUpdatesGetDevices->isEnabled());
    }

    // The frame goes away (the program ends) in the middle of a download: nothing of it is
    // called afterwards.
    void frameDestroyedDuringADownload() {
        TUpdatesFixture F;
        F.Put("TAMREL/slow.bin", Pattern(4096));
        ListAndSelect(F, "slow.bin\r\n", "slow.bin");
        F.Server->Options.ThrottleBytesPerSecond = 1024;
        F.Click(F.Frame->ButtonDownloadFirmware);
        QTRY_VERIFY(F.Frame->LabelOnWork->text() != "-");
        F.Frame.reset();
        QTest::qWait(300);
        QCOMPARE(F.Loads.size(), 0);
        QCOMPARE(F.Errors, QStringList{});
    }

    // Launch: the stored program starts; with "Update" checked it gets delete="<this
    // program>" and this program closes 200 ms later.
    void launchProgram_data() {
        QTest::addColumn<bool>("DeleteOld");
        QTest::newRow("delete old version") << true;
        QTest::newRow("keep this program") << false;
    }
    void launchProgram() {
        QFETCH(bool, DeleteOld);
        TUpdatesFixture F;
        // A program that writes down its arguments next to itself.
        F.Put("TAMREL/tool.exe", "#!/bin/sh\nfor a in \"$@\"; do printf '%s|' \"$a\"; done > "
                                 "\"$0.args\"\necho done >> \"$0.args\"\n");
        ListAndSelect(F, "tool.exe\r\n", "tool.exe");
        Download(F);
        QVERIFY(!F.Frame->PanelAskLaunchProgram->isHidden());
        int Closes = 0;
        F.Frame->CloseMainWindow = [&] { ++Closes; };
        F.Frame->CheckBoxDeleteOld->setChecked(DeleteOld);
        F.Click(F.Frame->ButtonLaunchProgram);
        QCOMPARE(F.Errors, QStringList{});
        const QString Args = QDir(F.ProgramFolder()).filePath("tool.exe.args");
        QTRY_VERIFY_WITH_TIMEOUT(ReadAll(Args).endsWith("done\n"), 10000);
        const QByteArray Expected =
            DeleteOld ? "delete=\"" + QCoreApplication::applicationFilePath().toUtf8() + "\"|done\n"
                      : "done\n";
        QCOMPARE(ReadAll(Args), Expected);
        if (DeleteOld) {
            QTRY_COMPARE(Closes, 1);
            QVERIFY(!F.Frame->TimerClose->isActive());
        } else {
            QTest::qWait(400);
            QCOMPARE(Closes, 0);
            QVERIFY(!F.Frame->TimerClose->isActive());
        }
    }

    void launchWithoutTheStoredFileDoesNothing() {
        TUpdatesFixture F;
        F.Frame->ExeFullFileName = QDir(F.ProgramFolder()).filePath("gone.exe");
        int Closes = 0;
        F.Frame->CloseMainWindow = [&] { ++Closes; };
        F.Frame->CheckBoxDeleteOld->setChecked(true);
        F.Frame->ButtonLaunchProgramClick();
        QVERIFY(!F.Frame->TimerClose->isActive());
        QCOMPARE(F.Errors, QStringList{});
    }
};

TAMREL_TEST_MAIN(TInternetUpdatesDownloadTest)
#include "tst_InternetUpdatesDownload.moc"
