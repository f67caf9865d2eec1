#include "uSimOptions.h"

#include <QCommandLineParser>

#include <functional>

namespace {
bool ToInt(const QString &Text, const QString &Name, qint64 Min, qint64 Max, qint64 &Value, QString *Error) {
    bool ok = false;
    const qint64 v = Text.toLongLong(&ok, 0); // 0x1234 and 4660 alike
    if (!ok || v < Min || v > Max) {
        if (Error)
            *Error = QStringLiteral("--%1: expected a number from %2 to %3, got \"%4\"")
                         .arg(Name)
                         .arg(Min)
                         .arg(Max)
                         .arg(Text);
        return false;
    }
    Value = v;
    return true;
}
} // namespace

bool ParseSimOptions(const QStringList &Args, TSimOptions &Options, QString *Error, bool *WantsHelp,
                     QString *HelpText) {
    QCommandLineParser p;
    p.setApplicationDescription("Simulated Tamrel tester on a pseudo-terminal. Prints the published port "
                                "and runs until interrupted.");
    const QCommandLineOption help({"h", "help"}, "Show this help.");
    const QCommandLineOption ident("ident", "Identification in register 0.", "text", Options.Ident);
    const QCommandLineOption checksumOnly("checksum-only", "Ignore CRC-format frames (an old device).");
    const QCommandLineOption newCommands("new-commands", "Answer in the new command set (18/148).");
    const QCommandLineOption autoSend("auto-send-period", "Period of the unasked measured values, 0 = none.",
                                      "ms", QString::number(Options.AutoSendPeriodMs));
    const QCommandLineOption lineRate("line-rate", "Throttle to this line rate, 0 = unthrottled.", "baud",
                                      QString::number(Options.LineRate));
    const QCommandLineOption answerDelay("answer-delay", "Delay of every answer.", "ms",
                                         QString::number(Options.AnswerDelayMs));
    const QCommandLineOption silent("silent", "Never answer.");
    const QCommandLineOption dropEvery("drop-every", "Drop every Nth answer, 0 = none.", "n",
                                       QString::number(Options.DropEveryN));
    const QCommandLineOption garbageEvery("garbage-every", "Line noise before every Nth frame, 0 = none.",
                                          "n", QString::number(Options.GarbageEveryN));
    const QCommandLineOption failPage("fail-page", "Refuse this firmware page, -1 = none.", "index",
                                      QString::number(Options.FailPageIndex));
    const QCommandLineOption failPageStatus("fail-page-status", "Status of the refused page.", "status",
                                            QString::number(Options.FailPageStatus));
    const QCommandLineOption loaderIdent("loader-ident", "Boot-loader identification.", "text",
                                         Options.LoaderIdent);
    const QCommandLineOption deviceId("device-id", "Boot-loader device id.", "id",
                                      QString::number(Options.DeviceId));
    const QCommandLineOption flashSize("flash-size", "Flash size in KiB.", "kib",
                                       QString::number(Options.FlashSizeKiB));
    const QCommandLineOption pageSize("page-size", "Flash page size in bytes.", "bytes",
                                      QString::number(Options.PageSize));
    const QCommandLineOption loaderIgnore("loader-ignore-starts",
                                          "Leave this many start requests unanswered.", "n",
                                          QString::number(Options.LoaderIgnoreStarts));
    const QCommandLineOption loaderDelay("loader-delay", "Delay of the boot loader's start answers.", "ms",
                                         QString::number(Options.LoaderAnswerDelayMs));
    const QCommandLineOption dieAfter("die-after",
                                      "Vanish like an unplugged device after this time, 0 = never.", "ms",
                                      QString::number(Options.DieAfterMs));
    const QCommandLineOption deafAfter(
        "deaf-after", "Stop reading the line (but go on sending) after this time, 0 = never.", "ms",
        QString::number(Options.DeafAfterMs));
    const QCommandLineOption frameLog("frame-log", "Write a JSON-lines log of every frame.", "file");
    const QCommandLineOption imageOut("image-out", "Write the received firmware image to this file.", "file");
    p.addOptions({help,        ident,     checksumOnly, newCommands,  autoSend,     lineRate,
                  answerDelay, silent,    dropEvery,    garbageEvery, failPage,     failPageStatus,
                  loaderIdent, deviceId,  flashSize,    pageSize,     loaderIgnore, loaderDelay,
                  dieAfter,    deafAfter, frameLog,     imageOut});
    if (HelpText) *HelpText = p.helpText();
    if (WantsHelp) *WantsHelp = false;
    if (!p.parse(Args)) {
        if (Error) *Error = p.errorText();
        return false;
    }
    if (!p.positionalArguments().isEmpty()) {
        if (Error) *Error = QStringLiteral("Unexpected argument \"%1\"").arg(p.positionalArguments().first());
        return false;
    }
    if (p.isSet(help)) {
        if (WantsHelp) *WantsHelp = true;
        return true;
    }
    TSimOptions o = Options;
    qint64 v = 0;
    const struct {
        const QCommandLineOption &Option;
        qint64 Min, Max;
        std::function<void(qint64)> Store;
    } numbers[] = {
        {autoSend, 0, 3600000, [&](qint64 x) { o.AutoSendPeriodMs = int(x); }},
        {lineRate, 0, 100000000, [&](qint64 x) { o.LineRate = int(x); }},
        {answerDelay, 0, 3600000, [&](qint64 x) { o.AnswerDelayMs = int(x); }},
        {dropEvery, 0, 1000000000, [&](qint64 x) { o.DropEveryN = int(x); }},
        {garbageEvery, 0, 1000000000, [&](qint64 x) { o.GarbageEveryN = int(x); }},
        {failPage, -1, 65535, [&](qint64 x) { o.FailPageIndex = int(x); }},
        {failPageStatus, 0, 255, [&](qint64 x) { o.FailPageStatus = quint8(x); }},
        {deviceId, 0, 65535, [&](qint64 x) { o.DeviceId = quint16(x); }},
        {flashSize, 0, 65535, [&](qint64 x) { o.FlashSizeKiB = quint16(x); }},
        {pageSize, 0, 65535, [&](qint64 x) { o.PageSize = quint16(x); }},
        {loaderIgnore, 0, 1000000, [&](qint64 x) { o.LoaderIgnoreStarts = int(x); }},
        {loaderDelay, 0, 3600000, [&](qint64 x) { o.LoaderAnswerDelayMs = int(x); }},
        {dieAfter, 0, 2147483647, [&](qint64 x) { o.DieAfterMs = int(x); }},
        {deafAfter, 0, 2147483647, [&](qint64 x) { o.DeafAfterMs = int(x); }},
    };
    for (const auto &n : numbers) {
        if (!p.isSet(n.Option)) continue;
        if (!ToInt(p.value(n.Option), n.Option.names().first(), n.Min, n.Max, v, Error)) return false;
        n.Store(v);
    }
    if (p.isSet(ident)) o.Ident = p.value(ident);
    if (p.isSet(loaderIdent)) o.LoaderIdent = p.value(loaderIdent);
    o.ChecksumOnly = o.ChecksumOnly || p.isSet(checksumOnly);
    o.NewCommands = o.NewCommands || p.isSet(newCommands);
    o.Silent = o.Silent || p.isSet(silent);
    if (p.isSet(frameLog)) o.FrameLogPath = p.value(frameLog);
    if (p.isSet(imageOut)) o.ImageOutPath = p.value(imageOut);
    Options = o;
    return true;
}
