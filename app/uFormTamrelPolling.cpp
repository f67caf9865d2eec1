// The main window and the tester: the protocol factory, start and stop of the link, the
// polling tick, showing received registers and writing the user's settings.
#include "uBalloonHint.h"
#include "uFormTamrel.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uFrameTamrelChannel.h"
#include "uKvApplication.h"
#include "uKvThreadHandOver.h"
#include "uKvTrazerHook.h"
#include "uTamrelRegisterMap.h"
#include "uTamrelRegisterNumber.h"
#include "uTamrelTester.h"
#include "uTamrelWidgets.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

using namespace TamrelReg;

IDeviceLink *TFormTamrel::Link() const {
    if (FTestLink) return FTestLink;
    return DeviceLink;
}

bool TFormTamrel::LinkConnected() {
    IDeviceLink *l = Link();
    return l && l->IsConnected();
}

TKvProtocol *TFormTamrel::LinkProtocol() {
    // Asked only while connected: a link without an engine treats the question as a fault.
    IDeviceLink *l = Link();
    if (!l || !l->IsConnected()) return nullptr;
    return l->KvProtocol();
}

bool TFormTamrel::AutoStartStop() const {
    return CheckBoxAutoStartStop && CheckBoxAutoStartStop->isChecked();
}

void TFormTamrel::WriteUserRegister(quint8 regNum, const QVariant &value) {
    if (SkipWriteRegister) return;
    if (TKvProtocol *p = LinkProtocol()) p->WriteRegisterValue(regNum, value);
}

TOnCreateProtocolRef TFormTamrel::MakeProtocolFactory() {
    // Called by the link each time its port opens, before anything is sent.
    return [this](IDeviceLink *senderDeviceLink) {
        const TOutputData output = senderDeviceLink->GetTransmitProcedure();
        const TKvRegistersDynArray registers = TesterRegistersInfo();
        auto *p = new TKvProtocol(
            output, registers,
            [this](TKvProtocol *sender, quint8 regNum) { OnReceivedRegister(sender, regNum); }, TOnAck(),
            TOutputData(), false, QStringLiteral("TamrelLog"), senderDeviceLink->GetProtocolInThread(),
            ScopeBridgeName);
        senderDeviceLink->SetKvProtocol(p);
        senderDeviceLink->SetOnReceived([p](const QByteArray &bytes) { p->InputData(bytes); });
        if (p->TrazerServerI) ShowBridgeRefusal(p->TrazerServerI->Refusal());
    };
}

void TFormTamrel::ShowBridgeRefusal(const QString &refusal) {
    if (refusal.isEmpty() || refusal == FBridgeRefusalShown) return;
    FBridgeRefusalShown = refusal;
    // The connection opens on: the message comes once the port's open has run its course.
    KvThread::Post(this, [refusal] { TKvApplication::ShowError(refusal); });
}

void TFormTamrel::OnDeviceLinkStartStop(IDeviceLink *senderDeviceLink, TDeviceLinkEvent, bool lost) {
    // The event kind does not matter: the link's present state decides.
    IDeviceLink *l = senderDeviceLink ? senderDeviceLink : Link();
    const bool connected = l && l->IsConnected();
    if (connected) {
        l->SetKeepConnection(true);
        FirmwareNameAnswered = false;
        if (TKvProtocol *p = l->KvProtocol()) {
            p->RequestRegisterAsync(regFirmwareName, false);
            p->NextRegisterOperation(regFirmwareName);
        }
    }
    SetUpdateRegisters(connected);
    if (!connected) {
        FirmwareLinkClosed(l);
        // A sweep does not outlive its connection, even when the tester comes back at once:
        // it stops here and keeps the part done; a loss (not the technician's own disconnect)
        // is said.
        if (DiagramMode != dmNone) {
            StopSweep(ssLinkLost);
            if (!lost) return;
            BalloonHintInd->SetTitle(
                FRussian ? QStringLiteral("Измерение остановлено: потеряна связь с тестером")
                         : QStringLiteral("Sweep stopped: the connection to the tester was lost"));
            const int usual = BalloonHintInd->HideAfter;
            BalloonHintInd->HideAfter = 8000; // longer than a hint: the technician may be away
            BalloonHintInd->ShowHint(ButtonStartStop->mapToGlobal(
                QPoint(ButtonStartStop->width() / 2, ButtonStartStop->height())));
            BalloonHintInd->HideAfter = usual;
        }
    }
}

void TFormTamrel::SetUpdateRegisters(bool doUpdate) {
    const bool connected = LinkConnected();
    if (doUpdate && connected)
        TimerUpdateRegisters->start();
    else
        TimerUpdateRegisters->stop();
    if (connected) {
        // The start/stop register is written whatever SkipWriteRegister says.
        if (TKvProtocol *p = LinkProtocol())
            p->WriteRegisterValue(regStartStop, quint8(doUpdate && AutoStartStop() ? 1 : 0));
    }
}

QVector<quint8> TFormTamrel::PolledRegisters() const {
    const bool inVolts = NManualInVolt->isChecked();
    QVector<quint8> r;
    r << FrameTamrelChannel1->regSetupVin << FrameTamrelChannel1->regManualControlPWM;
    if (inVolts) r << FrameTamrelChannel1->regManualControlVolts;
    r << FrameTamrelChannel2->regSetupVin << FrameTamrelChannel2->regManualControlPWM;
    if (inVolts) r << FrameTamrelChannel2->regManualControlVolts;
    r << regResistiveHead << regPumpType << regManualControl << regManualInVolt;
    return r;
}

