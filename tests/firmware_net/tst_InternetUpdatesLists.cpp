// The internet update frame's lists against a real HTTP server on 127.0.0.1: the requests
// as the server saw them, list answers, groups and captions, the preset device, redirects,
// and failures (error statuses, no answer, too long an answer) that must reach the error
// display and leave the lists as they were.
#include "TestMain.h"
#include "UpdatesTestFixture.h"
#include "uUpdateServerClient.h"
#include "uUpdateServerSetting.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTcpServer>

class TInternetUpdatesListsTest : public QObject {
    Q_OBJECT

    // Device list with TAMREL preset; TAMREL lists one firmware image.
    static void LoadTamrel(TUpdatesFixture &F,
                           const QByteArray &Files = "Main 2.1;DeviceIdentStr=XYZ.frm\r\n") {
        F.PutDevices("TAMREL\r\nOTHER\r\n");
        F.PutFiles("TAMREL", Files);
        F.Frame->EditSelectDevice->setText("TAMREL");
        F.Click(F.Frame->ButtonCheckUpdatesGetDevices);
    }

private slots:
    void requestsAsTheServerSawThem() {
        TUpdatesFixture F;
        F.Put("TAMREL/Main 2.1;DeviceIdentStr=XYZ.frm", "image");
        LoadTamrel(F);
        WAIT_IDLE(F);
        QCOMPARE(F.FileRows(), QStringList{"0|Main 2.1|Main 2.1;DeviceIdentStr=XYZ.frm"});
        F.Click(F.Frame->ButtonDownloadFirmware);
        WAIT_IDLE(F);
        QCOMPARE(F.Errors, QStringList{});
        // The device list address ends in two slashes; names are percent-escaped.
        QCOMPARE(F.RequestPaths(),
                 (QStringList{"/firmware_update/KVBL//", "/firmware_update/KVBL/TAMREL/",
                              "/firmware_update/KVBL/TAMREL/Main%202.1;DeviceIdentStr=XYZ.frm"}));
        for (const TSimUpdateRequest &R : F.Server->Requests) {
            QCOMPARE(R.Method, QByteArray("GET"));
            QCOMPARE(R.Header("Accept"), QByteArray("text/html, */*"));
            QCOMPARE(R.Header("User-Agent"), QByteArray("Mozilla/3.0 (compatible; Indy Library)"));
        }
    }

    // Without an address of its own, the frame asks the program's update server.
    void programSettingIsTheDefaultAddress() {
        TUpdatesFixture F;
        F.PutDevices("TAMREL\r\n");
        const QString Saved = UpdateServerAddress();
        SetUpdateServerAddress(F.Server->BaseAddress());
        F.Frame->BaseAddress.clear();
        F.Click(F.Frame->ButtonCheckUpdatesGetDevices);
        WAIT_IDLE(F);
        SetUpdateServerAddress(Saved);
        QCOMPARE(F.DeviceRows(), QStringList{"TAMREL"});
        QCOMPARE(F.RequestPaths(), QStringList{"/firmware_update/KVBL//"});
    }

    void lineBreaksAndBlankLines_data() {
        QTest::addColumn<QByteArray>("Answer");
        QTest::addColumn<QStringList>("Rows");
        const QStringList Three{"TAMREL", "", "OTHER"};
        QTest::newRow("CR LF") << QByteArray("TAMREL\r\n\r\nOTHER\r\n") << Three;
        QTest::newRow("LF") << QByteArray("TAMREL\n\nOTHER\n") << Three;
        QTest::newRow("CR") << QByteArray("TAMREL\r\rOTHER\r") << Three;
        QTest::newRow("no break at the end") << QByteArray("TAMREL\n\nOTHER") << Three;
        QTest::newRow("mixed") << QByteArray("TAMREL\r\n\nOTHER\r") << Three;
        QTest::newRow("blank lines at the end") << QByteArray("A\r\n\r\n\r\n") << QStringList{"A", "", ""};
        QTest::newRow("empty answer") << QByteArray() << QStringList{};
        QTest::newRow("UTF-8 name") << QByteArray("Тестер\r\n") << QStringList{"Тестер"};
    }
    void lineBreaksAndBlankLines() {
        QFETCH(QByteArray, Answer);
        QFETCH(QStringList, Rows);
        TUpdatesFixture F;
        F.PutDevices(Answer);
        F.Frame->EditSelectDevice->setText("NONE");
        F.Click(F.Frame->ButtonCheckUpdatesGetDevices);
        WAIT_IDLE(F);
        QCOMPARE(F.Errors, QStringList{});
        QCOMPARE(F.DeviceRows(), Rows);
        QCOMPARE(F.Frame->ButtonCheckUpdates->isEnabled(), !Rows.isEmpty());
    }

