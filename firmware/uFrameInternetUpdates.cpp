#include "uFrameInternetUpdates.h"

#include "uKvApplication.h"
#include "uUpdateServerClient.h"
#include "uUpdateServerSetting.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

template <class W> W *Named(W *widget, const char *name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// Handlers run guarded: an error they raise goes to the application's error display.
template <class F> auto Guarded(F body) {
    return [body](auto &&...) { TKvApplication::RunGuarded(body); };
}

// The two caption sets: Russian (shown at start) and English (DoEnglish).
struct TCaption {
    const char *Name;
    const char *Russian;
    const char *English;
};
const TCaption Captions[] = {
    {"ButtonCheckUpdatesGetDevices", "Получить список устройств", "Get Device list from Server"},
    {"LabelSelectDevice", "Автоматически выбрать:", "Select Device:"},
    {"ButtonCheckUpdates", "Получить список прошивок", "Check Updates for Device"},
    {"LabelSelectFirmware", "Выберите прошивку:", "Select Firmware:"},
    {"ButtonDownloadFirmware", "Скачать", "Download"},
    {"ButtonSaveToFile", "Сохранить на диск", "Save to disk"},
    {"LabelDownload", "Скачано:", "Download:"},
    {"ButtonLaunchProgram", "Запустить программу", "Launch the Program"},
    {"CheckBoxDeleteOld", "Обновить (Удалить старую версию)", "Update (Delete old version)"},
    {"ButtonCancelRequest", "Отменить", "Cancel"},
    {"LabelProgramKept",
     "Сохранено в папку загрузок: в папку этой программы записывать нельзя, и установленная программа "
     "остаётся как есть. Новую версию Tamrel устанавливают её пакетом: sudo apt install "
     "./tamrel_<версия>_amd64.deb",
     "Saved in the Downloads folder: this program's folder takes no files, and the installed program stays "
     "as it is. A new version of Tamrel is installed from its package: sudo apt install "
     "./tamrel_<version>_amd64.deb"},
};
const TCaption DevicesColumn = {"", "Устройства", "Devices"};
const TCaption ShowAllDevicesCaption = {"", "Показать все устройства", "Show all devices"};
const TCaption GroupCaptions[3] = {
    {"", "Прошивки", "Firmwares"},
    {"", "Компьютерные программы (exe)", "Computer Programs (exe)"},
    {"", "Другое", "Other"},
};
const char FilesColumn[] = "Прошивка";
const TCaption FileNameColumn = {"", "Имя файла", "File name"};

QString Pick(const TCaption &c, bool english) {
    return QString::fromUtf8(english ? c.English : c.Russian);
}

} // namespace

TFrameInternetUpdates::TFrameInternetUpdates(QWidget *parent) : QFrame(parent) {
    setObjectName(QStringLiteral("FrameInternetUpdates"));
    IdHTTP1 = new TUpdateServerClient(this);
    IdHTTP1->setObjectName(QStringLiteral("IdHTTP1"));
    TimerRequest = Named(new QTimer(this), "TimerRequest");
    TimerRequest->setInterval(1000);
    TimerClose = Named(new QTimer(this), "TimerClose");
    TimerClose->setInterval(200);
    ActionDebug = Named(new QAction(this), "ActionDebug");
    ActionDebug->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    ActionDebug->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(ActionDebug);
    BuildLayout();
    ApplyCaptions(false);

    connect(ButtonCheckUpdatesGetDevices, &QPushButton::clicked, this,
            Guarded([this] { ButtonCheckUpdatesGetDevicesClick(); }));
    connect(ListViewDevices, &QTreeWidget::itemSelectionChanged, this,
            Guarded([this] { ListViewDevicesSelectItem(); }));
    connect(ButtonCheckUpdates, &QPushButton::clicked, this, Guarded([this] { ButtonCheckUpdatesClick(); }));
    connect(ListViewFiles, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem *item) {
        TKvApplication::RunGuarded([&] { ListViewFilesDblClick(item); });
    });
    connect(ButtonDownloadFirmware, &QPushButton::clicked, this,
            Guarded([this] { ButtonDownloadFirmwareClick(); }));
    connect(ButtonCancelRequest, &QPushButton::clicked, this,
            Guarded([this] { ButtonCancelRequestClick(); }));
    connect(TimerRequest, &QTimer::timeout, this, [this] { ShowRequestProgress(); });
    connect(ButtonSaveToFile, &QPushButton::clicked, this, Guarded([this] { ButtonSaveToFileClick(); }));
    connect(ButtonLaunchProgram, &QPushButton::clicked, this,
            Guarded([this] { ButtonLaunchProgramClick(); }));
    connect(TimerClose, &QTimer::timeout, this, Guarded([this] { TimerCloseTimer(); }));
    connect(CheckBoxShowAllDevices, &QAction::triggered, this,
            Guarded([this] { CheckBoxShowAllDevicesClick(); }));
    connect(ActionDebug, &QAction::triggered, this, Guarded([this] { ActionDebugExecute(); }));
    connect(LabelSelectFirmware, &QLabel::customContextMenuRequested, this,
            [this](const QPoint &at) { PopupMenu1->popup(LabelSelectFirmware->mapToGlobal(at)); });
    LabelSelectDevice->installEventFilter(this);
    UpdateRequestControls();
}

