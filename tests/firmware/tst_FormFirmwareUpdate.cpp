// The firmware window without a device: components and texts, the metadata in a firmware
// file's name, opening a file, the internet frame's entry, and the update sequence against a
// boot loader played by the test through a real protocol engine.
#include "CompGraphicSpeedButton.h"
#include "TestMain.h"
#include "uFormFirmwareUpdate.h"
#include "uFrameInternetUpdates.h"
#include "uKvApplication.h"
#include "uLoaderTestLink.h"
#include "uPlatformTick.h"

#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>
#include <sys/stat.h>

class TestFormFirmwareUpdate : public QObject {
    Q_OBJECT

    std::unique_ptr<TFormFirmwareUpdate> Form;
    std::unique_ptr<TLoaderTestLink> Link;
    QStringList Errors;
    QStringList MainCalls;
    QString SavedNotSuitable;

    // The window as the main window leaves it before showing it, on a connected link, with
    // an image loaded.
    void Prepare(const QByteArray &image, const QString &name) {
        Link->Connected = true;
        Form->DeviceLink = Link.get();
        Form->SetUpdateRegisters = [this](bool doUpdate) {
            MainCalls << QStringLiteral("SetUpdateRegisters(%1)").arg(doUpdate);
            Link->Calls << QStringLiteral("SetUpdateRegisters(%1)").arg(doUpdate);
        };
        Form->LoadFirmwareBuffer(image, name, false);
    }
    static QByteArray Image(int size) {
        QByteArray b(size, 0);
        for (int i = 0; i < size; ++i)
            b[i] = char(i * 31 + 7);
        return b;
    }
    template <class W> W *Child(const char *name) const {
        W *c = Form->findChild<W *>(QString::fromLatin1(name));
        if (!c) qWarning("no child %s", name);
        return c;
    }

private slots:
    void initTestCase() {
        SavedNotSuitable = NotSuitableText;
        TKvApplication::SetErrorDisplay([this](const QString &m) { Errors << m; });
    }
    void cleanupTestCase() { TKvApplication::SetErrorDisplay({}); }
    void init() {
        KvPlatform::SetTickCountOffset(0);
        NotSuitableText = SavedNotSuitable;
        Errors.clear();
        MainCalls.clear();
        Form = std::make_unique<TFormFirmwareUpdate>();
        Link = std::make_unique<TLoaderTestLink>();
    }
    void cleanup() {
        Form.reset();
        Link.reset();
        KvPlatform::SetTickCountOffset(0);
        NotSuitableText = SavedNotSuitable;
    }

    void componentsAndTexts() {
        QCOMPARE(FormFirmwareUpdate, Form.get());
        QVERIFY(Form->isHidden()); // created hidden
        Form->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
        QCOMPARE(Form->windowTitle(), QStringLiteral("Обновление прошивки"));
        QCOMPARE(Form->size(), QSize(577, 574));
        QCOMPARE(Child<TGraphicSpeedButton>("GraphicSpeedButtonInternet")->Caption(),
                 QStringLiteral("Проверить обновление в Internet"));
        QCOMPARE(Form->GraphicSpeedButtonInternet->GlyphUp().size(), QSize(16, 16));
        QCOMPARE(Form->GraphicSpeedButtonInternet->Spacing(), 8);
        QCOMPARE(Form->GraphicSpeedButtonInternet->width(), Form->PanelButtons->contentsRect().width() - 8);
        QCOMPARE(Child<TGraphicSpeedButton>("GraphicSpeedButtonOpenFirmware")->Caption(),
                 QStringLiteral("Открыть из файла"));
        QCOMPARE(Form->GraphicSpeedButtonOpenFirmware->GlyphUp().size(), QSize(16, 16));
        QCOMPARE(Form->GraphicSpeedButtonOpenFirmware->Spacing(), 8);
        QCOMPARE(Child<QLabel>("Label1")->text(), QStringLiteral("Старая прошивка:"));
        QCOMPARE(Child<QLabel>("Label2")->text(), QStringLiteral("LoaderIdentStr:"));
        QCOMPARE(Child<QLabel>("Label3")->text(), QStringLiteral("Новая прошивка:"));
        QCOMPARE(Child<QPushButton>("ButtonStartUpdate")->text(), QStringLiteral("Начать обновление"));
        QCOMPARE(Child<QPushButton>("ButtonClose")->text(), QStringLiteral("Закрыть"));
        QVERIFY(Form->ButtonStartUpdate->isEnabled());
        QVERIFY(Child<QLineEdit>("EditFirmwareOldName")->isReadOnly());
        QVERIFY(Child<QLineEdit>("EditFirmwareName")->isReadOnly());
        QVERIFY(Child<QLineEdit>("EditMessage")->isReadOnly());
        QVERIFY(!Child<QLineEdit>("EditLoaderIdentStr")->isReadOnly());
        QVERIFY(Child<QLineEdit>("EditFirmwareSize"));
        QVERIFY(Child<QProgressBar>("ProgressBar1"));
        QVERIFY(Child<QLabel>("LabelTransferRate"));
        QVERIFY(Child<QWidget>("PanelButtons"));
        QVERIFY(Child<QWidget>("PanelBottom"));
        QVERIFY(Child<QWidget>("PanelOldNew")->isVisible());
        QVERIFY(Child<QWidget>("PanelFirmwareUpdate")->isVisible());
        QVERIFY(Child<QWidget>("PanelSettings")->isHidden());
        QVERIFY(Child<TFrameInternetUpdates>("FrameInternetUpdates")->isHidden());
        QCOMPARE(Child<QLabel>("LabelSmartResize")->minimumHeight(), 1);
        QVERIFY(Form->LabelSmartResize->isVisible());
        QCOMPARE(Form->LabelSmartResize->geometry().bottom(), Form->rect().bottom());
        // The bottom panel sits right under the internet button; the filler takes the rest.
        QCOMPARE(Form->PanelBottom->y(), Form->PanelButtons->geometry().bottom() + 1);

        auto *dialog = Child<QFileDialog>("OpenDialogFirmware");
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Выбрать прошивку"));
        QCOMPARE(dialog->nameFilters(), (QStringList{"Firmware (*.firmware)", "All (*.*)"}));
        QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
        auto *tryAgain = Child<QTimer>("TimerTryAgain");
        auto *disconnect = Child<QTimer>("TimerDisconnect");
        QCOMPARE(tryAgain->interval(), 50);
        QCOMPARE(disconnect->interval(), 500);
        QVERIFY(!tryAgain->isActive() && !disconnect->isActive());
        QVERIFY(!Form->Command53);

        QCOMPARE(NotSuitableText, QStringLiteral("Прошивка не подходит для этого устройства"));
        Form->DoEnglish();
        QCOMPARE(NotSuitableText, QStringLiteral("Firmware is not suitable for this device"));
        // The window's own layout stays Russian.
        QCOMPARE(Form->ButtonStartUpdate->text(), QStringLiteral("Начать обновление"));
    }

