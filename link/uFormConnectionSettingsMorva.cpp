#include "uFormConnectionSettingsMorva.h"

#include "uBalloonHint.h"
#include "uComPortList.h"
#include "uFormConnectionSettingsMorvaSearch.h"
#include "uKvApplication.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <stdexcept>

QString DialogDeviceIdentStr;
bool UseEnglish = false;
QString DeviceNotFoundText = QStringLiteral("Устройство не найдено");
std::function<void(TFormConnectionSettingsMorva *)> OnConnectionSettingsShown;
std::function<void(const QString &)> TFormConnectionSettingsMorva::ShowLogText;

namespace {

constexpr int RefreshPortsMs = 1000;
constexpr int SearchWaitMs = 1000;

const int BaudRates[] = {110,    300,    600,    1200,   2400,   4800,   9600,   14400,
                         19200,  38400,  56000,  57600,  115200, 128000, 230400, 250000,
                         256000, 460800, 500000, 576000, 921600, 1000000};

class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace

// ---- Choosers -------------------------------------------------------------------------

TComComboBox::TComComboBox(TComProperty Property, QWidget *Parent)
    : QComboBox(Parent), ComProperty(Property) {
    switch (ComProperty) {
    case cpBaudRate:
        for (int B : BaudRates)
            addItem(QString::number(B));
        setEditable(true);
        setInsertPolicy(QComboBox::NoInsert);
        setMaxVisibleItems(16);
        connect(lineEdit(), &QLineEdit::editingFinished, this, [this] {
            // Leaving the field or Enter: a typed rate counts as chosen.
            const TComPort *Port = ComPort();
            if (Port && lineEdit()->text() != QString::number(Port->CustomBaudRate())) Chosen();
        });
        break;
    case cpParity:
        addItems({"None", "Odd", "Even", "Mark", "Space"});
        break;
    case cpDataBits:
        addItems({"5", "6", "7", "8"});
        break;
    case cpStopBits:
        addItems({"1", "1.5", "2"});
        break;
    case cpNone:
        break;
    }
    connect(this, &QComboBox::activated, this, [this](int) { Chosen(); });
}

void TComComboBox::Chosen() {
    if (!AutoApply || !ComPort()) return;
    const bool Ok = TKvApplication::RunGuarded([this] { ApplySettings(); });
    if (!Ok) UpdateSettings(); // show what the port really has
}

void TComComboBox::SetComPort(TComPortSource Source) {
    FComPort = std::move(Source);
    UpdateSettings();
}

void TComComboBox::UpdateSettings() {
    const TComPort *Port = ComPort();
    if (!Port) return;
    switch (ComProperty) {
    case cpBaudRate: {
        const QString Text = QString::number(Port->CustomBaudRate());
        const int I = findText(Text);
        if (I >= 0) setCurrentIndex(I);
        setEditText(Text); // a rate that is not listed shows as a number
        break;
    }
    case cpParity:
        setCurrentIndex(int(Port->ParityBits()));
        break;
    case cpDataBits:
        setCurrentIndex(int(Port->DataBits()));
        break;
    case cpStopBits:
        setCurrentIndex(int(Port->StopBits()));
        break;
    case cpNone:
        break;
    }
}

void TComComboBox::ApplySettings() {
    TComPort *Port = ComPort();
    if (!Port) return;
    switch (ComProperty) {
    case cpBaudRate: {
        bool Ok = false;
        const QString Text = currentText().trimmed();
        const int Rate = Text.toInt(&Ok);
        if (!Ok)
            throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(Text).toStdString());
        Port->SetCustomBaudRate(Rate);
        break;
    }
    case cpParity:
        Port->SetParityBits(TParityBits(qBound(0, currentIndex(), int(prSpace))));
        break;
    case cpDataBits:
        Port->SetDataBits(TDataBits(qBound(0, currentIndex(), int(dbEight))));
        break;
    case cpStopBits:
        Port->SetStopBits(TStopBits(qBound(0, currentIndex(), int(sbTwoStopBits))));
        break;
    case cpNone:
        break;
    }
}

