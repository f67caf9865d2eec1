// The firmware window's construction, loading an image from a buffer or a file, and the
// handlers that only change what the window shows.
#include "uFormFirmwareUpdate.h"
#include "CompGraphicSpeedButton.h"
#include "uFirmwareFileName.h"
#include "uFrameInternetUpdates.h"
#include "uKvApplication.h"

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
template <class F> auto Guarded(F body) {
    return [body] { TKvApplication::RunGuarded(body); };
}

QLabel *NewLabel(QWidget *parent, const QString &name, const QString &text) {
    auto *l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
}

QLineEdit *NewEdit(QWidget *parent, const QString &name, bool readOnly) {
    auto *e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setReadOnly(readOnly);
    return e;
}

QFrame *NewPanel(QWidget *parent, const QString &name) {
    auto *p = new QFrame(parent);
    p->setObjectName(name);
    p->setFrameShape(QFrame::StyledPanel);
    return p;
}

TGraphicSpeedButton *NewImageButton(QWidget *parent, const QString &name, const QString &caption,
                                    const QString &icon) {
    auto *b = new TGraphicSpeedButton(parent);
    b->setObjectName(name);
    b->SetCaption(caption);
    b->SetGlyphUp(QIcon(icon).pixmap(16, 16));
    b->SetGlyphDisabled(QIcon(icon).pixmap(16, 16, QIcon::Disabled));
    b->SetSpacing(8);
    b->setFixedHeight(28);
    return b;
}

} // namespace

TFormFirmwareUpdate::TFormFirmwareUpdate(QWidget *parent)
    : QWidget(parent, Qt::Window), FirmwareUpdate(new TFirmwareUpdate(this)) {
    Q_INIT_RESOURCE(firmware);
    FormFirmwareUpdate = this;
    setObjectName(QStringLiteral("FormFirmwareUpdate"));
    setWindowTitle(QStringLiteral("Обновление прошивки"));
    BuildWindow();
    resize(577, 574);
}

TFormFirmwareUpdate::~TFormFirmwareUpdate() {
    FirmwareUpdate->Stop();
    TimerDisconnect->stop();
    TimerRedrawProgress->stop();
    if (FormFirmwareUpdate == this) FormFirmwareUpdate = nullptr;
}