    void groupsAndCaptions() {
        TUpdatesFixture F;
        LoadTamrel(F, "Main 2.1;DeviceIdentStr=XYZ.frm\r\n"
                      "Main.FRM\r\n"
                      "Boot 1.0;Build=7;DeviceIdentStr=A=B.firmware\r\n"
                      "Main 2.2.frm\r\n"
                      "tool.exe\r\n"
                      "setup.EXE\r\n"
                      "\r\n"
                      "readme.txt\r\n"
                      "Last;DeviceIdentStr=XYZ.bin\r\n");
        WAIT_IDLE(F);
        QCOMPARE(F.Errors, QStringList{});
        QCOMPARE(F.FileRows(),
                 (QStringList{"0|Main 2.1|Main 2.1;DeviceIdentStr=XYZ.frm",
                              "0|Boot 1.0|Boot 1.0;Build=7;DeviceIdentStr=A=B.firmware",
                              "0|Main 2.2|Main 2.2.frm", "1|tool.exe|tool.exe", "2|Main.FRM|Main.FRM",
                              "2|setup.EXE|setup.EXE", "2||", "2|readme.txt|readme.txt",
                              "2|Last;DeviceIdentStr=XYZ.bin|Last;DeviceIdentStr=XYZ.bin"}));
        // The last listed file is selected, and can be downloaded.
        QCOMPARE(F.SelectedFileName(), QString("Last;DeviceIdentStr=XYZ.bin"));
        QVERIFY(F.Frame->ButtonDownloadFirmware->isEnabled());
        QCOMPARE(F.Frame->FileGroupItem(0)->text(0), QString("Прошивки"));
        QCOMPARE(F.Frame->FileGroupItem(1)->text(0), QString("Компьютерные программы (exe)"));
        QCOMPARE(F.Frame->FileGroupItem(2)->text(0), QString("Другое"));
        // The file name is a hidden sub-item.
        QVERIFY(F.Frame->ListViewFiles->isColumnHidden(1));
        QVERIFY(F.Frame->ListViewFiles->isHeaderHidden());
    }

    // A group without rows is not shown; the last file may be in any group.
    void emptyGroupsHiddenLastRowSelected() {
        TUpdatesFixture F;
        LoadTamrel(F, "notes.txt\r\nMain;DeviceIdentStr=X.firmware\r\n");
        WAIT_IDLE(F);
        QVERIFY(!F.Frame->FileGroupItem(0)->isHidden());
        QVERIFY(F.Frame->FileGroupItem(1)->isHidden());
        QVERIFY(!F.Frame->FileGroupItem(2)->isHidden());
        QCOMPARE(F.SelectedFileName(), QString("Main;DeviceIdentStr=X.firmware"));
    }

    void presetDevice_data() {
        QTest::addColumn<QString>("Preset");
        QTest::addColumn<bool>("ShowAll");
        QTest::addColumn<bool>("PanelShown");
        QTest::addColumn<QStringList>("Paths");
        const QStringList Both{"/firmware_update/KVBL//", "/firmware_update/KVBL/TAMREL/"};
        QTest::newRow("found") << "TAMREL" << false << false << Both;
        QTest::newRow("found, all devices shown") << "TAMREL" << true << true << Both;
        QTest::newRow("letter case differs")
            << "tamrel" << false << true << QStringList{"/firmware_update/KVBL//"};
        QTest::newRow("missing") << "GHOST" << false << true << QStringList{"/firmware_update/KVBL//"};
    }
    void presetDevice() {
        QFETCH(QString, Preset);
        QFETCH(bool, ShowAll);
        QFETCH(bool, PanelShown);
        QFETCH(QStringList, Paths);
        TUpdatesFixture F;
        F.PutDevices("OTHER\r\nTAMREL\r\nTAMREL\r\n");
        F.PutFiles("TAMREL", "a.frm\r\n");
        F.Frame->CheckBoxShowAllDevices->setChecked(ShowAll);
        F.Frame->EditSelectDevice->setText(Preset);
        F.Click(F.Frame->ButtonCheckUpdatesGetDevices);
        WAIT_IDLE(F);
        QCOMPARE(F.Errors, QStringList{});
        QCOMPARE(!F.Frame->PanelSelectUpdate->isHidden(), PanelShown);
        QCOMPARE(F.RequestPaths(), Paths);
        const QList<QTreeWidgetItem *> Selected = F.Frame->ListViewDevices->selectedItems();
        if (Paths.size() == 2) {
            // The first of two equal rows is chosen.
            QCOMPARE(Selected.size(), 1);
            QCOMPARE(F.Frame->ListViewDevices->indexOfTopLevelItem(Selected.first()), 1);
            QCOMPARE(F.FileRows(), QStringList{"0|a|a.frm"});
        } else {
            QVERIFY(Selected.isEmpty());
            QCOMPARE(F.FileRows(), QStringList{});
        }
    }

