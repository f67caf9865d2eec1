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
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

template <class W> W *Named(W *Widget, const char *Name) {
    Widget->setObjectName(QLatin1String(Name));
    return Widget;
}

// Handlers run guarded: an error they raise goes to the application's error display.
template <class F> auto Guarded(F Body) {
    return [Body](auto &&...) { TKvApplication::RunGuarded(Body); };
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

QString Pick(const TCaption &C, bool English) {
    return QString::fromUtf8(English ? C.English : C.Russian);
}

} // namespace

TFrameInternetUpdates::TFrameInternetUpdates(QWidget *Parent) : QFrame(Parent) {
    setObjectName(QStringLiteral("FrameInternetUpdates"));
    IdHTTP1 = new TUpdateServerClient(this);
    IdHTTP1->setObjectName(QStringLiteral("IdHTTP1"));
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
    connect(ListViewFiles, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem *Item) {
        TKvApplication::RunGuarded([&] { ListViewFilesDblClick(Item); });
    });
    connect(ButtonDownloadFirmware, &QPushButton::clicked, this,
            Guarded([this] { ButtonDownloadFirmwareClick(); }));
    connect(ButtonSaveToFile, &QPushButton::clicked, this, Guarded([this] { ButtonSaveToFileClick(); }));
    connect(ButtonLaunchProgram, &QPushButton::clicked, this,
            Guarded([this] { ButtonLaunchProgramClick(); }));
    connect(TimerClose, &QTimer::timeout, this, Guarded([this] { TimerCloseTimer(); }));
    connect(CheckBoxShowAllDevices, &QAction::triggered, this,
            Guarded([this] { CheckBoxShowAllDevicesClick(); }));
    connect(ActionDebug, &QAction::triggered, this, Guarded([this] { ActionDebugExecute(); }));
    connect(LabelSelectFirmware, &QLabel::customContextMenuRequested, this,
            [this](const QPoint &At) { PopupMenu1->popup(LabelSelectFirmware->mapToGlobal(At)); });
    LabelSelectDevice->installEventFilter(this);
    UpdateRequestControls();
}

TFrameInternetUpdates::~TFrameInternetUpdates() = default;