void TFormFirmwareUpdate::BuildWindow() {
    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    PanelButtons = NewPanel(this, QStringLiteral("PanelButtons"));
    auto *buttons = new QHBoxLayout(PanelButtons);
    buttons->setContentsMargins(4, 4, 4, 4);
    GraphicSpeedButtonInternet = NewImageButton(PanelButtons, QStringLiteral("GraphicSpeedButtonInternet"),
                                                QStringLiteral("Проверить обновление в Internet"),
                                                QStringLiteral(":/firmware/internet.svg"));
    GraphicSpeedButtonInternet->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(GraphicSpeedButtonInternet, &QAbstractButton::clicked, this,
            Guarded([this] { GraphicSpeedButtonInternetClick(); }));
    buttons->addWidget(GraphicSpeedButtonInternet);
    root->addWidget(PanelButtons);

    // Hidden until the internet button is pressed; then it fills the space above the bottom panel.
    FrameInternetUpdates = new TFrameInternetUpdates(this);
    FrameInternetUpdates->setObjectName(QStringLiteral("FrameInternetUpdates"));
    FrameInternetUpdates->hide();
    root->addWidget(FrameInternetUpdates, 1);

    PanelBottom = new QWidget(this);
    PanelBottom->setObjectName(QStringLiteral("PanelBottom"));
    PanelBottom->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    auto *bottom = new QVBoxLayout(PanelBottom);
    bottom->setContentsMargins(0, 0, 0, 0);
    bottom->setSpacing(0);

    PanelSettings = NewPanel(PanelBottom, QStringLiteral("PanelSettings"));
    auto *settings = new QHBoxLayout(PanelSettings);
    settings->setContentsMargins(6, 4, 6, 4);
    Label2 = NewLabel(PanelSettings, QStringLiteral("Label2"), QStringLiteral("LoaderIdentStr:"));
    EditLoaderIdentStr = NewEdit(PanelSettings, QStringLiteral("EditLoaderIdentStr"), false);
    EditFirmwareSize = NewEdit(PanelSettings, QStringLiteral("EditFirmwareSize"), true);
    EditFirmwareSize->setFixedWidth(110);
    settings->addWidget(Label2);
    settings->addWidget(EditLoaderIdentStr, 1);
    settings->addWidget(EditFirmwareSize);
    PanelSettings->hide();
    bottom->addWidget(PanelSettings);
    bottom->addWidget(BuildOldNewPanel());
    bottom->addWidget(BuildUpdatePanel());
    root->addWidget(PanelBottom);

    LabelSmartResize = NewLabel(this, QStringLiteral("LabelSmartResize"), QString());
    LabelSmartResize->setMinimumHeight(1);
    root->addWidget(LabelSmartResize, 1);

    OpenDialogFirmware = new QFileDialog(this);
    OpenDialogFirmware->setObjectName(QStringLiteral("OpenDialogFirmware"));
    OpenDialogFirmware->setWindowTitle(QStringLiteral("Выбрать прошивку"));
    OpenDialogFirmware->setNameFilters(
        {QStringLiteral("Firmware (*.firmware)"), QStringLiteral("All (*.*)")});
    OpenDialogFirmware->setFileMode(QFileDialog::ExistingFile);
    OpenDialogFirmware->setAcceptMode(QFileDialog::AcceptOpen);

    // The update's own repeat timer (50 ms), under the window's name for it.
    TimerTryAgain = FirmwareUpdate->TimerTryAgain;
    FirmwareUpdate->Protocol = [this] { return ConnectedProtocol(); };
    FirmwareUpdate->OnAccepted = [this](const TFirmwareResult &) { UpdateAccepted(); };
    FirmwareUpdate->OnProgress = [this](quint32 position, quint32 size) {
        TKvApplication::RunGuarded([&] { OnFirmwareProgress(0, position, size); });
    };
    FirmwareUpdate->OnFinished = [this](const TFirmwareResult &result) {
        TKvApplication::RunGuarded([&] { UpdateFinished(result); });
    };
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
    auto *g = new QGridLayout(PanelOldNew);
    g->setContentsMargins(6, 6, 6, 6);
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
    g->addWidget(Label1, 0, 0);
    g->addWidget(EditFirmwareOldName, 0, 1);
    g->addWidget(Label3, 1, 0);
    g->addWidget(EditFirmwareName, 1, 1);
    g->addWidget(GraphicSpeedButtonOpenFirmware, 1, 2);
    g->setColumnStretch(1, 1);
    return PanelOldNew;
}

QWidget *TFormFirmwareUpdate::BuildUpdatePanel() {
    PanelFirmwareUpdate = NewPanel(PanelBottom, QStringLiteral("PanelFirmwareUpdate"));
    auto *g = new QGridLayout(PanelFirmwareUpdate);
    g->setContentsMargins(6, 6, 6, 6);
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
    g->addWidget(ButtonStartUpdate, 0, 0);
    g->addWidget(ProgressBar1, 0, 1);
    g->addWidget(LabelTransferRate, 0, 2);
    g->addWidget(EditMessage, 1, 0, 1, 2);
    g->addWidget(ButtonClose, 1, 2);
    g->setColumnStretch(1, 1);
    return PanelFirmwareUpdate;
}

void TFormFirmwareUpdate::showEvent(QShowEvent *event) {
    // Centred on the main window the first time; after that where the user left it.
    if (!FPlaced) {
        FPlaced = true;
        if (QWidget *main = parentWidget()) {
            const QRect outer = main->frameGeometry();
            move(outer.center() - QPoint(width() / 2, height() / 2));
        }
    }
    QWidget::showEvent(event);
}