    // The menu item shows and hides the device panel.
    void showAllDevicesItem() {
        TUpdatesFixture F;
        LoadTamrel(F);
        WAIT_IDLE(F);
        QVERIFY(F.Frame->PanelSelectUpdate->isHidden());
        F.Frame->CheckBoxShowAllDevices->trigger();
        QVERIFY(F.Frame->CheckBoxShowAllDevices->isChecked());
        QVERIFY(!F.Frame->PanelSelectUpdate->isHidden());
        F.Frame->CheckBoxShowAllDevices->trigger();
        QVERIFY(F.Frame->PanelSelectUpdate->isHidden());
    }

    void choosingAnotherDeviceFetchesItsFiles() {
        TUpdatesFixture F;
        F.PutFiles("OTHER", "Other 1;DeviceIdentStr=O.frm\r\n");
        LoadTamrel(F);
        WAIT_IDLE(F);
        F.Frame->ListViewDevices->setCurrentItem(F.Frame->ListViewDevices->topLevelItem(1));
        WAIT_IDLE(F);
        QCOMPARE(F.FileRows(), QStringList{"0|Other 1|Other 1;DeviceIdentStr=O.frm"});
        QCOMPARE(F.RequestPaths().last(), QString("/firmware_update/KVBL/OTHER/"));
        // "Check Updates for Device" asks again for the selected device.
        F.Click(F.Frame->ButtonCheckUpdates);
        WAIT_IDLE(F);
        QCOMPARE(F.RequestPaths().size(), 4);
        QCOMPARE(F.RequestPaths().last(), QString("/firmware_update/KVBL/OTHER/"));
        // The label's double click fetches the device list again.
        QTest::mouseDClick(F.Frame->LabelSelectDevice, Qt::LeftButton);
        WAIT_IDLE(F);
        QCOMPARE(F.RequestPaths().at(4), QString("/firmware_update/KVBL//"));
    }

    void redirectIsFollowed() {
        TUpdatesFixture F;
        F.PutDevices("TAMREL\r\n");
        F.Server->Options.RedirectPrefix = "/old/";
        F.Server->Options.RedirectTarget = "/";
        F.Frame->BaseAddress = F.Server->BaseAddress().replace("/firmware_update/", "/old/firmware_update/");
        F.Click(F.Frame->ButtonCheckUpdatesGetDevices);
        WAIT_IDLE(F);
        QCOMPARE(F.Errors, QStringList{});
        QCOMPARE(F.DeviceRows(), QStringList{"TAMREL"});
        QCOMPARE(F.RequestPaths(), (QStringList{"/old/firmware_update/KVBL//", "/firmware_update/KVBL//"}));
        // The redirected request carries the same headers.
        QCOMPARE(F.Server->Requests.last().Header("User-Agent"),
                 QByteArray("Mozilla/3.0 (compatible; Indy Library)"));
    }

