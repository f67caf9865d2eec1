#pragma once
// One firmware update through the tester's boot loader, without windows: the rules the
// firmware window and the command line program both follow. The start request and its
// repeats, the boot loader's answer with the identification, size and page size checks, the
// pages with a time-out each and a few repeats of a page whose status does not come, the
// progress, and one outcome at the end. Every wait is bounded: an update always ends.
//
// It runs on the thread of the engine's callbacks (the GUI thread in the program, the main
// thread in the command line program) and asks for the engine each time it needs it, so a
// connection that closes under way leaves it nothing to write to.
#include "uKvProtocol.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

class QTimer;

enum TFirmwareOutcome : quint8 {
    foDone,        // every page acknowledged
    foNotSuitable, // the boot loader's identification is not the one the image requires
    foTooLarge,    // the image is not smaller than the flash
    foNoPageSize,  // the boot loader reports a page size of 0: no page could be sent
    foPageRefused, // a page status other than 0
    foStalled,     // a page's status did not come, also after its repeats
    foNoLoader,    // no answer to the start requests
};

struct TFirmwareResult {
    TFirmwareOutcome Outcome = foDone;
    QString LoaderIdent;   // what the boot loader reported
    QString ExpectedIdent; // what the image requires
    quint16 FlashSizeKiB = 0;
    quint16 PageSize = 0;
    quint8 Status = 0;    // of a refused page
    quint32 Page = 0;     // the refused or unanswered page
    quint32 Position = 0; // bytes acknowledged before it
};

class TFirmwareUpdate : public QObject {
    Q_OBJECT
public:
    // Start requests repeated this often, this far apart, for a boot loader slow to wake.
    static constexpr int StartRepeats = 5;
    static constexpr int StartRepeatMs = 50;
    // A page whose status has not come within the answer time-out is sent again this often
    // before the update is given up.
    static constexpr int PageRepeats = 3;
    static constexpr int DefaultAnswerTimeOutMs = 1000;

    explicit TFirmwareUpdate(QObject *parent = nullptr);
    ~TFirmwareUpdate() override;

    // The engine of the connection, or null when there is none.
    std::function<TKvProtocol *()> Protocol;
    // The boot loader accepted the image; the first page goes out after this.
    std::function<void(const TFirmwareResult &loader)> OnAccepted;
    // After each accepted page: bytes acknowledged (may pass Size on a short last page).
    std::function<void(quint32 position, quint32 size)> OnProgress;
    // Once per Start, with how it ended (not after Stop).
    std::function<void(const TFirmwareResult &result)> OnFinished;

    // How long the boot loader's answer to the last start request, and each page's status,
    // is waited for.
    int AnswerTimeOutMs = DefaultAnswerTimeOutMs;
    // Selects the start request that carries the image size.
    bool Command53 = false;

    // Sends the start request and begins the repeats. checkIdent false writes whatever the
    // boot loader reports. Nothing happens without an engine. The repeat count runs over the
    // object's life: its first update repeats the request StartRepeats times, every later one
    // once (a boot loader woken once answers at once).
    void Start(const QByteArray &image, const QString &expectedIdent, bool checkIdent = true);
    // Ends an update under way without an outcome (the connection is gone, or the user
    // stopped it): no further request.
    void Stop();
    // From Start until an outcome or Stop.
    bool Busy() const { return FState != sIdle; }
    bool Writing() const { return FState == sWriting; }
    int TryAgainCount() const { return FTryAgainCount; }

    // Repeats the start request (the timer's handler).
    void TryAgain();

    // The timer of the start request's repeats (50 ms).
    QTimer *const TimerTryAgain;

private:
    enum TState { sIdle, sStarting, sWriting };
    void SendStart(TKvProtocol *protocol);
    void LoaderAnswered(quint16 flashSizeKiB, quint16 pageSize, const QByteArray &ident);
    void PageProgress(quint8 status, quint32 position, quint32 size);
    void AnswerTimedOut();
    void Finish(TFirmwareResult result);

    QTimer *const FTimerAnswer;
    TState FState = sIdle;
    QByteArray FImage;
    QString FExpectedIdent;
    bool FCheckIdent = true;
    int FTryAgainCount = 0;
    int FPageRepeatsLeft = 0;
    TFirmwareResult FLoader;
    quint32 FPosition = 0;
    // Each Start is a new update: engine callbacks of an earlier one are dropped.
    quint32 FGeneration = 0;
};
