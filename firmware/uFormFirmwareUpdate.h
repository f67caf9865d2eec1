#pragma once
// The firmware update window: writes a new firmware image into the tester through its boot
// loader. The image comes from a local file or from the update server (the embedded internet
// frame); the identification in the file's name must match the one the boot loader reports,
// the image must fit the flash, and the pages go out one by one with the progress shown. Once
// the last page is acknowledged the connection closes, so that the tester starts the new
// firmware. Created hidden at program start; closing it only hides it. The update's rules
// (requests, checks, time-outs) are TFirmwareUpdate's; the window shows what it reports.
#include "uFirmwareImageFile.h"
#include "uFirmwareTransferRate.h"
#include "uFirmwareUpdate.h"
#include "uKvProtocol.h"

#include <QByteArray>
#include <QString>
#include <QWidget>

#include <functional>
#include <stdexcept>

class QFileDialog;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class TFrameInternetUpdates;
class TGraphicSpeedButton;

// The one text of the window with an English variant; DoEnglish switches it.
extern QString NotSuitableText;

class TFormFirmwareUpdate : public QWidget {
    Q_OBJECT
public:
    // The largest image any boot loader can take: its flash size is a 16-bit count of KiB.
    static constexpr qint64 MaxImageSize = MaxFirmwareImageSize;

    // A top-level window of its own; with a parent it closes and goes with the parent.
    explicit TFormFirmwareUpdate(QWidget *parent = nullptr);
    ~TFormFirmwareUpdate() override;

    // Takes an image and its file name (path or bare name). With HideFirmwareUpdate the name
    // and update panels are hidden and nothing else changes.
    void LoadFirmwareBuffer(const QByteArray &aFirmwareBuffer, const QString &firmwareFileName,
                            bool hideFirmwareUpdate);
    // Reads the whole file and loads it; EFirmwareFile when it cannot be read or is no
    // regular file (a pipe, a device) or too large (ReadFirmwareImageFile).
    void OpenFirmwareFile(const QString &fileName);
    void DoEnglish();
    // Back to the Russian set the window starts with.
    void DoRus();

    // Shows a page's progress, or with an error the refused page's code.
    void OnFirmwareProgress(quint8 error, quint32 currentPos, quint32 size);
    // The connection closed, lost or by hand: an update that was starting or writing is over,
    // as nothing more will come from the boot loader; the message says it was interrupted.
    void DeviceLinkClosed();

    // ---- Event handlers ----
    void GraphicSpeedButtonOpenFirmwareClick();
    void ButtonStartUpdateClick();
    void TimerTryAgainTimer();
    void TimerDisconnectTimer();
    void PanelOldNewClick();
    void ButtonCloseClick();
    void GraphicSpeedButtonInternetClick();

    // Start requests sent by the repeat timer in this program run; never reset, so the first
    // update repeats the request up to five times and every later one once.
    int TryAgainCount() const { return FirmwareUpdate->TryAgainCount(); }

    // The update the window shows; owned by the window.
    TFirmwareUpdate *const FirmwareUpdate;

    // ---- Components ----
    QWidget *PanelButtons;
    TGraphicSpeedButton *GraphicSpeedButtonInternet;
    TFrameInternetUpdates *FrameInternetUpdates;
    QWidget *PanelBottom;
    QWidget *PanelSettings;
    QLabel *Label2;
    QLineEdit *EditLoaderIdentStr;
    QLineEdit *EditFirmwareSize;
    QWidget *PanelOldNew;
    QLabel *Label1;
    QLineEdit *EditFirmwareOldName;
    QLabel *Label3;
    QLineEdit *EditFirmwareName;
    TGraphicSpeedButton *GraphicSpeedButtonOpenFirmware;
    QWidget *PanelFirmwareUpdate;
    QPushButton *ButtonStartUpdate;
    QProgressBar *ProgressBar1;
    // Transfer speed and time left, beside the progress bar.
    QLabel *LabelTransferRate;
    QLineEdit *EditMessage;
    QPushButton *ButtonClose;
    QLabel *LabelSmartResize;
    QFileDialog *OpenDialogFirmware;
    QTimer *TimerTryAgain;
    QTimer *TimerDisconnect;
    // Pages come up to 80 times a second: the bar and the message take every position but are
    // redrawn at most once per this timer's period.
    QTimer *TimerRedrawProgress;

    // ---- Fields ----
    QByteArray FirmwareBuffer;
    // The connection to the tester; set by the main window, owned by it.
    IDeviceLink *DeviceLink = nullptr;
    // Selects the start request with the image size; nothing sets it.
    bool Command53 = false;
    // The tester's name on the update server.
    QString DeviceName;
    // The main window's SetUpdateRegisters: stops polling and the tester's work before an update.
    std::function<void(bool doUpdate)> SetUpdateRegisters;
    // Called once the boot loader has acknowledged the last page: the tester will come back
    // under its new firmware's name.
    std::function<void()> OnUpdated;

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void BuildWindow();
    QWidget *BuildOldNewPanel();
    QWidget *BuildUpdatePanel();
    TKvProtocol *ConnectedProtocol() const;
    void UpdateAccepted();
    void UpdateFinished(const TFirmwareResult &result);
    // A message with an English and a Russian text, shown in the window's language and again
    // at a language switch.
    void ShowMessage(std::function<QString(bool english)> text);
    void ShowTransferRate(quint32 size, bool done);
    void HoldProgressRedraw(bool hold);
    // After a language switch: the message shown for the present state in the new language.
    void ShowMessageInLanguage(const QString &oldNotSuitableText);

    // The message shown, while it is the one ShowMessage put there.
    std::function<QString(bool english)> FMessage;
    bool FEnglish = false;
    bool FPlaced = false;
    TFirmwareTransferRate FRate;
    quint32 FRateShownAt = 0;
};

// The program's one firmware window, while it exists.
extern TFormFirmwareUpdate *FormFirmwareUpdate;
