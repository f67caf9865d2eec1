#pragma once
// The internet update panel of the firmware update window: asks the update server for its
// device list, picks the tester's own entry, lists the files published for it in three
// groups (firmware images, programs, other), downloads the chosen file and, by its kind,
// hands a firmware image to the firmware window, shows a release note, or stores a program
// next to this one and offers to start it. Every request runs in the background; while one
// runs the controls that would start another are disabled, its progress (bytes and seconds
// against its deadline) is shown with a Cancel button, and a failed request reaches the
// application's error display with the lists left as they were.
#include <QByteArray>
#include <QElapsedTimer>
#include <QFrame>
#include <QString>

#include <functional>
#include <stdexcept>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QSplitter;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class TUpdateServerClient;
struct TUpdateServerAnswer;

// A failed request or a refused answer of the update server.
class EUpdateServer : public std::runtime_error {
public:
    explicit EUpdateServer(const QString &message) : std::runtime_error(message.toStdString()) {}
};

class TFrameInternetUpdates : public QFrame {
    Q_OBJECT
public:
    explicit TFrameInternetUpdates(QWidget *parent = nullptr);
    ~TFrameInternetUpdates() override;

    using TLoadFirmwareBuffer = std::function<void(const QByteArray &aFirmwareBuffer,
                                                   const QString &firmwareFileName, bool hideFirmwareUpdate)>;

    // ---- Components ----
    QFrame *PanelSelectUpdate = nullptr;
    QPushButton *ButtonCheckUpdatesGetDevices = nullptr;
    QLabel *LabelSelectDevice = nullptr;
    QLineEdit *EditSelectDevice = nullptr;
    QTreeWidget *ListViewDevices = nullptr;
    QPushButton *ButtonCheckUpdates = nullptr;
    QSplitter *Splitter1 = nullptr;
    QLabel *LabelSelectFirmware = nullptr;
    QMenu *PopupMenu1 = nullptr;
    QAction *CheckBoxShowAllDevices = nullptr;
    QTreeWidget *ListViewFiles = nullptr;
    QFrame *PanelGetUpdate = nullptr;
    QPushButton *ButtonDownloadFirmware = nullptr;
    QLabel *LabelDownload = nullptr;
    QLabel *LabelOnWork = nullptr;
    QLabel *LabelProgramFileName = nullptr;
    QPushButton *ButtonSaveToFile = nullptr;
    QFrame *PanelAskLaunchProgram = nullptr;
    QCheckBox *CheckBoxDeleteOld = nullptr;
    // Shown instead of CheckBoxDeleteOld when the program went to the Downloads folder.
    QLabel *LabelProgramKept = nullptr;
    QPushButton *ButtonLaunchProgram = nullptr;
    // Shown while a request runs: what is asked, bytes and seconds so far, and Cancel.
    QFrame *PanelRequest = nullptr;
    QProgressBar *ProgressRequest = nullptr;
    QLabel *LabelRequest = nullptr;
    QPushButton *ButtonCancelRequest = nullptr;
    QTimer *TimerRequest = nullptr; // counts the seconds while no byte comes
    QTimer *TimerClose = nullptr;
    QAction *ActionDebug = nullptr;
    TUpdateServerClient *IdHTTP1 = nullptr;

    // ---- State ----
    bool ShowProgress = false;              // a file download runs: the progress shows its byte count
    QString CurAddress;                     // address of the last list request, before encoding
    QString FileListAddress;                // the address that the shown file list came from
    QByteArray FirmwareStream;              // the last completed download
    QString FirmwareName;                   // its file name as the server lists it
    QString ExeFullFileName;                // where the last downloaded program was stored
    bool ExeNextToProgram = false;          // ... in this program's folder (it may replace this one)
    TLoadFirmwareBuffer LoadFirmwareBuffer; // the firmware window's; empty = unset

    // ---- Settings ----
    QString BaseAddress;                        // empty = the program's setting
    qint64 MaxListBytes = 1024 * 1024;          // a longer list answer is refused
    qint64 MaxDownloadBytes = 64 * 1024 * 1024; // a larger download is refused
    int ListDeadlineMs = 60 * 1000;             // a list request is given up after this
    int DownloadDeadlineMs = 10 * 60 * 1000;    // a download is given up after this
    int MaxListRows = 16384;                    // a list with more lines is refused
    qint64 MaxReleaseNoteBytes = 64 * 1024;     // a release note is shown up to this
    // Empty = the running program's folder. Programs go there while it takes files, else to the
    // user's Downloads folder (uProgramFolder.h).
    QString ProgramFolder;
    // The save dialog (returns the chosen path, empty = cancelled); empty = the file dialog.
    std::function<QString(const QString &proposedName)> AskSaveFileName;
    // Ends the program after a launch that replaces it; empty = close the main window.
    std::function<void()> CloseMainWindow;

    void SelectDevice(const QString &selectDeviceName);
    void DoEnglish();
    // Back to the Russian set the window starts with.
    void DoRus();
    bool IsRequestRunning() const;
    // The base address in use and the program's folder.
    QString EffectiveBaseAddress() const;
    QString EffectiveProgramFolder() const;
    // The group row of a file group (0 firmware, 1 programs, 2 other).
    QTreeWidgetItem *FileGroupItem(int group) const;
    // The selected file row, or null when none (a group row is no file row).
    QTreeWidgetItem *SelectedFileRow() const;
    int FileRowCount() const;

    // ---- Event handlers (public: the firmware window fetches the device list) ----
    void ButtonCheckUpdatesGetDevicesClick();
    void ButtonCancelRequestClick();
    void LabelSelectDeviceDblClick();
    void ListViewDevicesSelectItem();
    void ButtonCheckUpdatesClick();
    void ListViewFilesDblClick(QTreeWidgetItem *item);
    void ButtonDownloadFirmwareClick();
    void IdHTTP1Work(qint64 count);
    void ButtonSaveToFileClick();
    void ButtonLaunchProgramClick();
    void TimerCloseTimer();
    void CheckBoxShowAllDevicesClick();
    void ActionDebugExecute();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void BuildLayout();
    void ApplyCaptions(bool english);
    void UpdateRequestControls();
    // Starts a GET of Address (before encoding); OnAnswer gets a successful answer. A failed
    // request goes to the error display; a cancelled one shows nothing.
    void StartRequest(const QString &what, const QString &address, qint64 maxBytes, int deadlineMs,
                      std::function<void(const TUpdateServerAnswer &)> onAnswer);
    void ShowRequestProgress();
    // Refuses a list answer with more rows than a list may have.
    void CheckListRows(const QByteArray &answer) const;
    void SetProgramFileNameLabel(const QString &text);
    void DeviceListArrived(const QByteArray &answer);
    void FileListArrived(const QString &address, const QByteArray &answer);
    void DownloadArrived(const QString &fileName, const QString &caption, const TUpdateServerAnswer &answer);
    void StoreProgram(const QString &fileName);
    void ShowReleaseNote(const QString &fileName, const QByteArray &bytes);
    bool FEnglish = false;
    // The running request, for its progress line.
    QString FRequestWhat;
    QElapsedTimer FRequestClock;
    int FRequestDeadlineMs = 0;
    qint64 FRequestBytes = 0;
    qint64 FRequestTotal = -1;
};
