#pragma once
// The modal window in which the user picks the device link's serial port, its line
// settings and the identification the device must report, and can run a port search.
#include "uComPort.h"

#include <QComboBox>
#include <QDialog>
#include <QString>

#include <functional>

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QTimer;
class TBalloonHint;

// Shared with the device link.
extern QString DialogDeviceIdentStr; // the identification carried into and out of the window
extern bool UseEnglish;              // set by the link's DoEnglish
extern QString DeviceNotFoundText;   // balloon title of a fruitless search

enum TComProperty { cpNone, cpBaudRate, cpDataBits, cpStopBits, cpParity };

// Gives the port to work on, asked for anew at every use and never kept: the device link
// makes a fresh port object at every connect, and a search report may connect while the
// window is open, so a port object taken at opening may be gone by the time OK is pressed.
using TComPortSource = std::function<TComPort *()>;

// A chooser of one line setting, bound to a port; with AutoApply every choice goes to the
// port at once.
class TComComboBox : public QComboBox {
    Q_OBJECT
public:
    TComComboBox(TComProperty property, QWidget *parent = nullptr);
    TComProperty ComProperty;
    bool AutoApply = true;
    // Binds to the port that Source gives and selects the entry of its current value.
    void SetComPort(TComPortSource source);
    TComPort *ComPort() const { return FComPort ? FComPort() : nullptr; }
    // Puts the chosen value into the bound port. The baud-rate chooser raises a conversion
    // error for text that is not an integer (the port keeps its rate).
    void ApplySettings();
    void UpdateSettings(); // shows the port's current value

private:
    void Chosen();
    TComPortSource FComPort;
};

class TFormConnectionSettingsMorva : public QDialog {
    Q_OBJECT
public:
    explicit TFormConnectionSettingsMorva(QWidget *parent = nullptr);
    ~TFormConnectionSettingsMorva() override;

    // The link's port being edited; the window does not own it.
    TComPortSource FComPort;
    TComPort *ComPort() const { return FComPort ? FComPort() : nullptr; }

    QFrame *Panel1 = nullptr;
    QFrame *PanelTop = nullptr;
    QFrame *PanelComPortSettings = nullptr;
    QLabel *Label1 = nullptr;
    QListWidget *ListBoxComPorts = nullptr;
    QCheckBox *CheckBoxFilterOnlyUSB = nullptr;
    QPushButton *ButtonSettings = nullptr;
    QPushButton *ButtonSearch = nullptr;
    QLineEdit *EditDeviceIdentStr = nullptr;
    QPushButton *ButtonOK = nullptr;
    QLabel *Label2 = nullptr, *Label3 = nullptr, *Label4 = nullptr, *Label5 = nullptr;
    TComComboBox *ComCombo1 = nullptr, *ComCombo2 = nullptr, *ComCombo3 = nullptr, *ComCombo4 = nullptr;
    QMenu *PopupMenuShowAdvanced = nullptr;
    QAction *NShowAdvanced = nullptr;
    QAction *ActionShowLog = nullptr;
    QTimer *TimerRefreshPorts = nullptr;
    QTimer *TimerSearchTimeOut = nullptr;
    TBalloonHint *BalloonHintInd = nullptr;

    // The name selected in the port list; empty when nothing is selected.
    QString SelectedPort() const;
    void SelectPort(const QString &name); // nothing selected when Name is not listed

    void TimerRefreshPortsTimer();
    void CheckBoxFilterOnlyUSBClick();
    void ButtonSettingsClick();
    void NShowAdvancedClick();
    void ButtonSearchClick();
    void TimerSearchTimeOutTimer();
    void ButtonOKClick();
    void ActionShowLogExecute();
    void SearchFinished(const QString &foundIdentStr, const QString &foundComPort, int foundComBoud);
    void DoEnglish();

    // Where Ctrl+L shows the search log; empty = a message box. Tests read the text here.
    static std::function<void(const QString &text)> ShowLogText;
};

// Shows the window modally for the port that ComPort gives; DeviceIdentStr changes only when
// the user presses OK.
void ShowConnectionSettings(TComPortSource comPort, QString &deviceIdentStr, bool onlyUsb);
// Called with the window just before it runs modally (tests drive the window from here).
extern std::function<void(TFormConnectionSettingsMorva *form)> OnConnectionSettingsShown;