    void redirectToAnotherProtocolRefused_data() {
        QTest::addColumn<QString>("Target");
        QTest::newRow("https") << "https://127.0.0.1:%1/";
        QTest::newRow("ftp") << "ftp://127.0.0.1:%1/";
    }
    void redirectToAnotherProtocolRefused() {
        QFETCH(QString, Target);
        TUpdatesFixture F;
        F.PutDevices("TAMREL\r\n");
        F.Click(F.Frame->ButtonCheckUpdatesGetDevices);
        WAIT_IDLE(F);
        F.Server->Options.RedirectPrefix = "/firmware_update/";
        F.Server->Options.RedirectTarget = Target.arg(F.Server->Port()) + "firmware_update/";
        F.PutDevices("CHANGED\r\n");
        F.Click(F.Frame->ButtonCheckUpdatesGetDevices);
        WAIT_IDLE(F);
        QCOMPARE(F.Errors.size(), 1);
        QVERIFY2(F.Errors.first().contains("another protocol"), qPrintable(F.Errors.first()));
        QCOMPARE(F.DeviceRows(), QStringList{"TAMREL"});
        QCOMPARE(F.Server->Requests.size(), 2);
    }

    // An error status reaches the error display; lists, selection and buttons stay.
    void errorStatusLeavesTheListsAsTheyWere_data() {
        QTest::addColumn<int>("Status");
        QTest::addColumn<QString>("Request");
        QTest::newRow("404 file list") << 404 << "files";
        QTest::newRow("500 file list") << 500 << "files";
        QTest::newRow("404 device list") << 404 << "devices";
        QTest::newRow("500 device list") << 500 << "devices";
    }
    void errorStatusLeavesTheListsAsTheyWere() {
        QFETCH(int, Status);
        QFETCH(QString, Request);
        TUpdatesFixture F;
        F.Frame->CheckBoxShowAllDevices->setChecked(true);
        LoadTamrel(F);
        WAIT_IDLE(F);
        const QStringList Devices = F.DeviceRows(), Files = F.FileRows();
        F.Server->Options.FailStatus = Status == 500 ? 500 : 0;
        if (Status == 404 && Request == "files")
            QVERIFY(QDir(QDir(F.Kvbl()).filePath("TAMREL")).removeRecursively());
        if (Status == 404 && Request == "devices") F.Frame->BaseAddress.replace("/KVBL/", "/MOVED/");
        F.Click(Request == "files" ? F.Frame->ButtonCheckUpdates : F.Frame->ButtonCheckUpdatesGetDevices);
        WAIT_IDLE(F);
        QCOMPARE(F.Errors.size(), 1);
        QVERIFY2(F.Errors.first().contains(QStringLiteral("HTTP %1").arg(Status)),
                 qPrintable(F.Errors.first()));
        QCOMPARE(F.DeviceRows(), Devices);
        QCOMPARE(F.FileRows(), Files);
        QCOMPARE(F.SelectedFileName(), QString("Main 2.1;DeviceIdentStr=XYZ.frm"));
        QVERIFY(F.Frame->ButtonCheckUpdatesGetDevices->isEnabled());
        QVERIFY(F.Frame->ButtonCheckUpdates->isEnabled());
        QVERIFY(F.Frame->ButtonDownloadFirmware->isEnabled());
    }

    // A file list that failed, or a device list without the preset device, leaves the
    // shown file list, and its files are still fetched from their own folder.
    void downloadFollowsTheShownFileList_data() {
        QTest::addColumn<bool>("FailedFileList");
        QTest::newRow("device list without the preset") << false;
        QTest::newRow("failed file list of another device") << true;
    }
    void downloadFollowsTheShownFileList() {
        QFETCH(bool, FailedFileList);
        TUpdatesFixture F;
        F.Put("TAMREL/Main 2.1;DeviceIdentStr=XYZ.frm", "tamrel image");
        F.Frame->CheckBoxShowAllDevices->setChecked(true);
        LoadTamrel(F);
        WAIT_IDLE(F);
        if (FailedFileList) {
            F.Frame->ListViewDevices->setCurrentItem(F.Frame->ListViewDevices->topLevelItem(1)); // OTHER: 404
        } else {
            F.Frame->EditSelectDevice->setText("GHOST");
            F.Click(F.Frame->ButtonCheckUpdatesGetDevices);
        }
        WAIT_IDLE(F);
        QCOMPARE(F.Errors.size(), FailedFileList ? 1 : 0);
        QCOMPARE(F.FileRows(), QStringList{"0|Main 2.1|Main 2.1;DeviceIdentStr=XYZ.frm"});
        F.Click(F.Frame->ButtonDownloadFirmware);
        WAIT_IDLE(F);
        QCOMPARE(F.RequestPaths().last(),
                 QString("/firmware_update/KVBL/TAMREL/Main%202.1;DeviceIdentStr=XYZ.frm"));
        QCOMPARE(F.Errors.size(), FailedFileList ? 1 : 0);
        QCOMPARE(F.Loads.size(), 1);
        QCOMPARE(F.Loads.first().Buffer, QByteArray("tamrel image"));
    }

