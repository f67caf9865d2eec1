// The firmware window's construction, loading an image from a buffer or a file, and the
// handlers that only change what the window shows.
#include "uFormFirmwareUpdate.h"
#include "CompGraphicSpeedButton.h"
#include "uFirmwareFileName.h"
#include "uFrameInternetUpdates.h"
#include "uKvApplication.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

QString NotSuitableText = QStringLiteral("Прошивка не подходит для этого устройства");
TFormFirmwareUpdate *FormFirmwareUpdate = nullptr;

namespace {

// Handlers of the window's controls and timers: an error they raise goes to the program's
// error display instead of crossing the event loop.
template <class F> auto Guarded(F Body) {
    return [Body] { TKvApplication::RunGuarded(Body); };
}

QLabel *NewLabel(QWidget *Parent, const QString &Name, const QString &Text) {
    auto *L = new QLabel(Text, Parent);
    L->setObjectName(Name);
    return L;
}

QLineEdit *NewEdit(QWidget *Parent, const QString &Name, bool ReadOnly) {
    auto *E = new QLineEdit(Parent);
    E->setObjectName(Name);
    E->setReadOnly(ReadOnly);
    return E;
}

QFrame *NewPanel(QWidget *Parent, const QString &Name) {
    auto *P = new QFrame(Parent);
    P->setObjectName(Name);
    P->setFrameShape(QFrame::StyledPanel);
    return P;
}

TGraphicSpeedButton *NewImageButton(QWidget *Parent, const QString &Name, const QString &Caption,
                                    const QString &Icon) {
    auto *B = new TGraphicSpeedButton(Parent);
    B->setObjectName(Name);
    B->SetCaption(Caption);
    B->SetGlyphUp(QIcon(Icon).pixmap(16, 16));
    B->SetGlyphDisabled(QIcon(Icon).pixmap(16, 16, QIcon::Disabled));
    B->SetSpacing(8);
    B->setFixedHeight(28);
    return B;
}

} // namespace

TFormFirmwareUpdate::TFormFirmwareUpdate(QWidget *Parent) : QWidget(Parent, Qt::Window) {
    Q_INIT_RESOURCE(firmware);
    FormFirmwareUpdate = this;
    setObjectName(QStringLiteral("FormFirmwareUpdate"));
    setWindowTitle(QStringLiteral("Обновление прошивки"));
    BuildWindow();
    resize(577, 574);
}

TFormFirmwareUpdate::~TFormFirmwareUpdate() {
    TimerTryAgain->stop();
    TimerDisconnect->stop();
    TimerRedrawProgress->stop();
    if (FormFirmwareUpdate == this) FormFirmwareUpdate = nullptr;
}

void TFormFirmwareUpdate::BuildWindow() {
    auto *Root = new QVBoxLayout(this);
    Root->setContentsMargins(0, 0, 0, 0);
    Root->setSpacing(0);

    PanelButtons = NewPanel(this, QStringLiteral("PanelButtons"));
    auto *Buttons = new QHBoxLayout(PanelButtons);
    Buttons->setContentsMargins(4, 4, 4, 4);
    GraphicSpeedButtonInternet = NewImageButton(PanelButtons, QStringLiteral("GraphicSpeedButtonInternet"),
                                                QStringLiteral("Проверить обновление в Internet"),
                                                QStringLiteral(":/firmware/internet.svg"));
    GraphicSpeedButtonInternet->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(GraphicSpeedButtonInternet, &QAbstractButton::clicked, this,
            Guarded([this] { GraphicSpeedButtonInternetClick(); }));
    Buttons->addWidget(GraphicSpeedButtonInternet);
    Root->addWidget(PanelButtons);

    // Hidden until the internet button is pressed; then it fills the space above the bottom panel.
    FrameInternetUpdates = new TFrameInternetUpdates(this);
    FrameInternetUpdates->setObjectName(QStringLiteral("FrameInternetUpdates"));
    FrameInternetUpdates->hide();
    Root->addWidget(FrameInternetUpdates, 1);

    PanelBottom = new QWidget(this);
    PanelBottom->setObjectName(QStringLiteral("PanelBottom"));
    PanelBottom->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    auto *Bottom = new QVBoxLayout(PanelBottom);
    Bottom->setContentsMargins(0, 0, 0, 0);
    Bottom->setSpacing(0);

    PanelSettings = NewPanel(PanelBottom, QStringLiteral("PanelSettings"));
    auto *Settings = new QHBoxLayout(PanelSettings);
    Settings->setContentsMargins(6, 4, 6, 4);
    Label2 = NewLabel(PanelSettings, QStringLiteral("Label2"), QStringLiteral("LoaderIdentStr:"));
    EditLoaderIdentStr = NewEdit(PanelSettings, QStringLiteral("EditLoaderIdentStr"), false);
    EditFirmwareSize = NewEdit(PanelSettings, QStringLiteral("EditFirmwareSize"), true);
    EditFirmwareSize->setFixedWidth(110);
    Settings->addWidget(Label2);
    Settings->addWidget(EditLoaderIdentStr, 1);
    Settings->addWidget(EditFirmwareSize);
    PanelSettings->hide();
    Bottom->addWidget(PanelSettings);
    Bottom->addWidget(BuildOldNewPanel());
    Bottom->addWidget(BuildUpdatePanel());
    Root->addWidget(PanelBottom);

    LabelSmartResize = NewLabel(this, QStringLiteral("LabelSmartResize"), QString());
    LabelSmartResize->setMinimumHeight(1);
    Root->addWidget(LabelSmartResize, 1);

    OpenDialogFirmware = new QFileDialog(this);
    OpenDialogFirmware->setObjectName(QStringLiteral("OpenDialogFirmware"));
    OpenDialogFirmware->setWindowTitle(QStringLiteral("Выбрать прошивку"));
    OpenDialogFirmware->setNameFilters(
        {QStringLiteral("Firmware (*.firmware)"), QStringLiteral("All (*.*)")});
    OpenDialogFirmware->setFileMode(QFileDialog::ExistingFile);
    OpenDialogFirmware->setAcceptMode(QFileDialog::AcceptOpen);

    TimerTryAgain = new QTimer(this);
    TimerTryAgain->setObjectName(QStringLiteral("TimerTryAgain"));
    TimerTryAgain->setInterval(50);
    connect(TimerTryAgain, &QTimer::timeout, this, Guarded([this] { TimerTryAgainTimer(); }));
    TimerDisconnect = new QTimer(this);
    TimerDisconnect->setObjectName(QStringLiteral("TimerDisconnect"));
    TimerDisconnect->setInterval(500);
    connect(TimerDisconnect, &QTimer::timeout, this, Guarded([this] { TimerDisconnectTimer(); }));
    TimerRedrawProgress = new QTimer(this);
    TimerRedrawProgress->setObjectName(QStringLiteral("TimerRedrawProgress"));
    TimerRedrawProgress->setInterval(40);
    TimerRedrawProgress->setSingleShot(true);
    connect(TimerRedrawProgress, &QTimer::timeout, this, [this] { HoldProgressRedraw(false); });
}

