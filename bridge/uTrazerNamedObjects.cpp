// The named objects of the shared-memory server on Linux and on Windows.
#include "uTrazerNamedObjects.h"

#include <QSettings>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN

namespace {
std::wstring WideName(const QString &Name) {
    return Name.toStdWString();
}
} // namespace

QString TrazerNameProblem(const QString &name) {
    if (name.isEmpty()) return QStringLiteral("the name is empty");
    if (name.contains(QLatin1Char('\\'))) return QStringLiteral("a name may not contain \"\\\"");
    if (name.size() + 5 > MAX_PATH)
        return QStringLiteral("the name is too long: %1 characters with \"Mutex\" appended, the system "
                              "takes at most %2")
            .arg(name.size() + 5)
            .arg(MAX_PATH);
    return {};
}

TTrazerNamedObjects TrazerOpenNamedObjects(const QString &Name, qsizetype Size) {
    TTrazerNamedObjects objects;
    objects.Refusal = TrazerNameProblem(Name);
    if (!objects.Refusal.isEmpty()) return objects;
    const quint64 size = quint64(Size);
    HANDLE handle = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, DWORD(size >> 32),
                                       DWORD(size & 0xFFFFFFFFu), WideName(Name).c_str());
    if (!handle) {
        objects.Refusal =
            QStringLiteral("the mapping %1 cannot be created (error %2)").arg(Name).arg(GetLastError());
        return objects;
    }
    void *address = MapViewOfFile(handle, FILE_MAP_ALL_ACCESS, 0, 0, SIZE_T(size));
    if (!address) {
        objects.Refusal =
            QStringLiteral("the mapping %1 cannot be mapped (error %2)").arg(Name).arg(GetLastError());
        CloseHandle(handle);
        return objects;
    }
    objects.Mapping = reinterpret_cast<TTrazerHandle>(handle);
    objects.Address = address;
    HANDLE mutex = CreateMutexW(nullptr, FALSE, WideName(Name + QStringLiteral("Mutex")).c_str());
    objects.LiveMutex = reinterpret_cast<TTrazerHandle>(mutex);
    return objects;
}

void TrazerCloseNamedObjects(TTrazerNamedObjects &Objects, const QString &, qsizetype) {
    if (Objects.Address) UnmapViewOfFile(Objects.Address);
    if (Objects.Mapping) CloseHandle(reinterpret_cast<HANDLE>(Objects.Mapping));
    if (Objects.LiveMutex) CloseHandle(reinterpret_cast<HANDLE>(Objects.LiveMutex));
    Objects = {};
}

#else

