#pragma once
// The host's named objects through which a client finds a server: the shared block, the
// liveness object and the announcement under the user's settings. The same names and the
// same layout on every host:
// - Windows: a paging-file mapping <name>, a mutex <name>Mutex created not owned, and the
//   empty string value <name> under HKEY_CURRENT_USER\SOFTWARE\Kavetta\Trazer.
// - Linux: a POSIX shared-memory object /<name>; a shared-memory object /<name>Mutex on which
//   every live server holds a shared flock, so a client's non-blocking exclusive flock fails
//   exactly while a server lives (a crashed server's lock goes with its process); and the
//   empty value <name> in the user's settings of organisation "Kavetta", application "Trazer".
#include <QString>
#include <QtGlobal>

using TTrazerHandle = qintptr; // 0: none

struct TTrazerMapping {
    TTrazerHandle Handle = 0;
    void *Address = nullptr; // null: not mapped
};

// Creates the block of Size bytes under Name, or opens the existing one of that name (brought
// to Size), and maps it whole for reading and writing. Handle 0 and a null address on failure.
TTrazerMapping TrazerCreateMapping(const QString &name, qsizetype size);
// Creates or opens the liveness object of Name ("Mutex" is appended here) and marks this
// server as living on it; 0 on failure. The server never waits on it.
TTrazerHandle TrazerCreateLiveMutex(const QString &name);

// Unmaps the block and closes its handle; each part only if present.
void TrazerCloseMapping(TTrazerMapping &mapping, qsizetype size);
// Ends this server's mark on the liveness object and closes it. On Linux the names /<name>
// and /<name>Mutex are removed when no other server of that name lives, as the host removes
// a mapping and a mutex with their last handle on Windows.
void TrazerCloseLiveMutex(TTrazerHandle &mutex, const QString &name);

// The announcement: the empty string value Name under the user's "Kavetta"/"Trazer" settings.
void TrazerWriteRegistryValue(const QString &name);
void TrazerDeleteRegistryValue(const QString &name);