bool TFormFirmwareUpdate::eventFilter(QObject *watched, QEvent *event) {
    if (watched == PanelOldNew && event->type() == QEvent::MouseButtonRelease) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton && PanelOldNew->rect().contains(mouse->position().toPoint()))
            TKvApplication::RunGuarded([this] { PanelOldNewClick(); });
    }
    return QWidget::eventFilter(watched, event);
}

void TFormFirmwareUpdate::LoadFirmwareBuffer(const QByteArray &aFirmwareBuffer,
                                             const QString &firmwareFileName, bool hideFirmwareUpdate) {
    PanelOldNew->setVisible(!hideFirmwareUpdate);
    PanelFirmwareUpdate->setVisible(!hideFirmwareUpdate);
    if (hideFirmwareUpdate) return;
    FirmwareBuffer = aFirmwareBuffer;
    const TFirmwareFileName name = ParseFirmwareFileName(firmwareFileName);
    EditLoaderIdentStr->setText(name.DeviceIdentStr);
    EditFirmwareName->setText(name.DisplayName);
    EditFirmwareSize->setText(QString::number(FirmwareBuffer.size()) + QStringLiteral(" Б"));
    ButtonStartUpdate->setEnabled(!FirmwareBuffer.isEmpty());
}

void TFormFirmwareUpdate::OpenFirmwareFile(const QString &fileName) {
    LoadFirmwareBuffer(ReadFirmwareImageFile(fileName), fileName, false);
}

void TFormFirmwareUpdate::GraphicSpeedButtonOpenFirmwareClick() {
    if (OpenDialogFirmware->exec() != QDialog::Accepted) return;
    const QStringList files = OpenDialogFirmware->selectedFiles();
    if (!files.isEmpty()) OpenFirmwareFile(files.first());
}

void TFormFirmwareUpdate::DoEnglish() {
    const QString shown = NotSuitableText;
    NotSuitableText = QStringLiteral("Firmware is not suitable for this device");
    FEnglish = true;
    FrameInternetUpdates->DoEnglish();
    ShowMessageInLanguage(shown);
}

void TFormFirmwareUpdate::DoRus() {
    const QString shown = NotSuitableText;
    NotSuitableText = QStringLiteral("Прошивка не подходит для этого устройства");
    FEnglish = false;
    FrameInternetUpdates->DoRus();
    ShowMessageInLanguage(shown);
}

void TFormFirmwareUpdate::ShowMessage(std::function<QString(bool english)> text) {
    EditMessage->setText(text(FEnglish));
    FMessage = std::move(text);
}

void TFormFirmwareUpdate::ShowMessageInLanguage(const QString &oldNotSuitableText) {
    // The message of the state the window is in is shown again in the new language, so that a
    // switch never leaves it in the old one. Messages with a single text stay as they are.
    const QString message = EditMessage->text();
    if (FMessage && message == FMessage(!FEnglish))
        EditMessage->setText(FMessage(FEnglish));
    else if (!oldNotSuitableText.isEmpty() && message.startsWith(oldNotSuitableText))
        EditMessage->setText(NotSuitableText + message.mid(oldNotSuitableText.size()));
}

void TFormFirmwareUpdate::PanelOldNewClick() {
    PanelSettings->show(); // nothing hides it again
}

void TFormFirmwareUpdate::ButtonCloseClick() {
    close(); // hides: the window lives as long as the program
}

void TFormFirmwareUpdate::GraphicSpeedButtonInternetClick() {
    const QPointer<TFormFirmwareUpdate> self(this);
    FrameInternetUpdates->LoadFirmwareBuffer = [self](const QByteArray &buffer, const QString &name,
                                                      bool hide) {
        if (self) self->LoadFirmwareBuffer(buffer, name, hide);
    };
    FrameInternetUpdates->EditSelectDevice->setText(DeviceName);
    // The frame takes the space the filler held; the bottom panel goes to the bottom.
    FrameInternetUpdates->show();
    LabelSmartResize->hide();
    FrameInternetUpdates->ButtonCheckUpdatesGetDevicesClick();
}
