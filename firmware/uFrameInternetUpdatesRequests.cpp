// The frame's requests and what it does with their answers: the device list, the file
// list, downloads, saving, storing and launching a program.
#include "uFrameInternetUpdates.h"

#include "uInternetUpdatesParse.h"
#include "uKvApplication.h"
#include "uProgramFolder.h"
#include "uUpdateServerClient.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// A name as it can be shown in a message: control characters written as \xNN.
QString Printable(const QString &name) {
    QString out;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

// Refuses a server's file name that would not stay a plain name in a local folder.
void CheckLocalName(const QString &fileName) {
    const QString problem = LocalFileNameProblem(fileName);
    if (!problem.isEmpty())
        throw EUpdateServer(
            QStringLiteral("The update server's file name \"%1\" cannot be used as a local file name (%2); "
                           "nothing was stored")
                .arg(Printable(fileName), problem));
}

} // namespace

void TFrameInternetUpdates::StartRequest(const QString &what, const QString &address, qint64 maxBytes,
                                         int deadlineMs,
                                         std::function<void(const TUpdateServerAnswer &)> onAnswer) {
    FRequestWhat = what;
    FRequestDeadlineMs = deadlineMs;
    FRequestBytes = 0;
    FRequestTotal = -1;
    FRequestClock.start();
    IdHTTP1->Get(
        EncodeUpdateAddress(address), maxBytes, deadlineMs,
        [this](qint64 n, qint64 total) {
            FRequestBytes = n;
            FRequestTotal = total;
            IdHTTP1Work(n);
            ShowRequestProgress();
        },
        [this, onAnswer](const TUpdateServerAnswer &answer) {
            ShowProgress = false;
            UpdateRequestControls();
            // Cancelled by the technician: nothing to report, nothing changes.
            if (answer.Cancelled) return;
            TKvApplication::RunGuarded([&] {
                if (!answer.Error.isEmpty()) throw EUpdateServer(answer.Error);
                onAnswer(answer);
            });
        });
    TimerRequest->start();
    UpdateRequestControls();
    ShowRequestProgress();
}

void TFrameInternetUpdates::ButtonCancelRequestClick() {
    IdHTTP1->Cancel();
}

void TFrameInternetUpdates::CheckListRows(const QByteArray &answer) const {
    // Counted before any row is made: a list of a million blank lines costs a count, not a
    // million rows.
    const qsizetype rows = CountListLines(answer);
    if (rows > MaxListRows)
        throw EUpdateServer(
            QStringLiteral("The update server's list has %1 lines, more than the %2 a list may have; it was "
                           "not shown (%3)")
                .arg(rows)
                .arg(MaxListRows)
                .arg(EncodeUpdateAddress(CurAddress)));
}

void TFrameInternetUpdates::ButtonCheckUpdatesGetDevicesClick() {
    if (IsRequestRunning()) return;
    CurAddress = EnsureTrailingSeparator(EffectiveBaseAddress());
    StartRequest(FEnglish ? QStringLiteral("Device list") : QStringLiteral("Список устройств"), CurAddress,
                 MaxListBytes, ListDeadlineMs,
                 [this](const TUpdateServerAnswer &answer) { DeviceListArrived(answer.Body); });
}

void TFrameInternetUpdates::DeviceListArrived(const QByteArray &answer) {
    CheckListRows(answer);
    const QStringList devices = SplitListLines(answer);
    ListViewDevices->clear();
    for (const QString &name : devices)
        new QTreeWidgetItem(ListViewDevices, {name});
    UpdateRequestControls();
    SelectDevice(EditSelectDevice->text());
}

void TFrameInternetUpdates::SelectDevice(const QString &selectDeviceName) {
    for (int i = 0; i < ListViewDevices->topLevelItemCount(); ++i) {
        QTreeWidgetItem *row = ListViewDevices->topLevelItem(i);
        if (row->text(0) != selectDeviceName) continue;
        ListViewDevices->setCurrentItem(row); // the selection fetches the device's file list
        if (!CheckBoxShowAllDevices->isChecked()) PanelSelectUpdate->hide();
        return;
    }
}

void TFrameInternetUpdates::ButtonCheckUpdatesClick() {
    if (IsRequestRunning()) return;
    const QList<QTreeWidgetItem *> selected = ListViewDevices->selectedItems();
    if (selected.isEmpty()) return;
    CurAddress = EnsureTrailingSeparator(EffectiveBaseAddress() + selected.first()->text(0));
    const QString address = CurAddress;
    StartRequest(FEnglish ? QStringLiteral("File list") : QStringLiteral("Список прошивок"), address,
                 MaxListBytes, ListDeadlineMs, [this, address](const TUpdateServerAnswer &answer) {
                     FileListArrived(address, answer.Body);
                 });
}

