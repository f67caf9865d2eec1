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

QByteArray PosixName(const QString &name) {
    return '/' + name.toUtf8();
}

// Handle 0 means "none", so a descriptor must never be 0 (nor another standard stream).
int AboveStandardStreams(int fd) {
    if (fd < 0 || fd > 2) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

int OpenShared(const QString &name) {
    return AboveStandardStreams(shm_open(PosixName(name).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
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

} // namespace

TTrazerMapping TrazerCreateMapping(const QString &name, qsizetype size) {
    TTrazerMapping mapping;
    const int fd = OpenShared(name);
    if (fd < 0) return mapping;
    struct stat st {};
    if (fstat(fd, &st) != 0 || (st.st_size != off_t(size) && ftruncate(fd, off_t(size)) != 0)) {
        close(fd);
        return mapping;
    }
    void *address = mmap(nullptr, size_t(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED) {
        close(fd);
        return mapping;
    }
    mapping.Handle = fd;
    mapping.Address = address;
    return mapping;
}

TTrazerHandle TrazerCreateLiveMutex(const QString &name) {
    const int fd = OpenShared(name + QStringLiteral("Mutex"));
    if (fd < 0) return 0;
    // Shared: servers of the same name (in this or another process) live side by side.
    if (!FlockBriefly(fd, LOCK_SH)) {
        close(fd);
        return 0;
    }
    return fd;
}

void TrazerCloseMapping(TTrazerMapping &mapping, qsizetype size) {
    if (mapping.Address) munmap(mapping.Address, size_t(size));
    if (mapping.Handle) close(int(mapping.Handle));
    mapping = {};
}

void TrazerCloseLiveMutex(TTrazerHandle &mutex, const QString &name) {
    if (!mutex) return;
    const int fd = int(mutex);
    mutex = 0;
    // The exclusive lock is granted only when no other server of this name lives.
    if (FlockBriefly(fd, LOCK_EX)) {
        shm_unlink(PosixName(name).constData());
        shm_unlink(PosixName(name + QStringLiteral("Mutex")).constData());
    }
    close(fd);
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
