#include "uSimOptions.h"

#include <QCommandLineParser>

#include <functional>

namespace {
bool ToInt(const QString &text, const QString &name, qint64 min, qint64 max, qint64 &value, QString *error) {
    bool ok = false;
    const qint64 v = text.toLongLong(&ok, 0); // 0x1234 and 4660 alike
    if (!ok || v < min || v > max) {
        if (error)
            *error = QStringLiteral("--%1: expected a number from %2 to %3, got \"%4\"")
                         .arg(name)
                         .arg(min)
                         .arg(max)
                         .arg(text);
        return false;
    }
    value = v;
    return true;
}
} // namespace

bool ParseSimOptions(const QStringList &args, TSimOptions &options, QString *error, bool *wantsHelp,
                     QString *helpText) {
    QCommandLineParser p;
    p.setApplicationDescription("Simulated Tamrel tester on a pseudo-terminal. Prints the published port "
                                "and runs until interrupted.");
    const QCommandLineOption help({"h", "help"}, "Show this help.");
    const QCommandLineOption ident("ident", "Identification in register 0.", "text", options.Ident);
    const QCommandLineOption checksumOnly("checksum-only", "Ignore CRC-format frames (an old device).");
    const QCommandLineOption newCommands("new-commands", "Answer in the new command set (18/148).");
    const QCommandLineOption autoSend("auto-send-period", "Period of the unasked measured values, 0 = none.",
                                      "ms", QString::number(options.AutoSendPeriodMs));
    const QCommandLineOption lineRate("line-rate", "Throttle to this line rate, 0 = unthrottled.", "baud",
                                      QString::number(options.LineRate));
    const QCommandLineOption answerDelay("answer-delay", "Delay of every answer.", "ms",
                                         QString::number(options.AnswerDelayMs));
    const QCommandLineOption silent("silent", "Never answer.");
    const QCommandLineOption silentAfterPages("silent-after-pages",
                                              "Answer nothing more once this many firmware pages were "
                                              "taken, 0 = never.",
                                              "n", QString::number(options.SilentAfterPages));
    const QCommandLineOption dropEvery("drop-every", "Drop every Nth answer, 0 = none.", "n",
                                       QString::number(options.DropEveryN));
    const QCommandLineOption loseReadsOf("lose-reads-of",
                                         "Lose answers to reads of this register, -1 = none.", "register",
                                         QString::number(options.LoseReadsOf));
    const QCommandLineOption loseReads("lose-reads", "How many of those answers are lost.", "n",
                                       QString::number(options.LoseReadsCount));
    const QCommandLineOption textReadsOf("text-reads-of",
                                         "Answer reads of this register now and then with a text, -1 = none.",
                                         "register", QString::number(options.TextReadsOf));
    const QCommandLineOption textReadsEvery("text-reads-every", "Which of those reads: every Nth, 0 = none.",
                                            "n", QString::number(options.TextReadsEveryN));
    const QCommandLineOption garbageEvery("garbage-every", "Line noise before every Nth frame, 0 = none.",
                                          "n", QString::number(options.GarbageEveryN));
    const QCommandLineOption failPage("fail-page", "Refuse this firmware page, -1 = none.", "index",
                                      QString::number(options.FailPageIndex));
    const QCommandLineOption failPageStatus("fail-page-status", "Status of the refused page.", "status",
                                            QString::number(options.FailPageStatus));
    const QCommandLineOption loaderIdent("loader-ident", "Boot-loader identification.", "text",
                                         options.LoaderIdent);
    const QCommandLineOption deviceId("device-id", "Boot-loader device id.", "id",
                                      QString::number(options.DeviceId));
    const QCommandLineOption flashSize("flash-size", "Flash size in KiB.", "kib",
                                       QString::number(options.FlashSizeKiB));
    const QCommandLineOption pageSize("page-size", "Flash page size in bytes.", "bytes",
                                      QString::number(options.PageSize));
    const QCommandLineOption loaderIgnore("loader-ignore-starts",
                                          "Leave this many start requests unanswered.", "n",
                                          QString::number(options.LoaderIgnoreStarts));
    const QCommandLineOption loaderDelay("loader-delay", "Delay of the boot loader's start answers.", "ms",
                                         QString::number(options.LoaderAnswerDelayMs));
    const QCommandLineOption dieAfter("die-after",
                                      "Vanish like an unplugged device after this time, 0 = never.", "ms",
                                      QString::number(options.DieAfterMs));
    const QCommandLineOption deafAfter(
        "deaf-after", "Stop reading the line (but go on sending) after this time, 0 = never.", "ms",
        QString::number(options.DeafAfterMs));
    const QCommandLineOption frameLog("frame-log", "Write a JSON-lines log of every frame.", "file");
    const QCommandLineOption imageOut("image-out", "Write the received firmware image to this file.", "file");
    p.addOptions({help,        ident,       checksumOnly,  newCommands,  autoSend,         lineRate,
                  answerDelay, silent,      dropEvery,     garbageEvery, failPage,         failPageStatus,
                  loaderIdent, deviceId,    flashSize,     pageSize,     loaderIgnore,     loaderDelay,
                  dieAfter,    deafAfter,   frameLog,      imageOut,     silentAfterPages, loseReadsOf,
                  loseReads,   textReadsOf, textReadsEvery});
    if (helpText) *helpText = p.helpText();
    if (wantsHelp) *wantsHelp = false;
    if (!p.parse(args)) {
        if (error) *error = p.errorText();
        return false;
    }
    if (!p.positionalArguments().isEmpty()) {
        if (error) *error = QStringLiteral("Unexpected argument \"%1\"").arg(p.positionalArguments().first());
        return false;
    }
    if (p.isSet(help)) {
        if (wantsHelp) *wantsHelp = true;
        return true;
    }
    TSimOptions o = options;
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
        {silentAfterPages, 0, 1000000000, [&](qint64 x) { o.SilentAfterPages = int(x); }},
        {loseReadsOf, -1, 255, [&](qint64 x) { o.LoseReadsOf = int(x); }},
        {loseReads, 0, 1000000000, [&](qint64 x) { o.LoseReadsCount = int(x); }},
        {textReadsOf, -1, 255, [&](qint64 x) { o.TextReadsOf = int(x); }},
        {textReadsEvery, 0, 1000000000, [&](qint64 x) { o.TextReadsEveryN = int(x); }},
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
        if (!ToInt(p.value(n.Option), n.Option.names().first(), n.Min, n.Max, v, error)) return false;
        n.Store(v);
    }
    if (p.isSet(ident)) o.Ident = p.value(ident);
    if (p.isSet(loaderIdent)) o.LoaderIdent = p.value(loaderIdent);
    o.ChecksumOnly = o.ChecksumOnly || p.isSet(checksumOnly);
    o.NewCommands = o.NewCommands || p.isSet(newCommands);
    o.Silent = o.Silent || p.isSet(silent);
    if (p.isSet(frameLog)) o.FrameLogPath = p.value(frameLog);
    if (p.isSet(imageOut)) o.ImageOutPath = p.value(imageOut);
    options = o;
    return true;
}
