// The named objects of the shared-memory server on Linux and on Windows.
#include "uTrazerNamedObjects.h"

#include <QSettings>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <chrono>
#include <fcntl.h>
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

TTrazerMapping TrazerCreateMapping(const QString &Name, qsizetype Size) {
    TTrazerMapping mapping;
    const quint64 size = quint64(Size);
    HANDLE handle = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, DWORD(size >> 32),
                                       DWORD(size & 0xFFFFFFFFu), WideName(Name).c_str());
    if (!handle) return mapping;
    void *address = MapViewOfFile(handle, FILE_MAP_ALL_ACCESS, 0, 0, SIZE_T(size));
    if (!address) {
        CloseHandle(handle);
        return mapping;
    }
    mapping.Handle = reinterpret_cast<TTrazerHandle>(handle);
    mapping.Address = address;
    return mapping;
}

TTrazerHandle TrazerCreateLiveMutex(const QString &Name) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, WideName(Name + QStringLiteral("Mutex")).c_str());
    return reinterpret_cast<TTrazerHandle>(mutex);
}

void TrazerCloseMapping(TTrazerMapping &Mapping, qsizetype) {
    if (Mapping.Address) UnmapViewOfFile(Mapping.Address);
    if (Mapping.Handle) CloseHandle(reinterpret_cast<HANDLE>(Mapping.Handle));
    Mapping = {};
}

void TrazerCloseLiveMutex(TTrazerHandle &Mutex, const QString &) {
    if (Mutex) CloseHandle(reinterpret_cast<HANDLE>(Mutex));
    Mutex = 0;
}

#else

namespace {

QByteArray PosixName(const QString &Name) {
    return '/' + Name.toUtf8();
}

// Handle 0 means "none", so a descriptor must never be 0 (nor another standard stream).
int AboveStandardStreams(int Fd) {
    if (Fd < 0 || Fd > 2) return Fd;
    const int moved = fcntl(Fd, F_DUPFD_CLOEXEC, 3);
    close(Fd);
    return moved;
}

int OpenShared(const QString &Name) {
    return AboveStandardStreams(shm_open(PosixName(Name).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
}

// A client's probe holds the exclusive lock for an instant; a few short tries get past it.
bool FlockBriefly(int Fd, int Operation) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (flock(Fd, Operation | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

} // namespace

TTrazerMapping TrazerCreateMapping(const QString &Name, qsizetype Size) {
    TTrazerMapping mapping;
    const int fd = OpenShared(Name);
    if (fd < 0) return mapping;
    struct stat st {};
    if (fstat(fd, &st) != 0 || (st.st_size != off_t(Size) && ftruncate(fd, off_t(Size)) != 0)) {
        close(fd);
        return mapping;
    }
    void *address = mmap(nullptr, size_t(Size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED) {
        close(fd);
        return mapping;
    }
    mapping.Handle = fd;
    mapping.Address = address;
    return mapping;
}

TTrazerHandle TrazerCreateLiveMutex(const QString &Name) {
    const int fd = OpenShared(Name + QStringLiteral("Mutex"));
    if (fd < 0) return 0;
    // Shared: servers of the same name (in this or another process) live side by side.
    if (!FlockBriefly(fd, LOCK_SH)) {
        close(fd);
        return 0;
    }
    return fd;
}

void TrazerCloseMapping(TTrazerMapping &Mapping, qsizetype Size) {
    if (Mapping.Address) munmap(Mapping.Address, size_t(Size));
    if (Mapping.Handle) close(int(Mapping.Handle));
    Mapping = {};
}

void TrazerCloseLiveMutex(TTrazerHandle &Mutex, const QString &Name) {
    if (!Mutex) return;
    const int fd = int(Mutex);
    Mutex = 0;
    // The exclusive lock is granted only when no other server of this name lives.
    if (FlockBriefly(fd, LOCK_EX)) {
        shm_unlink(PosixName(Name).constData());
        shm_unlink(PosixName(Name + QStringLiteral("Mutex")).constData());
    }
    close(fd);
}

#endif

void TrazerWriteRegistryValue(const QString &Name) {
    QSettings settings(QStringLiteral("Kavetta"), QStringLiteral("Trazer"));
    settings.setValue(Name, QStringLiteral(""));
    settings.sync();
}

void TrazerDeleteRegistryValue(const QString &Name) {
    QSettings settings(QStringLiteral("Kavetta"), QStringLiteral("Trazer"));
    settings.remove(Name);
    settings.sync();
}