TFrameInternetUpdates::~TFrameInternetUpdates() = default;

void TFrameInternetUpdates::BuildLayout() {
    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);

    Splitter1 = Named(new QSplitter(Qt::Vertical, this), "Splitter1");
    Splitter1->setChildrenCollapsible(false);
    root->addWidget(Splitter1, 1);

    PanelSelectUpdate = Named(new QFrame(Splitter1), "PanelSelectUpdate");
    auto *select = new QVBoxLayout(PanelSelectUpdate);
    ButtonCheckUpdatesGetDevices = Named(new QPushButton(PanelSelectUpdate), "ButtonCheckUpdatesGetDevices");
    select->addWidget(ButtonCheckUpdatesGetDevices);
    auto *preset = new QHBoxLayout;
    LabelSelectDevice = Named(new QLabel(PanelSelectUpdate), "LabelSelectDevice");
    EditSelectDevice = Named(new QLineEdit(PanelSelectUpdate), "EditSelectDevice");
    preset->addWidget(LabelSelectDevice);
    preset->addWidget(EditSelectDevice, 1);
    select->addLayout(preset);
    ListViewDevices = Named(new QTreeWidget(PanelSelectUpdate), "ListViewDevices");
    ListViewDevices->setColumnCount(1);
    ListViewDevices->setRootIsDecorated(false);
    ListViewDevices->setSelectionMode(QAbstractItemView::SingleSelection);
    ListViewDevices->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListViewDevices->setEditTriggers(QAbstractItemView::NoEditTriggers);
    select->addWidget(ListViewDevices, 1);
    ButtonCheckUpdates = Named(new QPushButton(PanelSelectUpdate), "ButtonCheckUpdates");
    select->addWidget(ButtonCheckUpdates);

    auto *panelFiles = Named(new QFrame(Splitter1), "PanelFiles");
    auto *files = new QVBoxLayout(panelFiles);
    LabelSelectFirmware = Named(new QLabel(panelFiles), "LabelSelectFirmware");
    LabelSelectFirmware->setContextMenuPolicy(Qt::CustomContextMenu);
    PopupMenu1 = Named(new QMenu(this), "PopupMenu1");
    CheckBoxShowAllDevices = Named(PopupMenu1->addAction(QString()), "CheckBoxShowAllDevices");
    CheckBoxShowAllDevices->setCheckable(true);
    files->addWidget(LabelSelectFirmware);
    ListViewFiles = Named(new QTreeWidget(panelFiles), "ListViewFiles");
    ListViewFiles->setColumnCount(2);
    ListViewFiles->setColumnHidden(1, true); // the file name: a hidden sub-item
    ListViewFiles->setHeaderHidden(true);
    ListViewFiles->setRootIsDecorated(false);
    ListViewFiles->setItemsExpandable(false);
    ListViewFiles->setIndentation(12);
    ListViewFiles->setSelectionMode(QAbstractItemView::SingleSelection);
    ListViewFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListViewFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListViewFiles->setExpandsOnDoubleClick(false);
    for (int g = 0; g < 3; ++g) {
        auto *group = new QTreeWidgetItem(ListViewFiles);
        group->setFlags(Qt::ItemIsEnabled); // a group header is no file row
        QFont bold = group->font(0);
        bold.setBold(true);
        group->setFont(0, bold);
        group->setFirstColumnSpanned(true);
        group->setExpanded(true);
        group->setHidden(true); // shown while it holds rows
    }
    files->addWidget(ListViewFiles, 1);
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 2);

    PanelRequest = Named(new QFrame(this), "PanelRequest");
    auto *request = new QHBoxLayout(PanelRequest);
    ProgressRequest = Named(new QProgressBar(PanelRequest), "ProgressRequest");
    ProgressRequest->setTextVisible(false);
    ProgressRequest->setMaximumWidth(120);
    LabelRequest = Named(new QLabel(PanelRequest), "LabelRequest");
    LabelRequest->setTextInteractionFlags(Qt::NoTextInteraction);
    LabelRequest->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred); // a long name is cut
    ButtonCancelRequest = Named(new QPushButton(PanelRequest), "ButtonCancelRequest");
    request->addWidget(ProgressRequest);
    request->addWidget(LabelRequest, 1);
    request->addWidget(ButtonCancelRequest);
    PanelRequest->hide();
    root->addWidget(PanelRequest);

    PanelGetUpdate = Named(new QFrame(this), "PanelGetUpdate");
    auto *get = new QVBoxLayout(PanelGetUpdate);
    auto *download = new QHBoxLayout;
    ButtonDownloadFirmware = Named(new QPushButton(PanelGetUpdate), "ButtonDownloadFirmware");
    LabelDownload = Named(new QLabel(PanelGetUpdate), "LabelDownload");
    LabelOnWork = Named(new QLabel(QStringLiteral("-"), PanelGetUpdate), "LabelOnWork");
    download->addWidget(ButtonDownloadFirmware);
    download->addWidget(LabelDownload);
    download->addWidget(LabelOnWork, 1);
    get->addLayout(download);
    LabelProgramFileName = Named(new QLabel(PanelGetUpdate), "LabelProgramFileName");
    QFont bold = LabelProgramFileName->font();
    bold.setBold(true);
    LabelProgramFileName->setFont(bold);
    LabelProgramFileName->setWordWrap(true);
    SetProgramFileNameLabel(QStringLiteral("-"));
    get->addWidget(LabelProgramFileName);
    ButtonSaveToFile = Named(new QPushButton(PanelGetUpdate), "ButtonSaveToFile");
    get->addWidget(ButtonSaveToFile, 0, Qt::AlignLeft);
    // Last in the stack, under everything else of the download panel.
    PanelAskLaunchProgram = Named(new QFrame(PanelGetUpdate), "PanelAskLaunchProgram");
    auto *ask = new QHBoxLayout(PanelAskLaunchProgram);
    ask->setContentsMargins(0, 0, 0, 0);
    CheckBoxDeleteOld = Named(new QCheckBox(PanelAskLaunchProgram), "CheckBoxDeleteOld");
    ButtonLaunchProgram = Named(new QPushButton(PanelAskLaunchProgram), "ButtonLaunchProgram");
    LabelProgramKept = Named(new QLabel(PanelAskLaunchProgram), "LabelProgramKept");
    LabelProgramKept->setWordWrap(true);
    LabelProgramKept->setTextInteractionFlags(Qt::TextSelectableByMouse);
    LabelProgramKept->hide();
    ask->addWidget(CheckBoxDeleteOld);
    ask->addWidget(LabelProgramKept, 1);
    ask->addWidget(ButtonLaunchProgram);
    ask->addStretch(1);
    PanelAskLaunchProgram->hide();
    get->addWidget(PanelAskLaunchProgram);
    root->addWidget(PanelGetUpdate);
}

