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
// or one saying that there was no port at all. English, or the Russian set. A port the user
// may not open names the package's udev rule as the mend while that rule is not in force,
// else the dialout group.
QStringList ExplainSearch(const QVector<TSearchPortOutcome> &outcomes, bool english);

// The package's udev rule that lets the user at the seat open the tester's USB adapters: its
// path when udev uses it, else empty. udev takes a rule's name from the first of its folders
// that holds it (/etc before /run before /usr/local/lib before /usr/lib and /lib), so one in
// /etc masks the package's; a mask that is empty or points at /dev/null switches it off.
QString TesterUdevRuleInForce();
// The rule folders to look in instead of udev's own (tests); empty restores udev's.
void SetUdevRuleFoldersForTest(const QStringList &folders);