    // A server that takes the request and never answers: the transfer time-out ends it.
    void noAnswerEndsWithTheTransferTimeOut() {
        TUpdatesFixture F;
        QCOMPARE(F.Frame->IdHTTP1->TransferTimeoutMs, 30000);
        LoadTamrel(F);
        WAIT_IDLE(F);
        F.Server->Options.Hang = true;
        F.Frame->IdHTTP1->TransferTimeoutMs = 300;
        F.Click(F.Frame->ButtonCheckUpdatesGetDevices);
        QVERIFY(F.Frame->IsRequestRunning());
        QVERIFY(!F.Frame->ButtonCheckUpdatesGetDevices->isEnabled());
        WAIT_IDLE(F);
        QCOMPARE(F.Errors, QStringList{QStringLiteral("No answer from the update server within 0.3 s (%1/)")
                                           .arg(F.Server->BaseAddress())});
        QCOMPARE(F.DeviceRows(), (QStringList{"TAMREL", "OTHER"}));
        QVERIFY(F.Frame->ButtonCheckUpdatesGetDevices->isEnabled());
    }

    void noServerAtTheAddress() {
        TUpdatesFixture F;
        QTcpServer Closed;
        QVERIFY(Closed.listen(QHostAddress::LocalHost));
        const quint16 Port = Closed.serverPort();
        Closed.close();
        F.Frame->BaseAddress = QStringLiteral("http://127.0.0.1:%1/firmware_update/KVBL/").arg(Port);
        F.Click(F.Frame->ButtonCheckUpdatesGetDevices);
        WAIT_IDLE(F);
        QCOMPARE(F.Errors.size(), 1);
        QVERIFY2(F.Errors.first().startsWith("Update server: Connection refused"),
                 qPrintable(F.Errors.first()));
        QVERIFY(F.Frame->ButtonCheckUpdatesGetDevices->isEnabled());
    }

    // A list answer of more than 1 MiB is refused, whether the server announces its length
    // or not; exactly 1 MiB is taken.
    void listOverOneMiBRefused_data() {
        QTest::addColumn<int>("Size");
        QTest::addColumn<bool>("WithLength");
        QTest::newRow("1 MiB") << 1024 * 1024 << true;
        QTest::newRow("1 MiB + 1") << 1024 * 1024 + 1 << true;
        QTest::newRow("1 MiB + 1, no length") << 1024 * 1024 + 1 << false;
        QTest::newRow("8 MiB, no length") << 8 * 1024 * 1024 << false;
    }
    void listOverOneMiBRefused() {
        QFETCH(int, Size);
        QFETCH(bool, WithLength);
        TUpdatesFixture F;
        LoadTamrel(F);
        WAIT_IDLE(F);
        QByteArray Big(Size, 'x');
        for (int I = 99; I < Size; I += 100)
            Big[I] = '\n';
        F.PutDevices(Big);
        F.Server->Options.NoContentLength = !WithLength;
        F.Click(F.Frame->ButtonCheckUpdatesGetDevices);
        WAIT_IDLE(F);
        if (Size <= 1024 * 1024) {
            QCOMPARE(F.Errors, QStringList{});
            QCOMPARE(F.DeviceRows().size(), (Size + 99) / 100); // the last line has no break
            return;
        }
        QCOMPARE(F.Errors.size(), 1);
        QVERIFY2(F.Errors.first().startsWith("The update server's answer is larger than 1 MiB"),
                 qPrintable(F.Errors.first()));
        QCOMPARE(F.DeviceRows(), (QStringList{"TAMREL", "OTHER"}));
    }

