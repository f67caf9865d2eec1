#pragma once
// The HTTP client of the internet update frame: one GET at a time to the update server,
// answered later through a callback so that the GUI thread never waits for the network.
// Every request carries the update server's fixed headers; redirects are followed within
// the same scheme only; an answer larger than its limit, or a transfer that stays silent
// for the transfer time-out, ends with an error instead of waiting or filling memory.
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

class QNetworkAccessManager;
class QNetworkReply;

class TUpdateServerClient : public QObject {
    Q_OBJECT
public:
    explicit TUpdateServerClient(QObject *parent = nullptr);
    ~TUpdateServerClient() override;

    // A request during which no byte moves for this long fails.
    int TransferTimeoutMs = 30000;
    int MaxRedirects = 10;

    using TOnProgress = std::function<void(qint64 bytesSoFar)>;
    // Error is empty on success. Body holds the answer (on failure, what had arrived).
    using TOnFinished = std::function<void(const QByteArray &body, const QString &error)>;

    // Starts a GET of EncodedAddress, whose answer may have at most MaxBytes bytes.
    // OnFinished runs once, from the event loop, never from inside Get. Returns false (and
    // starts nothing) while another request runs.
    bool Get(const QByteArray &encodedAddress, qint64 maxBytes, TOnProgress onProgress,
             TOnFinished onFinished);
    bool IsBusy() const { return FReply != nullptr; }

    // The request's fixed headers.
    static const QByteArray AcceptHeader;
    static const QByteArray UserAgentHeader;

private:
    enum TAbortReason { arNone, arTooLarge, arOtherScheme, arTooManyRedirects };
    void Send(const QUrl &url);
    bool IsRedirect() const;
    void ReadAvailable();
    void CheckLength();
    void Finish();
    void AbortFor(TAbortReason reason);
    QString ErrorText() const;

    QNetworkAccessManager *FManager = nullptr;
    QNetworkReply *FReply = nullptr;
    QUrl FUrl;
    QByteArray FBody;
    qint64 FMaxBytes = 0;
    TAbortReason FAbortReason = arNone;
    QUrl FRefusedTarget;
    int FRedirects = 0;
    TOnProgress FOnProgress;
    TOnFinished FOnFinished;
};
