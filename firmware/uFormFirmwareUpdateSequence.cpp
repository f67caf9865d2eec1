// The update sequence of the firmware window: the start request and its repeats, the boot
// loader's answer with the identification and size checks, page progress with speed and
// time left, and the disconnect that lets the tester start the new firmware.
#include "uFormFirmwareUpdate.h"
#include "uKvApplication.h"
#include "uPlatformTick.h"

#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QProgressBar>
#include <QTimer>

namespace {

// The speed and time-left label is rewritten at most this often while pages go out.
constexpr quint32 RateShowEveryMs = 250;

QString Kilobytes(double Bytes) {
    return QString::number(Bytes / 1024.0, 'f', 1);
}

QString Duration(qint64 Seconds, bool English) {
    if (Seconds < 60)
        return QString::number(Seconds) + (English ? QStringLiteral(" s") : QStringLiteral(" с"));
    return QStringLiteral("%1:%2").arg(Seconds / 60).arg(Seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

TKvProtocol *TFormFirmwareUpdate::ConnectedProtocol() const {
    if (!DeviceLink || !DeviceLink->IsConnected()) return nullptr;
    return DeviceLink->KvProtocol();
}

void TFormFirmwareUpdate::SendFirmwareStart(TKvProtocol *Protocol) {
    // The engine keeps the handler for its life, which may outlast this window.
    const QPointer<TFormFirmwareUpdate> Self(this);
    Protocol->FirmwareStart(
        [Self](quint16 DeviceId, quint16 FlashSize, quint16 FlashPageSize, const QByteArray &Ident) {
            TKvApplication::RunGuarded([&] {
                if (Self) Self->OnFirmwareStartAck(DeviceId, FlashSize, FlashPageSize, Ident);
            });
        },
        Command53, quint32(FirmwareBuffer.size()));
}

void TFormFirmwareUpdate::ButtonStartUpdateClick() {
    if (!DeviceLink || !DeviceLink->IsConnected()) return;
    // No keep-alive and no loss detection while the boot loader works.
    DeviceLink->SetKeepConnection(false);
    if (SetUpdateRegisters) SetUpdateRegisters(false);
    TKvProtocol *Protocol = ConnectedProtocol();
    if (!Protocol) return;
    LabelTransferRate->clear();
    SendFirmwareStart(Protocol);
    TimerTryAgain->start();
}

void TFormFirmwareUpdate::TimerTryAgainTimer() {
    ++FTryAgainCount;
    if (FTryAgainCount >= 5) TimerTryAgain->stop();
    TKvProtocol *Protocol = ConnectedProtocol();
    if (!Protocol) {
        TimerTryAgain->stop(); // the link is gone: nobody to ask
        return;
    }
    SendFirmwareStart(Protocol);
}

void TFormFirmwareUpdate::OnFirmwareStartAck(quint16, quint16 FlashSize, quint16,
                                             const QByteArray &ReceivedLoaderIdentStr) {
    TimerTryAgain->stop();
    HoldProgressRedraw(false);
    const QString Received = QString::fromLatin1(ReceivedLoaderIdentStr);
    const QString Expected = EditLoaderIdentStr->text();
    if (Received.toLower() != Expected.toLower()) {
        EditMessage->setText(NotSuitableText + QStringLiteral(" (") + Received + QStringLiteral(" <> ") +
                             Expected + QStringLiteral(")"));
        return;
    }
    if (qint64(FirmwareBuffer.size()) >= qint64(FlashSize) * 1024) {
        EditMessage->setText(QStringLiteral("Не соотв. размер"));
        return;
    }
    TKvProtocol *Protocol = ConnectedProtocol();
    if (!Protocol) return;
    // A range of 0..0 would show a busy bar; an empty image shows an empty one instead.
    ProgressBar1->setMaximum(qMax<int>(1, int(FirmwareBuffer.size())));
    ProgressBar1->setValue(0);
    FRate.Start(KvPlatform::TickCount());
    FRateShownAt = KvPlatform::TickCount();
    LabelTransferRate->clear();
    const QPointer<TFormFirmwareUpdate> Self(this);
    Protocol->FirmwareWrite(FirmwareBuffer, [Self](quint8 Error, quint32 CurrentPos, quint32 Size) {
        TKvApplication::RunGuarded([&] {
            if (Self) Self->OnFirmwareProgress(Error, CurrentPos, Size);
        });
    });
}

void TFormFirmwareUpdate::OnFirmwareProgress(quint8 Error, quint32 CurrentPos, quint32 Size) {
    if (Error != 0) {
        HoldProgressRedraw(false);
        EditMessage->setText(QStringLiteral("Ошибка ") + QString::number(Error));
        LabelTransferRate->clear();
        return;
    }
    const bool Done = CurrentPos >= Size;
    // A redraw per page would take the GUI thread every 12 ms: the first position of a period
    // holds the redraws, the period's end draws the latest. The end shows at once.
    if (Done)
        HoldProgressRedraw(false);
    else if (!TimerRedrawProgress->isActive()) {
        HoldProgressRedraw(true);
        TimerRedrawProgress->start();
    }
    // The last page may be short, so the position passes the image's end; the bar stops at full.
    ProgressBar1->setValue(int(qMin<qint64>(CurrentPos, ProgressBar1->maximum())));
    EditMessage->setText(QString::number(CurrentPos) + QStringLiteral("/") + QString::number(Size));
    FRate.Sample(KvPlatform::TickCount(), qMin(CurrentPos, Size));
    ShowTransferRate(Size, Done);
    if (Done) {
        EditMessage->setText(QStringLiteral("Прошивка завершена успешно"));
        TimerDisconnect->start();
    }
}

void TFormFirmwareUpdate::ShowTransferRate(quint32 Size, bool Done) {
    const quint32 Now = KvPlatform::TickCount();
    if (!Done && Now - FRateShownAt < RateShowEveryMs) return;
    FRateShownAt = Now;
    const bool En = FEnglish;
    if (Done) {
        // What the whole transfer took, so that the next one can be judged by it.
        const double Seconds = FRate.ElapsedMs() / 1000.0;
        const QString Total = Kilobytes(Size) + (En ? QStringLiteral(" KB in ") : QStringLiteral(" КБ за ")) +
                              QString::number(Seconds, 'f', 1) +
                              (En ? QStringLiteral(" s") : QStringLiteral(" с"));
        const QString Speed = Seconds > 0 ? QStringLiteral(" (") + Kilobytes(Size / Seconds) +
                                                (En ? QStringLiteral(" KB/s)") : QStringLiteral(" КБ/с)"))
                                          : QString();
        LabelTransferRate->setText(Total + Speed);
        return;
    }
    const double Speed = FRate.BytesPerSecond();
    const qint64 Left = FRate.SecondsLeft(Size);
    if (Speed <= 0 || Left < 0) return; // not measured yet
    LabelTransferRate->setText(Kilobytes(Speed) +
                               (En ? QStringLiteral(" KB/s, ") : QStringLiteral(" КБ/с, ")) +
                               (En ? Duration(Left, En) + QStringLiteral(" left")
                                   : QStringLiteral("осталось ") + Duration(Left, En)));
}

void TFormFirmwareUpdate::HoldProgressRedraw(bool Hold) {
    if (!Hold) TimerRedrawProgress->stop();
    // Enabling again repaints with what the widgets hold by then.
    ProgressBar1->setUpdatesEnabled(!Hold);
    EditMessage->setUpdatesEnabled(!Hold);
}

void TFormFirmwareUpdate::TimerDisconnectTimer() {
    TimerDisconnect->stop();
    if (DeviceLink) DeviceLink->Disconnect();
}