void TFormTamrel::TimerUpdateRegistersTimer() {
    TKvProtocol *p = LinkProtocol();
    if (!p) return;
    // Queued regardless of reads still waiting from an earlier tick; the chain is started
    // once and runs through the queue as the answers come. An identification read whose
    // answer was lost (it timed out, and the chain went on) is asked again.
    if (!FirmwareNameAnswered) p->RequestRegisterAsync(regFirmwareName, false);
    for (quint8 r : PolledRegisters())
        p->RequestRegisterAsync(r, false);
    p->NextRegisterOperation(0);
}

namespace {

// Holds the guard for exactly one received value, also when showing it throws.
struct TSkipWriteGuard {
    bool &Flag;
    explicit TSkipWriteGuard(bool &f) : Flag(f) { Flag = true; }
    ~TSkipWriteGuard() { Flag = false; }
};

} // namespace

void TFormTamrel::OnReceivedRegister(TKvProtocol *senderKvProtocol, quint8 regNum) {
    TSkipWriteGuard guard(SkipWriteRegister);
    ++ReceivedRegisterCount[regNum];
    if (!senderKvProtocol) return;
    ShowReceivedValue(regNum, senderKvProtocol->RegisterCopy(regNum));
    DrawOftenReceived(regNum);
}

void TFormTamrel::ShowReceivedValue(quint8 regNum, const TKvRegister &reg) {
    // Read by the map's type: a value that is no number of that type is unknown, and unknown
    // values are shown as such, never as a made-up number, charted or written back.
    std::optional<qint64> value;
    if (regNum != regFirmwareName && regNum < RegisterCount)
        value = RegisterNumber(reg, TesterRegistersInfo()[regNum].RegType);
    FrameTamrelChannel1->OnReceivedRegister(regNum, value);
    FrameTamrelChannel2->OnReceivedRegister(regNum, value);
    // Channel 1's position, requested or not, is the sweep's sample when one is awaited.
    if (regNum == FrameTamrelChannel1->regPosition) FSweep.PositionReceived(value);
    const int lowByte = value ? int(*value & 0xFF) : -1;
    switch (regNum) {
    case regFirmwareName: {
        FirmwareNameAnswered = true;
        ButtonUpdateFirmware->setToolTip(TamrelTester::IdentText(reg.RawData));
        ShowFirmwareName();
        break;
    }
    case regResistiveHead:
        // Unknown: no item selected.
        RadioGroupResistiveHead->SetItemIndex(lowByte);
        break;
    case regManualControl:
        // The button has no unknown state: an unknown value leaves it as it is.
        if (!value) break;
        sSpeedButtonManualControl->setChecked(lowByte != 0);
        sSpeedButtonManualControlClick();
        break;
    case regHeadTemperature:
        LabelTemperature->setText(value ? QLocale().toString(*value / 10.0, 'f', 1) + QStringLiteral(" °C")
                                        : QStringLiteral("_"));
        break;
    case regPumpType:
        RadioGroupPumpType->SetItemIndex(lowByte);
        RadioGroupResistiveHead->setEnabled(lowByte == 0);
        break;
    case regManualInVolt:
        // Like the button: the unit stays as it is.
        if (!value) break;
        NManualInPercent->setChecked(lowByte == 0);
        NManualInVolt->setChecked(lowByte == 1);
        NManualInVoltClick();
        break;
    default:
        break;
    }
    if (regNum != regPosition1 && regNum != regCurrent1) return;
    // No sample from an unknown reading; in "Draw often" it still counts as the answer and
    // the next is asked for (DrawOftenReceived, after this).
    if (!value) return;
    if (regNum == regPosition1)
        PositionVoltageSample(*value);
    else
        PositionCurrentSample(*value);
}

// ---- User settings ------------------------------------------------------------------------

void TFormTamrel::RadioGroupPumpTypeClick() {
    const int item = RadioGroupPumpType->ItemIndex();
    RadioGroupResistiveHead->setEnabled(item == 0);
    if (item >= 0) WriteUserRegister(regPumpType, item);
}

void TFormTamrel::RadioGroupResistiveHeadClick() {
    const int item = RadioGroupResistiveHead->ItemIndex();
    if (item >= 0) WriteUserRegister(regResistiveHead, item);
}

void TFormTamrel::sSpeedButtonManualControlClick() {
    const bool down = sSpeedButtonManualControl->isChecked();
    sSpeedButtonManualControl->setIcon(FManualControlImages[down ? 1 : 0]);
    FrameTamrelChannel1->SetManualControl(down, NManualInVolt->isChecked());
    // The second channel is always under manual control.
    FrameTamrelChannel2->SetManualControl(true, NManualInVolt->isChecked());
    WriteUserRegister(regManualControl, down ? 1 : 0);
}

void TFormTamrel::NManualInVoltClick() {
    FrameTamrelChannel1->SetManualControl(sSpeedButtonManualControl->isChecked(), NManualInVolt->isChecked());
    FrameTamrelChannel2->SetManualControl(true, NManualInVolt->isChecked());
    WriteUserRegister(regManualInVolt, NManualInVolt->isChecked() ? 1 : 0);
}

void TFormTamrel::CheckBoxAutoStartStopClick() {
    const bool on = CheckBoxAutoStartStop->isChecked();
    DeviceLink->AutoStartStop = on;
    if (IDeviceLink *l = Link()) l->SetKeepConnection(on);
}