    void englishCaptions() {
        TUpdatesFixture F;
        QCOMPARE(F.Frame->ButtonCheckUpdatesGetDevices->text(), QString("Получить список устройств"));
        QCOMPARE(F.Frame->LabelOnWork->text(), QString("-"));
        QCOMPARE(F.Frame->LabelProgramFileName->text(), QString("-"));
        F.Frame->DoEnglish();
        const QList<QPair<QString, QString>> Expected{
            {"ButtonCheckUpdatesGetDevices", "Get Device list from Server"},
            {"LabelSelectDevice", "Select Device:"},
            {"ButtonCheckUpdates", "Check Updates for Device"},
            {"LabelSelectFirmware", "Select Firmware:"},
            {"ButtonDownloadFirmware", "Download"},
            {"ButtonSaveToFile", "Save to disk"},
            {"LabelDownload", "Download:"},
            {"ButtonLaunchProgram", "Launch the Program"},
            {"CheckBoxDeleteOld", "Update (Delete old version)"},
        };
        for (const auto &E : Expected) {
            QWidget *W = F.Frame->findChild<QWidget *>(E.first);
            QVERIFY2(W, qPrintable(E.first));
            QCOMPARE(W->property("text").toString(), E.second);
        }
        QCOMPARE(F.Frame->ListViewDevices->headerItem()->text(0), QString("Devices"));
        QCOMPARE(F.Frame->ListViewFiles->headerItem()->text(0), QString("Прошивка"));
        QCOMPARE(F.Frame->CheckBoxShowAllDevices->text(), QString("Show all devices"));
        QCOMPARE(F.Frame->FileGroupItem(0)->text(0), QString("Firmwares"));
        QCOMPARE(F.Frame->FileGroupItem(1)->text(0), QString("Computer Programs (exe)"));
        QCOMPARE(F.Frame->FileGroupItem(2)->text(0), QString("Other"));
    }

    // Ctrl+D shows the column headers with a second column of file names; again hides both.
    void ctrlDShowsTheFileNames() {
        TUpdatesFixture F;
        LoadTamrel(F);
        WAIT_IDLE(F);
        F.Frame->show();
        F.Frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(F.Frame.get()));
        F.Frame->ListViewFiles->setFocus();
        QTest::keyClick(F.Frame->ListViewFiles, Qt::Key_D, Qt::ControlModifier);
        QVERIFY(!F.Frame->ListViewFiles->isHeaderHidden());
        QVERIFY(!F.Frame->ListViewFiles->isColumnHidden(1));
        const QTreeWidgetItem *Row = F.Frame->FileGroupItem(0)->child(0);
        QCOMPARE(Row->text(1), QString("Main 2.1;DeviceIdentStr=XYZ.frm"));
        QTest::keyClick(F.Frame->ListViewFiles, Qt::Key_D, Qt::ControlModifier);
        QVERIFY(F.Frame->ListViewFiles->isHeaderHidden());
        QVERIFY(F.Frame->ListViewFiles->isColumnHidden(1));
    }

    void objectNames() {
        TUpdatesFixture F;
        for (const char *Name :
             {"PanelSelectUpdate", "ButtonCheckUpdatesGetDevices", "LabelSelectDevice", "EditSelectDevice",
              "ListViewDevices", "ButtonCheckUpdates", "Splitter1", "LabelSelectFirmware", "ListViewFiles",
              "ButtonDownloadFirmware", "LabelDownload", "LabelOnWork", "LabelProgramFileName",
              "ButtonSaveToFile", "PanelAskLaunchProgram", "CheckBoxDeleteOld", "ButtonLaunchProgram"})
            QVERIFY2(F.Frame->findChild<QWidget *>(Name), Name);
        for (const char *Name :
             {"PopupMenu1", "CheckBoxShowAllDevices", "TimerClose", "ActionDebug", "IdHTTP1"})
            QVERIFY2(F.Frame->findChild<QObject *>(Name), Name);
        QVERIFY(!F.Frame->ButtonCheckUpdates->isEnabled());
        QVERIFY(!F.Frame->ButtonDownloadFirmware->isEnabled());
        QVERIFY(!F.Frame->ButtonSaveToFile->isEnabled());
        QVERIFY(F.Frame->PanelAskLaunchProgram->isHidden());
        QCOMPARE(F.Frame->TimerClose->interval(), 200);
        QCOMPARE(F.Frame->ActionDebug->shortcut(), QKeySequence("Ctrl+D"));
    }
};

TAMREL_TEST_MAIN(TInternetUpdatesListsTest)
#include "tst_InternetUpdatesLists.moc"
