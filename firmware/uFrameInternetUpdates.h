#pragma once
// The internet update frame that the firmware window embeds: device and file lists of the
// update server, downloads handed to the firmware window through LoadFirmwareBuffer.
#include <QByteArray>
#include <QFrame>
#include <QString>

#include <functional>

class QLineEdit;

class TFrameInternetUpdates : public QFrame {
    Q_OBJECT
public:
    explicit TFrameInternetUpdates(QWidget *Parent = nullptr);

    // Fetches the device list from the server.
    void ButtonCheckUpdatesGetDevicesClick();
    void DoEnglish();

    QLineEdit *EditSelectDevice = nullptr;

    // Set by the firmware window before the frame is first shown.
    std::function<void(const QByteArray &AFirmwareBuffer, const QString &FirmwareFileName,
                       bool HideFirmwareUpdate)>
        LoadFirmwareBuffer;
};