QWidget *TFormFirmwareUpdate::BuildOldNewPanel() {
    PanelOldNew = NewPanel(PanelBottom, QStringLiteral("PanelOldNew"));
    PanelOldNew->installEventFilter(this);
    auto *G = new QGridLayout(PanelOldNew);
    G->setContentsMargins(6, 6, 6, 6);
    Label1 = NewLabel(PanelOldNew, QStringLiteral("Label1"), QStringLiteral("Старая прошивка:"));
    EditFirmwareOldName = NewEdit(PanelOldNew, QStringLiteral("EditFirmwareOldName"), true);
    Label3 = NewLabel(PanelOldNew, QStringLiteral("Label3"), QStringLiteral("Новая прошивка:"));
    EditFirmwareName = NewEdit(PanelOldNew, QStringLiteral("EditFirmwareName"), true);
    GraphicSpeedButtonOpenFirmware =
        NewImageButton(PanelOldNew, QStringLiteral("GraphicSpeedButtonOpenFirmware"),
                       QStringLiteral("Открыть из файла"), QStringLiteral(":/firmware/open.svg"));
    GraphicSpeedButtonOpenFirmware->setFixedWidth(150);
    connect(GraphicSpeedButtonOpenFirmware, &QAbstractButton::clicked, this,
            Guarded([this] { GraphicSpeedButtonOpenFirmwareClick(); }));
    G->addWidget(Label1, 0, 0);
    G->addWidget(EditFirmwareOldName, 0, 1);
    G->addWidget(Label3, 1, 0);
    G->addWidget(EditFirmwareName, 1, 1);
    G->addWidget(GraphicSpeedButtonOpenFirmware, 1, 2);
    G->setColumnStretch(1, 1);
    return PanelOldNew;
}

QWidget *TFormFirmwareUpdate::BuildUpdatePanel() {
    PanelFirmwareUpdate = NewPanel(PanelBottom, QStringLiteral("PanelFirmwareUpdate"));
    auto *G = new QGridLayout(PanelFirmwareUpdate);
    G->setContentsMargins(6, 6, 6, 6);
    ButtonStartUpdate = new QPushButton(QStringLiteral("Начать обновление"), PanelFirmwareUpdate);
    ButtonStartUpdate->setObjectName(QStringLiteral("ButtonStartUpdate"));
    connect(ButtonStartUpdate, &QPushButton::clicked, this, Guarded([this] { ButtonStartUpdateClick(); }));
    ProgressBar1 = new QProgressBar(PanelFirmwareUpdate);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    LabelTransferRate = NewLabel(PanelFirmwareUpdate, QStringLiteral("LabelTransferRate"), QString());
    LabelTransferRate->setMinimumWidth(170);
    EditMessage = NewEdit(PanelFirmwareUpdate, QStringLiteral("EditMessage"), true);
    ButtonClose = new QPushButton(QStringLiteral("Закрыть"), PanelFirmwareUpdate);
    ButtonClose->setObjectName(QStringLiteral("ButtonClose"));
    connect(ButtonClose, &QPushButton::clicked, this, Guarded([this] { ButtonCloseClick(); }));
    G->addWidget(ButtonStartUpdate, 0, 0);
    G->addWidget(ProgressBar1, 0, 1);
    G->addWidget(LabelTransferRate, 0, 2);
    G->addWidget(EditMessage, 1, 0, 1, 2);
    G->addWidget(ButtonClose, 1, 2);
    G->setColumnStretch(1, 1);
    return PanelFirmwareUpdate;
}