    void fileNameMetadata_data() {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("displayName");
        QTest::addColumn<QString>("ident");
        QTest::newRow("name and identification")
            << "Main 2.1;DeviceIdentStr=XYZ-BL.firmware" << 300 << "Main 2.1"
            << "XYZ-BL";
        QTest::newRow("path, key in another case")
            << "/home/tech/fw/Main;deviceidentstr=abc.frm" << 10 << "Main"
            << "abc";
        QTest::newRow("backslash path, other entries, '=' in the value")
            << "C:\\fw\\new/Old 1.0;Build=7;DEVICEIDENTSTR=A=B;Note=x.firmware" << 1 << "Old 1.0"
            << "A=B";
        QTest::newRow("no ';': no identification") << "Plain 3.firmware" << 5 << "Plain 3"
                                                   << "";
        QTest::newRow("entries without the key") << "Tool;Build=9.firmware" << 5 << "Tool"
                                                 << "";
        QTest::newRow("empty image") << "Empty;DeviceIdentStr=Q.firmware" << 0 << "Empty"
                                     << "Q";
    }
    void fileNameMetadata() {
        QFETCH(QString, fileName);
        QFETCH(int, size);
        QFETCH(QString, displayName);
        QFETCH(QString, ident);
        Form->EditLoaderIdentStr->setText(QStringLiteral("Tavik")); // as the main window leaves it
        Form->LoadFirmwareBuffer(Image(size), fileName, false);
        QCOMPARE(Form->EditFirmwareName->text(), displayName);
        QCOMPARE(Form->EditLoaderIdentStr->text(), ident);
        QCOMPARE(Form->EditFirmwareSize->text(), QString::number(size) + QStringLiteral(" Б"));
        QCOMPARE(Form->ButtonStartUpdate->isEnabled(), size > 0);
        QCOMPARE(Form->FirmwareBuffer, Image(size));
    }

