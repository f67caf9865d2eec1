// The serial port's use of POSIX descriptors: raw writes, hang-up signs, the driver's output
// queue, and the host's error codes.
#include "uComPortCore.h"

#include <QFileInfo>

#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace ComPortDetail {

bool IsPseudoTerminal(const QString &name) {
    const QString real = QFileInfo(name).canonicalFilePath();
    return real.startsWith(QLatin1String("/dev/pts/")) || real == QLatin1String("/dev/ptmx");
}

int OpenErrorCode(QSerialPort::SerialPortError error, int systemError) {
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return systemError == ENOENT || systemError == ENODEV || systemError == ENXIO ? systemError : ENOENT;
    case QSerialPort::PermissionError:
        // Refused by the device's rights, or held by another program (its lock or its
        // exclusive use of the device).
        return systemError == EACCES || systemError == EPERM || systemError == EBUSY ? systemError : EBUSY;
    default:
        return systemError != 0 ? systemError : EIO;
    }
}

int LastSystemError(int fallback) {
    return errno != 0 ? errno : fallback;
}

qsizetype WriteNow(qintptr fd, const char *data, qsizetype size) {
    qsizetype done = 0;
    while (done < size) {
        const ssize_t n = ::write(int(fd), data + done, size_t(size - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        return -1;
    }
    return done;
}

bool DescriptorHungUp(qintptr fd) {
    if (fd < 0) return false;
    pollfd p{int(fd), POLLIN, 0};
    if (::poll(&p, 1, 0) != 1) return false;
    if (p.revents & (POLLHUP | POLLNVAL)) return true;
    int waiting = 0;
    return (p.revents & POLLIN) && ::ioctl(int(fd), FIONREAD, &waiting) == 0 && waiting == 0;
}

void DiscardOutput(qintptr fd) {
    ::tcflush(int(fd), TCOFLUSH);
}

void WaitWritable(qintptr fd, int ms) {
    pollfd p{int(fd), POLLOUT, 0};
    ::poll(&p, 1, ms);
}

} // namespace ComPortDetail
