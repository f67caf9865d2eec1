#pragma once
// The host's named objects through which a client finds a server: the shared block, the
// liveness object and the announcement under the user's settings. The same names and the
// same layout on every host:
// - Windows: a paging-file mapping <name>, a mutex <name>Mutex created not owned, and the
//   empty string value <name> under HKEY_CURRENT_USER\SOFTWARE\Kavetta\Trazer.
// - Linux: a POSIX shared-memory object /<name>; a shared-memory object /<name>Mutex on which
//   the live server holds an exclusive flock, so a client's non-blocking exclusive flock fails
//   exactly while a server lives (a crashed server's lock goes with its process); and the
//   empty value <name> in the user's settings of organisation "Kavetta", application "Trazer".
//
// On Linux both objects are this user's own: created exclusively with mode 0600, or, when one
// of that name is there already, taken over only when it belongs to this user, has mode 0600,
// is a plain shared-memory object and no server holds its liveness lock (what a crashed server
// of ours leaves behind). Anything else (another user's object, one others may read or write,
// a live server of that name) is refused and left exactly as it is.
#include <QString>
#include <QtGlobal>

using TTrazerHandle = qintptr; // 0: none

struct TTrazerNamedObjects {
    TTrazerHandle Mapping = 0;   // the block's handle
    void *Address = nullptr;     // the block, mapped whole for reading and writing; null: none
    TTrazerHandle LiveMutex = 0; // the liveness object, marked as living
    QString Refusal;             // why there are none, naming the conflict; empty when there are
};

// Why the host cannot give a server the named objects of Name (a "/" inside, a name the
// system's name length cannot take with "Mutex" appended, an empty name); empty when it can.
QString TrazerNameProblem(const QString &name);

// Creates or takes over (see above) the block of Size bytes and the liveness object of Name,
// maps the block and marks this server as living. On refusal or failure nothing is mapped or
// held, Refusal says why, and no object that was there before has been changed.
TTrazerNamedObjects TrazerOpenNamedObjects(const QString &name, qsizetype size);

// Unmaps the block, ends this server's mark on the liveness object and closes both; on Linux
// the names /<name> and /<name>Mutex are removed when they still name this server's objects,
// as the host removes a mapping and a mutex with their last handle on Windows.
void TrazerCloseNamedObjects(TTrazerNamedObjects &objects, const QString &name, qsizetype size);

// The announcement: the empty string value Name under the user's "Kavetta"/"Trazer" settings.
void TrazerWriteRegistryValue(const QString &name);
void TrazerDeleteRegistryValue(const QString &name);
