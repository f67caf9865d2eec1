// The device link panel: reconnecting by itself to a tester that was lost, wherever it comes
// back (a USB tester plugged in again often gets another port).
#include "uFormConnectionSettingsMorvaSearch.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uKvApplication.h"
#include "uKvProtocol.h"
#include "uTamrelTester.h"

#include <QAction>
#include <QMenu>
#include <QSettings>
#include <QTimer>
#include <QToolButton>

namespace {

const QString ReconnectKey = QStringLiteral("Link/ReconnectAutomatically");

} // namespace

void TFrameDeviceLinkComMorva::CreateReconnect() {
    NReconnectAutomatically = PopupMenuConnection->addAction(LinkTexts[5]);
    NReconnectAutomatically->setObjectName(QStringLiteral("NReconnectAutomatically"));
    NReconnectAutomatically->setCheckable(true);
    TimerReconnect = new QTimer(this);
    connect(NReconnectAutomatically, &QAction::toggled, this, [this](bool on) {
        if (!FSettingsFile.isEmpty())
            QSettings(FSettingsFile, QSettings::IniFormat).setValue(ReconnectKey, on);
        if (!on && FWaitingForReconnect) {
            StopWaitingForReconnect();
            IndicateConnectionStatus(this, false);
        }
    });
    connect(TimerReconnect, &QTimer::timeout, this,
            [this] { TKvApplication::RunGuarded([this] { TimerReconnectTimer(); }); });
}

bool TFrameDeviceLinkComMorva::ReconnectAutomatically() const {
    return NReconnectAutomatically->isChecked();
}

void TFrameDeviceLinkComMorva::SetReconnectAutomatically(bool value) {
    NReconnectAutomatically->setChecked(value);
}

void TFrameDeviceLinkComMorva::SetSettingsFile(const QString &path) {
    FSettingsFile = path;
    if (path.isEmpty()) return;
    const bool on = QSettings(path, QSettings::IniFormat).value(ReconnectKey, false).toBool();
    const QSignalBlocker quiet(NReconnectAutomatically); // reading is no change to write back
    NReconnectAutomatically->setChecked(on);
}

QString TFrameDeviceLinkComMorva::ConnectedIdent() const {
    if (FKvProtocol) {
        const QString ident =
            TamrelTester::IdentText(FKvProtocol->RegisterCopy(TamrelReg::regFirmwareName).RawData);
        if (!ident.isEmpty()) return ident;
    }
    return FFoundIdent;
}

void TFrameDeviceLinkComMorva::ExpectRenamedTester() {
    if (!IsConnected()) return;
    FExpectRenamed = true;
    FRenamedLoaderIdent = FKvProtocol ? QString::fromLatin1(FKvProtocol->LoaderIdentStr()) : QString();
}

void TFrameDeviceLinkComMorva::StartWaitingForReconnect(const QString &ident, const QString &renamedOnPort) {
    FWaitingForReconnect = true;
    FReconnectIdent = ident;
    FReconnectPort = renamedOnPort;
    TimerReconnect->start(ReconnectIntervalMs);
}

QString TFrameDeviceLinkComMorva::WaitingHint() const {
    if (FReconnectPort.isEmpty()) return LinkTexts[6].arg(FReconnectIdent);
    return LinkTexts[7].arg(FReconnectPort, FReconnectIdent, DeviceIdentStr);
}

bool TFrameDeviceLinkComMorva::IsTheLostTester(const QString &foundIdentStr,
                                               const QString &foundComPort) const {
    const bool ofTheKind =
        !DeviceIdentStr.isEmpty() && foundIdentStr.contains(DeviceIdentStr, Qt::CaseInsensitive);
    // Re-flashed: its name has changed, so the port tells it from another tester of its kind;
    // it may also still be in its boot loader.
    if (!FReconnectPort.isEmpty())
        return foundComPort == FReconnectPort &&
               (ofTheKind || (!FReconnectIdent.isEmpty() &&
                              foundIdentStr.compare(FReconnectIdent, Qt::CaseInsensitive) == 0));
    // The same tester, not merely one of its kind: the identification must be the lost one's.
    // A connection whose tester never said who it was takes any tester the link looks for.
    return FReconnectIdent.isEmpty() ? ofTheKind : foundIdentStr == FReconnectIdent;
}

void TFrameDeviceLinkComMorva::StopWaitingForReconnect() {
    FWaitingForReconnect = false;
    TimerReconnect->stop();
    // A search still under way reports to nobody.
    if (SearchEngine && SearchEngine->FReceiver == this) SearchEngine->FOnSearchFinished = {};
}

void TFrameDeviceLinkComMorva::TimerReconnectTimer() {
    if (!FWaitingForReconnect || IsConnected()) {
        StopWaitingForReconnect();
        return;
    }
    // The normal search over every port; the previous attempt's late answers still count.
    StartSearch(
        {ComPort->CustomBaudRate(), ComPort->DataBits(), ComPort->ParityBits(), ComPort->StopBits()}, false,
        [this](const QString &ident, const QString &port, int baud) { ReconnectFound(ident, port, baud); },
        this, [](std::exception_ptr e) { TKvApplication::ShowError(TKvApplication::ExceptionMessage(e)); });
}

void TFrameDeviceLinkComMorva::ReconnectFound(const QString &foundIdentStr, const QString &foundComPort,
                                              int foundComBoud) {
    if (!FWaitingForReconnect || IsConnected()) return;
    if (!IsTheLostTester(foundIdentStr, foundComPort)) return;
    StopWaitingForReconnect();
    ConnectToFound(foundIdentStr, foundComPort, foundComBoud, [this] {
        // Not open after all: go on waiting for it.
        StartWaitingForReconnect(FReconnectIdent, FReconnectPort);
        IndicateConnectionStatus(this, false);
    });
}