void TFrameInternetUpdates::ApplyCaptions(bool english) {
    FEnglish = english;
    for (const TCaption &c : Captions) {
        QWidget *w = findChild<QWidget *>(QLatin1String(c.Name));
        if (auto *label = qobject_cast<QLabel *>(w)) label->setText(Pick(c, english));
        if (auto *button = qobject_cast<QAbstractButton *>(w)) button->setText(Pick(c, english));
    }
    ListViewDevices->setHeaderLabels({Pick(DevicesColumn, english)});
    ListViewFiles->setHeaderLabels({QString::fromUtf8(FilesColumn), Pick(FileNameColumn, english)});
    CheckBoxShowAllDevices->setText(Pick(ShowAllDevicesCaption, english));
    for (int g = 0; g < 3; ++g)
        FileGroupItem(g)->setText(0, Pick(GroupCaptions[g], english));
    if (IsRequestRunning()) ShowRequestProgress();
}

void TFrameInternetUpdates::DoEnglish() {
    ApplyCaptions(true);
}

void TFrameInternetUpdates::DoRus() {
    ApplyCaptions(false);
}

QString TFrameInternetUpdates::EffectiveBaseAddress() const {
    return BaseAddress.isEmpty() ? UpdateServerAddress() : BaseAddress;
}

QString TFrameInternetUpdates::EffectiveProgramFolder() const {
    return ProgramFolder.isEmpty() ? QCoreApplication::applicationDirPath() : ProgramFolder;
}

QTreeWidgetItem *TFrameInternetUpdates::FileGroupItem(int group) const {
    return ListViewFiles->topLevelItem(group);
}

