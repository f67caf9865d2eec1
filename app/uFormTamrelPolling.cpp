// The main window and the tester: the protocol factory, start and stop of the link, the
// polling tick, showing received registers and writing the user's settings.
#include "uFormTamrel.h"
#include "uFormTamrelRegisters.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uFrameTamrelChannel.h"
#include "uTamrelRegisterMap.h"
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
    IDeviceLink *L = Link();
    return L && L->IsConnected();
}

TKvProtocol *TFormTamrel::LinkProtocol() {
    // Asked only while connected: a link without an engine treats the question as a fault.
    IDeviceLink *L = Link();
    if (!L || !L->IsConnected()) return nullptr;
    return L->KvProtocol();
}

bool TFormTamrel::AutoStartStop() const {
    return CheckBoxAutoStartStop && CheckBoxAutoStartStop->isChecked();
}

void TFormTamrel::WriteUserRegister(quint8 RegNum, const QVariant &Value) {
    if (SkipWriteRegister) return;
    if (TKvProtocol *P = LinkProtocol()) P->WriteRegisterValue(RegNum, Value);
}

TOnCreateProtocolRef TFormTamrel::MakeProtocolFactory() {
    // Called by the link each time its port opens, before anything is sent.
    return [this](IDeviceLink *SenderDeviceLink) {
        const TOutputData Output = SenderDeviceLink->GetTransmitProcedure();
        const TKvRegistersDynArray Registers = TesterRegistersInfo();
        auto *P = new TKvProtocol(
            Output, Registers,
            [this](TKvProtocol *Sender, quint8 RegNum) { OnReceivedRegister(Sender, RegNum); }, TOnAck(),
            TOutputData(), false, QStringLiteral("TamrelLog"), SenderDeviceLink->GetProtocolInThread(),
            ScopeBridgeName);
        SenderDeviceLink->SetKvProtocol(P);
        SenderDeviceLink->SetOnReceived([P](const QByteArray &Data) { P->InputData(Data); });
    };
}

void TFormTamrel::OnDeviceLinkStartStop(IDeviceLink *SenderDeviceLink, TDeviceLinkEvent, bool) {
    // The event kind does not matter: the link's present state decides.
    IDeviceLink *L = SenderDeviceLink ? SenderDeviceLink : Link();
    const bool Connected = L && L->IsConnected();
    if (Connected) {
        L->SetKeepConnection(true);
        if (TKvProtocol *P = L->KvProtocol()) {
            P->RequestRegisterAsync(regFirmwareName, false);
            P->NextRegisterOperation(regFirmwareName);
        }
    }
    SetUpdateRegisters(Connected);
}

void TFormTamrel::SetUpdateRegisters(bool DoUpdate) {
    const bool Connected = LinkConnected();
    if (DoUpdate && Connected)
        TimerUpdateRegisters->start();
    else
        TimerUpdateRegisters->stop();
    if (Connected) {
        // The start/stop register is written whatever SkipWriteRegister says.
        if (TKvProtocol *P = LinkProtocol())
            P->WriteRegisterValue(regStartStop, quint8(DoUpdate && AutoStartStop() ? 1 : 0));
    }
}

QVector<quint8> TFormTamrel::PolledRegisters() const {
    const bool InVolts = NManualInVolt->isChecked();
    QVector<quint8> R;
    R << FrameTamrelChannel1->regSetupVin << FrameTamrelChannel1->regManualControlPWM;
    if (InVolts) R << FrameTamrelChannel1->regManualControlVolts;
    R << FrameTamrelChannel2->regSetupVin << FrameTamrelChannel2->regManualControlPWM;
    if (InVolts) R << FrameTamrelChannel2->regManualControlVolts;
    R << regResistiveHead << regPumpType << regManualControl << regManualInVolt;
    return R;
}

void TFormTamrel::TimerUpdateRegistersTimer() {
    TKvProtocol *P = LinkProtocol();
    if (!P) return;
    // Queued regardless of reads still waiting from an earlier tick; the chain is started
    // once and runs through the queue as the answers come.
    for (quint8 R : PolledRegisters())
        P->RequestRegisterAsync(R, false);
    P->NextRegisterOperation(0);
}

namespace {

// Holds the guard for exactly one received value, also when showing it throws.
struct TSkipWriteGuard {
    bool &Flag;
    explicit TSkipWriteGuard(bool &F) : Flag(F) { Flag = true; }
    ~TSkipWriteGuard() { Flag = false; }
};

} // namespace