void TFrameInternetUpdates::FileListArrived(const QString &address, const QByteArray &answer) {
    CheckListRows(answer);
    // Downloads are addressed relative to the list they were chosen from.
    FileListAddress = address;
    for (int g = 0; g < 3; ++g)
        qDeleteAll(FileGroupItem(g)->takeChildren());
    QTreeWidgetItem *last = nullptr;
    for (const QString &line : SplitListLines(answer))
        last = new QTreeWidgetItem(FileGroupItem(FileGroupOf(line)), {FileCaption(line), line});
    for (int g = 0; g < 3; ++g)
        FileGroupItem(g)->setHidden(FileGroupItem(g)->childCount() == 0);
    if (last) ListViewFiles->setCurrentItem(last);
    UpdateRequestControls();
}

void TFrameInternetUpdates::ButtonDownloadFirmwareClick() {
    if (IsRequestRunning()) return;
    const QTreeWidgetItem *row = SelectedFileRow();
    if (!row) return;
    const QString fileName = row->text(1);
    const QString caption = row->text(0);
    // A program is stored under its listed name: refuse a name that is not a plain one
    // before anything is fetched.
    if (FileGroupOf(fileName) == ufgProgram) CheckLocalName(fileName);
    ShowProgress = true;
    // A failed download leaves the previous one in place, so that "Save to disk" never
    // writes a truncated file under its name.
    StartRequest(fileName, FileListAddress + fileName, MaxDownloadBytes, DownloadDeadlineMs,
                 [this, fileName, caption](const TUpdateServerAnswer &answer) {
                     DownloadArrived(fileName, caption, answer);
                 });
}

void TFrameInternetUpdates::IdHTTP1Work(qint64 count) {
    if (ShowProgress) LabelOnWork->setText(QString::number(count) + QStringLiteral(" Б"));
}

void TFrameInternetUpdates::DownloadArrived(const QString &fileName, const QString &caption,
                                            const TUpdateServerAnswer &answer) {
    const QByteArray &bytes = answer.Body;
    FirmwareStream = bytes;
    UpdateRequestControls();
    PanelAskLaunchProgram->hide();
    if (FirmwareStream.isEmpty()) return;

    FirmwareName = fileName;
    ButtonSaveToFile->setToolTip(fileName + QStringLiteral(" (") + QString::number(bytes.size()) +
                                 QStringLiteral(" B)"));
    SetProgramFileNameLabel(fileName);
    const TUpdateFileGroup group = FileGroupOf(fileName);
    if (NeedsStatedLength(fileName) && !answer.LengthStated) {
        // Without a stated length a connection that broke off looks like the end of the file:
        // such an image is never written into the tester, nor such a program started. The
        // window's update panels are hidden, so that the image loaded before is not taken for it.
        if (LoadFirmwareBuffer) LoadFirmwareBuffer(QByteArray(), QString(), true);
        throw EUpdateServer(
            FEnglish
                ? QStringLiteral("The update server did not state the length of \"%1\" (Content-Length): %2 "
                                 "B arrived, but "
                                 "whether that is the whole file cannot be known. It is not offered for "
                                 "writing to the tester; \"Save to disk\" keeps it.")
                      .arg(fileName)
                      .arg(bytes.size())
                : QStringLiteral(
                      "Сервер обновлений не сообщил длину файла «%1» (Content-Length): получено %2 Б, но "
                      "неизвестно, весь ли файл пришёл. Для записи в тестер он не "
                      "предлагается; его можно сохранить кнопкой «Сохранить на диск».")
                      .arg(fileName)
                      .arg(bytes.size()));
    }
    if (group == ufgFirmware) {
        if (LoadFirmwareBuffer) LoadFirmwareBuffer(bytes, fileName, false);
        SetProgramFileNameLabel(caption);
        return;
    }
    if (LoadFirmwareBuffer) LoadFirmwareBuffer(QByteArray(), QString(), true);
    if (group == ufgProgram)
        StoreProgram(fileName);
    else if (FileExtension(fileName) == QLatin1String(".txt"))
        ShowReleaseNote(fileName, bytes);
}

