#include "uSearchReport.h"

#include <cerrno>

TSearchPortState SearchOpenFailureState(int code) {
    switch (code) {
    case EBUSY:
        return spsBusy;
    case EACCES:
    case EPERM:
        return spsNoPermission;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return spsNotFound;
    default:
        return spsOpenFailed;
    }
}

namespace {

QString ExplainPort(const TSearchPortOutcome &o, bool english) {
    switch (o.State) {
    case spsOpening:
        return (english ? QStringLiteral("%1: did not open in time")
                        : QStringLiteral("%1: не открылся вовремя"))
            .arg(o.Port);
    case spsOpened:
        return (english ? QStringLiteral("%1: opened, no answer") : QStringLiteral("%1: открыт, ответа нет"))
            .arg(o.Port);
    case spsAnswered:
        return (english ? QStringLiteral("%1 on %2 is not a Tamrel tester")
                        : QStringLiteral("%1 на %2 — не тестер Tamrel"))
            .arg(o.Ident.isEmpty() ? (english ? QStringLiteral("A device without a name")
                                              : QStringLiteral("Устройство без имени"))
                                   : o.Ident,
                 o.Port);
    case spsBusy:
        return (english ? QStringLiteral("%1: busy, another program uses it")
                        : QStringLiteral("%1: занят другой программой"))
            .arg(o.Port);
    case spsNoPermission:
        return (english ? QStringLiteral("%1: no permission to open it; join the dialout group "
                                         "(sudo usermod -aG dialout $USER) and log in again")
                        : QStringLiteral("%1: нет прав на открытие; вступите в группу dialout "
                                         "(sudo usermod -aG dialout $USER) и войдите в систему снова"))
            .arg(o.Port);
    case spsNotFound:
        return (english ? QStringLiteral("%1: gone") : QStringLiteral("%1: устройство исчезло")).arg(o.Port);
    case spsOpenFailed:
        return (english ? QStringLiteral("%1: cannot be opened (%2)")
                        : QStringLiteral("%1: не открывается (%2)"))
            .arg(o.Port, o.FailureText);
    }
    return o.Port;
}

} // namespace

QStringList ExplainSearch(const QVector<TSearchPortOutcome> &outcomes, bool english) {
    if (outcomes.isEmpty())
        return {english ? QStringLiteral("No serial port found")
                        : QStringLiteral("Последовательных портов нет")};
    QStringList lines;
    for (const TSearchPortOutcome &o : outcomes)
        lines << ExplainPort(o, english);
    return lines;
}
