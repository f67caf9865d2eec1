#include "uUpdateServerClient.h"

#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>

const QByteArray TUpdateServerClient::AcceptHeader = QByteArrayLiteral("text/html, */*");
const QByteArray TUpdateServerClient::UserAgentHeader =
    QByteArrayLiteral("Mozilla/3.0 (compatible; Indy Library)");

namespace {

QString SizeText(qint64 Bytes) {
    if (Bytes >= 1024 * 1024 && Bytes % (1024 * 1024) == 0)
        return QStringLiteral("%1 MiB").arg(Bytes / (1024 * 1024));
    return QStringLiteral("%1 bytes").arg(Bytes);
}

} // namespace

TUpdateServerClient::TUpdateServerClient(QObject *Parent)
    : QObject(Parent), FManager(new QNetworkAccessManager(this)) {
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

bool TUpdateServerClient::Get(const QByteArray &EncodedAddress, qint64 MaxBytes, TOnProgress OnProgress,
                              TOnFinished OnFinished) {
    if (FReply) return false;
    FUrl = QUrl::fromEncoded(EncodedAddress);
    FMaxBytes = MaxBytes;
    FRedirects = 0;
    FOnProgress = std::move(OnProgress);
    FOnFinished = std::move(OnFinished);
    Send(FUrl);
    return true;
}

void TUpdateServerClient::Send(const QUrl &Url) {
    FBody.clear();
    FAbortReason = arNone;
    QNetworkRequest Request(Url);
    Request.setRawHeader("Accept", AcceptHeader);
    Request.setHeader(QNetworkRequest::UserAgentHeader, UserAgentHeader);
    // Redirects are followed here, so that every one is checked the same way.
    Request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    Request.setTransferTimeout(TransferTimeoutMs);

    FReply = FManager->get(Request);
    connect(FReply, &QNetworkReply::metaDataChanged, this, &TUpdateServerClient::CheckLength);
    connect(FReply, &QNetworkReply::readyRead, this, &TUpdateServerClient::ReadAvailable);
    connect(FReply, &QNetworkReply::downloadProgress, this, [this](qint64 Received, qint64) {
        if (FOnProgress && !IsRedirect()) FOnProgress(Received);
    });
    connect(FReply, &QNetworkReply::finished, this, &TUpdateServerClient::Finish);
}

bool TUpdateServerClient::IsRedirect() const {
    const int Status = FReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return (Status == 301 || Status == 302 || Status == 303 || Status == 307 || Status == 308) &&
           FReply->attribute(QNetworkRequest::RedirectionTargetAttribute).isValid();
}

void TUpdateServerClient::CheckLength() {
    if (!FReply) return;
    const QVariant Length = FReply->header(QNetworkRequest::ContentLengthHeader);
    if (Length.isValid() && Length.toLongLong() > FMaxBytes) AbortFor(arTooLarge);
}

void TUpdateServerClient::ReadAvailable() {
    if (!FReply) return;
    const qint64 Room = FMaxBytes - FBody.size();
    if (FReply->bytesAvailable() > Room) {
        FBody += FReply->read(Room);
        AbortFor(arTooLarge);
        return;
    }
    FBody += FReply->readAll();
}

void TUpdateServerClient::AbortFor(TAbortReason Reason) {
    if (FAbortReason == arNone) FAbortReason = Reason;
    FReply->abort(); // finished follows
}

QString TUpdateServerClient::ErrorText() const {
    const QString Address = FUrl.toDisplayString();
    switch (FAbortReason) {
    case arTooLarge:
        return QStringLiteral("The update server's answer is larger than %1 and was not accepted (%2)")
            .arg(SizeText(FMaxBytes), Address);
    case arOtherScheme:
        return QStringLiteral(
                   "The update server redirected %1 to %2, another protocol; the redirect was not followed")
            .arg(FReply->url().toDisplayString(), FRefusedTarget.toDisplayString());
    case arTooManyRedirects:
        return QStringLiteral("The update server redirected %1 more than %2 times; given up")
            .arg(Address)
            .arg(MaxRedirects);
    case arNone:
        break;
    }
    const QNetworkReply::NetworkError Code = FReply->error();
    if (Code == QNetworkReply::NoError) return {};
    if (Code == QNetworkReply::OperationCanceledError || Code == QNetworkReply::TimeoutError)
        return QStringLiteral("No answer from the update server within %1 s (%2)")
            .arg(QString::number(TransferTimeoutMs / 1000.0, 'g', 3), Address);
    const int Status = FReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (Status >= 400) {
        const QString Reason = FReply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        return QStringLiteral("The update server answered HTTP %1 %2 for %3")
            .arg(QString::number(Status), Reason, FReply->url().toDisplayString());
    }
    return QStringLiteral("Update server: %1").arg(FReply->errorString());
}

void TUpdateServerClient::Finish() {
    if (!FReply) return;
    if (FAbortReason == arNone && FReply->isOpen()) {
        // What is left after the last readyRead; the reply has ended, so nothing is aborted.
        const QByteArray Rest = FReply->readAll();
        if (Rest.size() > FMaxBytes - FBody.size()) {
            FBody += Rest.left(FMaxBytes - FBody.size());
            FAbortReason = arTooLarge;
        } else {
            FBody += Rest;
        }
    }
    if (FAbortReason == arNone && FReply->error() == QNetworkReply::NoError && IsRedirect()) {
        const QUrl Target =
            FReply->url().resolved(FReply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl());
        // A redirect may lead elsewhere on the same scheme only: an http request must not
        // end up on another protocol, nor an https request fall back to plain http.
        if (Target.scheme().compare(FUrl.scheme(), Qt::CaseInsensitive) != 0) {
            FRefusedTarget = Target;
            FAbortReason = arOtherScheme;
        } else if (FRedirects >= MaxRedirects) {
            FAbortReason = arTooManyRedirects;
        } else {
            ++FRedirects;
            QNetworkReply *Redirected = FReply;
            Redirected->disconnect(this);
            Redirected->deleteLater();
            Send(Target);
            return;
        }
    }
    const QString Error = ErrorText();
    QNetworkReply *Done = FReply;
    FReply = nullptr;
    Done->disconnect(this);
    Done->deleteLater();
    // The owner may start the next request from inside its callback.
    TOnFinished OnFinished = std::move(FOnFinished);
    FOnFinished = nullptr;
    FOnProgress = nullptr;
    const QByteArray Body = std::exchange(FBody, QByteArray());
    if (OnFinished) OnFinished(Body, Error);
}
