// The frame's requests and what it does with their answers: the device list, the file
// list, downloads, saving, storing and launching a program.
#include "uFrameInternetUpdates.h"

#include "uInternetUpdatesParse.h"
#include "uKvApplication.h"
#include "uProgramFolder.h"
#include "uUpdateServerClient.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>
#include <QTreeWidget>

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

void TFrameInternetUpdates::ButtonCheckUpdatesGetDevicesClick() {
    if (IsRequestRunning()) return;
    CurAddress = EnsureTrailingSeparator(EffectiveBaseAddress());
    IdHTTP1->Get(
        EncodeUpdateAddress(CurAddress), MaxListBytes, [this](qint64 n) { IdHTTP1Work(n); },
        [this](const QByteArray &Answer, const QString &error) {
            UpdateRequestControls();
            TKvApplication::RunGuarded([&] {
                if (!error.isEmpty()) throw EUpdateServer(error);
                DeviceListArrived(Answer);
            });
        });
    UpdateRequestControls();
}

void TFrameInternetUpdates::DeviceListArrived(const QByteArray &answer) {
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
    IdHTTP1->Get(
        EncodeUpdateAddress(address), MaxListBytes, [this](qint64 n) { IdHTTP1Work(n); },
        [this, address](const QByteArray &Answer, const QString &Error) {
            UpdateRequestControls();
            TKvApplication::RunGuarded([&] {
                if (!Error.isEmpty()) throw EUpdateServer(Error);
                FileListArrived(address, Answer);
            });
        });
    UpdateRequestControls();
}

void TFrameInternetUpdates::FileListArrived(const QString &address, const QByteArray &answer) {
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
    const QString Caption = row->text(0);
    // A program is stored under its listed name: refuse a name that is not a plain one
    // before anything is fetched.
    if (FileGroupOf(fileName) == ufgProgram) CheckLocalName(fileName);
    ShowProgress = true;
    IdHTTP1->Get(
        EncodeUpdateAddress(FileListAddress + fileName), MaxDownloadBytes,
        [this](qint64 n) { IdHTTP1Work(n); },
        [this, fileName, Caption](const QByteArray &Bytes, const QString &Error) {
            ShowProgress = false;
            UpdateRequestControls();
            TKvApplication::RunGuarded([&] {
                // A failed download leaves the previous one in place, so that
                // "Save to disk" never writes a truncated file under its name.
                if (!Error.isEmpty()) throw EUpdateServer(Error);
                DownloadArrived(fileName, Caption, Bytes);
            });
        });
    UpdateRequestControls();
}

void TFrameInternetUpdates::IdHTTP1Work(qint64 count) {
    if (ShowProgress) LabelOnWork->setText(QString::number(count) + QStringLiteral(" Б"));
}

void TFrameInternetUpdates::DownloadArrived(const QString &fileName, const QString &caption,
                                            const QByteArray &bytes) {
    FirmwareStream = bytes;
    UpdateRequestControls();
    PanelAskLaunchProgram->hide();
    if (FirmwareStream.isEmpty()) return;

    FirmwareName = fileName;
    ButtonSaveToFile->setToolTip(fileName + QStringLiteral(" (") + QString::number(bytes.size()) +
                                 QStringLiteral(" B)"));
    SetProgramFileNameLabel(fileName);
    const TUpdateFileGroup group = FileGroupOf(fileName);
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
    // Shown without blocking: the window and any later request go on while it is open.
    auto *noteBox =
        new QMessageBox(QMessageBox::Information, fileName, DecodeReleaseNote(bytes), QMessageBox::Ok, this);
    noteBox->setObjectName(QStringLiteral("MessageBoxReleaseNote"));
    noteBox->setTextFormat(Qt::PlainText);
    noteBox->setAttribute(Qt::WA_DeleteOnClose);
    noteBox->open();
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
