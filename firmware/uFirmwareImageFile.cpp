#include "uFirmwareImageFile.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void Refuse(const QString &message) {
    throw EFirmwareFile(message.toStdString());
}

QString Shown(const QString &path) {
    return QDir::toNativeSeparators(path);
}

QString KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return QStringLiteral("a folder");
    if (S_ISFIFO(mode)) return QStringLiteral("a pipe");
    if (S_ISCHR(mode) || S_ISBLK(mode)) return QStringLiteral("a device");
    if (S_ISSOCK(mode)) return QStringLiteral("a socket");
    return QStringLiteral("not a regular file");
}

void CheckRegular(const QString &path, const struct stat &st) {
    if (!S_ISREG(st.st_mode))
        Refuse(QStringLiteral("\"%1\" is %2, not a file: a firmware image is read from a regular file only")
                   .arg(Shown(path), KindOf(st.st_mode)));
    if (st.st_size > MaxFirmwareImageSize)
        Refuse(QStringLiteral("File \"%1\" is too large for a firmware image (%2 bytes, at most %3)")
                   .arg(Shown(path))
                   .arg(qint64(st.st_size))
                   .arg(MaxFirmwareImageSize));
}

// Closes the descriptor on every way out.
struct TFd {
    int Fd;
    ~TFd() {
        if (Fd >= 0) ::close(Fd);
    }
};

} // namespace

QByteArray ReadFirmwareImageFile(const QString &path) {
    const QByteArray native = QFile::encodeName(path);
    // Looked at before it is opened: opening a device can have effects of its own (a serial
    // port's control lines), and opening a pipe waits for its writer.
    struct stat st {};
    if (::stat(native.constData(), &st) != 0)
        Refuse(QStringLiteral("Cannot open file \"%1\". %2")
                   .arg(Shown(path), QString::fromLocal8Bit(std::strerror(errno))));
    CheckRegular(path, st);
    // Non-blocking, and checked again once open: the name may have come to mean another file.
    const TFd file{::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    if (file.Fd < 0)
        Refuse(QStringLiteral("Cannot open file \"%1\". %2")
                   .arg(Shown(path), QString::fromLocal8Bit(std::strerror(errno))));
    if (::fstat(file.Fd, &st) != 0)
        Refuse(QStringLiteral("Cannot read file \"%1\". %2")
                   .arg(Shown(path), QString::fromLocal8Bit(std::strerror(errno))));
    CheckRegular(path, st);
    // At most one byte more than the largest image, to tell a file that grew past it.
    QByteArray bytes(qsizetype(st.st_size), Qt::Uninitialized);
    qint64 have = 0;
    for (;;) {
        if (have == bytes.size()) {
            if (bytes.size() > MaxFirmwareImageSize) break;
            bytes.resize(qMin<qint64>(qMax<qint64>(bytes.size() * 2, 4096), MaxFirmwareImageSize + 1));
        }
        const ssize_t n = ::read(file.Fd, bytes.data() + have, size_t(bytes.size() - have));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0)
            Refuse(QStringLiteral("Cannot read file \"%1\". %2")
                       .arg(Shown(path), QString::fromLocal8Bit(std::strerror(errno))));
        if (n == 0) break;
        have += n;
    }
    if (have > MaxFirmwareImageSize)
        Refuse(QStringLiteral("File \"%1\" is too large for a firmware image (more than %2 bytes)")
                   .arg(Shown(path))
                   .arg(MaxFirmwareImageSize));
    bytes.resize(have);
    return bytes;
}
