#pragma once
// The progress of a firmware transfer on stdout: on a terminal one line redrawn in place with
// a bar, the speed and the time left; otherwise (a pipe, a file) a plain line at every tenth
// of the image, so that a log stays short and readable.
#include "uFirmwareTransferRate.h"

#include <QtGlobal>

class TCliProgress {
public:
    explicit TCliProgress(bool terminal);
    void Start(quint32 size);
    void Update(quint32 bytes);
    // Ends the redrawn line (a terminal) and prints what the whole transfer took.
    void Finish();

private:
    QString RateText() const;

    bool FTerminal;
    quint32 FSize = 0;
    quint32 FBytes = 0;
    int FPrintedTenth = -1;
    quint32 FDrawnAt = 0;
    TFirmwareTransferRate FRate;
};

// True when stdout is a terminal.
bool CliStdoutIsTerminal();