void TFrameInternetUpdates::BuildLayout() {
    auto *Root = new QVBoxLayout(this);
    Root->setContentsMargins(0, 0, 0, 0);

    Splitter1 = Named(new QSplitter(Qt::Vertical, this), "Splitter1");
    Splitter1->setChildrenCollapsible(false);
    Root->addWidget(Splitter1, 1);

    PanelSelectUpdate = Named(new QFrame(Splitter1), "PanelSelectUpdate");
    auto *Select = new QVBoxLayout(PanelSelectUpdate);
    ButtonCheckUpdatesGetDevices = Named(new QPushButton(PanelSelectUpdate), "ButtonCheckUpdatesGetDevices");
    Select->addWidget(ButtonCheckUpdatesGetDevices);
    auto *Preset = new QHBoxLayout;
    LabelSelectDevice = Named(new QLabel(PanelSelectUpdate), "LabelSelectDevice");
    EditSelectDevice = Named(new QLineEdit(PanelSelectUpdate), "EditSelectDevice");
    Preset->addWidget(LabelSelectDevice);
    Preset->addWidget(EditSelectDevice, 1);
    Select->addLayout(Preset);
    ListViewDevices = Named(new QTreeWidget(PanelSelectUpdate), "ListViewDevices");
    ListViewDevices->setColumnCount(1);
    ListViewDevices->setRootIsDecorated(false);
    ListViewDevices->setSelectionMode(QAbstractItemView::SingleSelection);
    ListViewDevices->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListViewDevices->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Select->addWidget(ListViewDevices, 1);
    ButtonCheckUpdates = Named(new QPushButton(PanelSelectUpdate), "ButtonCheckUpdates");
    Select->addWidget(ButtonCheckUpdates);

    auto *PanelFiles = Named(new QFrame(Splitter1), "PanelFiles");
    auto *Files = new QVBoxLayout(PanelFiles);
    LabelSelectFirmware = Named(new QLabel(PanelFiles), "LabelSelectFirmware");
    LabelSelectFirmware->setContextMenuPolicy(Qt::CustomContextMenu);
    PopupMenu1 = Named(new QMenu(this), "PopupMenu1");
    CheckBoxShowAllDevices = Named(PopupMenu1->addAction(QString()), "CheckBoxShowAllDevices");
    CheckBoxShowAllDevices->setCheckable(true);
    Files->addWidget(LabelSelectFirmware);
    ListViewFiles = Named(new QTreeWidget(PanelFiles), "ListViewFiles");
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
    for (int G = 0; G < 3; ++G) {
        auto *Group = new QTreeWidgetItem(ListViewFiles);
        Group->setFlags(Qt::ItemIsEnabled); // a group header is no file row
        QFont Bold = Group->font(0);
        Bold.setBold(true);
        Group->setFont(0, Bold);
        Group->setFirstColumnSpanned(true);
        Group->setExpanded(true);
        Group->setHidden(true); // shown while it holds rows
    }
    Files->addWidget(ListViewFiles, 1);
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 2);

    PanelGetUpdate = Named(new QFrame(this), "PanelGetUpdate");
    auto *Get = new QVBoxLayout(PanelGetUpdate);
    auto *Download = new QHBoxLayout;
    ButtonDownloadFirmware = Named(new QPushButton(PanelGetUpdate), "ButtonDownloadFirmware");
    LabelDownload = Named(new QLabel(PanelGetUpdate), "LabelDownload");
    LabelOnWork = Named(new QLabel(QStringLiteral("-"), PanelGetUpdate), "LabelOnWork");
    Download->addWidget(ButtonDownloadFirmware);
    Download->addWidget(LabelDownload);
    Download->addWidget(LabelOnWork, 1);
    Get->addLayout(Download);
    LabelProgramFileName = Named(new QLabel(PanelGetUpdate), "LabelProgramFileName");
    QFont Bold = LabelProgramFileName->font();
    Bold.setBold(true);
    LabelProgramFileName->setFont(Bold);
    LabelProgramFileName->setWordWrap(true);
    SetProgramFileNameLabel(QStringLiteral("-"));
    Get->addWidget(LabelProgramFileName);
    ButtonSaveToFile = Named(new QPushButton(PanelGetUpdate), "ButtonSaveToFile");
    Get->addWidget(ButtonSaveToFile, 0, Qt::AlignLeft);
    // Last in the stack, under everything else of the download panel.
    PanelAskLaunchProgram = Named(new QFrame(PanelGetUpdate), "PanelAskLaunchProgram");
    auto *Ask = new QHBoxLayout(PanelAskLaunchProgram);
    Ask->setContentsMargins(0, 0, 0, 0);
    CheckBoxDeleteOld = Named(new QCheckBox(PanelAskLaunchProgram), "CheckBoxDeleteOld");
    ButtonLaunchProgram = Named(new QPushButton(PanelAskLaunchProgram), "ButtonLaunchProgram");
    Ask->addWidget(CheckBoxDeleteOld);
    Ask->addWidget(ButtonLaunchProgram);
    Ask->addStretch(1);
    PanelAskLaunchProgram->hide();
    Get->addWidget(PanelAskLaunchProgram);
    Root->addWidget(PanelGetUpdate);
}

void TFrameInternetUpdates::ApplyCaptions(bool English) {
    FEnglish = English;
    for (const TCaption &C : Captions) {
        QWidget *W = findChild<QWidget *>(QLatin1String(C.Name));
        if (auto *Label = qobject_cast<QLabel *>(W)) Label->setText(Pick(C, English));
        if (auto *Button = qobject_cast<QAbstractButton *>(W)) Button->setText(Pick(C, English));
    }
    ListViewDevices->setHeaderLabels({Pick(DevicesColumn, English)});
    ListViewFiles->setHeaderLabels({QString::fromUtf8(FilesColumn), Pick(FileNameColumn, English)});
    CheckBoxShowAllDevices->setText(Pick(ShowAllDevicesCaption, English));
    for (int G = 0; G < 3; ++G)
        FileGroupItem(G)->setText(0, Pick(GroupCaptions[G], English));
}

