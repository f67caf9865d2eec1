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
    static void LoadTamrel(TUpdatesFixture &f,
                           const QByteArray &files = "Main 2.1;DeviceIdentStr=XYZ.frm\r\n") {
        f.PutDevices("TAMREL\r\nOTHER\r\n");
        f.PutFiles("TAMREL", files);
        f.Frame->EditSelectDevice->setText("TAMREL");
        f.Click(f.Frame->ButtonCheckUpdatesGetDevices);
    }

private slots:
    void requestsAsTheServerSawThem() {
        TUpdatesFixture f;
        f.Put("TAMREL/Main 2.1;DeviceIdentStr=XYZ.frm", "image");
        LoadTamrel(f);
        WAIT_IDLE(f);
        QCOMPARE(f.FileRows(), QStringList{"0|Main 2.1|Main 2.1;DeviceIdentStr=XYZ.frm"});
        f.Click(f.Frame->ButtonDownloadFirmware);
        WAIT_IDLE(f);
        QCOMPARE(f.Errors, QStringList{});
        // The device list address ends in two slashes; names are percent-escaped.
        QCOMPARE(f.RequestPaths(),
                 (QStringList{"/firmware_update/KVBL//", "/firmware_update/KVBL/TAMREL/",
                              "/firmware_update/KVBL/TAMREL/Main%202.1;DeviceIdentStr=XYZ.frm"}));
        for (const TSimUpdateRequest &r : f.Server->Requests) {
            QCOMPARE(r.Method, QByteArray("GET"));
            QCOMPARE(r.Header("Accept"), QByteArray("text/html, */*"));
            QCOMPARE(r.Header("User-Agent"), QByteArray("Mozilla/3.0 (compatible; Indy Library)"));
        }
    }

    // Without an address of its own, the frame asks the program's update server.
    void programSettingIsTheDefaultAddress() {
        TUpdatesFixture f;
        f.PutDevices("TAMREL\r\n");
        const QString saved = UpdateServerAddress();
        SetUpdateServerAddress(f.Server->BaseAddress());
        f.Frame->BaseAddress.clear();
        f.Click(f.Frame->ButtonCheckUpdatesGetDevices);
        WAIT_IDLE(f);
        SetUpdateServerAddress(saved);
        QCOMPARE(f.DeviceRows(), QStringList{"TAMREL"});
        QCOMPARE(f.RequestPaths(), QStringList{"/firmware_update/KVBL//"});
    }

    void lineBreaksAndBlankLines_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QStringList>("rows");
        const QStringList three{"TAMREL", "", "OTHER"};
        QTest::newRow("CR LF") << QByteArray("TAMREL\r\n\r\nOTHER\r\n") << three;
        QTest::newRow("LF") << QByteArray("TAMREL\n\nOTHER\n") << three;
        QTest::newRow("CR") << QByteArray("TAMREL\r\rOTHER\r") << three;
        QTest::newRow("no break at the end") << QByteArray("TAMREL\n\nOTHER") << three;
        QTest::newRow("mixed") << QByteArray("TAMREL\r\n\nOTHER\r") << three;
        QTest::newRow("blank lines at the end") << QByteArray("A\r\n\r\n\r\n") << QStringList{"A", "", ""};
        QTest::newRow("empty answer") << QByteArray() << QStringList{};
        QTest::newRow("UTF-8 name") << QByteArray("Тестер\r\n") << QStringList{"Тестер"};
    }
    void lineBreaksAndBlankLines() {
        QFETCH(QByteArray, answer);
        QFETCH(QStringList, rows);
        TUpdatesFixture f;
        f.PutDevices(answer);
        f.Frame->EditSelectDevice->setText("NONE");
        f.Click(f.Frame->ButtonCheckUpdatesGetDevices);
        WAIT_IDLE(f);
        QCOMPARE(f.Errors, QStringList{});
        QCOMPARE(f.DeviceRows(), rows);
        QCOMPARE(f.Frame->ButtonCheckUpdates->isEnabled(), !rows.isEmpty());
    }

    void groupsAndCaptions() {
        TUpdatesFixture f;
        LoadTamrel(f, "Main 2.1;DeviceIdentStr=XYZ.frm\r\n"
                      "Main.FRM\r\n"
                      "Boot 1.0;Build=7;DeviceIdentStr=A=B.firmware\r\n"
                      "Main 2.2.frm\r\n"
                      "tool.exe\r\n"
                      "setup.EXE\r\n"
                      "\r\n"
                      "readme.txt\r\n"
                      "Last;DeviceIdentStr=XYZ.bin\r\n");
        WAIT_IDLE(f);
        QCOMPARE(f.Errors, QStringList{});
        QCOMPARE(f.FileRows(),
                 (QStringList{"0|Main 2.1|Main 2.1;DeviceIdentStr=XYZ.frm",
                              "0|Boot 1.0|Boot 1.0;Build=7;DeviceIdentStr=A=B.firmware",
                              "0|Main 2.2|Main 2.2.frm", "1|tool.exe|tool.exe", "2|Main.FRM|Main.FRM",
                              "2|setup.EXE|setup.EXE", "2||", "2|readme.txt|readme.txt",
                              "2|Last;DeviceIdentStr=XYZ.bin|Last;DeviceIdentStr=XYZ.bin"}));
        // The last listed file is selected, and can be downloaded.
        QCOMPARE(f.SelectedFileName(), QString("Last;DeviceIdentStr=XYZ.bin"));
        QVERIFY(f.Frame->ButtonDownloadFirmware->isEnabled());
        QCOMPARE(f.Frame->FileGroupItem(0)->text(0), QString("Прошивки"));
        QCOMPARE(f.Frame->FileGroupItem(1)->text(0), QString("Компьютерные программы (exe)"));
        QCOMPARE(f.Frame->FileGroupItem(2)->text(0), QString("Другое"));
        // The file name is a hidden sub-item.
        QVERIFY(f.Frame->ListViewFiles->isColumnHidden(1));
        QVERIFY(f.Frame->ListViewFiles->isHeaderHidden());
    }

    // A group without rows is not shown; the last file may be in any group.
    void emptyGroupsHiddenLastRowSelected() {
        TUpdatesFixture f;
        LoadTamrel(f, "notes.txt\r\nMain;DeviceIdentStr=X.firmware\r\n");
        WAIT_IDLE(f);
        QVERIFY(!f.Frame->FileGroupItem(0)->isHidden());
        QVERIFY(f.Frame->FileGroupItem(1)->isHidden());
        QVERIFY(!f.Frame->FileGroupItem(2)->isHidden());
        QCOMPARE(f.SelectedFileName(), QString("Main;DeviceIdentStr=X.firmware"));
    }

    void presetDevice_data() {
        QTest::addColumn<QString>("preset");
        QTest::addColumn<bool>("showAll");
        QTest::addColumn<bool>("panelShown");
        QTest::addColumn<QStringList>("paths");
        const QStringList both{"/firmware_update/KVBL//", "/firmware_update/KVBL/TAMREL/"};
        QTest::newRow("found") << "TAMREL" << false << false << both;
        QTest::newRow("found, all devices shown") << "TAMREL" << true << true << both;
        QTest::newRow("letter case differs")
            << "tamrel" << false << true << QStringList{"/firmware_update/KVBL//"};
        QTest::newRow("missing") << "GHOST" << false << true << QStringList{"/firmware_update/KVBL//"};
    }
    void presetDevice() {
        QFETCH(QString, preset);
        QFETCH(bool, showAll);
        QFETCH(bool, panelShown);
        QFETCH(QStringList, paths);
        TUpdatesFixture f;
        f.PutDevices("OTHER\r\nTAMREL\r\nTAMREL\r\n");
        f.PutFiles("TAMREL", "a.frm\r\n");
        f.Frame->CheckBoxShowAllDevices->setChecked(showAll);
        f.Frame->EditSelectDevice->setText(preset);
        f.Click(f.Frame->ButtonCheckUpdatesGetDevices);
        WAIT_IDLE(f);
        QCOMPARE(f.Errors, QStringList{});
        QCOMPARE(!f.Frame->PanelSelectUpdate->isHidden(), panelShown);
        QCOMPARE(f.RequestPaths(), paths);
        const QList<QTreeWidgetItem *> selected = f.Frame->ListViewDevices->selectedItems();
        if (paths.size() == 2) {
            // The first of two equal rows is chosen.
            QCOMPARE(selected.size(), 1);
            QCOMPARE(f.Frame->ListViewDevices->indexOfTopLevelItem(selected.first()), 1);
            QCOMPARE(f.FileRows(), QStringList{"0|a|a.frm"});
        } else {
            QVERIFY(selected.isEmpty());
            QCOMPARE(f.FileRows(), QStringList{});
        }
    }

    // The menu item shows and hides the device panel.
    void showAllDevicesItem() {
        TUpdatesFixture f;
        LoadTamrel(f);
        WAIT_IDLE(f);
        QVERIFY(f.Frame->PanelSelectUpdate->isHidden());
        f.Frame->CheckBoxShowAllDevices->trigger();
        QVERIFY(f.Frame->CheckBoxShowAllDevices->isChecked());
        QVERIFY(!f.Frame->PanelSelectUpdate->isHidden());
        f.Frame->CheckBoxShowAllDevices->trigger();
        QVERIFY(f.Frame->PanelSelectUpdate->isHidden());
    }

    void choosingAnotherDeviceFetchesItsFiles() {
        TUpdatesFixture f;
        f.PutFiles("OTHER", "Other 1;DeviceIdentStr=O.frm\r\n");
        LoadTamrel(f);
        WAIT_IDLE(f);
        f.Frame->ListViewDevices->setCurrentItem(f.Frame->ListViewDevices->topLevelItem(1));
        WAIT_IDLE(f);
        QCOMPARE(f.FileRows(), QStringList{"0|Other 1|Other 1;DeviceIdentStr=O.frm"});
        QCOMPARE(f.RequestPaths().last(), QString("/firmware_update/KVBL/OTHER/"));
        // "Check Updates for Device" asks again for the selected device.
        f.Click(f.Frame->ButtonCheckUpdates);
        WAIT_IDLE(f);
        QCOMPARE(f.RequestPaths().size(), 4);
        QCOMPARE(f.RequestPaths().last(), QString("/firmware_update/KVBL/OTHER/"));
        // The label's double click fetches the device list again.
        QTest::mouseDClick(f.Frame->LabelSelectDevice, Qt::LeftButton);
        WAIT_IDLE(f);
        QCOMPARE(f.RequestPaths().at(4), QString("/firmware_update/KVBL//"));
    }

    void redirectIsFollowed() {
        TUpdatesFixture f;
        f.PutDevices("TAMREL\r\n");
        f.Server->Options.RedirectPrefix = "/old/";
        f.Server->Options.RedirectTarget = "/";
        f.Frame->BaseAddress = f.Server->BaseAddress().replace("/firmware_update/", "/old/firmware_update/");
        f.Click(f.Frame->ButtonCheckUpdatesGetDevices);
        WAIT_IDLE(f);
        QCOMPARE(f.Errors, QStringList{});
        QCOMPARE(f.DeviceRows(), QStringList{"TAMREL"});
        QCOMPARE(f.RequestPaths(), (QStringList{"/old/firmware_update/KVBL//", "/firmware_update/KVBL//"}));
        // The redirected request carries the same headers.
        QCOMPARE(f.Server->Requests.last().Header("User-Agent"),
                 QByteArray("Mozilla/3.0 (compatible; Indy Library)"));
    }

    void redirectToAnotherProtocolRefused_data() {
        QTest::addColumn<QString>("target");
        QTest::newRow("https") << "https://127.0.0.1:%1/";
        QTest::newRow("ftp") << "ftp://127.0.0.1:%1/";
    }
    void redirectToAnotherProtocolRefused() {
        QFETCH(QString, target);
        TUpdatesFixture f;
        f.PutDevices("TAMREL\r\n");
        f.Click(f.Frame->ButtonCheckUpdatesGetDevices);
        WAIT_IDLE(f);
        f.Server->Options.RedirectPrefix = "/firmware_update/";
        f.Server->Options.RedirectTarget = target.arg(f.Server->Port()) + "firmware_update/";
        f.PutDevices("CHANGED\r\n");
        f.Click(f.Frame->ButtonCheckUpdatesGetDevices);
        WAIT_IDLE(f);
        QCOMPARE(f.Errors.size(), 1);
        QVERIFY2(f.Errors.first().contains("another protocol"), qPrintable(f.Errors.first()));
        QCOMPARE(f.DeviceRows(), QStringList{"TAMREL"});
        QCOMPARE(f.Server->Requests.size(), 2);
    }

    // An error status reaches the error display; lists, selection and buttons stay.
    void errorStatusLeavesTheListsAsTheyWere_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("request");
        QTest::newRow("404 file list") << 404 << "files";
        QTest::newRow("500 file list") << 500 << "files";
        QTest::newRow("404 device list") << 404 << "devices";
        QTest::newRow("500 device list") << 500 << "devices";
    }
    void errorStatusLeavesTheListsAsTheyWere() {
        QFETCH(int, status);
        QFETCH(QString, request);
        TUpdatesFixture f;
        f.Frame->CheckBoxShowAllDevices->setChecked(true);
        LoadTamrel(f);
        WAIT_IDLE(f);
        const QStringList devices = f.DeviceRows(), files = f.FileRows();
        f.Server->Options.FailStatus = status == 500 ? 500 : 0;
        if (status == 404 && request == "files")
            QVERIFY(QDir(QDir(f.Kvbl()).filePath("TAMREL")).removeRecursively());
        if (status == 404 && request == "devices") f.Frame->BaseAddress.replace("/KVBL/", "/MOVED/");
        f.Click(request == "files" ? f.Frame->ButtonCheckUpdates : f.Frame->ButtonCheckUpdatesGetDevices);
        WAIT_IDLE(f);
        QCOMPARE(f.Errors.size(), 1);
        QVERIFY2(f.Errors.first().contains(QStringLiteral("HTTP %1").arg(status)),
                 qPrintable(f.Errors.first()));
        QCOMPARE(f.DeviceRows(), devices);
        QCOMPARE(f.FileRows(), files);
        QCOMPARE(f.SelectedFileName(), QString("Main 2.1;DeviceIdentStr=XYZ.frm"));
        QVERIFY(f.Frame->ButtonCheckUpdatesGetDevices->isEnabled());
        QVERIFY(f.Frame->ButtonCheckUpdates->isEnabled());
        QVERIFY(f.Frame->ButtonDownloadFirmware->isEnabled());
    }

    // A file list that failed, or a device list without the preset device, leaves the
    // shown file list, and its files are still fetched from their own folder.
    void downloadFollowsTheShownFileList_data() {
        QTest::addColumn<bool>("failedFileList");
        QTest::newRow("device list without the preset") << false;
        QTest::newRow("failed file list of another device") << true;
    }
    void downloadFollowsTheShownFileList() {
        QFETCH(bool, failedFileList);
        TUpdatesFixture f;
        f.Put("TAMREL/Main 2.1;DeviceIdentStr=XYZ.frm", "tamrel image");
        f.Frame->CheckBoxShowAllDevices->setChecked(true);
        LoadTamrel(f);
        WAIT_IDLE(f);
        if (failedFileList) {
            f.Frame->ListViewDevices->setCurrentItem(f.Frame->ListViewDevices->topLevelItem(1)); // OTHER: 404
        } else {
            f.Frame->EditSelectDevice->setText("GHOST");
            f.Click(f.Frame->ButtonCheckUpdatesGetDevices);
        }
        WAIT_IDLE(f);
        QCOMPARE(f.Errors.size(), failedFileList ? 1 : 0);
        QCOMPARE(f.FileRows(), QStringList{"0|Main 2.1|Main 2.1;DeviceIdentStr=XYZ.frm"});
        f.Click(f.Frame->ButtonDownloadFirmware);
        WAIT_IDLE(f);
        QCOMPARE(f.RequestPaths().last(),
                 QString("/firmware_update/KVBL/TAMREL/Main%202.1;DeviceIdentStr=XYZ.frm"));
        QCOMPARE(f.Errors.size(), failedFileList ? 1 : 0);
        QCOMPARE(f.Loads.size(), 1);
        QCOMPARE(f.Loads.first().Buffer, QByteArray("tamrel image"));
    }

    // A server that takes the request and never answers: the transfer time-out ends it.
    void noAnswerEndsWithTheTransferTimeOut() {
        TUpdatesFixture f;
        QCOMPARE(f.Frame->IdHTTP1->TransferTimeoutMs, 30000);
        LoadTamrel(f);
        WAIT_IDLE(f);
        f.Server->Options.Hang = true;
        f.Frame->IdHTTP1->TransferTimeoutMs = 300;
        f.Click(f.Frame->ButtonCheckUpdatesGetDevices);
        QVERIFY(f.Frame->IsRequestRunning());
        QVERIFY(!f.Frame->ButtonCheckUpdatesGetDevices->isEnabled());
        WAIT_IDLE(f);
        QCOMPARE(f.Errors, QStringList{QStringLiteral("No answer from the update server within 0.3 s (%1/)")
                                           .arg(f.Server->BaseAddress())});
        QCOMPARE(f.DeviceRows(), (QStringList{"TAMREL", "OTHER"}));
        QVERIFY(f.Frame->ButtonCheckUpdatesGetDevices->isEnabled());
    }

    void noServerAtTheAddress() {
        TUpdatesFixture f;
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        f.Frame->BaseAddress = QStringLiteral("http://127.0.0.1:%1/firmware_update/KVBL/").arg(port);
        f.Click(f.Frame->ButtonCheckUpdatesGetDevices);
        WAIT_IDLE(f);
        QCOMPARE(f.Errors.size(), 1);
        QVERIFY2(f.Errors.first().startsWith("Update server: Connection refused"),
                 qPrintable(f.Errors.first()));
        QVERIFY(f.Frame->ButtonCheckUpdatesGetDevices->isEnabled());
    }

    // A list answer of more than 1 MiB is refused, whether the server announces its length
    // or not; exactly 1 MiB is taken.
    void listOverOneMiBRefused_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("withLength");
        QTest::newRow("1 MiB") << 1024 * 1024 << true;
        QTest::newRow("1 MiB + 1") << 1024 * 1024 + 1 << true;
        QTest::newRow("1 MiB + 1, no length") << 1024 * 1024 + 1 << false;
        QTest::newRow("8 MiB, no length") << 8 * 1024 * 1024 << false;
    }
    void listOverOneMiBRefused() {
        QFETCH(int, size);
        QFETCH(bool, withLength);
        TUpdatesFixture f;
        LoadTamrel(f);
        WAIT_IDLE(f);
        QByteArray big(size, 'x');
        for (int i = 99; i < size; i += 100)
            big[i] = '\n';
        f.PutDevices(big);
        f.Server->Options.NoContentLength = !withLength;
        f.Click(f.Frame->ButtonCheckUpdatesGetDevices);
        WAIT_IDLE(f);
        if (size <= 1024 * 1024) {
            QCOMPARE(f.Errors, QStringList{});
            QCOMPARE(f.DeviceRows().size(), (size + 99) / 100); // the last line has no break
            return;
        }
        QCOMPARE(f.Errors.size(), 1);
        QVERIFY2(f.Errors.first().startsWith("The update server's answer is larger than 1 MiB"),
                 qPrintable(f.Errors.first()));
        QCOMPARE(f.DeviceRows(), (QStringList{"TAMREL", "OTHER"}));
    }

    // A list of more lines than a list may have (16384) is refused before any row is made,
    // however small its bytes: a million blank lines cost a count, not a million rows. The
    // lists stay as they were.
    void listOfTooManyLinesRefused_data() {
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<int>("rows"); // -1 = refused
        QTest::newRow("1,048,575 blank lines") << QByteArray(1048575, '\n') << -1;
        QTest::newRow("16384 lines") << QByteArray(16384, '\n') << 16384;
        QTest::newRow("16385 lines, the last without a break") << QByteArray(16384, '\n') + "x" << -1;
        QTest::newRow("16385 CR LF lines") << QByteArray("\r\n").repeated(16385) << -1;
    }
    void listOfTooManyLinesRefused() {
        QFETCH(QByteArray, list);
        QFETCH(int, rows);
        TUpdatesFixture f;
        LoadTamrel(f);
        WAIT_IDLE(f);
        f.PutDevices(list);
        f.Click(f.Frame->ButtonCheckUpdatesGetDevices);
        WAIT_IDLE(f);
        if (rows >= 0) {
            QCOMPARE(f.Errors, QStringList{});
            QCOMPARE(f.DeviceRows().size(), rows);
            return;
        }
        QCOMPARE(f.Errors.size(), 1);
        QVERIFY2(f.Errors.first().contains(QStringLiteral("list has %1 lines, more than the 16384")
                                               .arg(list.count('\n') + (list.endsWith('x') ? 1 : 0))),
                 qPrintable(f.Errors.first()));
        QCOMPARE(f.DeviceRows(), (QStringList{"TAMREL", "OTHER"}));
    }

    void englishCaptions() {
        TUpdatesFixture f;
        QCOMPARE(f.Frame->ButtonCheckUpdatesGetDevices->text(), QString("Получить список устройств"));
        QCOMPARE(f.Frame->LabelOnWork->text(), QString("-"));
        QCOMPARE(f.Frame->LabelProgramFileName->text(), QString("-"));
        f.Frame->DoEnglish();
        const QList<QPair<QString, QString>> expected{
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
        for (const auto &e : expected) {
            QWidget *w = f.Frame->findChild<QWidget *>(e.first);
            QVERIFY2(w, qPrintable(e.first));
            QCOMPARE(w->property("text").toString(), e.second);
        }
        QCOMPARE(f.Frame->ListViewDevices->headerItem()->text(0), QString("Devices"));
        QCOMPARE(f.Frame->ListViewFiles->headerItem()->text(0), QString("Прошивка"));
        QCOMPARE(f.Frame->CheckBoxShowAllDevices->text(), QString("Show all devices"));
        QCOMPARE(f.Frame->FileGroupItem(0)->text(0), QString("Firmwares"));
        QCOMPARE(f.Frame->FileGroupItem(1)->text(0), QString("Computer Programs (exe)"));
        QCOMPARE(f.Frame->FileGroupItem(2)->text(0), QString("Other"));
    }

    // Ctrl+D shows the column headers with a second column of file names; again hides both.
    void ctrlDShowsTheFileNames() {
        TUpdatesFixture f;
        LoadTamrel(f);
        WAIT_IDLE(f);
        f.Frame->show();
        f.Frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.Frame.get()));
        f.Frame->ListViewFiles->setFocus();
        QTest::keyClick(f.Frame->ListViewFiles, Qt::Key_D, Qt::ControlModifier);
        QVERIFY(!f.Frame->ListViewFiles->isHeaderHidden());
        QVERIFY(!f.Frame->ListViewFiles->isColumnHidden(1));
        const QTreeWidgetItem *row = f.Frame->FileGroupItem(0)->child(0);
        QCOMPARE(row->text(1), QString("Main 2.1;DeviceIdentStr=XYZ.frm"));
        QTest::keyClick(f.Frame->ListViewFiles, Qt::Key_D, Qt::ControlModifier);
        QVERIFY(f.Frame->ListViewFiles->isHeaderHidden());
        QVERIFY(f.Frame->ListViewFiles->isColumnHidden(1));
    }

    void objectNames() {
        TUpdatesFixture f;
        for (const char *name :
             {"PanelSelectUpdate", "ButtonCheckUpdatesGetDevices", "LabelSelectDevice", "EditSelectDevice",
              "ListViewDevices", "ButtonCheckUpdates", "Splitter1", "LabelSelectFirmware", "ListViewFiles",
              "ButtonDownloadFirmware", "LabelDownload", "LabelOnWork", "LabelProgramFileName",
              "ButtonSaveToFile", "PanelAskLaunchProgram", "CheckBoxDeleteOld", "ButtonLaunchProgram"})
            QVERIFY2(f.Frame->findChild<QWidget *>(name), name);
        for (const char *name :
             {"PopupMenu1", "CheckBoxShowAllDevices", "TimerClose", "ActionDebug", "IdHTTP1"})
            QVERIFY2(f.Frame->findChild<QObject *>(name), name);
        QVERIFY(!f.Frame->ButtonCheckUpdates->isEnabled());
        QVERIFY(!f.Frame->ButtonDownloadFirmware->isEnabled());
        QVERIFY(!f.Frame->ButtonSaveToFile->isEnabled());
        QVERIFY(f.Frame->PanelAskLaunchProgram->isHidden());
        QCOMPARE(f.Frame->TimerClose->interval(), 200);
        QCOMPARE(f.Frame->ActionDebug->shortcut(), QKeySequence("Ctrl+D"));
    }
};

TAMREL_TEST_MAIN(TInternetUpdatesListsTest)
#include "tst_InternetUpdatesLists.moc"
