// The engine's trace log: one time-stamped line per frame-level event, flushed at once.
#include "uKvProtocol.h"
#include "uPlatformTick.h"

#include <QFile>
#include <QLocale>
#include <QMutexLocker>

QString DumpData(const QByteArray &data) {
    QString out = QStringLiteral("(") + QString::number(data.size()) + QStringLiteral("): ");
    const auto printable = [](char c) { return quint8(c) >= 40 && quint8(c) <= 122; };
    const qsizetype n = data.size();
    qsizetype i = 0;
    while (i < n) {
        qsizetype run = 0;
        while (i + run < n && printable(data[i + run]))
            ++run;
        if (run >= 5) {
            out += QString::fromLatin1(data.constData() + i, run);
            i += run;
            continue;
        }
        out += QStringLiteral("[%1]").arg(quint8(data[i]), 2, 16, QLatin1Char('0')).toUpper();
        ++i;
    }
    return out;
}

QString TKvProtocol::LogFileName() const {
    if (FLog.isEmpty()) return {};
    return FLog + QLatin1Char(' ') + TimeStart.toString(QStringLiteral("dd.MM.yyyy HH-mm-ss")) +
           QStringLiteral(".log");
}

void TKvProtocol::OpenLog() {
    TimeStart = QDateTime::currentDateTime();
    FLogStartTick = KvPlatform::TickCount();
    // "TFrameLinkLog" becomes "LinkLog": the first "Frame" goes, then a class-style "T" prefix.
    const qsizetype frame = FLog.indexOf(QLatin1String("frame"), 0, Qt::CaseInsensitive);
    if (frame >= 0) FLog.remove(frame, 5);
    if (FLog.size() >= 2 && FLog[0] == QLatin1Char('T') && FLog[1].isUpper()) FLog.remove(0, 1);
    if (FLog.isEmpty()) FLog = QStringLiteral("KvProtocol");
    LogFileAck = std::make_unique<QFile>(LogFileName());
    if (!LogFileAck->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        const QString why = LogFileAck->errorString();
        LogFileAck.reset();
        throw EKvInOutError(
            QStringLiteral("Cannot create the trace log \"%1\": %2").arg(LogFileName(), why).toStdString());
    }
    LogMessage(QStringLiteral("KvProtocol Created"));
}

void TKvProtocol::CloseLog() {
    QMutexLocker lock(&FLogLock);
    if (LogFileAck) LogFileAck->close();
    LogFileAck.reset();
}

void TKvProtocol::LogMessage(const QString &message) {
    if (FLog.isEmpty()) return;
    QMutexLocker lock(&FLogLock); // released on every way out, the error included
    if (!LogFileAck) return;
    const quint32 elapsedMs = KvPlatform::TickCount() - FLogStartTick;
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    const QString seconds = locale.toString(double(elapsedMs) / 1000.0, 'f', 3);
    const QByteArray line = (seconds + QLatin1Char(' ') + message).toLocal8Bit() + "\r\n";
    if (LogFileAck->write(line) != line.size() || !LogFileAck->flush())
        throw EKvInOutError(
            QStringLiteral("Trace log write failed: %1").arg(LogFileAck->errorString()).toStdString());
}
