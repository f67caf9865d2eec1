// The firmware window as the face of its update (TFirmwareUpdate): Start, what the update
// reports (the boot loader's refusals, page progress with speed and time left, a tester that
// stopped answering) in the window's texts, and the disconnect that lets the tester start the
// new firmware.
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

QString Kilobytes(double bytes) {
    return QString::number(bytes / 1024.0, 'f', 1);
}

QString Duration(qint64 seconds, bool english) {
    if (seconds < 60)
        return QString::number(seconds) + (english ? QStringLiteral(" s") : QStringLiteral(" с"));
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

TKvProtocol *TFormFirmwareUpdate::ConnectedProtocol() const {
    if (!DeviceLink || !DeviceLink->IsConnected()) return nullptr;
    return DeviceLink->KvProtocol();
}

void TFormFirmwareUpdate::ButtonStartUpdateClick() {
    if (!DeviceLink || !DeviceLink->IsConnected()) return;
    // No keep-alive and no loss detection while the boot loader works.
    DeviceLink->SetKeepConnection(false);
    if (SetUpdateRegisters) SetUpdateRegisters(false);
    if (!ConnectedProtocol()) return;
    LabelTransferRate->clear();
    FirmwareUpdate->Command53 = Command53;
    FirmwareUpdate->Start(FirmwareBuffer, EditLoaderIdentStr->text());
}

void TFormFirmwareUpdate::TimerTryAgainTimer() {
    FirmwareUpdate->TryAgain();
}

void TFormFirmwareUpdate::UpdateAccepted() {
    HoldProgressRedraw(false);
    // A range of 0..0 would show a busy bar; an empty image shows an empty one instead.
    ProgressBar1->setMaximum(qMax<int>(1, int(FirmwareBuffer.size())));
    ProgressBar1->setValue(0);
    FRate.Start(KvPlatform::TickCount());
    FRateShownAt = KvPlatform::TickCount();
    LabelTransferRate->clear();
}

void TFormFirmwareUpdate::UpdateFinished(const TFirmwareResult &result) {
    HoldProgressRedraw(false);
    switch (result.Outcome) {
    case foDone:
        return; // the last page's progress has said so
    case foNotSuitable:
        EditMessage->setText(NotSuitableText + QStringLiteral(" (") + result.LoaderIdent +
                             QStringLiteral(" <> ") + result.ExpectedIdent + QStringLiteral(")"));
        return;
    case foTooLarge:
        EditMessage->setText(QStringLiteral("Не соотв. размер"));
        return;
    case foPageRefused:
        OnFirmwareProgress(result.Status, result.Position, quint32(FirmwareBuffer.size()));
        return;
    case foNoPageSize:
        ShowMessage([](bool english) {
            return english ? QStringLiteral("The boot loader reports a page size of 0; nothing was written")
                           : QStringLiteral("Загрузчик сообщил размер страницы 0; прошивка не записана");
        });
        return;
    case foStalled: {
        LabelTransferRate->clear();
        const quint32 page = result.Page;
        ShowMessage([page](bool english) {
            return english ? QStringLiteral("The tester stopped answering at page %1; press Start to write "
                                            "the image anew")
                                 .arg(page)
                           : QStringLiteral("Тестер перестал отвечать на странице %1; нажмите «Начать "
                                            "обновление», чтобы записать прошивку заново")
                                 .arg(page);
        });
        return;
    }
    case foNoLoader:
        ShowMessage([](bool english) {
            return english ? QStringLiteral("The boot loader did not answer; press Start to try again")
                           : QStringLiteral("Загрузчик не ответил; нажмите «Начать обновление», чтобы "
                                            "попробовать снова");
        });
        return;
    }
}

void TFormFirmwareUpdate::OnFirmwareProgress(quint8 error, quint32 currentPos, quint32 size) {
    if (error != 0) {
        HoldProgressRedraw(false);
        EditMessage->setText(QStringLiteral("Ошибка ") + QString::number(error));
        LabelTransferRate->clear();
        return;
    }
    const bool done = currentPos >= size;
    // A redraw per page would take the GUI thread every 12 ms: the first position of a period
    // holds the redraws, the period's end draws the latest. The end shows at once.
    if (done)
        HoldProgressRedraw(false);
    else if (!TimerRedrawProgress->isActive()) {
        HoldProgressRedraw(true);
        TimerRedrawProgress->start();
    }
    // The last page may be short, so the position passes the image's end; the bar stops at full.
    ProgressBar1->setValue(int(qMin<qint64>(currentPos, ProgressBar1->maximum())));
    EditMessage->setText(QString::number(currentPos) + QStringLiteral("/") + QString::number(size));
    FRate.Sample(KvPlatform::TickCount(), qMin(currentPos, size));
    ShowTransferRate(size, done);
    if (done) {
        EditMessage->setText(QStringLiteral("Прошивка завершена успешно"));
        if (OnUpdated) OnUpdated();
        TimerDisconnect->start();
    }
}

void TFormFirmwareUpdate::ShowTransferRate(quint32 size, bool done) {
    const quint32 now = KvPlatform::TickCount();
    if (!done && now - FRateShownAt < RateShowEveryMs) return;
    FRateShownAt = now;
    const bool en = FEnglish;
    if (done) {
        // What the whole transfer took, so that the next one can be judged by it.
        const double seconds = FRate.ElapsedMs() / 1000.0;
        const QString total = Kilobytes(size) + (en ? QStringLiteral(" KB in ") : QStringLiteral(" КБ за ")) +
                              QString::number(seconds, 'f', 1) +
                              (en ? QStringLiteral(" s") : QStringLiteral(" с"));
        const QString speed = seconds > 0 ? QStringLiteral(" (") + Kilobytes(size / seconds) +
                                                (en ? QStringLiteral(" KB/s)") : QStringLiteral(" КБ/с)"))
                                          : QString();
        LabelTransferRate->setText(total + speed);
        return;
    }
    const double speed = FRate.BytesPerSecond();
    const qint64 left = FRate.SecondsLeft(size);
    if (speed <= 0 || left < 0) return; // not measured yet
    LabelTransferRate->setText(Kilobytes(speed) +
                               (en ? QStringLiteral(" KB/s, ") : QStringLiteral(" КБ/с, ")) +
                               (en ? Duration(left, en) + QStringLiteral(" left")
                                   : QStringLiteral("осталось ") + Duration(left, en)));
}

void TFormFirmwareUpdate::HoldProgressRedraw(bool hold) {
    if (!hold) TimerRedrawProgress->stop();
    // Enabling again repaints with what the widgets hold by then.
    ProgressBar1->setUpdatesEnabled(!hold);
    EditMessage->setUpdatesEnabled(!hold);
}

void TFormFirmwareUpdate::DeviceLinkClosed() {
    if (!FirmwareUpdate->Busy()) return;
    FirmwareUpdate->Stop();
    // The last position and the speed would read as a transfer still under way.
    HoldProgressRedraw(false);
    LabelTransferRate->clear();
    ShowMessage([](bool english) {
        return english ? QStringLiteral("Update interrupted: no connection to the device")
                       : QStringLiteral("Обновление прервано: нет связи с устройством");
    });
}

void TFormFirmwareUpdate::TimerDisconnectTimer() {
    TimerDisconnect->stop();
    if (DeviceLink) DeviceLink->Disconnect();
}
