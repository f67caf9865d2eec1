#include "uUpdateServerClient.h"

#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

const QByteArray TUpdateServerClient::AcceptHeader = QByteArrayLiteral("text/html, */*");
const QByteArray TUpdateServerClient::UserAgentHeader =
    QByteArrayLiteral("Mozilla/3.0 (compatible; Indy Library)");

namespace {

QString SizeText(qint64 bytes) {
    if (bytes >= 1024 * 1024 && bytes % (1024 * 1024) == 0)
        return QStringLiteral("%1 MiB").arg(bytes / (1024 * 1024));
    return QStringLiteral("%1 bytes").arg(bytes);
}

QString SecondsText(int ms) {
    return QString::number(ms / 1000.0, 'g', 3);
}

} // namespace

TUpdateServerClient::TUpdateServerClient(QObject *parent)
    : QObject(parent), FManager(new QNetworkAccessManager(this)), FDeadline(new QTimer(this)) {
    FManager->setCookieJar(new QNetworkCookieJar(FManager));
    FDeadline->setSingleShot(true);
    connect(FDeadline, &QTimer::timeout, this, [this] {
        if (FReply) AbortFor(arDeadline);
    });
}

TUpdateServerClient::~TUpdateServerClient() {
    // No callback may run into an owner that is going away.
    if (FReply) {
        FReply->disconnect(this);
        FReply->abort();
        delete FReply;
        FReply = nullptr;
    }
}

bool TUpdateServerClient::Get(const QByteArray &encodedAddress, qint64 maxBytes, int deadlineMs,
                              TOnProgress onProgress, TOnFinished onFinished) {
    if (FReply) return false;
    FUrl = QUrl::fromEncoded(encodedAddress);
    FMaxBytes = maxBytes;
    FDeadlineMs = deadlineMs;
    FRedirects = 0;
    FOnProgress = std::move(onProgress);
    FOnFinished = std::move(onFinished);
    // One deadline for the whole request, redirects included: a server that keeps the
    // transfer alive a byte at a time still cannot hold it for longer.
    FDeadline->start(deadlineMs);
    Send(FUrl);
    return true;
}

void TUpdateServerClient::Cancel() {
    if (FReply) AbortFor(arCancelled);
}

void TUpdateServerClient::Send(const QUrl &url) {
    FBody = QByteArray();
    FAnnounced = -1;
    FAbortReason = arNone;
    QNetworkRequest request(url);
    request.setRawHeader("Accept", AcceptHeader);
    request.setHeader(QNetworkRequest::UserAgentHeader, UserAgentHeader);
    // The body as the server sends it: a Content-Length then counts the bytes that arrive, and
    // nothing is inflated behind the size limit.
    request.setRawHeader("Accept-Encoding", "identity");
    // Redirects are followed here, so that every one is checked the same way.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(TransferTimeoutMs);

    FReply = FManager->get(request);
    // The connection is read no further ahead than this: an endless answer waits in the
    // network instead of piling up in memory before it is refused.
    FReply->setReadBufferSize(ReadBufferBytes);
    connect(FReply, &QNetworkReply::metaDataChanged, this, &TUpdateServerClient::CheckLength);
    connect(FReply, &QNetworkReply::readyRead, this, &TUpdateServerClient::TakeAvailable);
    connect(FReply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64 total) {
        if (FOnProgress && FReply && !IsRedirect()) FOnProgress(received, total);
    });
    connect(FReply, &QNetworkReply::finished, this, &TUpdateServerClient::Finish);
}

bool TUpdateServerClient::IsRedirect() const {
    const int status = FReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return (status == 301 || status == 302 || status == 303 || status == 307 || status == 308) &&
           FReply->attribute(QNetworkRequest::RedirectionTargetAttribute).isValid();
}

void TUpdateServerClient::CheckLength() {
    if (!FReply || FAbortReason != arNone) return;
    const QVariant length = FReply->header(QNetworkRequest::ContentLengthHeader);
    FAnnounced = length.isValid() ? length.toLongLong() : -1;
    if (FAnnounced > FMaxBytes) return AbortFor(arTooLarge);
    if (FAnnounced > 0) FBody.reserve(FAnnounced);
}

void TUpdateServerClient::TakeAvailable() {
    if (!FReply || FAbortReason != arNone) return;
    const qint64 available = FReply->bytesAvailable();
    if (available <= 0) return;
    // Past the limit: nothing more is taken, and the connection goes at once.
    if (available > FMaxBytes - FBody.size()) return AbortFor(arTooLarge);
    const qsizetype had = FBody.size();
    FBody.resize(had + available);
    const qint64 got = FReply->read(FBody.data() + had, available);
    FBody.resize(had + qMax<qint64>(got, 0));
}

