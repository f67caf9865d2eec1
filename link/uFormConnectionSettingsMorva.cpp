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

TComComboBox::TComComboBox(TComProperty property, QWidget *parent)
    : QComboBox(parent), ComProperty(property) {
    switch (ComProperty) {
    case cpBaudRate:
        for (int b : BaudRates)
            addItem(QString::number(b));
        setEditable(true);
        setInsertPolicy(QComboBox::NoInsert);
        setMaxVisibleItems(16);
        connect(lineEdit(), &QLineEdit::editingFinished, this, [this] {
            // Leaving the field or Enter: a typed rate counts as chosen.
            const TComPort *port = ComPort();
            if (port && lineEdit()->text() != QString::number(port->CustomBaudRate())) Chosen();
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
    const bool ok = TKvApplication::RunGuarded([this] { ApplySettings(); });
    if (!ok) UpdateSettings(); // show what the port really has
}

void TComComboBox::SetComPort(TComPortSource source) {
    FComPort = std::move(source);
    UpdateSettings();
}

void TComComboBox::UpdateSettings() {
    const TComPort *port = ComPort();
    if (!port) return;
    switch (ComProperty) {
    case cpBaudRate: {
        const QString text = QString::number(port->CustomBaudRate());
        const int i = findText(text);
        if (i >= 0) setCurrentIndex(i);
        setEditText(text); // a rate that is not listed shows as a number
        break;
    }
    case cpParity:
        setCurrentIndex(int(port->ParityBits()));
        break;
    case cpDataBits:
        setCurrentIndex(int(port->DataBits()));
        break;
    case cpStopBits:
        setCurrentIndex(int(port->StopBits()));
        break;
    case cpNone:
        break;
    }
}

void TComComboBox::ApplySettings() {
    TComPort *port = ComPort();
    if (!port) return;
    switch (ComProperty) {
    case cpBaudRate: {
        bool ok = false;
        const QString text = currentText().trimmed();
        const int rate = text.toInt(&ok);
        if (!ok)
            throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text).toStdString());
        port->SetCustomBaudRate(rate);
        break;
    }
    case cpParity:
        port->SetParityBits(TParityBits(qBound(0, currentIndex(), int(prSpace))));
        break;
    case cpDataBits:
        port->SetDataBits(TDataBits(qBound(0, currentIndex(), int(dbEight))));
        break;
    case cpStopBits:
        port->SetStopBits(TStopBits(qBound(0, currentIndex(), int(sbTwoStopBits))));
        break;
    case cpNone:
        break;
    }
}

// ---- Window ---------------------------------------------------------------------------

TFormConnectionSettingsMorva::TFormConnectionSettingsMorva(QWidget *parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Настройки соединения"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    Panel1 = new QFrame(this);
    Panel1->setFixedWidth(225);
    PanelTop = new QFrame(Panel1);
    PanelTop->setContextMenuPolicy(Qt::CustomContextMenu);
    auto *panel1Layout = new QVBoxLayout(Panel1);
    panel1Layout->setContentsMargins(0, 0, 0, 0);
    panel1Layout->addWidget(PanelTop);

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

    auto *grid = new QGridLayout(PanelTop);
    grid->addWidget(Label1, 0, 0, 1, 2);
    grid->addWidget(ListBoxComPorts, 1, 0, 4, 1);
    grid->addWidget(CheckBoxFilterOnlyUSB, 5, 0, 1, 2);
    grid->addWidget(ButtonSettings, 1, 1);
    grid->addWidget(ButtonSearch, 2, 1);
    grid->addWidget(EditDeviceIdentStr, 3, 1);
    grid->addWidget(ButtonOK, 4, 1, Qt::AlignBottom);
    grid->setColumnStretch(0, 1);
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
    auto *settingsGrid = new QGridLayout(PanelComPortSettings);
    settingsGrid->addWidget(Label2, 0, 0);
    settingsGrid->addWidget(ComCombo1, 0, 1);
    settingsGrid->addWidget(Label5, 1, 0);
    settingsGrid->addWidget(ComCombo2, 1, 1);
    settingsGrid->addWidget(Label3, 2, 0);
    settingsGrid->addWidget(ComCombo3, 2, 1);
    settingsGrid->addWidget(Label4, 3, 0);
    settingsGrid->addWidget(ComCombo4, 3, 1);
    settingsGrid->setRowStretch(4, 1);
    PanelComPortSettings->setVisible(false);

    auto *main = new QHBoxLayout(this);
    main->addWidget(Panel1);
    main->addWidget(PanelComPortSettings);
    main->setSizeConstraint(QLayout::SetFixedSize); // the window follows its contents

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

    auto guarded = [](auto body) { return [body] { TKvApplication::RunGuarded(body); }; };
    connect(TimerRefreshPorts, &QTimer::timeout, this, guarded([this] { TimerRefreshPortsTimer(); }));
    connect(TimerSearchTimeOut, &QTimer::timeout, this, guarded([this] { TimerSearchTimeOutTimer(); }));
    connect(CheckBoxFilterOnlyUSB, &QCheckBox::clicked, this,
            guarded([this] { CheckBoxFilterOnlyUSBClick(); }));
    connect(ButtonSettings, &QPushButton::clicked, this, guarded([this] { ButtonSettingsClick(); }));
    connect(ButtonSearch, &QPushButton::clicked, this, guarded([this] { ButtonSearchClick(); }));
    connect(ButtonOK, &QPushButton::clicked, this, guarded([this] { ButtonOKClick(); }));
    connect(NShowAdvanced, &QAction::triggered, this, guarded([this] { NShowAdvancedClick(); }));
    connect(ActionShowLog, &QAction::triggered, this, guarded([this] { ActionShowLogExecute(); }));
    connect(PanelTop, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &p) { PopupMenuShowAdvanced->popup(PanelTop->mapToGlobal(p)); });

    TimerRefreshPorts->start();
}