// ---- Window ---------------------------------------------------------------------------

TFormConnectionSettingsMorva::TFormConnectionSettingsMorva(QWidget *Parent) : QDialog(Parent) {
    setWindowTitle(QStringLiteral("Настройки соединения"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    Panel1 = new QFrame(this);
    Panel1->setFixedWidth(225);
    PanelTop = new QFrame(Panel1);
    PanelTop->setContextMenuPolicy(Qt::CustomContextMenu);
    auto *Panel1Layout = new QVBoxLayout(Panel1);
    Panel1Layout->setContentsMargins(0, 0, 0, 0);
    Panel1Layout->addWidget(PanelTop);

    Label1 = new QLabel(QStringLiteral("Доступные COM-порты:"), PanelTop);
    ListBoxComPorts = new QListWidget(PanelTop);
    ListBoxComPorts->setSelectionMode(QAbstractItemView::SingleSelection);
    CheckBoxFilterOnlyUSB = new QCheckBox(QStringLiteral("Только USB COM-порты"), PanelTop);
    ButtonSettings = new QPushButton(QStringLiteral("Настройки \nпорта"), PanelTop);
    ButtonSettings->setCheckable(true);
    ButtonSearch = new QPushButton(QStringLiteral("Поиск"), PanelTop);
    EditDeviceIdentStr = new QLineEdit(PanelTop);
    ButtonOK = new QPushButton(QStringLiteral("OK"), PanelTop);
    ButtonOK->setDefault(true);
    ButtonOK->setAutoDefault(true);

    auto *Grid = new QGridLayout(PanelTop);
    Grid->addWidget(Label1, 0, 0, 1, 2);
    Grid->addWidget(ListBoxComPorts, 1, 0, 4, 1);
    Grid->addWidget(CheckBoxFilterOnlyUSB, 5, 0, 1, 2);
    Grid->addWidget(ButtonSettings, 1, 1);
    Grid->addWidget(ButtonSearch, 2, 1);
    Grid->addWidget(EditDeviceIdentStr, 3, 1);
    Grid->addWidget(ButtonOK, 4, 1, Qt::AlignBottom);
    Grid->setColumnStretch(0, 1);
    ButtonSettings->setMaximumWidth(95);
    ButtonSearch->setMaximumWidth(95);
    EditDeviceIdentStr->setMaximumWidth(95);
    ButtonOK->setMaximumWidth(95);

    PanelComPortSettings = new QFrame(this);
    PanelComPortSettings->setFixedWidth(160);
    Label2 = new QLabel(QStringLiteral("Speed:"), PanelComPortSettings);
    Label5 = new QLabel(QStringLiteral("Parity:"), PanelComPortSettings);
    Label3 = new QLabel(QStringLiteral("Data bits:"), PanelComPortSettings);
    Label4 = new QLabel(QStringLiteral("Stop bits:"), PanelComPortSettings);
    ComCombo1 = new TComComboBox(cpBaudRate, PanelComPortSettings);
    ComCombo2 = new TComComboBox(cpParity, PanelComPortSettings);
    ComCombo3 = new TComComboBox(cpDataBits, PanelComPortSettings);
    ComCombo4 = new TComComboBox(cpStopBits, PanelComPortSettings);
    auto *SettingsGrid = new QGridLayout(PanelComPortSettings);
    SettingsGrid->addWidget(Label2, 0, 0);
    SettingsGrid->addWidget(ComCombo1, 0, 1);
    SettingsGrid->addWidget(Label5, 1, 0);
    SettingsGrid->addWidget(ComCombo2, 1, 1);
    SettingsGrid->addWidget(Label3, 2, 0);
    SettingsGrid->addWidget(ComCombo3, 2, 1);
    SettingsGrid->addWidget(Label4, 3, 0);
    SettingsGrid->addWidget(ComCombo4, 3, 1);
    SettingsGrid->setRowStretch(4, 1);
    PanelComPortSettings->setVisible(false);

    auto *Main = new QHBoxLayout(this);
    Main->addWidget(Panel1);
    Main->addWidget(PanelComPortSettings);
    Main->setSizeConstraint(QLayout::SetFixedSize); // the window follows its contents

    PopupMenuShowAdvanced = new QMenu(this);
    NShowAdvanced = PopupMenuShowAdvanced->addAction(QStringLiteral("Дополнительные настройки"));
    NShowAdvanced->setCheckable(true);
    ActionShowLog = new QAction(this);
    ActionShowLog->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    ActionShowLog->setShortcutContext(Qt::WindowShortcut);
    addAction(ActionShowLog);

    TimerRefreshPorts = new QTimer(this);
    TimerRefreshPorts->setInterval(RefreshPortsMs);
    TimerSearchTimeOut = new QTimer(this);
    TimerSearchTimeOut->setInterval(SearchWaitMs);
    BalloonHintInd = new TBalloonHint(this);
    BalloonHintInd->HideAfter = 2000;

    auto Guarded = [](auto Body) { return [Body] { TKvApplication::RunGuarded(Body); }; };
    connect(TimerRefreshPorts, &QTimer::timeout, this, Guarded([this] { TimerRefreshPortsTimer(); }));
    connect(TimerSearchTimeOut, &QTimer::timeout, this, Guarded([this] { TimerSearchTimeOutTimer(); }));
    connect(CheckBoxFilterOnlyUSB, &QCheckBox::clicked, this,
            Guarded([this] { CheckBoxFilterOnlyUSBClick(); }));
    connect(ButtonSettings, &QPushButton::clicked, this, Guarded([this] { ButtonSettingsClick(); }));
    connect(ButtonSearch, &QPushButton::clicked, this, Guarded([this] { ButtonSearchClick(); }));
    connect(ButtonOK, &QPushButton::clicked, this, Guarded([this] { ButtonOKClick(); }));
    connect(NShowAdvanced, &QAction::triggered, this, Guarded([this] { NShowAdvancedClick(); }));
    connect(ActionShowLog, &QAction::triggered, this, Guarded([this] { ActionShowLogExecute(); }));
    connect(PanelTop, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &P) { PopupMenuShowAdvanced->popup(PanelTop->mapToGlobal(P)); });

    TimerRefreshPorts->start();
}

TFormConnectionSettingsMorva::~TFormConnectionSettingsMorva() = default;

QString TFormConnectionSettingsMorva::SelectedPort() const {
    const QList<QListWidgetItem *> Selected = ListBoxComPorts->selectedItems();
    return Selected.isEmpty() ? QString() : Selected.first()->text();
}

void TFormConnectionSettingsMorva::SelectPort(const QString &Name) {
    const QList<QListWidgetItem *> Found =
        Name.isEmpty() ? QList<QListWidgetItem *>() : ListBoxComPorts->findItems(Name, Qt::MatchExactly);
    if (Found.isEmpty()) {
        ListBoxComPorts->clearSelection();
        ListBoxComPorts->setCurrentItem(nullptr);
        return;
    }
    ListBoxComPorts->setCurrentItem(Found.first());
    Found.first()->setSelected(true);
}

void TFormConnectionSettingsMorva::TimerRefreshPortsTimer() {
    const QString Noted = SelectedPort();
    const QStringList Ports = GetComPortList(CheckBoxFilterOnlyUSB->isChecked());
    ListBoxComPorts->clear();
    ListBoxComPorts->addItems(Ports);
    SelectPort(Noted);
}

void TFormConnectionSettingsMorva::CheckBoxFilterOnlyUSBClick() {
    TimerRefreshPorts->stop();
    TimerRefreshPorts->start();
    TimerRefreshPortsTimer();
}

void TFormConnectionSettingsMorva::ButtonSettingsClick() {
    PanelComPortSettings->setVisible(ButtonSettings->isChecked());
}

void TFormConnectionSettingsMorva::NShowAdvancedClick() {
    EditDeviceIdentStr->setReadOnly(!NShowAdvanced->isChecked());
}

void TFormConnectionSettingsMorva::ButtonSearchClick() {
    const TComPort *Current = ComPort();
    if (!Current) return;
    TimerSearchTimeOut->stop();
    TimerSearchTimeOut->start();
    ButtonSearch->setEnabled(false);
    StartSearch(
        {Current->CustomBaudRate(), Current->DataBits(), Current->ParityBits(), Current->StopBits()},
        CheckBoxFilterOnlyUSB->isChecked(),
        [this](const QString &Ident, const QString &Port, int Baud) { SearchFinished(Ident, Port, Baud); },
        this, [](std::exception_ptr E) { TKvApplication::ShowError(TKvApplication::ExceptionMessage(E)); });
}

void TFormConnectionSettingsMorva::SearchFinished(const QString &FoundIdentStr, const QString &FoundComPort,
                                                  int) {
    TimerSearchTimeOut->stop();
    ButtonSearch->setEnabled(true);
    // Letter case counts here; an empty field matches nothing.
    const QString Wanted = EditDeviceIdentStr->text();
    if (!Wanted.isEmpty() && FoundIdentStr.contains(Wanted, Qt::CaseSensitive)) SelectPort(FoundComPort);
}

void TFormConnectionSettingsMorva::TimerSearchTimeOutTimer() {
    TimerSearchTimeOut->stop();
    ButtonSearch->setEnabled(true);
    BalloonHintInd->SetTitle(DeviceNotFoundText);
    BalloonHintInd->ShowHint(
        ButtonSearch->mapToGlobal(QPoint(ButtonSearch->width() / 2, ButtonSearch->height())));
}

void TFormConnectionSettingsMorva::ButtonOKClick() {
    if (TComPort *Port = ComPort()) Port->SetPort(SelectedPort());
    // Asked for again: a new name reopens an open port, and the link's close and open
    // sequences run inside that call.
    if (TComPort *Port = ComPort()) {
        Port->BeginUpdate();
        try {
            for (TComComboBox *C : {ComCombo1, ComCombo2, ComCombo3, ComCombo4})
                C->ApplySettings();
        } catch (...) {
            Port->EndUpdate();
            throw;
        }
        Port->EndUpdate();
    }
    DialogDeviceIdentStr = EditDeviceIdentStr->text();
    accept();
}

void TFormConnectionSettingsMorva::ActionShowLogExecute() {
    const QString Text = SearchLogLines().join(QLatin1Char('\n'));
    if (ShowLogText)
        ShowLogText(Text);
    else
        QMessageBox::information(this, windowTitle(), Text);
}

void TFormConnectionSettingsMorva::DoEnglish() {
    Label1->setText(QStringLiteral("Available COM ports:"));
    ButtonSettings->setText(QStringLiteral("Port Settings"));
    ButtonSearch->setText(QStringLiteral("Search"));
    CheckBoxFilterOnlyUSB->setText(QStringLiteral("USB COM ports only"));
    DeviceNotFoundText = QStringLiteral("Device Not Found");
}

void ShowConnectionSettings(TComPortSource ComPort, QString &DeviceIdentStr, bool OnlyUSB) {
    TFormConnectionSettingsMorva Form(QApplication::activeWindow());
    Form.FComPort = ComPort;
    Form.CheckBoxFilterOnlyUSB->setChecked(OnlyUSB);
    Form.TimerRefreshPortsTimer();
    if (const TComPort *Port = Form.ComPort()) Form.SelectPort(Port->Port());
    for (TComComboBox *C : {Form.ComCombo1, Form.ComCombo2, Form.ComCombo3, Form.ComCombo4})
        C->SetComPort(ComPort);
    DialogDeviceIdentStr = DeviceIdentStr;
    Form.EditDeviceIdentStr->setText(DeviceIdentStr);
    if (UseEnglish) Form.DoEnglish();
    if (OnConnectionSettingsShown) {
        auto Hook = OnConnectionSettingsShown;
        QTimer::singleShot(0, &Form, [Hook, &Form] { Hook(&Form); });
    }
    Form.exec();
    DeviceIdentStr = DialogDeviceIdentStr;
}
