#include "uUpdateServerClient.h"

#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>

const QByteArray TUpdateServerClient::AcceptHeader = QByteArrayLiteral("text/html, */*");
const QByteArray TUpdateServerClient::UserAgentHeader =
    QByteArrayLiteral("Mozilla/3.0 (compatible; Indy Library)");

namespace {

QString SizeText(qint64 bytes) {
    if (bytes >= 1024 * 1024 && bytes % (1024 * 1024) == 0)
        return QStringLiteral("%1 MiB").arg(bytes / (1024 * 1024));
    return QStringLiteral("%1 bytes").arg(bytes);
}

} // namespace

TUpdateServerClient::TUpdateServerClient(QObject *parent)
    : QObject(parent), FManager(new QNetworkAccessManager(this)) {
    FManager->setCookieJar(new QNetworkCookieJar(FManager));
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

bool TUpdateServerClient::Get(const QByteArray &encodedAddress, qint64 maxBytes, TOnProgress onProgress,
                              TOnFinished onFinished) {
    if (FReply) return false;
    FUrl = QUrl::fromEncoded(encodedAddress);
    FMaxBytes = maxBytes;
    FRedirects = 0;
    FOnProgress = std::move(onProgress);
    FOnFinished = std::move(onFinished);
    Send(FUrl);
    return true;
}

void TUpdateServerClient::Send(const QUrl &url) {
    FBody.clear();
    FAbortReason = arNone;
    QNetworkRequest request(url);
    request.setRawHeader("Accept", AcceptHeader);
    request.setHeader(QNetworkRequest::UserAgentHeader, UserAgentHeader);
    // Redirects are followed here, so that every one is checked the same way.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(TransferTimeoutMs);

    FReply = FManager->get(request);
    connect(FReply, &QNetworkReply::metaDataChanged, this, &TUpdateServerClient::CheckLength);
    connect(FReply, &QNetworkReply::readyRead, this, &TUpdateServerClient::ReadAvailable);
    connect(FReply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64) {
        if (FOnProgress && !IsRedirect()) FOnProgress(received);
    });
    connect(FReply, &QNetworkReply::finished, this, &TUpdateServerClient::Finish);
}

bool TUpdateServerClient::IsRedirect() const {
    const int status = FReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return (status == 301 || status == 302 || status == 303 || status == 307 || status == 308) &&
           FReply->attribute(QNetworkRequest::RedirectionTargetAttribute).isValid();
}

void TUpdateServerClient::CheckLength() {
    if (!FReply) return;
    const QVariant length = FReply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() > FMaxBytes) AbortFor(arTooLarge);
}

void TUpdateServerClient::ReadAvailable() {
    if (!FReply) return;
    const qint64 room = FMaxBytes - FBody.size();
    if (FReply->bytesAvailable() > room) {
        FBody += FReply->read(room);
        AbortFor(arTooLarge);
        return;
    }
    FBody += FReply->readAll();
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
    case arNone:
        break;
    }
    const QNetworkReply::NetworkError code = FReply->error();
    if (code == QNetworkReply::NoError) return {};
    if (code == QNetworkReply::OperationCanceledError || code == QNetworkReply::TimeoutError)
        return QStringLiteral("No answer from the update server within %1 s (%2)")
            .arg(QString::number(TransferTimeoutMs / 1000.0, 'g', 3), address);
    const int status = FReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 400) {
        const QString reason = FReply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        return QStringLiteral("The update server answered HTTP %1 %2 for %3")
            .arg(QString::number(status), reason, FReply->url().toDisplayString());
    }
    return QStringLiteral("Update server: %1").arg(FReply->errorString());
}

void TUpdateServerClient::Finish() {
    if (!FReply) return;
    if (FAbortReason == arNone && FReply->isOpen()) {
        // What is left after the last readyRead; the reply has ended, so nothing is aborted.
        const QByteArray rest = FReply->readAll();
        if (rest.size() > FMaxBytes - FBody.size()) {
            FBody += rest.left(FMaxBytes - FBody.size());
            FAbortReason = arTooLarge;
        } else {
            FBody += rest;
        }
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
    const QString error = ErrorText();
    QNetworkReply *done = FReply;
    FReply = nullptr;
    done->disconnect(this);
    done->deleteLater();
    // The owner may start the next request from inside its callback.
    TOnFinished onFinished = std::move(FOnFinished);
    FOnFinished = nullptr;
    FOnProgress = nullptr;
    const QByteArray body = std::exchange(FBody, QByteArray());
    if (onFinished) onFinished(body, error);
}
