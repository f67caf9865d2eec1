#include "uCliProgress.h"

#include "uCliCommandLine.h"
#include "uPlatformTick.h"

#include <cstdio>
#include <unistd.h>

namespace {
constexpr int BarWidth = 30;
// The terminal line is redrawn at most this often.
constexpr quint32 RedrawMs = 100;

QString Kilobytes(double bytes) {
    return QString::number(bytes / 1024.0, 'f', 1);
}
} // namespace

bool CliStdoutIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

TCliProgress::TCliProgress(bool terminal) : FTerminal(terminal) {
}

void TCliProgress::Start(quint32 size) {
    FSize = size;
    FBytes = 0;
    FPrintedTenth = -1;
    FRate.Start(KvPlatform::TickCount());
    FDrawnAt = KvPlatform::TickCount() - RedrawMs;
}

QString TCliProgress::RateText() const {
    const double speed = FRate.BytesPerSecond();
    const qint64 left = FRate.SecondsLeft(FSize);
    if (speed <= 0 || left < 0) return {};
    return QStringLiteral("%1 KB/s, %2 s left").arg(Kilobytes(speed)).arg(left);
}

void TCliProgress::Update(quint32 bytes) {
    FBytes = qMin(bytes, FSize);
    const quint32 now = KvPlatform::TickCount();
    FRate.Sample(now, FBytes);
    const int percent = FSize == 0 ? 100 : int(quint64(FBytes) * 100 / FSize);
    if (FTerminal) {
        if (now - FDrawnAt < RedrawMs && FBytes < FSize) return;
        FDrawnAt = now;
        const int filled = percent * BarWidth / 100;
        const QString bar = QString(filled, QLatin1Char('#')) + QString(BarWidth - filled, QLatin1Char(' '));
        const QByteArray text = QStringLiteral("\r[%1] %2% %3/%4 bytes  %5\033[K")
                                    .arg(bar)
                                    .arg(percent, 3)
                                    .arg(FBytes)
                                    .arg(FSize)
                                    .arg(RateText())
                                    .toUtf8();
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
        std::fflush(stdout);
        return;
    }
    const int tenth = percent / 10;
    if (tenth == FPrintedTenth) return;
    FPrintedTenth = tenth;
    const QString rate = RateText();
    CliOut(QStringLiteral("flash: %1/%2 bytes (%3%)%4")
               .arg(FBytes)
               .arg(FSize)
               .arg(percent)
               .arg(rate.isEmpty() ? QString() : QStringLiteral(", ") + rate));
}

void TCliProgress::Finish() {
    if (FTerminal) CliOut(QString());
    const double seconds = FRate.ElapsedMs() / 1000.0;
    CliOut(QStringLiteral("%1 KB in %2 s%3")
               .arg(Kilobytes(FSize), QString::number(seconds, 'f', 1),
                    seconds > 0 ? QStringLiteral(" (%1 KB/s)").arg(Kilobytes(FSize / seconds)) : QString()));
}