void TFrameInternetUpdates::DoEnglish() {
    ApplyCaptions(true);
}

QString TFrameInternetUpdates::EffectiveBaseAddress() const {
    return BaseAddress.isEmpty() ? UpdateServerAddress() : BaseAddress;
}

QString TFrameInternetUpdates::EffectiveProgramFolder() const {
    return ProgramFolder.isEmpty() ? QCoreApplication::applicationDirPath() : ProgramFolder;
}

QTreeWidgetItem *TFrameInternetUpdates::FileGroupItem(int Group) const {
    return ListViewFiles->topLevelItem(Group);
}

QTreeWidgetItem *TFrameInternetUpdates::SelectedFileRow() const {
    const QList<QTreeWidgetItem *> Selected = ListViewFiles->selectedItems();
    if (Selected.isEmpty() || !Selected.first()->parent()) return nullptr;
    return Selected.first();
}

int TFrameInternetUpdates::FileRowCount() const {
    int N = 0;
    for (int G = 0; G < 3; ++G)
        N += FileGroupItem(G)->childCount();
    return N;
}

bool TFrameInternetUpdates::IsRequestRunning() const {
    return IdHTTP1->IsBusy();
}

void TFrameInternetUpdates::UpdateRequestControls() {
    // While a request runs, nothing that would start another one can be used.
    const bool Idle = !IsRequestRunning();
    ButtonCheckUpdatesGetDevices->setEnabled(Idle);
    ListViewDevices->setEnabled(Idle);
    ButtonCheckUpdates->setEnabled(Idle && ListViewDevices->topLevelItemCount() > 0);
    ButtonDownloadFirmware->setEnabled(Idle && FileRowCount() > 0);
    ButtonSaveToFile->setEnabled(Idle && !FirmwareStream.isEmpty());
}

void TFrameInternetUpdates::SetProgramFileNameLabel(const QString &Text) {
    LabelProgramFileName->setText(Text);
    LabelProgramFileName->setToolTip(Text);
}

bool TFrameInternetUpdates::eventFilter(QObject *Watched, QEvent *Event) {
    if (Watched == LabelSelectDevice && Event->type() == QEvent::MouseButtonDblClick) {
        TKvApplication::RunGuarded([this] { LabelSelectDeviceDblClick(); });
        return true;
    }
    return QFrame::eventFilter(Watched, Event);
}

void TFrameInternetUpdates::LabelSelectDeviceDblClick() {
    ButtonCheckUpdatesGetDevicesClick();
}

void TFrameInternetUpdates::ListViewDevicesSelectItem() {
    // Selecting or deselecting a row: either way the file list follows.
    ButtonCheckUpdatesClick();
}

void TFrameInternetUpdates::ListViewFilesDblClick(QTreeWidgetItem *Item) {
    if (Item && Item->parent()) ButtonDownloadFirmwareClick();
}

void TFrameInternetUpdates::CheckBoxShowAllDevicesClick() {
    PanelSelectUpdate->setVisible(CheckBoxShowAllDevices->isChecked());
}

void TFrameInternetUpdates::ActionDebugExecute() {
    // Column headers on: a second column shows each row's file name; off: it goes again.
    const bool Show = ListViewFiles->isHeaderHidden();
    ListViewFiles->setHeaderHidden(!Show);
    ListViewFiles->setColumnHidden(1, !Show);
}

void TFrameInternetUpdates::TimerCloseTimer() {
    TimerClose->stop();
    if (CloseMainWindow) {
        CloseMainWindow();
        return;
    }
    // Closing the main window ends the program (it disconnects the tester on its way out).
    bool Closed = false;
    for (QWidget *W : QApplication::topLevelWidgets())
        if (W->inherits("QMainWindow") && W->isVisible()) Closed = W->close() || Closed;
    if (Closed) QCoreApplication::quit();
}