namespace {

QByteArray PosixName(const QString &name) {
    return '/' + name.toUtf8();
}

QString Shown(const QByteArray &posixName) {
    return QString::fromUtf8(posixName);
}

QString ErrnoText(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

// Handle 0 means "none", so a descriptor must never be 0 (nor another standard stream).
int AboveStandardStreams(int fd) {
    if (fd < 0 || fd > 2) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

// A client's probe holds the exclusive lock for an instant; a few short tries get past it.
bool FlockBriefly(int fd, int operation) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (flock(fd, operation | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

QString UserText(uid_t uid) {
    struct passwd entry {};
    struct passwd *found = nullptr;
    char buffer[1024];
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return QStringLiteral("%1 (uid %2)").arg(QString::fromLocal8Bit(found->pw_name)).arg(uid);
    return QStringLiteral("uid %1").arg(uid);
}

// True while Name still stands for the object open as Fd (a server that ends removes its
// names; another object may have taken the name since).
bool StillNamed(int fd, const QByteArray &posixName) {
    const int other = shm_open(posixName.constData(), O_RDONLY | O_CLOEXEC, 0);
    if (other < 0) return false;
    struct stat mine {
    }, named{};
    const bool same = fstat(fd, &mine) == 0 && fstat(other, &named) == 0 && mine.st_dev == named.st_dev &&
                      mine.st_ino == named.st_ino;
    close(other);
    return same;
}

// A shared-memory object that is this user's own: created now, or found and checked.
struct TOwnObject {
    int Fd = -1;
    bool Created = false;
    QString Refusal;
};

// Why a found object may not be taken over; empty when it is this user's, mode 0600, plain.
QString ForeignObject(int fd, const QByteArray &posixName) {
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return QStringLiteral("%1 cannot be examined: %2").arg(Shown(posixName), ErrnoText(errno));
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("%1 exists and is no shared-memory object (a special file)")
            .arg(Shown(posixName));
    if (st.st_uid != geteuid())
        return QStringLiteral("the shared-memory object %1 belongs to user %2, not to this user (%3)")
            .arg(Shown(posixName), UserText(st.st_uid), UserText(geteuid()));
    if ((st.st_mode & 07777) != 0600)
        return QStringLiteral("the shared-memory object %1 has mode %2: other users may use it (only one of "
                              "mode 0600 is taken over)")
            .arg(Shown(posixName))
            .arg(uint(st.st_mode & 07777), 4, 8, QLatin1Char('0'));
    return {};
}

TOwnObject OpenOwnObject(const QByteArray &posixName) {
    TOwnObject object;
    // An object that disappears between the two opens is created on the next round.
    for (int round = 0; round < 3; ++round) {
        int fd = shm_open(posixName.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            fd = AboveStandardStreams(fd);
            // The mode went through the umask: set it exactly, whatever the umask took away.
            if (fd < 0 || fchmod(fd, 0600) != 0) {
                object.Refusal =
                    QStringLiteral("%1 cannot be set up: %2").arg(Shown(posixName), ErrnoText(errno));
                if (fd >= 0) close(fd);
                shm_unlink(posixName.constData());
                return object;
            }
            object.Fd = fd;
            object.Created = true;
            return object;
        }
        if (errno != EEXIST) {
            object.Refusal =
                QStringLiteral("%1 cannot be created: %2").arg(Shown(posixName), ErrnoText(errno));
            return object;
        }
        // Not followed if it is a symbolic link (the C library opens shared memory so).
        fd = AboveStandardStreams(shm_open(posixName.constData(), O_RDWR | O_CLOEXEC, 0));
        if (fd < 0) {
            const int code = errno;
            if (code == ENOENT) continue;
            if (code == EACCES || code == EPERM)
                object.Refusal =
                    QStringLiteral("the shared-memory object %1 exists and belongs to another user")
                        .arg(Shown(posixName));
            else if (code == ELOOP)
                object.Refusal = QStringLiteral("%1 exists and is a symbolic link").arg(Shown(posixName));
            else
                object.Refusal = QStringLiteral("%1 exists and cannot be opened: %2")
                                     .arg(Shown(posixName), ErrnoText(code));
            return object;
        }
        object.Refusal = ForeignObject(fd, posixName);
        if (!object.Refusal.isEmpty()) {
            close(fd);
            return object;
        }
        object.Fd = fd;
        return object;
    }
    object.Refusal = QStringLiteral("%1 keeps appearing and disappearing").arg(Shown(posixName));
    return object;
}

// Lets go of an object on a failed start: its name goes only if this start created it.
void DropOwnObject(TOwnObject &object, const QByteArray &posixName) {
    if (object.Fd < 0) return;
    if (object.Created && StillNamed(object.Fd, posixName)) shm_unlink(posixName.constData());
    close(object.Fd);
    object.Fd = -1;
}

} // namespace

QString TrazerNameProblem(const QString &name) {
    if (name.isEmpty()) return QStringLiteral("the name is empty");
    if (name.contains(QLatin1Char('/'))) return QStringLiteral("a name may not contain \"/\"");
    if (name.contains(QChar(0))) return QStringLiteral("a name may not contain a zero character");
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("a name may not be \".\" or \"..\"");
    // The longer of the two names, the liveness object's, must fit into one file name.
    const qsizetype bytes = (name + QStringLiteral("Mutex")).toUtf8().size();
    if (bytes > NAME_MAX)
        return QStringLiteral("the name is too long: %1 bytes with \"Mutex\" appended, the system takes at "
                              "most %2")
            .arg(bytes)
            .arg(NAME_MAX);
    return {};
}

TTrazerNamedObjects TrazerOpenNamedObjects(const QString &name, qsizetype size) {
    TTrazerNamedObjects objects;
    objects.Refusal = TrazerNameProblem(name);
    if (!objects.Refusal.isEmpty()) return objects;
    const QByteArray blockName = PosixName(name);
    const QByteArray liveName = PosixName(name + QStringLiteral("Mutex"));
    // A server of this name that is ending removes the names while this one waits for its
    // lock: the lock must be on the object the name stands for, so a lost race starts again.
    for (int round = 0; round < 3; ++round) {
        TOwnObject live = OpenOwnObject(liveName);
        if (live.Fd < 0) {
            objects.Refusal = live.Refusal;
            return objects;
        }
        // Exclusive for the server's life: one server per name, and a client's probe fails
        // while it lives.
        if (!FlockBriefly(live.Fd, LOCK_EX)) {
            objects.Refusal = QStringLiteral("a running server publishes under this name (%1 is locked)")
                                  .arg(Shown(liveName));
            DropOwnObject(live, liveName);
            return objects;
        }
        if (!StillNamed(live.Fd, liveName)) {
            close(live.Fd);
            continue;
        }
        TOwnObject block = OpenOwnObject(blockName);
        if (block.Fd < 0) {
            objects.Refusal = block.Refusal;
            DropOwnObject(live, liveName);
            return objects;
        }
        struct stat st {};
        void *address = MAP_FAILED;
        if (fstat(block.Fd, &st) != 0 || (st.st_size != off_t(size) && ftruncate(block.Fd, off_t(size)) != 0))
            objects.Refusal =
                QStringLiteral("%1 cannot be sized: %2").arg(Shown(blockName), ErrnoText(errno));
        else
            address = mmap(nullptr, size_t(size), PROT_READ | PROT_WRITE, MAP_SHARED, block.Fd, 0);
        if (address == MAP_FAILED) {
            if (objects.Refusal.isEmpty())
                objects.Refusal =
                    QStringLiteral("%1 cannot be mapped: %2").arg(Shown(blockName), ErrnoText(errno));
            DropOwnObject(block, blockName);
            DropOwnObject(live, liveName);
            return objects;
        }
        objects.Mapping = block.Fd;
        objects.Address = address;
        objects.LiveMutex = live.Fd;
        return objects;
    }
    objects.Refusal = QStringLiteral("%1 keeps changing while it is taken").arg(Shown(liveName));
    return objects;
}

void TrazerCloseNamedObjects(TTrazerNamedObjects &objects, const QString &name, qsizetype size) {
    if (objects.Address) munmap(objects.Address, size_t(size));
    // The names go while the liveness lock is still held: no other server of this name can
    // have taken them over; a name that stands for another object by now is left to it.
    if (objects.Mapping) {
        const QByteArray blockName = PosixName(name);
        if (StillNamed(int(objects.Mapping), blockName)) shm_unlink(blockName.constData());
        close(int(objects.Mapping));
    }
    if (objects.LiveMutex) {
        const QByteArray liveName = PosixName(name + QStringLiteral("Mutex"));
        if (StillNamed(int(objects.LiveMutex), liveName)) shm_unlink(liveName.constData());
        close(int(objects.LiveMutex));
    }
    objects = {};
}

#endif

void TrazerWriteRegistryValue(const QString &name) {
    QSettings settings(QStringLiteral("Kavetta"), QStringLiteral("Trazer"));
    settings.setValue(name, QStringLiteral(""));
    settings.sync();
}

void TrazerDeleteRegistryValue(const QString &name) {
    QSettings settings(QStringLiteral("Kavetta"), QStringLiteral("Trazer"));
    settings.remove(name);
    settings.sync();
}