void TUpdateServerClient::AbortFor(TAbortReason reason) {
    if (FAbortReason == arNone) FAbortReason = reason;
    FReply->abort(); // finished follows
}

QString TUpdateServerClient::ErrorText() const {
    const QString address = FUrl.toDisplayString();
    switch (FAbortReason) {
    case arTooLarge:
        return QStringLiteral("The update server's answer is larger than %1 and was not accepted (%2)")
            .arg(SizeText(FMaxBytes), address);
    case arOtherScheme:
        return QStringLiteral(
                   "The update server redirected %1 to %2, another protocol; the redirect was not followed")
            .arg(FReply->url().toDisplayString(), FRefusedTarget.toDisplayString());
    case arTooManyRedirects:
        return QStringLiteral("The update server redirected %1 more than %2 times; given up")
            .arg(address)
            .arg(MaxRedirects);
    case arDeadline:
        return QStringLiteral("The update server did not finish its answer within %1 s; given up (%2)")
            .arg(SecondsText(FDeadlineMs), address);
    case arCancelled:
        return QStringLiteral("Cancelled (%1)").arg(address);
    case arNone:
        break;
    }
    const QNetworkReply::NetworkError code = FReply->error();
    if (code == QNetworkReply::NoError) return CutShortText();
    if (code == QNetworkReply::OperationCanceledError || code == QNetworkReply::TimeoutError)
        return QStringLiteral("No answer from the update server within %1 s (%2)")
            .arg(SecondsText(TransferTimeoutMs), address);
    const int status = FReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 400) {
        const QString reason = FReply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        return QStringLiteral("The update server answered HTTP %1 %2 for %3")
            .arg(QString::number(status), reason, FReply->url().toDisplayString());
    }
    if (code == QNetworkReply::RemoteHostClosedError && FAnnounced >= 0) return BrokeOffText();
    return QStringLiteral("Update server: %1").arg(FReply->errorString());
}

QString TUpdateServerClient::CutShortText() const {
    return FAnnounced < 0 || FBody.size() == FAnnounced ? QString() : BrokeOffText();
}

QString TUpdateServerClient::BrokeOffText() const {
    return QStringLiteral("The update server's answer broke off after %1 of the %2 bytes it announced (%3)")
        .arg(FBody.size())
        .arg(FAnnounced)
        .arg(FUrl.toDisplayString());
}

void TUpdateServerClient::Finish() {
    if (!FReply) return;
    if (FAbortReason == arNone && FReply->isOpen()) {
        // What is left after the last readyRead; the reply has ended, so nothing is aborted.
        if (FReply->bytesAvailable() > FMaxBytes - FBody.size())
            FAbortReason = arTooLarge;
        else
            TakeAvailable();
    }
    if (FAbortReason == arNone && FReply->error() == QNetworkReply::NoError && IsRedirect()) {
        const QUrl target =
            FReply->url().resolved(FReply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl());
        // A redirect may lead elsewhere on the same scheme only: an http request must not
        // end up on another protocol, nor an https request fall back to plain http.
        if (target.scheme().compare(FUrl.scheme(), Qt::CaseInsensitive) != 0) {
            FRefusedTarget = target;
            FAbortReason = arOtherScheme;
        } else if (FRedirects >= MaxRedirects) {
            FAbortReason = arTooManyRedirects;
        } else {
            ++FRedirects;
            QNetworkReply *redirected = FReply;
            redirected->disconnect(this);
            redirected->deleteLater();
            Send(target);
            return;
        }
    }
    FDeadline->stop();
    TUpdateServerAnswer answer;
    answer.Error = ErrorText();
    answer.Cancelled = FAbortReason == arCancelled;
    // Only a Content-Length that the body matched says the answer is whole. A chunked body
    // would say so by its last chunk, but the network library ends a chunked answer that
    // breaks off with the connection now and then as if it were complete, so it tells nothing.
    answer.LengthStated = answer.Error.isEmpty() && FAnnounced >= 0;
    QNetworkReply *done = FReply;
    FReply = nullptr;
    done->disconnect(this);
    done->deleteLater();
    // The owner may start the next request from inside its callback.
    TOnFinished onFinished = std::move(FOnFinished);
    FOnFinished = nullptr;
    FOnProgress = nullptr;
    answer.Body = std::exchange(FBody, QByteArray());
    if (onFinished) onFinished(answer);
}
