#include "uFrameDeviceLinkComMorva.h"

#include "uBalloonHint.h"
#include "uKvProtocol.h"

#include <QAction>
#include <QMenu>
#include <QTimer>
#include <QToolButton>

// Placeholder: the panel's components and contract compile; the behaviour follows.
std::array<QString, 5> LinkTexts = {"Связь установлена", "Подключиться к устройству", "Устройство не найдено",
                                    "Потеряна связь", "устройства"};

TFrameDeviceLinkComMorva::TFrameDeviceLinkComMorva(QWidget *Owner) : QFrame(Owner) {
    sButtonConnect = new QToolButton(this);
    sButtonConnect->setCheckable(true);
    PopupMenuConnection = new QMenu(this);
    NSearchOnConnect = PopupMenuConnection->addAction("Автоматический поиск");
    NSearchOnConnect->setCheckable(true);
    NConnectionSettings = PopupMenuConnection->addAction("Настройки соединения вручную");
    BalloonHintInd = new TBalloonHint(this);
    TimerCheckTimeOut = new QTimer(this);
    TimerSearchTimeOut = new QTimer(this);
    ComPort = std::make_unique<TComPort>();
}
TFrameDeviceLinkComMorva::~TFrameDeviceLinkComMorva() = default;
bool TFrameDeviceLinkComMorva::Connect() {
    return false;
}
void TFrameDeviceLinkComMorva::Disconnect() {
}
bool TFrameDeviceLinkComMorva::IsConnected() {
    return false;
}
void TFrameDeviceLinkComMorva::Transmit(const QByteArray &) {
}
void TFrameDeviceLinkComMorva::SetOnReceived(TOutputData A) {
    OnReceived = std::move(A);
}
TOutputData TFrameDeviceLinkComMorva::GetTransmitProcedure() {
    return [this](const QByteArray &D) { Transmit(D); };
}
void TFrameDeviceLinkComMorva::SetOnDeviceLinkStartStop(TOnDeviceLinkStartStop A, TBeforeDisconnect B,
                                                        bool C) {
    OnDeviceLinkStartStop = std::move(A);
    BeforeDisconnect = std::move(B);
    AutoStartStop = C;
}
void TFrameDeviceLinkComMorva::SetOnCreateProtocolRef(TOnCreateProtocolRef A) {
    OnCreateProtocolRef = std::move(A);
}
TKvProtocol *TFrameDeviceLinkComMorva::KvProtocol() {
    return FKvProtocol.get();
}
void TFrameDeviceLinkComMorva::SetKvProtocol(TKvProtocol *A) {
    FKvProtocol.reset(A);
}
void TFrameDeviceLinkComMorva::SetKeepConnection(bool A) {
    KeepConnection = A;
}
bool TFrameDeviceLinkComMorva::GetCounters(double &, double &, double &) {
    return false;
}
bool TFrameDeviceLinkComMorva::GetProtocolInThread() {
    return FProtocolInThread;
}
void TFrameDeviceLinkComMorva::SetProtocolInThread(bool Value) {
    FProtocolInThread = Value;
}
void TFrameDeviceLinkComMorva::SomeTransmit() {
}
void TFrameDeviceLinkComMorva::IndicateConnectionStatus(IDeviceLink *, bool) {
}
void TFrameDeviceLinkComMorva::LogMessage(const QString &, const QByteArray &) {
}
void TFrameDeviceLinkComMorva::DoEnglish() {
}
bool TFrameDeviceLinkComMorva::SearchOnConnect() const {
    return NSearchOnConnect->isChecked();
}
void TFrameDeviceLinkComMorva::SetSearchOnConnect(bool Value) {
    NSearchOnConnect->setChecked(Value);
}
int TFrameDeviceLinkComMorva::BaudRate() const {
    return ComPort->CustomBaudRate();
}
void TFrameDeviceLinkComMorva::SetBaudRate(int Value) {
    ComPort->SetCustomBaudRate(Value);
}
void TFrameDeviceLinkComMorva::SetImageList(const QVector<QIcon> &Images) {
    FImages = Images;
}
QVector<QIcon> TFrameDeviceLinkComMorva::DefaultImageList() {
    return {};
}
void TFrameDeviceLinkComMorva::sButtonConnectClick() {
}
void TFrameDeviceLinkComMorva::SearchFinished(const QString &, const QString &, int) {
}
void TFrameDeviceLinkComMorva::TimerCheckTimeOutTimer() {
}
void TFrameDeviceLinkComMorva::TimerSearchTimeOutTimer() {
}
void TFrameDeviceLinkComMorva::NConnectionSettingsClick() {
}
void TFrameDeviceLinkComMorva::PopupMenuConnectionPopup() {
}
