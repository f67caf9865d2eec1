// The frame's requests and what it does with their answers: the device list, the file
// list, downloads, saving, storing and launching a program.
#include "uFrameInternetUpdates.h"

#include "uInternetUpdatesParse.h"
#include "uKvApplication.h"
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
QString Printable(const QString &Name) {
    QString Out;
    for (const QChar C : Name) {
        if (C.unicode() < 0x20 || C.unicode() == 0x7F)
            Out += QStringLiteral("\\x%1").arg(C.unicode(), 2, 16, QLatin1Char('0'));
        else
            Out += C;
    }
    return Out;
}

// Refuses a server's file name that would not stay a plain name in a local folder.
void CheckLocalName(const QString &FileName) {
    const QString Problem = LocalFileNameProblem(FileName);
    if (!Problem.isEmpty())
        throw EUpdateServer(
            QStringLiteral("The update server's file name \"%1\" cannot be used as a local file name (%2); "
                           "nothing was stored")
                .arg(Printable(FileName), Problem));
}

} // namespace

void TFrameInternetUpdates::ButtonCheckUpdatesGetDevicesClick() {
    if (IsRequestRunning()) return;
    CurAddress = EnsureTrailingSeparator(EffectiveBaseAddress());
    IdHTTP1->Get(
        EncodeUpdateAddress(CurAddress), MaxListBytes, [this](qint64 N) { IdHTTP1Work(N); },
        [this](const QByteArray &Answer, const QString &Error) {
            UpdateRequestControls();
            TKvApplication::RunGuarded([&] {
                if (!Error.isEmpty()) throw EUpdateServer(Error);
                DeviceListArrived(Answer);
            });
        });
    UpdateRequestControls();
}

void TFrameInternetUpdates::DeviceListArrived(const QByteArray &Answer) {
    const QStringList Devices = SplitListLines(Answer);
    ListViewDevices->clear();
    for (const QString &Name : Devices)
        new QTreeWidgetItem(ListViewDevices, {Name});
    UpdateRequestControls();
    SelectDevice(EditSelectDevice->text());
}

void TFrameInternetUpdates::SelectDevice(const QString &SelectDeviceName) {
    for (int I = 0; I < ListViewDevices->topLevelItemCount(); ++I) {
        QTreeWidgetItem *Row = ListViewDevices->topLevelItem(I);
        if (Row->text(0) != SelectDeviceName) continue;
        ListViewDevices->setCurrentItem(Row); // the selection fetches the device's file list
        if (!CheckBoxShowAllDevices->isChecked()) PanelSelectUpdate->hide();
        return;
    }
}

void TFrameInternetUpdates::ButtonCheckUpdatesClick() {
    if (IsRequestRunning()) return;
    const QList<QTreeWidgetItem *> Selected = ListViewDevices->selectedItems();
    if (Selected.isEmpty()) return;
    CurAddress = EnsureTrailingSeparator(EffectiveBaseAddress() + Selected.first()->text(0));
    const QString Address = CurAddress;
    IdHTTP1->Get(
        EncodeUpdateAddress(Address), MaxListBytes, [this](qint64 N) { IdHTTP1Work(N); },
        [this, Address](const QByteArray &Answer, const QString &Error) {
            UpdateRequestControls();
            TKvApplication::RunGuarded([&] {
                if (!Error.isEmpty()) throw EUpdateServer(Error);
                FileListArrived(Address, Answer);
            });
        });
    UpdateRequestControls();
}

void TFrameInternetUpdates::FileListArrived(const QString &Address, const QByteArray &Answer) {
    // Downloads are addressed relative to the list they were chosen from.
    FileListAddress = Address;
    for (int G = 0; G < 3; ++G)
        qDeleteAll(FileGroupItem(G)->takeChildren());
    QTreeWidgetItem *Last = nullptr;
    for (const QString &Line : SplitListLines(Answer))
        Last = new QTreeWidgetItem(FileGroupItem(FileGroupOf(Line)), {FileCaption(Line), Line});
    for (int G = 0; G < 3; ++G)
        FileGroupItem(G)->setHidden(FileGroupItem(G)->childCount() == 0);
    if (Last) ListViewFiles->setCurrentItem(Last);
    UpdateRequestControls();
}