void TFrameInternetUpdates::StoreProgram(const QString &fileName) {
    CheckLocalName(fileName);
    const TSaveFolder folder = SaveFolder(QStandardPaths::DownloadLocation, EffectiveProgramFolder());
    const QString target = FreeNumberedPath(folder.Path, fileName);
    QFile file(target);
    // NewOnly: never through a file or link that appeared after the free name was found.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
        file.write(FirmwareStream) != FirmwareStream.size() || !file.flush())
        throw EUpdateServer(
            QStringLiteral("Cannot store the program as %1: %2").arg(target, file.errorString()));
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser |
                        QFileDevice::ExeGroup | QFileDevice::ExeOther);
    file.close();
    // A program kept elsewhere never replaces this one: the package manager owns it.
    ExeNextToProgram = folder.NextToProgram;
    if (!ExeNextToProgram) CheckBoxDeleteOld->setChecked(false);
    CheckBoxDeleteOld->setVisible(ExeNextToProgram);
    LabelProgramKept->setVisible(!ExeNextToProgram);
    PanelAskLaunchProgram->show();
    SetProgramFileNameLabel(target);
    ExeFullFileName = target;
}

void TFrameInternetUpdates::ShowReleaseNote(const QString &fileName, const QByteArray &bytes) {
    // In a scrollable viewer that fits the screen, shown without blocking: the window and any
    // later request go on while it is open. A note longer than anyone reads is shown in part.
    delete findChild<QDialog *>(QStringLiteral("DialogReleaseNote"));
    auto *dialog = new QDialog(this);
    dialog->setObjectName(QStringLiteral("DialogReleaseNote"));
    dialog->setWindowTitle(fileName);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(dialog);
    auto *text = new QPlainTextEdit(dialog);
    text->setObjectName(QStringLiteral("EditReleaseNote"));
    text->setReadOnly(true);
    text->setPlainText(ReleaseNotePreview(bytes, MaxReleaseNoteBytes));
    layout->addWidget(text, 1);
    if (bytes.size() > MaxReleaseNoteBytes) {
        const qint64 shownKiB = MaxReleaseNoteBytes / 1024;
        const qint64 wholeKiB = (bytes.size() + 1023) / 1024;
        auto *cut = new QLabel(
            FEnglish
                ? QStringLiteral(
                      "The first %1 KiB of %2 KiB are shown; \"Save to disk\" keeps the whole file.")
                      .arg(shownKiB)
                      .arg(wholeKiB)
                : QStringLiteral("Показаны первые %1 КиБ из %2 КиБ; весь файл сохраняет «Сохранить на диск».")
                      .arg(shownKiB)
                      .arg(wholeKiB),
            dialog);
        cut->setObjectName(QStringLiteral("LabelReleaseNoteCut"));
        cut->setWordWrap(true);
        layout->addWidget(cut);
    }
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
    // Never larger than the screen it opens on, so that its button is always in reach.
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QSize room = screen ? screen->availableGeometry().size() : QSize(800, 600);
    dialog->setMaximumSize(room);
    dialog->resize(qMin(640, room.width() * 4 / 5), qMin(480, room.height() * 4 / 5));
    dialog->open();
}

void TFrameInternetUpdates::ButtonSaveToFileClick() {
    if (FirmwareStream.isEmpty()) return;
    CheckLocalName(FirmwareName);
    const QString path = AskSaveFileName
                             ? AskSaveFileName(FirmwareName)
                             : QFileDialog::getSaveFileName(this, QStringLiteral("Save Update"), FirmwareName,
                                                            QStringLiteral("All (*)"));
    if (path.isEmpty()) return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(FirmwareStream) != FirmwareStream.size() ||
        !file.commit())
        throw EUpdateServer(QStringLiteral("Cannot save %1: %2").arg(path, file.errorString()));
}

void TFrameInternetUpdates::ButtonLaunchProgramClick() {
    if (ExeFullFileName.isEmpty() || !QFileInfo::exists(ExeFullFileName)) return;
    QStringList parameters;
    const bool replaceThis = CheckBoxDeleteOld->isChecked() && ExeNextToProgram;
    // The started program may remove this one once it has ended.
    if (replaceThis)
        parameters << QStringLiteral("delete=\"") + QCoreApplication::applicationFilePath() +
                          QLatin1Char('"');
    if (!QProcess::startDetached(ExeFullFileName, parameters, QFileInfo(ExeFullFileName).absolutePath()))
        throw EUpdateServer(QStringLiteral("Cannot start %1").arg(ExeFullFileName));
    if (replaceThis) TimerClose->start();
}
