#include "uFirmwareUpdate.h"

#include <QPointer>
#include <QTimer>

TFirmwareUpdate::TFirmwareUpdate(QObject *parent)
    : QObject(parent), TimerTryAgain(new QTimer(this)), FTimerAnswer(new QTimer(this)) {
    TimerTryAgain->setObjectName(QStringLiteral("TimerTryAgain"));
    TimerTryAgain->setInterval(StartRepeatMs);
    connect(TimerTryAgain, &QTimer::timeout, this, [this] { TryAgain(); });
    FTimerAnswer->setSingleShot(true);
    connect(FTimerAnswer, &QTimer::timeout, this, [this] { AnswerTimedOut(); });
}

TFirmwareUpdate::~TFirmwareUpdate() {
    Stop();
}

void TFirmwareUpdate::Start(const QByteArray &image, const QString &expectedIdent, bool checkIdent) {
    TKvProtocol *protocol = Protocol ? Protocol() : nullptr;
    if (!protocol) return;
    ++FGeneration;
    FImage = image;
    FExpectedIdent = expectedIdent;
    FCheckIdent = checkIdent;
    FPosition = 0;
    FState = sStarting;
    SendStart(protocol);
    TimerTryAgain->start();
}

void TFirmwareUpdate::Stop() {
    ++FGeneration;
    FState = sIdle;
    TimerTryAgain->stop();
    FTimerAnswer->stop();
}

void TFirmwareUpdate::SendStart(TKvProtocol *protocol) {
    // The engine keeps the handler for its life, which may outlast this object and this update.
    const QPointer<TFirmwareUpdate> self(this);
    const quint32 generation = FGeneration;
    protocol->FirmwareStart(
        [self, generation](quint16, quint16 flashSize, quint16 pageSize, const QByteArray &ident) {
            if (self && self->FGeneration == generation) self->LoaderAnswered(flashSize, pageSize, ident);
        },
        Command53, quint32(FImage.size()));
    // The boot loader's answer is waited for from the last request on.
    FTimerAnswer->start(AnswerTimeOutMs);
}

void TFirmwareUpdate::TryAgain() {
    ++FTryAgainCount;
    if (FTryAgainCount >= StartRepeats) TimerTryAgain->stop();
    TKvProtocol *protocol = FState == sStarting && Protocol ? Protocol() : nullptr;
    if (!protocol) {
        TimerTryAgain->stop(); // nobody to ask
        return;
    }
    SendStart(protocol);
}

void TFirmwareUpdate::LoaderAnswered(quint16 flashSizeKiB, quint16 pageSize, const QByteArray &ident) {
    // An answer to a repeated request while pages go restarts them from the first page; one
    // after the update has ended starts nothing.
    if (FState == sIdle) return;
    TimerTryAgain->stop();
    FTimerAnswer->stop();
    FLoader = {};
    FLoader.LoaderIdent = QString::fromLatin1(ident);
    FLoader.ExpectedIdent = FExpectedIdent;
    FLoader.FlashSizeKiB = flashSizeKiB;
    FLoader.PageSize = pageSize;
    if (FCheckIdent && FLoader.LoaderIdent.toLower() != FExpectedIdent.toLower()) {
        FLoader.Outcome = foNotSuitable;
        return Finish(FLoader);
    }
    // The line carries a 16-bit page index: an image of more pages cannot be written either.
    if (qint64(FImage.size()) >= qint64(flashSizeKiB) * 1024 ||
        (pageSize != 0 && qint64(FImage.size()) > qint64(65536) * pageSize)) {
        FLoader.Outcome = foTooLarge;
        return Finish(FLoader);
    }
    // Without a page size the engine sends no page and no status would ever come.
    if (pageSize == 0 && !FImage.isEmpty()) {
        FLoader.Outcome = foNoPageSize;
        return Finish(FLoader);
    }
    TKvProtocol *protocol = Protocol ? Protocol() : nullptr;
    if (!protocol) return Stop();
    FState = sWriting;
    FPosition = 0;
    FPageRepeatsLeft = PageRepeats;
    const quint32 generation = FGeneration;
    if (OnAccepted) OnAccepted(FLoader);
    if (FGeneration != generation) return; // the handler stopped the update
    const QPointer<TFirmwareUpdate> self(this);
    protocol->FirmwareWrite(FImage, [self, generation](quint8 status, quint32 position, quint32 size) {
        if (self && self->FGeneration == generation) self->PageProgress(status, position, size);
    });
    if (!self || FGeneration != generation || FState != sWriting) return;
    // An empty image has no page, so no status comes: there is nothing to wait for, and
    // nothing was written to call a success.
    if (FImage.isEmpty())
        Stop();
    else
        FTimerAnswer->start(AnswerTimeOutMs);
}

void TFirmwareUpdate::PageProgress(quint8 status, quint32 position, quint32 size) {
    if (FState != sWriting) return;
    if (status != 0) {
        TFirmwareResult result = FLoader;
        result.Outcome = foPageRefused;
        result.Status = status;
        result.Position = position;
        result.Page = FLoader.PageSize ? position / FLoader.PageSize : 0;
        return Finish(result);
    }
    FPosition = position;
    FPageRepeatsLeft = PageRepeats;
    const bool done = position >= size;
    if (!done) FTimerAnswer->start(AnswerTimeOutMs);
    const quint32 generation = FGeneration;
    if (OnProgress) OnProgress(position, size);
    if (done && FGeneration == generation) {
        TFirmwareResult result = FLoader;
        result.Position = position;
        Finish(result);
    }
}

void TFirmwareUpdate::AnswerTimedOut() {
    if (FState == sStarting) {
        if (TimerTryAgain->isActive()) return; // repeats still to come; each restarts the wait
        TFirmwareResult result;
        result.ExpectedIdent = FExpectedIdent;
        result.Outcome = foNoLoader;
        return Finish(result);
    }
    if (FState != sWriting) return;
    TKvProtocol *protocol = Protocol ? Protocol() : nullptr;
    if (!protocol) return Stop();
    if (FPageRepeatsLeft > 0) {
        --FPageRepeatsLeft;
        protocol->ResendFirmwarePage();
        FTimerAnswer->start(AnswerTimeOutMs);
        return;
    }
    TFirmwareResult result = FLoader;
    result.Outcome = foStalled;
    result.Position = FPosition;
    result.Page = FLoader.PageSize ? FPosition / FLoader.PageSize : 0;
    Finish(result);
}

void TFirmwareUpdate::Finish(TFirmwareResult result) {
    Stop();
    if (OnFinished) OnFinished(result);
}
