#pragma once
// The HTTP client of the internet update frame: one GET at a time to the update server,
// answered later through a callback so that the GUI thread never waits for the network.
// Every request carries the update server's fixed headers; redirects are followed within
// the same scheme only. A request ends with an error instead of waiting or filling memory
// when its answer grows past its limit (the bytes are taken off the connection a bounded
// piece at a time, so no more than the limit and one piece are ever held), when no byte
// moves for the transfer time-out, or when the whole request outlasts its deadline. Cancel
// ends it at once.
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// How a request ended.
struct TUpdateServerAnswer {
    // The answer (on failure, what had arrived).
    QByteArray Body;
    // Empty on success.
    QString Error;
    // Ended by Cancel; Error then says so, and nothing needs to be shown.
    bool Cancelled = false;
    // The server said how long the answer is, by a Content-Length, and that much arrived.
    // Without it (no length, or a chunked body) a connection that broke off can look just
    // like the end of the answer, so the body may be cut short.
    bool LengthStated = false;
};

class TUpdateServerClient : public QObject {
    Q_OBJECT
public:
    explicit TUpdateServerClient(QObject *parent = nullptr);
    ~TUpdateServerClient() override;

    // A request during which no byte moves for this long fails.
    int TransferTimeoutMs = 30000;
    int MaxRedirects = 10;
    // The answer is taken off the connection in pieces of at most this size; the connection
    // waits while a piece is unread, so a server cannot push more than this ahead.
    qint64 ReadBufferBytes = 256 * 1024;

    // Bytes of the answer so far, and its announced length (-1 when the server gave none).
    using TOnProgress = std::function<void(qint64 bytesSoFar, qint64 bytesTotal)>;
    using TOnFinished = std::function<void(const TUpdateServerAnswer &answer)>;

    // Starts a GET of EncodedAddress, whose answer may have at most MaxBytes bytes and which
    // must be over, redirects included, within DeadlineMs. OnFinished runs once, from the
    // event loop or from Cancel, never from inside Get. Returns false (and starts nothing)
    // while another request runs.
    bool Get(const QByteArray &encodedAddress, qint64 maxBytes, int deadlineMs, TOnProgress onProgress,
             TOnFinished onFinished);
    bool IsBusy() const { return FReply != nullptr; }
    // Ends the running request at once (OnFinished runs, with Cancelled); nothing when idle.
    void Cancel();

    // The request's fixed headers.
    static const QByteArray AcceptHeader;
    static const QByteArray UserAgentHeader;

private:
    enum TAbortReason { arNone, arTooLarge, arOtherScheme, arTooManyRedirects, arDeadline, arCancelled };
    void Send(const QUrl &url);
    bool IsRedirect() const;
    void TakeAvailable();
    void CheckLength();
    void Finish();
    void AbortFor(TAbortReason reason);
    QString ErrorText() const;
    // A body that did not reach its Content-Length; empty when it did or there was none.
    QString CutShortText() const;
    QString BrokeOffText() const;

    QNetworkAccessManager *FManager = nullptr;
    QNetworkReply *FReply = nullptr;
    QTimer *FDeadline = nullptr;
    QUrl FUrl;
    QByteArray FBody;
    qint64 FMaxBytes = 0;
    int FDeadlineMs = 0;
    qint64 FAnnounced = -1; // the answer's Content-Length, -1 when none
    TAbortReason FAbortReason = arNone;
    QUrl FRefusedTarget;
    int FRedirects = 0;
    TOnProgress FOnProgress;
    TOnFinished FOnFinished;
};