void TFormFirmwareUpdate::showEvent(QShowEvent *Event) {
    // Centred on the main window the first time; after that where the user left it.
    if (!FPlaced) {
        FPlaced = true;
        if (QWidget *Main = parentWidget()) {
            const QRect Outer = Main->frameGeometry();
            move(Outer.center() - QPoint(width() / 2, height() / 2));
        }
    }
    QWidget::showEvent(Event);
}

bool TFormFirmwareUpdate::eventFilter(QObject *Watched, QEvent *Event) {
    if (Watched == PanelOldNew && Event->type() == QEvent::MouseButtonRelease) {
        auto *Mouse = static_cast<QMouseEvent *>(Event);
        if (Mouse->button() == Qt::LeftButton && PanelOldNew->rect().contains(Mouse->position().toPoint()))
            TKvApplication::RunGuarded([this] { PanelOldNewClick(); });
    }
    return QWidget::eventFilter(Watched, Event);
}

void TFormFirmwareUpdate::LoadFirmwareBuffer(const QByteArray &AFirmwareBuffer,
                                             const QString &FirmwareFileName, bool HideFirmwareUpdate) {
    PanelOldNew->setVisible(!HideFirmwareUpdate);
    PanelFirmwareUpdate->setVisible(!HideFirmwareUpdate);
    if (HideFirmwareUpdate) return;
    FirmwareBuffer = AFirmwareBuffer;
    const TFirmwareFileName Name = ParseFirmwareFileName(FirmwareFileName);
    EditLoaderIdentStr->setText(Name.DeviceIdentStr);
    EditFirmwareName->setText(Name.DisplayName);
    EditFirmwareSize->setText(QString::number(FirmwareBuffer.size()) + QStringLiteral(" Б"));
    ButtonStartUpdate->setEnabled(!FirmwareBuffer.isEmpty());
}

void TFormFirmwareUpdate::OpenFirmwareFile(const QString &FileName) {
    QFile File(FileName);
    if (!File.open(QIODevice::ReadOnly))
        throw EFirmwareFile(QStringLiteral("Cannot open file \"%1\". %2")
                                .arg(QDir::toNativeSeparators(FileName), File.errorString())
                                .toStdString());
    // No boot loader takes more than its 16-bit KiB count of flash: a larger file is not a
    // firmware image, and is not read into memory.
    if (File.size() > MaxImageSize)
        throw EFirmwareFile(
            QStringLiteral("File \"%1\" is too large for a firmware image (%2 bytes, at most %3)")
                .arg(QDir::toNativeSeparators(FileName))
                .arg(File.size())
                .arg(MaxImageSize)
                .toStdString());
    const QByteArray Bytes = File.readAll();
    if (File.error() != QFileDevice::NoError)
        throw EFirmwareFile(QStringLiteral("Cannot read file \"%1\". %2")
                                .arg(QDir::toNativeSeparators(FileName), File.errorString())
                                .toStdString());
    LoadFirmwareBuffer(Bytes, FileName, false);
}

void TFormFirmwareUpdate::GraphicSpeedButtonOpenFirmwareClick() {
    if (OpenDialogFirmware->exec() != QDialog::Accepted) return;
    const QStringList Files = OpenDialogFirmware->selectedFiles();
    if (!Files.isEmpty()) OpenFirmwareFile(Files.first());
}

void TFormFirmwareUpdate::DoEnglish() {
    NotSuitableText = QStringLiteral("Firmware is not suitable for this device");
    FEnglish = true;
    FrameInternetUpdates->DoEnglish();
}

void TFormFirmwareUpdate::PanelOldNewClick() {
    PanelSettings->show(); // nothing hides it again
}

void TFormFirmwareUpdate::ButtonCloseClick() {
    close(); // hides: the window lives as long as the program
}

void TFormFirmwareUpdate::GraphicSpeedButtonInternetClick() {
    const QPointer<TFormFirmwareUpdate> Self(this);
    FrameInternetUpdates->LoadFirmwareBuffer = [Self](const QByteArray &Buffer, const QString &Name,
                                                      bool Hide) {
        if (Self) Self->LoadFirmwareBuffer(Buffer, Name, Hide);
    };
    FrameInternetUpdates->EditSelectDevice->setText(DeviceName);
    // The frame takes the space the filler held; the bottom panel goes to the bottom.
    FrameInternetUpdates->show();
    LabelSmartResize->hide();
    FrameInternetUpdates->ButtonCheckUpdatesGetDevicesClick();
}