void TFormTamrel::OnReceivedRegister(TKvProtocol *SenderKvProtocol, quint8 RegNum) {
    TSkipWriteGuard Guard(SkipWriteRegister);
    ++ReceivedRegisterCount[RegNum];
    if (!SenderKvProtocol) return;
    ShowReceivedValue(RegNum, SenderKvProtocol->Registers[RegNum]);
    DrawOftenReceived(RegNum);
}

void TFormTamrel::ShowReceivedValue(quint8 RegNum, const TKvRegister &Reg) {
    // Read by the map's type: a value that is no number of that type is unknown, and unknown
    // values are shown as such, never as a made-up number, charted or written back.
    std::optional<qint64> Value;
    if (RegNum != regFirmwareName && RegNum < RegisterCount)
        Value = RegisterNumber(Reg, TesterRegistersInfo()[RegNum].RegType);
    FrameTamrelChannel1->OnReceivedRegister(RegNum, Value);
    FrameTamrelChannel2->OnReceivedRegister(RegNum, Value);
    const int LowByte = Value ? int(*Value & 0xFF) : -1;
    switch (RegNum) {
    case regFirmwareName: {
        // 8-bit text; a device may pad it with zero bytes.
        QByteArray Raw = Reg.RawData;
        const qsizetype Nul = Raw.indexOf('\0');
        if (Nul >= 0) Raw.truncate(Nul);
        ButtonUpdateFirmware->setToolTip(QString::fromLatin1(Raw));
        ShowFirmwareName();
        break;
    }
    case regResistiveHead:
        // Unknown: no item selected.
        RadioGroupResistiveHead->SetItemIndex(LowByte);
        break;
    case regManualControl:
        // The button has no unknown state: an unknown value leaves it as it is.
        if (!Value) break;
        sSpeedButtonManualControl->setChecked(LowByte != 0);
        sSpeedButtonManualControlClick();
        break;
    case regHeadTemperature:
        LabelTemperature->setText(Value ? QLocale().toString(*Value / 10.0, 'f', 1) + QStringLiteral(" °C")
                                        : QStringLiteral("_"));
        break;
    case regPumpType:
        RadioGroupPumpType->SetItemIndex(LowByte);
        RadioGroupResistiveHead->setEnabled(LowByte == 0);
        break;
    case regManualInVolt:
        // Like the button: the unit stays as it is.
        if (!Value) break;
        NManualInPercent->setChecked(LowByte == 0);
        NManualInVolt->setChecked(LowByte == 1);
        NManualInVoltClick();
        break;
    default:
        break;
    }
    if (RegNum != regPosition1 && RegNum != regCurrent1) return;
    // No sample from an unknown reading; in "Draw often" it still counts as the answer and
    // the next is asked for (DrawOftenReceived, after this).
    if (!Value) return;
    if (RegNum == regPosition1)
        PositionVoltageSample(*Value);
    else
        PositionCurrentSample(*Value);
}

// ---- User settings ------------------------------------------------------------------------

void TFormTamrel::RadioGroupPumpTypeClick() {
    const int Item = RadioGroupPumpType->ItemIndex();
    RadioGroupResistiveHead->setEnabled(Item == 0);
    if (Item >= 0) WriteUserRegister(regPumpType, Item);
}

void TFormTamrel::RadioGroupResistiveHeadClick() {
    const int Item = RadioGroupResistiveHead->ItemIndex();
    if (Item >= 0) WriteUserRegister(regResistiveHead, Item);
}

void TFormTamrel::sSpeedButtonManualControlClick() {
    const bool Down = sSpeedButtonManualControl->isChecked();
    sSpeedButtonManualControl->setIcon(FManualControlImages[Down ? 1 : 0]);
    FrameTamrelChannel1->SetManualControl(Down, NManualInVolt->isChecked());
    // The second channel is always under manual control.
    FrameTamrelChannel2->SetManualControl(true, NManualInVolt->isChecked());
    WriteUserRegister(regManualControl, Down ? 1 : 0);
}

void TFormTamrel::NManualInVoltClick() {
    FrameTamrelChannel1->SetManualControl(sSpeedButtonManualControl->isChecked(), NManualInVolt->isChecked());
    FrameTamrelChannel2->SetManualControl(true, NManualInVolt->isChecked());
    WriteUserRegister(regManualInVolt, NManualInVolt->isChecked() ? 1 : 0);
}

void TFormTamrel::CheckBoxAutoStartStopClick() {
    const bool On = CheckBoxAutoStartStop->isChecked();
    DeviceLink->AutoStartStop = On;
    if (IDeviceLink *L = Link()) L->SetKeepConnection(On);
}