TFormConnectionSettingsMorva::~TFormConnectionSettingsMorva() = default;

QString TFormConnectionSettingsMorva::SelectedPort() const {
    const QList<QListWidgetItem *> selected = ListBoxComPorts->selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}

void TFormConnectionSettingsMorva::SelectPort(const QString &name) {
    const QList<QListWidgetItem *> found =
        name.isEmpty() ? QList<QListWidgetItem *>() : ListBoxComPorts->findItems(name, Qt::MatchExactly);
    if (found.isEmpty()) {
        ListBoxComPorts->clearSelection();
        ListBoxComPorts->setCurrentItem(nullptr);
        return;
    }
    ListBoxComPorts->setCurrentItem(found.first());
    found.first()->setSelected(true);
}

void TFormConnectionSettingsMorva::TimerRefreshPortsTimer() {
    const QString noted = SelectedPort();
    const QStringList ports = GetComPortList(CheckBoxFilterOnlyUSB->isChecked());
    ListBoxComPorts->clear();
    ListBoxComPorts->addItems(ports);
    SelectPort(noted);
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
    const TComPort *current = ComPort();
    if (!current) return;
    TimerSearchTimeOut->stop();
    TimerSearchTimeOut->start();
    ButtonSearch->setEnabled(false);
    StartSearch(
        {current->CustomBaudRate(), current->DataBits(), current->ParityBits(), current->StopBits()},
        CheckBoxFilterOnlyUSB->isChecked(),
        [this](const QString &ident, const QString &port, int baud) { SearchFinished(ident, port, baud); },
        this, [](std::exception_ptr e) { TKvApplication::ShowError(TKvApplication::ExceptionMessage(e)); });
}

void TFormConnectionSettingsMorva::SearchFinished(const QString &foundIdentStr, const QString &foundComPort,
                                                  int) {
    TimerSearchTimeOut->stop();
    ButtonSearch->setEnabled(true);
    // Letter case counts here; an empty field matches nothing.
    const QString wanted = EditDeviceIdentStr->text();
    if (!wanted.isEmpty() && foundIdentStr.contains(wanted, Qt::CaseSensitive)) SelectPort(foundComPort);
}

void TFormConnectionSettingsMorva::TimerSearchTimeOutTimer() {
    TimerSearchTimeOut->stop();
    ButtonSearch->setEnabled(true);
    BalloonHintInd->SetTitle(DeviceNotFoundText);
    // What the search saw on each port, under the title and in the search log.
    const QStringList seen =
        ExplainSearch(SearchEngine ? SearchEngine->Outcomes : QVector<TSearchPortOutcome>(), UseEnglish);
    for (const QString &line : seen)
        AddSearchLog(line);
    BalloonHintInd->SetText(seen.join(QLatin1Char('\n')));
    BalloonHintInd->HideAfter = 2000 + 2500 * int(seen.size());
    BalloonHintInd->ShowHint(
        ButtonSearch->mapToGlobal(QPoint(ButtonSearch->width() / 2, ButtonSearch->height())));
}

void TFormConnectionSettingsMorva::ButtonOKClick() {
    if (TComPort *port = ComPort()) port->SetPort(SelectedPort());
    // Asked for again: a new name reopens an open port, and the link's close and open
    // sequences run inside that call.
    if (TComPort *port = ComPort()) {
        port->BeginUpdate();
        try {
            for (TComComboBox *c : {ComCombo1, ComCombo2, ComCombo3, ComCombo4})
                c->ApplySettings();
        } catch (...) {
            port->EndUpdate();
            throw;
        }
        port->EndUpdate();
    }
    DialogDeviceIdentStr = EditDeviceIdentStr->text();
    accept();
}

void TFormConnectionSettingsMorva::ActionShowLogExecute() {
    const QString text = SearchLogLines().join(QLatin1Char('\n'));
    if (ShowLogText)
        ShowLogText(text);
    else
        QMessageBox::information(this, windowTitle(), text);
}

void TFormConnectionSettingsMorva::DoEnglish() {
    Label1->setText(QStringLiteral("Available COM ports:"));
    ButtonSettings->setText(QStringLiteral("Port Settings"));
    ButtonSearch->setText(QStringLiteral("Search"));
    CheckBoxFilterOnlyUSB->setText(QStringLiteral("USB COM ports only"));
    DeviceNotFoundText = QStringLiteral("Device Not Found");
}

void ShowConnectionSettings(TComPortSource comPort, QString &deviceIdentStr, bool onlyUsb) {
    TFormConnectionSettingsMorva form(QApplication::activeWindow());
    form.FComPort = comPort;
    form.CheckBoxFilterOnlyUSB->setChecked(onlyUsb);
    form.TimerRefreshPortsTimer();
    if (const TComPort *port = form.ComPort()) form.SelectPort(port->Port());
    for (TComComboBox *c : {form.ComCombo1, form.ComCombo2, form.ComCombo3, form.ComCombo4})
        c->SetComPort(comPort);
    DialogDeviceIdentStr = deviceIdentStr;
    form.EditDeviceIdentStr->setText(deviceIdentStr);
    if (UseEnglish) form.DoEnglish();
    if (OnConnectionSettingsShown) {
        auto hook = OnConnectionSettingsShown;
        QTimer::singleShot(0, &form, [hook, &form] { hook(&form); });
    }
    form.exec();
    deviceIdentStr = DialogDeviceIdentStr;
}
