#include "uSearchReport.h"

#include <QFileInfo>
#include <QMutex>

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

QMutex FoldersLock;
QStringList &FoldersForTest() {
    static QStringList folders;
    return folders;
}

QString NoPermissionLine(const QString &port, bool english) {
    if (TesterUdevRuleInForce().isEmpty())
        return (english
                    ? QStringLiteral("%1: no permission to open it; install the tamrel package (its udev "
                                     "rule %2 lets the logged-in user open the tester's USB adapter) and "
                                     "plug the tester in again, or join the dialout group (sudo usermod "
                                     "-aG dialout $USER) and log in again")
                    : QStringLiteral("%1: нет прав на открытие; установите пакет tamrel (его правило udev "
                                     "%2 открывает USB-адаптер тестера вошедшему пользователю) и "
                                     "подключите тестер заново, или вступите в группу dialout (sudo "
                                     "usermod -aG dialout $USER) и войдите в систему снова"))
            .arg(port, QStringLiteral(TAMREL_UDEV_RULE_NAME));
    // The rule is there but did not apply: another adapter, or a user not at the seat.
    return (english ? QStringLiteral("%1: no permission to open it; join the dialout group "
                                     "(sudo usermod -aG dialout $USER) and log in again")
                    : QStringLiteral("%1: нет прав на открытие; вступите в группу dialout "
                                     "(sudo usermod -aG dialout $USER) и войдите в систему снова"))
        .arg(port);
}

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
        return NoPermissionLine(o.Port, english);
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

QString TesterUdevRuleInForce() {
    QStringList folders;
    {
        QMutexLocker l(&FoldersLock);
        folders = FoldersForTest();
    }
    if (folders.isEmpty())
        folders = {QStringLiteral("/etc/udev/rules.d"), QStringLiteral("/run/udev/rules.d"),
                   QStringLiteral("/usr/local/lib/udev/rules.d"), QStringLiteral("/usr/lib/udev/rules.d"),
                   QStringLiteral("/lib/udev/rules.d")};
    for (const QString &folder : folders) {
        const QFileInfo rule(folder + QLatin1Char('/') + QStringLiteral(TAMREL_UDEV_RULE_NAME));
        if (!rule.exists() && !rule.isSymLink()) continue;
        // The first folder that holds the name decides, also when it holds a mask.
        if (rule.canonicalFilePath() == QLatin1String("/dev/null") || rule.size() == 0) return QString();
        return rule.absoluteFilePath();
    }
    return QString();
}

void SetUdevRuleFoldersForTest(const QStringList &folders) {
    QMutexLocker l(&FoldersLock);
    FoldersForTest() = folders;
}