    // A download that is no firmware hides the update panels and keeps the image; a local
    // file afterwards shows them again.
    void hideFirmwareUpdateKeepsTheImage() {
        Form->show();
        Form->LoadFirmwareBuffer(Image(100), QStringLiteral("A;DeviceIdentStr=BL.firmware"), false);
        Form->LoadFirmwareBuffer(QByteArray(), QString(), true);
        QVERIFY(Form->PanelOldNew->isHidden());
        QVERIFY(Form->PanelFirmwareUpdate->isHidden());
        QCOMPARE(Form->FirmwareBuffer, Image(100));
        QCOMPARE(Form->EditFirmwareName->text(), QStringLiteral("A"));
        QCOMPARE(Form->EditLoaderIdentStr->text(), QStringLiteral("BL"));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("B 2;DeviceIdentStr=BL2.firmware"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(Image(77));
        f.close();
        Form->OpenFirmwareFile(path);
        QVERIFY(Form->PanelOldNew->isVisible());
        QVERIFY(Form->PanelFirmwareUpdate->isVisible());
        QCOMPARE(Form->EditFirmwareName->text(), QStringLiteral("B 2"));
        QCOMPARE(Form->FirmwareBuffer, Image(77));
    }

    // The open button runs the dialog; the chosen file is read byte for byte.
    void openFromFileThroughTheDialog() {
        QTemporaryDir Dir;
        const QString Path = Dir.filePath(QStringLiteral("Main 2.1;DeviceIdentStr=TAMREL-BL.firmware"));
        QFile f(Path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QByteArray bytes = Image(1000);
        bytes[5] = '\0';
        f.write(bytes);
        f.close();
        Form->show();
        bool Seen = false;
        QTimer::singleShot(0, this, [&] {
            QTRY_VERIFY(Form->OpenDialogFirmware->isVisible());
            Seen = true;
            Form->OpenDialogFirmware->setDirectory(Dir.path());
            Form->OpenDialogFirmware->selectFile(Path);
            static_cast<QDialog *>(Form->OpenDialogFirmware)
                ->accept(); // the dialog's own accept: checks the file
        });
        QTest::mouseClick(Form->GraphicSpeedButtonOpenFirmware, Qt::LeftButton);
        QVERIFY(Seen);
        QCOMPARE(Form->FirmwareBuffer, bytes);
        QCOMPARE(Form->EditFirmwareName->text(), QStringLiteral("Main 2.1"));
        QCOMPARE(Form->EditLoaderIdentStr->text(), QStringLiteral("TAMREL-BL"));
        QCOMPARE(Form->EditFirmwareSize->text(), QStringLiteral("1000 Б"));
        QVERIFY(Errors.isEmpty());
    }

    // A file that cannot be read reaches the error display; the window is unchanged. A file
    // too large for any boot loader is refused before it is read; a pipe, a device or a
    // folder is no firmware file and is not opened at all (a pipe would wait for a writer
    // for ever, /dev/zero would be read until memory runs out).
    void unreadableFile_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << "missing"
                                 << "Cannot open";
        QTest::newRow("larger than any flash") << "large"
                                               << "too large";
        QTest::newRow("pipe") << "pipe"
                              << "is a pipe, not a file";
        QTest::newRow("/dev/zero") << "zero"
                                   << "is a device, not a file";
        QTest::newRow("folder") << "folder"
                                << "is a folder, not a file";
    }
    void unreadableFile() {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        Form->LoadFirmwareBuffer(Image(10), QStringLiteral("Kept;DeviceIdentStr=K.firmware"), false);
        QTemporaryDir dir;
        QString path = dir.filePath(QStringLiteral("huge.firmware"));
        if (kind == "large") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.resize(TFormFirmwareUpdate::MaxImageSize + 1)); // sparse: no disk used
        } else if (kind == "pipe") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind == "zero") {
            path = QStringLiteral("/dev/zero");
        } else if (kind == "folder") {
            path = dir.path();
        }
        // Should the pipe be opened after all, a writer (another process) comes after a while
        // and ends the wait, so that the test fails instead of hanging.
        QProcess writer;
        if (kind == "pipe") {
            writer.start(QStringLiteral("/bin/sh"),
                         {QStringLiteral("-c"), QStringLiteral("sleep 5; : > \"$0\""), path});
            QVERIFY(writer.waitForStarted());
        }
        const bool ok = TKvApplication::RunGuarded([&] { Form->OpenFirmwareFile(path); });
        writer.kill();
        writer.waitForFinished();
        QVERIFY(!ok);
        QCOMPARE(Errors.size(), 1);
        QVERIFY2(Errors[0].contains(path), qPrintable(Errors[0]));
        QVERIFY2(Errors[0].contains(message), qPrintable(Errors[0]));
        QCOMPARE(Form->FirmwareBuffer, Image(10));
        QCOMPARE(Form->EditFirmwareName->text(), QStringLiteral("Kept"));
    }

    // A link to a firmware file is read as the file it leads to.
    void linkToAFileIsRead() {
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("real.bin"));
        QFile f(target);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(Image(300));
        f.close();
        const QString link = dir.filePath(QStringLiteral("Main;DeviceIdentStr=BL.firmware"));
        QVERIFY(QFile::link(target, link));
        Form->OpenFirmwareFile(link);
        QCOMPARE(Form->FirmwareBuffer, Image(300));
        QCOMPARE(Form->EditFirmwareName->text(), QStringLiteral("Main"));
        QVERIFY(Errors.isEmpty());
    }

    void panelClickShowsSettingsAndCloseOnlyHides() {
        Form->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
        QVERIFY(Form->PanelSettings->isHidden());
        QTest::mouseClick(Form->PanelOldNew, Qt::LeftButton, {}, QPoint(3, 3));
        QVERIFY(Form->PanelSettings->isVisible());
        QTest::mouseClick(Form->PanelOldNew, Qt::LeftButton, {}, QPoint(3, 3));
        QVERIFY(Form->PanelSettings->isVisible()); // nothing hides it again
        QPointer<TFormFirmwareUpdate> alive(Form.get());
        Form->EditFirmwareOldName->setText(QStringLiteral("Tavik 1.0"));
        QTest::mouseClick(Form->ButtonClose, Qt::LeftButton);
        QVERIFY(Form->isHidden());
        QCoreApplication::processEvents();
        QVERIFY(alive);
        Form->show();
        QCOMPARE(Form->EditFirmwareOldName->text(), QStringLiteral("Tavik 1.0"));
    }

    // Opened beside the main window, it does not keep the program alive: closing the main
    // window is the last close; and it goes with the main window.
    void closesWithTheMainWindow() {
        Form.reset();
        auto main = std::make_unique<QWidget>();
        main->resize(621, 704);
        QPointer<TFormFirmwareUpdate> fw = new TFormFirmwareUpdate(main.get());
        QVERIFY(fw->isWindow());
        main->show();
        fw->show();
        QVERIFY(QTest::qWaitForWindowExposed(fw.data()));
        QVERIFY(!QApplication::activeModalWidget());
        // The program's loop ends when the main window closes, though this window is open.
        bool endedByClose = true;
        QTimer::singleShot(50, main.get(), [&] { main->close(); });
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, this, [&] {
            endedByClose = false;
            QCoreApplication::quit();
        });
        guard.start(5000);
        QApplication::exec();
        QVERIFY(endedByClose);
        main.reset();
        QVERIFY(!fw);
        QCOMPARE(FormFirmwareUpdate, nullptr);
    }

    // The internet button hands the frame its callback and the device name and shows it
    // above the bottom panel; a firmware the frame hands back is loaded.
    void internetFrameEntry() {
        Form->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
        Form->DeviceName = QStringLiteral("TAMREL");
        QTest::mouseClick(Form->GraphicSpeedButtonInternet, Qt::LeftButton);
        QVERIFY(Form->FrameInternetUpdates->isVisible());
        QVERIFY(Form->LabelSmartResize->isHidden());
        QCOMPARE(Form->FrameInternetUpdates->EditSelectDevice->text(), QStringLiteral("TAMREL"));
        QTRY_COMPARE(Form->PanelBottom->geometry().bottom(), Form->rect().bottom());
        QCOMPARE(Form->FrameInternetUpdates->y(), Form->PanelButtons->geometry().bottom() + 1);
        QVERIFY(Form->FrameInternetUpdates->LoadFirmwareBuffer);
        Form->FrameInternetUpdates->LoadFirmwareBuffer(
            Image(64), QStringLiteral("Main 2.1;DeviceIdentStr=XYZ.frm"), false);
        QCOMPARE(Form->EditFirmwareName->text(), QStringLiteral("Main 2.1"));
        QCOMPARE(Form->EditLoaderIdentStr->text(), QStringLiteral("XYZ"));
        QVERIFY(Form->ButtonStartUpdate->isEnabled());
        Form->FrameInternetUpdates->LoadFirmwareBuffer({}, {}, true);
        QVERIFY(Form->PanelFirmwareUpdate->isHidden());
    }

    void startWithTheLinkClosedDoesNothing() {
        Form->DeviceLink = Link.get();
        Form->SetUpdateRegisters = [this](bool d) { MainCalls << QString::number(d); };
        QTest::mouseClick(Form->ButtonStartUpdate, Qt::LeftButton);
        QVERIFY(Link->Payloads.isEmpty());
        QVERIFY(Link->Calls.isEmpty());
        QVERIFY(MainCalls.isEmpty());
        QVERIFY(!Form->TimerTryAgain->isActive());
    }

    // Start: keep-alive off, polling off, the start request, then repeats every 50 ms. The
    // repeat counter is never reset: five repeats the first time, one every later time.
    void startRequestAndItsRepeats() {
        // Before any file: Start is enabled and asks for 0 bytes.
        Link->Connected = true;
        Form->DeviceLink = Link.get();
        Form->SetUpdateRegisters = [this](bool doUpdate) {
            Link->Calls << QStringLiteral("SetUpdateRegisters(%1)").arg(doUpdate);
        };
        Form->show();
        QTest::mouseClick(Form->ButtonStartUpdate, Qt::LeftButton);
        QCOMPARE(Link->Calls, (QStringList{"SetKeepConnection(0)", "SetUpdateRegisters(0)"}));
        QCOMPARE(Link->StartRequests(), 1);
        QCOMPARE(Link->Payloads.first(), QByteArray("\x52", 1));
        QVERIFY(Form->TimerTryAgain->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(!Form->TimerTryAgain->isActive(), 5000);
        QCOMPARE(Link->StartRequests(), 6);
        QCOMPARE(Form->TryAgainCount(), 5);
        QTest::qWait(120);
        QCOMPARE(Link->StartRequests(), 6);

        QTest::mouseClick(Form->ButtonStartUpdate, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!Form->TimerTryAgain->isActive(), 5000);
        QCOMPARE(Link->StartRequests(), 8);
        QTest::qWait(120);
        QCOMPARE(Link->StartRequests(), 8);
        QVERIFY(Form->EditMessage->text().isEmpty()); // no answer: starting, no message
    }

    void startRequestWithSize() {
        Prepare(Image(70000), QStringLiteral("X;DeviceIdentStr=BL.firmware"));
        Form->Command53 = true;
        QTest::mouseClick(Form->ButtonStartUpdate, Qt::LeftButton);
        QCOMPARE(Link->Payloads.first(), QByteArray::fromHex("5370110100"));
    }

    // The boot loader's answer: identification compared without regard to case, the image
    // must be smaller than the flash; otherwise a message and no page.
    void loaderAnswerChecks_data() {
        QTest::addColumn<QByteArray>("reported");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("flashKiB");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("english");
        QTest::addColumn<QString>("message");
        QTest::newRow("same") << QByteArray("TAMREL-BL") << "TAMREL-BL" << 4 << 100 << false << "";
        QTest::newRow("other letter case") << QByteArray("abc") << "ABC" << 4 << 100 << false << "";
        QTest::newRow("other loader") << QByteArray("OTHER-BL") << "TAMREL-BL" << 4 << 100 << false
                                      << "Прошивка не подходит для этого устройства (OTHER-BL <> TAMREL-BL)";
        QTest::newRow("other loader, English")
            << QByteArray("OTHER-BL") << "TAMREL-BL" << 4 << 100 << true
            << "Firmware is not suitable for this device (OTHER-BL <> TAMREL-BL)";
        QTest::newRow("name without identification")
            << QByteArray("TAMREL-BL") << "" << 4 << 100 << true
            << "Firmware is not suitable for this device (TAMREL-BL <> )";
        QTest::newRow("exactly the flash")
            << QByteArray("BL") << "BL" << 4 << 4096 << false << "Не соотв. размер";
        QTest::newRow("one byte less") << QByteArray("BL") << "BL" << 4 << 4095 << false << "";
        QTest::newRow("larger") << QByteArray("BL") << "BL" << 1 << 5000 << false << "Не соотв. размер";
    }
    void loaderAnswerChecks() {
        QFETCH(QByteArray, reported);
        QFETCH(QString, expected);
        QFETCH(int, flashKiB);
        QFETCH(int, size);
        QFETCH(bool, english);
        QFETCH(QString, message);
        Prepare(Image(size), QStringLiteral("F;DeviceIdentStr=%1.firmware").arg(expected));
        if (english) Form->DoEnglish();
        QTest::mouseClick(Form->ButtonStartUpdate, Qt::LeftButton);
        Link->AnswerStart(reported, quint16(flashKiB));
        QVERIFY(!Form->TimerTryAgain->isActive());
        QCOMPARE(Form->EditMessage->text(), message);
        QCOMPARE(Link->Pages(), message.isEmpty() ? 1 : 0);
        if (message.isEmpty()) {
            QCOMPARE(Link->Payloads.last().mid(3), Image(size).left(128));
            QCOMPARE(Form->ProgressBar1->maximum(), size);
            QCOMPARE(Form->ProgressBar1->value(), 0);
        }
    }

    // A language switch while a message is shown: the message of the window's state is shown
    // in the new language, both ways; a message with one text only stays.
    void messageFollowsLanguage_data() {
        QTest::addColumn<QByteArray>("reported"); // the loader's answer; empty = none (link closes)
        QTest::addColumn<int>("flashKiB");
        QTest::addColumn<QString>("russian");
        QTest::addColumn<QString>("english");
        QTest::newRow("other loader") << QByteArray("OTHER-BL") << 4
                                      << "Прошивка не подходит для этого устройства (OTHER-BL <> TAMREL-BL)"
                                      << "Firmware is not suitable for this device (OTHER-BL <> TAMREL-BL)";
        QTest::newRow("link closed while starting")
            << QByteArray() << 4 << "Обновление прервано: нет связи с устройством"
            << "Update interrupted: no connection to the device";
        QTest::newRow("size, one text") << QByteArray("TAMREL-BL") << 1 << "Не соотв. размер"
                                        << "Не соотв. размер";
    }
    void messageFollowsLanguage() {
        QFETCH(QByteArray, reported);
        QFETCH(int, flashKiB);
        QFETCH(QString, russian);
        QFETCH(QString, english);
        Prepare(Image(5000), QStringLiteral("F;DeviceIdentStr=TAMREL-BL.firmware"));
        QTest::mouseClick(Form->ButtonStartUpdate, Qt::LeftButton);
        if (reported.isEmpty()) {
            Link->Connected = false;
            Form->DeviceLinkClosed();
        } else {
            Link->AnswerStart(reported, quint16(flashKiB));
        }
        QCOMPARE(Form->EditMessage->text(), russian);
        for (const bool toEnglish : {true, false, true, false}) {
            if (toEnglish)
                Form->DoEnglish();
            else
                Form->DoRus();
            QCOMPARE(Form->EditMessage->text(), toEnglish ? english : russian);
        }
    }

    // A name without identification goes only to a loader that reports none. (An answer
    // without text carries no flash size, so the loader has told it before.)
    void emptyIdentification() {
        Prepare(Image(100), QStringLiteral("NoIdent.firmware"));
        QTest::mouseClick(Form->ButtonStartUpdate, Qt::LeftButton);
        Link->AnswerStart("BL", 4);
        QCOMPARE(Form->EditMessage->text(), NotSuitableText + QStringLiteral(" (BL <> )"));
        QTest::mouseClick(Form->ButtonStartUpdate, Qt::LeftButton);
        Link->AnswerStart(QByteArray());
        QCOMPARE(Link->Pages(), 1);
        QCOMPARE(Link->Payloads.last().mid(3), Image(100));
    }

    // Page statuses: position and "n/size", the end at or past the size, success, and the
    // disconnect 500 ms later; a refused page shows its code and sends nothing more.
    void pagesToSuccessAndDisconnect() {
        Prepare(Image(300), QStringLiteral("F;DeviceIdentStr=BL.firmware"));
        QStringList messages;
        connect(Form->EditMessage, &QLineEdit::textChanged, this, [&](const QString &t) { messages << t; });
        QTest::mouseClick(Form->ButtonStartUpdate, Qt::LeftButton);
        Link->AnswerStart("BL");
        Link->AnswerPage();
        QCOMPARE(Form->ProgressBar1->value(), 128);
        Link->AnswerPage();
        Link->AnswerPage();
        QCOMPARE(messages, (QStringList{"128/300", "256/300", "384/300", "Прошивка завершена успешно"}));
        QCOMPARE(Form->ProgressBar1->value(), 300); // full, not beyond
        QCOMPARE(Link->Pages(), 3);
        QVERIFY(Form->TimerDisconnect->isActive());
        QVERIFY(Link->Connected);
        QVERIFY(!Link->Calls.contains("Disconnect"));
        QTRY_VERIFY_WITH_TIMEOUT(!Link->Connected, 3000);
        QCOMPARE(Link->Calls.last(), QStringLiteral("Disconnect"));
        QVERIFY(!Form->TimerDisconnect->isActive());
    }

    // Pages come every 12 ms on a real line: the message and the bar take every position but
    // are redrawn at most every 40 ms, the latest position at the period's end; the end of the
    // transfer is drawn at once.
    void progressRedrawsAtMostEvery40Ms() {
        Prepare(Image(60 * 128), QStringLiteral("F;DeviceIdentStr=BL.firmware"));
        Form->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
        struct TPaintCount : QObject {
            int Paints = 0;
            bool eventFilter(QObject *, QEvent *e) override {
                Paints += e->type() == QEvent::Paint;
                return false;
            }
        } count;
        Form->EditMessage->installEventFilter(&count);
        QTest::mouseClick(Form->ButtonStartUpdate, Qt::LeftButton);
        Link->AnswerStart("BL");
        QTest::qWait(100);
        const int before = count.Paints;
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < 40; ++i) {
            Link->AnswerPage();
            QCoreApplication::processEvents();
        }
        const qint64 ms = t.elapsed();
        QCOMPARE(Form->EditMessage->text(), QStringLiteral("5120/7680"));
        QVERIFY2(count.Paints - before <= ms / 40 + 2,
                 qPrintable(QStringLiteral("%1 redraws in %2 ms").arg(count.Paints - before).arg(ms)));
        const int afterBurst = count.Paints;
        QTRY_VERIFY_WITH_TIMEOUT(count.Paints > afterBurst, 1000); // the latest position drawn
        QVERIFY(Form->EditMessage->updatesEnabled());
        Link->AnswerPage(); // held again
        QVERIFY(!Form->EditMessage->updatesEnabled());
        for (int i = 0; i < 19; ++i)
            Link->AnswerPage();
        QCOMPARE(Form->EditMessage->text(), QStringLiteral("Прошивка завершена успешно"));
        QVERIFY(Form->EditMessage->updatesEnabled()); // the end at once
        QVERIFY(Form->ProgressBar1->updatesEnabled());
        Form->EditMessage->removeEventFilter(&count);
    }

    void refusedPage() {
        Prepare(Image(1000), QStringLiteral("F;DeviceIdentStr=BL.firmware"));
        QTest::mouseClick(Form->ButtonStartUpdate, Qt::LeftButton);
        Link->AnswerStart("BL");
        Link->AnswerPage();
        Link->AnswerPage(7);
        QCOMPARE(Form->EditMessage->text(), QStringLiteral("Ошибка 7"));
        QCOMPARE(Link->Pages(), 2);
        QCOMPARE(Form->ProgressBar1->value(), 128);
        QTest::qWait(600);
        QCOMPARE(Link->Pages(), 2);
        QVERIFY(Link->Connected);
        QVERIFY(!Form->TimerDisconnect->isActive());
    }

    // A second start answer starts the pages again from the first; the page of the first
    // pass still on its way sends nothing when its status comes.
    void secondStartAnswerRestarts() {
        Prepare(Image(300), QStringLiteral("F;DeviceIdentStr=BL.firmware"));
        QStringList messages;
        connect(Form->EditMessage, &QLineEdit::textChanged, this, [&](const QString &t) { messages << t; });
        QTest::mouseClick(Form->ButtonStartUpdate, Qt::LeftButton);
        Link->AnswerStart("BL");
        Link->AnswerPage();
        Link->AnswerStart("BL"); // the answer to a repeated request
        QCOMPARE(Form->ProgressBar1->value(), 0);
        QCOMPARE(Link->Pages(), 3); // pages 0, 1, and 0 again
        Link->AnswerPage();         // page 1 of the first pass
        QCOMPARE(Link->Pages(), 3);
        for (int i = 0; i < 3; ++i)
            Link->AnswerPage();
        // (The second "128/300" leaves the text as it was.)
        QCOMPARE(messages, (QStringList{"128/300", "256/300", "384/300", "Прошивка завершена успешно"}));
        QCOMPARE(Form->ProgressBar1->value(), 300);
        QCOMPARE(Link->Pages(), 5);
    }

    // The boot loader's answers that end an update the window cannot carry out: a page size of
    // 0 (no page could go), a page whose status never comes after its repeats, no answer to
    // the start requests. Each shows its message in the window's language, leaves nothing
    // running, and Start asks the boot loader again.
    void updateEndsWithAMessage_data() {
        QTest::addColumn<int>("pageSize");      // of the boot loader's answer; -1: no answer
        QTest::addColumn<int>("pagesAnswered"); // statuses given before the tester goes silent
        QTest::addColumn<int>("pagesSent");
        QTest::addColumn<QString>("russian");
        QTest::addColumn<QString>("english");
        QTest::newRow("page size 0") << 0 << 0 << 0
                                     << "Загрузчик сообщил размер страницы 0; прошивка не записана"
                                     << "The boot loader reports a page size of 0; nothing was written";
        QTest::newRow("silent at page 2")
            << 128 << 2 << 2 + 1 + TFirmwareUpdate::PageRepeats
            << "Тестер перестал отвечать на странице 2; нажмите «Начать обновление», чтобы записать "
               "прошивку заново"
            << "The tester stopped answering at page 2; press Start to write the image anew";
        QTest::newRow("silent at the first page")
            << 128 << 0 << 1 + TFirmwareUpdate::PageRepeats
            << "Тестер перестал отвечать на странице 0; нажмите «Начать обновление», чтобы записать "
               "прошивку заново"
            << "The tester stopped answering at page 0; press Start to write the image anew";
        QTest::newRow("no boot loader") << -1 << 0 << 0
                                        << "Загрузчик не ответил; нажмите «Начать обновление», чтобы "
                                           "попробовать снова"
                                        << "The boot loader did not answer; press Start to try again";
    }
    void updateEndsWithAMessage() {
        QFETCH(int, pageSize);
        QFETCH(int, pagesAnswered);
        QFETCH(int, pagesSent);
        QFETCH(QString, russian);
        QFETCH(QString, english);
        Prepare(Image(1000), QStringLiteral("F;DeviceIdentStr=BL.firmware"));
        Form->FirmwareUpdate->AnswerTimeOutMs = 100;
        QTest::mouseClick(Form->ButtonStartUpdate, Qt::LeftButton);
        if (pageSize >= 0) Link->AnswerStart("BL", 64, quint16(pageSize));
        for (int i = 0; i < pagesAnswered; ++i)
            Link->AnswerPage();
        QTRY_COMPARE_WITH_TIMEOUT(Form->EditMessage->text(), russian, 10000);
        QVERIFY(!Form->FirmwareUpdate->Busy());
        QCOMPARE(Link->Pages(), pagesSent);
        QVERIFY(Form->LabelTransferRate->text().isEmpty());
        QVERIFY(Form->EditMessage->updatesEnabled() && Form->ProgressBar1->updatesEnabled());
        QVERIFY(!Form->TimerDisconnect->isActive());
        const int sent = Link->Payloads.size();
        QTest::qWait(300); // nothing more goes out
        QCOMPARE(Link->Payloads.size(), sent);
        Form->DoEnglish();
        QCOMPARE(Form->EditMessage->text(), english);
        Form->DoRus();
        QCOMPARE(Form->EditMessage->text(), russian);

        // Start again writes the image anew, from the first page.
        QVERIFY(Form->ButtonStartUpdate->isEnabled());
        const int starts = Link->StartRequests();
        QTest::mouseClick(Form->ButtonStartUpdate, Qt::LeftButton);
        QCOMPARE(Link->StartRequests(), starts + 1);
        Link->AnswerStart("BL", 64, 128);
        QCOMPARE(Link->Payloads.last().left(3), QByteArray("\x1A\x00\x00", 3));
        for (int i = 0; i < 8; ++i)
            Link->AnswerPage();
        QCOMPARE(Form->EditMessage->text(), QStringLiteral("Прошивка завершена успешно"));
    }

    // A page status lost on the line: the page goes again after the time-out, and the update
    // goes on from its status.
    void lostPageStatusSendsThePageAgain() {
        Prepare(Image(300), QStringLiteral("F;DeviceIdentStr=BL.firmware"));
        Form->FirmwareUpdate->AnswerTimeOutMs = 100;
        QTest::mouseClick(Form->ButtonStartUpdate, Qt::LeftButton);
        Link->AnswerStart("BL");
        Link->AnswerPage(); // page 1 goes; its status is lost
        QCOMPARE(Link->Pages(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(Link->Pages(), 3, 5000);
        QCOMPARE(Link->Payloads.last().left(3), QByteArray("\x1A\x01\x00", 3));
        Link->AnswerPage();
        QCOMPARE(Link->Payloads.last().left(3), QByteArray("\x1A\x02\x00", 3));
        Link->AnswerPage();
        QCOMPARE(Form->EditMessage->text(), QStringLiteral("Прошивка завершена успешно"));
        QCOMPARE(Link->Pages(), 4);
        QTest::qWait(300); // the page's first status, were it only late, would send nothing now
        QCOMPARE(Link->Pages(), 4);
    }

    // Beside the progress bar: speed and time left while pages go, the whole transfer at the
    // end. Times come from the tick counter, moved ahead by the test.
    void transferRateLabel() {
        Prepare(Image(60000), QStringLiteral("F;DeviceIdentStr=BL.firmware"));
        QTest::mouseClick(Form->ButtonStartUpdate, Qt::LeftButton);
        Link->AnswerStart("BL", 64, 1024);
        QVERIFY(Form->LabelTransferRate->text().isEmpty());
        for (quint32 k = 1; k <= 10; ++k) { // a page of 1 KiB every 2 s
            KvPlatform::SetTickCountOffset(2000 * k);
            Link->AnswerPage();
        }
        QCOMPARE(Form->LabelTransferRate->text(), QStringLiteral("0.5 КБ/с, осталось 1:38"));
        Form->DoEnglish();
        KvPlatform::SetTickCountOffset(22000);
        Link->AnswerPage();
        QCOMPARE(Form->LabelTransferRate->text(), QStringLiteral("0.5 KB/s, 1:36 left"));
        KvPlatform::SetTickCountOffset(60000); // the rest at once
        while (Form->EditMessage->text() != QStringLiteral("Прошивка завершена успешно") &&
               Link->Pages() < 100)
            Link->AnswerPage();
        QVERIFY2(QRegularExpression("^58\\.6 KB in 60\\.\\d s \\(1\\.0 KB/s\\)$")
                     .match(Form->LabelTransferRate->text())
                     .hasMatch(),
                 qPrintable(Form->LabelTransferRate->text()));
    }

    void refusedPageClearsTheRate() {
        Prepare(Image(60000), QStringLiteral("F;DeviceIdentStr=BL.firmware"));
        QTest::mouseClick(Form->ButtonStartUpdate, Qt::LeftButton);
        Link->AnswerStart("BL", 64, 1024);
        KvPlatform::SetTickCountOffset(2000);
        Link->AnswerPage();
        QCOMPARE(Form->LabelTransferRate->text(), QStringLiteral("0.5 КБ/с, осталось 1:56"));
        Link->AnswerPage(3);
        QVERIFY(Form->LabelTransferRate->text().isEmpty());
    }

    // The link closes (unplugged, lost or by hand) at some point of an update. Only an update
    // still starting or writing is cut off: it says so, sends nothing more and no longer shows
    // a speed; an outcome already shown stays.
    void closedLinkEndsTheUpdate_data() {
        QTest::addColumn<int>("pagesBeforeClose"); // -2: never started; -1: start unanswered
        QTest::addColumn<int>("lastStatus");       // of the last page answered
        QTest::addColumn<bool>("english");
        QTest::addColumn<QString>("message");
        const QString ru = QStringLiteral("Обновление прервано: нет связи с устройством");
        QTest::newRow("never started") << -2 << 0 << false << QString();
        QTest::newRow("start unanswered") << -1 << 0 << false << ru;
        QTest::newRow("writing") << 3 << 0 << false << ru;
        QTest::newRow("writing, English")
            << 3 << 0 << true << QStringLiteral("Update interrupted: no connection to the device");
        QTest::newRow("after success") << 59 << 0 << false << QStringLiteral("Прошивка завершена успешно");
        QTest::newRow("after a refused page") << 3 << 7 << false << QStringLiteral("Ошибка 7");
    }
    void closedLinkEndsTheUpdate() {
        QFETCH(int, pagesBeforeClose);
        QFETCH(int, lastStatus);
        QFETCH(bool, english);
        QFETCH(QString, message);
        Prepare(Image(60000), QStringLiteral("F;DeviceIdentStr=BL.firmware"));
        if (english) Form->DoEnglish();
        if (pagesBeforeClose >= -1) QTest::mouseClick(Form->ButtonStartUpdate, Qt::LeftButton);
        if (pagesBeforeClose >= 0) {
            Link->AnswerStart("BL", 64, 1024);
            for (int i = 1; i <= pagesBeforeClose; ++i) {
                KvPlatform::SetTickCountOffset(quint32(2000 * i));
                Link->AnswerPage(i == pagesBeforeClose ? quint8(lastStatus) : quint8(0));
            }
        }
        const bool cutOff = message.startsWith(QStringLiteral("Обновление")) || message.startsWith("Update");
        if (cutOff && pagesBeforeClose > 0) QVERIFY(!Form->LabelTransferRate->text().isEmpty());

        Link->Connected = false; // as the link reports its close
        Form->DeviceLinkClosed();
        QCOMPARE(Form->EditMessage->text(), message);
        if (cutOff) QVERIFY(Form->LabelTransferRate->text().isEmpty());
        QVERIFY(!Form->TimerTryAgain->isActive());
        QVERIFY(Form->EditMessage->updatesEnabled() && Form->ProgressBar1->updatesEnabled());
        const int sent = Link->Payloads.size();
        QTest::qWait(300);
        QCOMPARE(Link->Payloads.size(), sent); // no further start request
        QCOMPARE(Form->EditMessage->text(), message);
        QVERIFY(Errors.isEmpty());
    }
};

TAMREL_TEST_MAIN(TestFormFirmwareUpdate)
#include "tst_FormFirmwareUpdate.moc"