void TFrameInternetUpdates::ButtonDownloadFirmwareClick() {
    if (IsRequestRunning()) return;
    const QTreeWidgetItem *Row = SelectedFileRow();
    if (!Row) return;
    const QString FileName = Row->text(1);
    const QString Caption = Row->text(0);
    // A program is stored under its listed name: refuse a name that is not a plain one
    // before anything is fetched.
    if (FileGroupOf(FileName) == ufgProgram) CheckLocalName(FileName);
    ShowProgress = true;
    IdHTTP1->Get(
        EncodeUpdateAddress(FileListAddress + FileName), MaxDownloadBytes,
        [this](qint64 N) { IdHTTP1Work(N); },
        [this, FileName, Caption](const QByteArray &Bytes, const QString &Error) {
            ShowProgress = false;
            UpdateRequestControls();
            TKvApplication::RunGuarded([&] {
                // A failed download leaves the previous one in place, so that
                // "Save to disk" never writes a truncated file under its name.
                if (!Error.isEmpty()) throw EUpdateServer(Error);
                DownloadArrived(FileName, Caption, Bytes);
            });
        });
    UpdateRequestControls();
}

void TFrameInternetUpdates::IdHTTP1Work(qint64 Count) {
    if (ShowProgress) LabelOnWork->setText(QString::number(Count) + QStringLiteral(" Б"));
}

void TFrameInternetUpdates::DownloadArrived(const QString &FileName, const QString &Caption,
                                            const QByteArray &Bytes) {
    FirmwareStream = Bytes;
    UpdateRequestControls();
    PanelAskLaunchProgram->hide();
    if (FirmwareStream.isEmpty()) return;

    FirmwareName = FileName;
    ButtonSaveToFile->setToolTip(FileName + QStringLiteral(" (") + QString::number(Bytes.size()) +
                                 QStringLiteral(" B)"));
    SetProgramFileNameLabel(FileName);
    const TUpdateFileGroup Group = FileGroupOf(FileName);
    if (Group == ufgFirmware) {
        if (LoadFirmwareBuffer) LoadFirmwareBuffer(Bytes, FileName, false);
        SetProgramFileNameLabel(Caption);
        return;
    }
    if (LoadFirmwareBuffer) LoadFirmwareBuffer(QByteArray(), QString(), true);
    if (Group == ufgProgram)
        StoreProgram(FileName);
    else if (FileExtension(FileName) == QLatin1String(".txt"))
        ShowReleaseNote(FileName, Bytes);
}

void TFrameInternetUpdates::StoreProgram(const QString &FileName) {
    CheckLocalName(FileName);
    const QString Target = FreeNumberedPath(EffectiveProgramFolder(), FileName);
    QFile File(Target);
    // NewOnly: never through a file or link that appeared after the free name was found.
    if (!File.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
        File.write(FirmwareStream) != FirmwareStream.size() || !File.flush())
        throw EUpdateServer(
            QStringLiteral("Cannot store the program as %1: %2").arg(Target, File.errorString()));
    File.setPermissions(File.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser |
                        QFileDevice::ExeGroup | QFileDevice::ExeOther);
    File.close();
    PanelAskLaunchProgram->show();
    SetProgramFileNameLabel(Target);
    ExeFullFileName = Target;
}

void TFrameInternetUpdates::ShowReleaseNote(const QString &FileName, const QByteArray &Bytes) {
    // Shown without blocking: the window and any later request go on while it is open.
    auto *noteBox =
        new QMessageBox(QMessageBox::Information, FileName, DecodeReleaseNote(Bytes), QMessageBox::Ok, this);
    noteBox->setObjectName(QStringLiteral("MessageBoxReleaseNote"));
    noteBox->setTextFormat(Qt::PlainText);
    noteBox->setAttribute(Qt::WA_DeleteOnClose);
    noteBox->open();
}

void TFrameInternetUpdates::ButtonSaveToFileClick() {
    if (FirmwareStream.isEmpty()) return;
    CheckLocalName(FirmwareName);
    const QString Path = AskSaveFileName
                             ? AskSaveFileName(FirmwareName)
                             : QFileDialog::getSaveFileName(this, QStringLiteral("Save Update"), FirmwareName,
                                                            QStringLiteral("All (*)"));
    if (Path.isEmpty()) return;
    QSaveFile File(Path);
    if (!File.open(QIODevice::WriteOnly) || File.write(FirmwareStream) != FirmwareStream.size() ||
        !File.commit())
        throw EUpdateServer(QStringLiteral("Cannot save %1: %2").arg(Path, File.errorString()));
}

void TFrameInternetUpdates::ButtonLaunchProgramClick() {
    if (ExeFullFileName.isEmpty() || !QFileInfo::exists(ExeFullFileName)) return;
    QStringList Parameters;
    const bool ReplaceThis = CheckBoxDeleteOld->isChecked();
    // The started program may remove this one once it has ended.
    if (ReplaceThis)
        Parameters << QStringLiteral("delete=\"") + QCoreApplication::applicationFilePath() +
                          QLatin1Char('"');
    if (!QProcess::startDetached(ExeFullFileName, Parameters, QFileInfo(ExeFullFileName).absolutePath()))
        throw EUpdateServer(QStringLiteral("Cannot start %1").arg(ExeFullFileName));
    if (ReplaceThis) TimerClose->start();
}
