#pragma once
// What a port search saw on each port, and the lines that tell a technician why no tester
// was found: a port that would not open (busy, no permission, gone), a port that stayed
// silent, a device that answered but is no tester. QtCore only.
#include <QString>
#include <QStringList>
#include <QVector>

enum TSearchPortState {
    spsOpening,      // the probe has not opened the port yet
    spsOpened,       // open, no answer (yet)
    spsAnswered,     // a device answered with its identification
    spsBusy,         // held by another program
    spsNoPermission, // the user may not open it
    spsNotFound,     // the device is gone
    spsOpenFailed    // another open failure (FailureText says which)
};

struct TSearchPortOutcome {
    QString Port;
    TSearchPortState State = spsOpening;
    QString Ident;       // what an answering device called itself
    QString FailureText; // the port's own message for a failed open
};

// The state for an open that failed with the host's error code (errno; 0 = unknown).
TSearchPortState SearchOpenFailureState(int code);

// The lines explaining a search that found no tester: one per port tried, in the order given,
// or one saying that there was no port at all. English, or the Russian set.
QStringList ExplainSearch(const QVector<TSearchPortOutcome> &outcomes, bool english);
