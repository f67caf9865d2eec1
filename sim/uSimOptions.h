#pragma once
// Settings of the tester simulator: what the simulated tester reports about itself and
// which faults it shows. The executable fills them from its command line; tests and
// benchmarks fill the fields directly.
#include "uTamrelTester.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

struct TSimOptions {
    // Register 0: the identification the program searches for (TamrelTester::IdentPrefix).
    QString Ident = QLatin1String(TamrelTester::IdentPrefix) + QStringLiteral(" TAMREL sim 1.0");
    // Ignore CRC-format frames, as an old device that knows only the checksum does.
    bool ChecksumOnly = false;
    // Answer in the new command set (18 for register values, 148 for acknowledgements).
    bool NewCommands = false;
    // Period of the unasked measured values while register 1 is 1; 0 = none.
    int AutoSendPeriodMs = 100;
    // Line rate in baud: output limited to baud/10 bytes per second and every answer
    // delayed by its request's transmission time. 0 = unthrottled.
    int LineRate = 0;
    // Extra delay before every answer.
    int AnswerDelayMs = 0;
    // Receive everything, send nothing.
    bool Silent = false;
    // Go silent (as Silent) once this many firmware pages were taken, after the last one's
    // status (0 = never): a tester that stops answering in the middle of an update.
    int SilentAfterPages = 0;
    // Drop every Nth answer (0 = none). A dropped CRC-format answer still takes its packet
    // counter, as a frame lost on the line would, so the host sees the gap.
    int DropEveryN = 0;
    // Lose the first LoseReadsCount answers to reads of register LoseReadsOf (-1 = none): the
    // answers a noisy line happened to lose, whatever else goes through.
    int LoseReadsOf = -1;
    int LoseReadsCount = 0;
    // Answer every TextReadsEveryN-th read of register TextReadsOf (-1 = none) with a text that
    // is no number instead of its value: a reading gone wrong on the tester's side, in a type
    // the host's engine takes.
    int TextReadsOf = -1;
    int TextReadsEveryN = 0;
    // Put a few bytes of line noise (never a frame delimiter) before every Nth frame sent.
    int GarbageEveryN = 0;
    // Refuse this firmware page with FailPageStatus (-1 = accept every page).
    int FailPageIndex = -1;
    quint8 FailPageStatus = 5;
    // Boot-loader information.
    QString LoaderIdent = "TAMREL-BL";
    quint16 DeviceId = 0x1234;
    quint16 FlashSizeKiB = 64;
    quint16 PageSize = 128;
    // A boot loader that is slow to wake: the first this many start requests go unanswered,
    // and every start answer leaves this much later than its request arrived.
    int LoaderIgnoreStarts = 0;
    int LoaderAnswerDelayMs = 0;
    // Vanish like an unplugged USB device this many milliseconds after the start (0 = never).
    int DieAfterMs = 0;
    // Stop reading the line this many milliseconds after the start (0 = never), as a tester
    // whose input buffer is full: it goes on sending, and what the host writes backs up on
    // the host's side. Pseudo-terminal only.
    int DeafAfterMs = 0;
    // JSON-lines log of every frame (empty = none).
    QString FrameLogPath;
    // File that receives the firmware image as it is written (empty = none).
    QString ImageOutPath;
};

// Fills Options from command-line arguments (Args[0] is the program name). Returns false
// with a message in *Error for a bad argument. *HelpText receives the usage text; *WantsHelp
// is set when --help was given.
bool ParseSimOptions(const QStringList &args, TSimOptions &options, QString *error = nullptr,
                     bool *wantsHelp = nullptr, QString *helpText = nullptr);
