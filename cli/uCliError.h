#pragma once
// How a command of the command line program ends: the exit codes, and the error that ends a
// command early. Every error leaves the program with exit code 2 and one line on stderr that
// says which kind of failure it was, so that a script can tell them apart by the text.
#include <QString>

#include <stdexcept>

// Exit codes: 0 done (a sweep: PASS, or no verdict), 1 a sweep that FAILed its limits, 2 any error.
constexpr int CliExitOk = 0;
constexpr int CliExitFail = 1;
constexpr int CliExitError = 2;

enum TCliErrorKind : quint8 {
    ceBadArguments, // the command line itself is wrong; nothing was sent
    ceNoTester,     // the search found no tester
    ceTimeout,      // the tester did not answer in time
    ceRefused,      // the tester, or the register map, refused a write or a firmware image
    ceInterrupted,  // Ctrl+C before the command was done
    ceFailed,       // anything else: a port that does not open, a file that cannot be written
};

class ECliError : public std::runtime_error {
public:
    ECliError(TCliErrorKind kind, const QString &message)
        : std::runtime_error(message.toStdString()), Kind(kind) {}
    TCliErrorKind Kind;
};

// The prefix of the error's line on stderr: "bad arguments: ", "no tester found: ",
// "timeout: ", "refused: ", "interrupted: " or "error: ".
QString CliErrorPrefix(TCliErrorKind kind);