QTreeWidgetItem *TFrameInternetUpdates::SelectedFileRow() const {
    const QList<QTreeWidgetItem *> selected = ListViewFiles->selectedItems();
    if (selected.isEmpty() || !selected.first()->parent()) return nullptr;
    return selected.first();
}

int TFrameInternetUpdates::FileRowCount() const {
    int n = 0;
    for (int g = 0; g < 3; ++g)
        n += FileGroupItem(g)->childCount();
    return n;
}

bool TFrameInternetUpdates::IsRequestRunning() const {
    return IdHTTP1->IsBusy();
}

void TFrameInternetUpdates::UpdateRequestControls() {
    // While a request runs, nothing that would start another one can be used.
    const bool idle = !IsRequestRunning();
    ButtonCheckUpdatesGetDevices->setEnabled(idle);
    ListViewDevices->setEnabled(idle);
    ButtonCheckUpdates->setEnabled(idle && ListViewDevices->topLevelItemCount() > 0);
    ButtonDownloadFirmware->setEnabled(idle && FileRowCount() > 0);
    ButtonSaveToFile->setEnabled(idle && !FirmwareStream.isEmpty());
    PanelRequest->setVisible(!idle);
    if (idle) TimerRequest->stop();
}

void TFrameInternetUpdates::ShowRequestProgress() {
    // "<what>: <bytes> [of <length>], <seconds> of <deadline>": a trickling server shows its
    // few bytes and the time running out, and Cancel is beside it.
    const qint64 seconds = FRequestClock.isValid() ? FRequestClock.elapsed() / 1000 : 0;
    const qint64 deadline = FRequestDeadlineMs / 1000;
    const QString bytes =
        FRequestTotal >= 0 ? (FEnglish ? QStringLiteral("%1 B of %2 B") : QStringLiteral("%1 Б из %2 Б"))
                                 .arg(FRequestBytes)
                                 .arg(FRequestTotal)
                           : (FEnglish ? QStringLiteral("%1 B") : QStringLiteral("%1 Б")).arg(FRequestBytes);
    const QString time = (FEnglish ? QStringLiteral("%1 s of %2 s") : QStringLiteral("%1 с из %2 с"))
                             .arg(seconds)
                             .arg(deadline);
    LabelRequest->setText(QStringLiteral("%1: %2, %3").arg(FRequestWhat, bytes, time));
    LabelRequest->setToolTip(LabelRequest->text());
    if (FRequestTotal > 0) {
        ProgressRequest->setRange(0, 1000);
        ProgressRequest->setValue(int(qMin<qint64>(FRequestBytes, FRequestTotal) * 1000 / FRequestTotal));
    } else {
        ProgressRequest->setRange(0, 0); // busy: the length is not known
    }
}

void TFrameInternetUpdates::SetProgramFileNameLabel(const QString &text) {
    LabelProgramFileName->setText(text);
    LabelProgramFileName->setToolTip(text);
}

bool TFrameInternetUpdates::eventFilter(QObject *watched, QEvent *event) {
    if (watched == LabelSelectDevice && event->type() == QEvent::MouseButtonDblClick) {
        TKvApplication::RunGuarded([this] { LabelSelectDeviceDblClick(); });
        return true;
    }
    return QFrame::eventFilter(watched, event);
}

void TFrameInternetUpdates::LabelSelectDeviceDblClick() {
    ButtonCheckUpdatesGetDevicesClick();
}

void TFrameInternetUpdates::ListViewDevicesSelectItem() {
    // Selecting or deselecting a row: either way the file list follows.
    ButtonCheckUpdatesClick();
}

void TFrameInternetUpdates::ListViewFilesDblClick(QTreeWidgetItem *item) {
    if (item && item->parent()) ButtonDownloadFirmwareClick();
}

void TFrameInternetUpdates::CheckBoxShowAllDevicesClick() {
    PanelSelectUpdate->setVisible(CheckBoxShowAllDevices->isChecked());
}

void TFrameInternetUpdates::ActionDebugExecute() {
    // Column headers on: a second column shows each row's file name; off: it goes again.
    const bool show = ListViewFiles->isHeaderHidden();
    ListViewFiles->setHeaderHidden(!show);
    ListViewFiles->setColumnHidden(1, !show);
}

void TFrameInternetUpdates::TimerCloseTimer() {
    TimerClose->stop();
    if (CloseMainWindow) {
        CloseMainWindow();
        return;
    }
    // Closing the main window ends the program (it disconnects the tester on its way out).
    bool closed = false;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->inherits("QMainWindow") && w->isVisible()) closed = w->close() || closed;
    if (closed) QCoreApplication::quit();
}
