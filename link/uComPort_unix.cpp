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

bool IsPseudoTerminal(const QString &Name) {
    const QString Real = QFileInfo(Name).canonicalFilePath();
    return Real.startsWith(QLatin1String("/dev/pts/")) || Real == QLatin1String("/dev/ptmx");
}

int OpenErrorCode(QSerialPort::SerialPortError Error, int SystemError) {
    switch (Error) {
    case QSerialPort::DeviceNotFoundError:
        return SystemError == ENOENT || SystemError == ENODEV || SystemError == ENXIO ? SystemError : ENOENT;
    case QSerialPort::PermissionError:
        // Refused by the device's rights, or held by another program (its lock or its
        // exclusive use of the device).
        return SystemError == EACCES || SystemError == EPERM || SystemError == EBUSY ? SystemError : EBUSY;
    default:
        return SystemError != 0 ? SystemError : EIO;
    }
}

int LastSystemError(int Fallback) {
    return errno != 0 ? errno : Fallback;
}

qsizetype WriteNow(qintptr Fd, const char *Data, qsizetype Size) {
    qsizetype Done = 0;
    while (Done < Size) {
        const ssize_t N = ::write(int(Fd), Data + Done, size_t(Size - Done));
        if (N > 0) {
            Done += N;
            continue;
        }
        if (N < 0 && errno == EINTR) continue;
        if (N < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        return -1;
    }
    return Done;
}

bool DescriptorHungUp(qintptr Fd) {
    if (Fd < 0) return false;
    pollfd P{int(Fd), POLLIN, 0};
    if (::poll(&P, 1, 0) != 1) return false;
    if (P.revents & (POLLHUP | POLLNVAL)) return true;
    int Waiting = 0;
    return (P.revents & POLLIN) && ::ioctl(int(Fd), FIONREAD, &Waiting) == 0 && Waiting == 0;
}

void DiscardOutput(qintptr Fd) {
    ::tcflush(int(Fd), TCOFLUSH);
}

void WaitWritable(qintptr Fd, int Ms) {
    pollfd P{int(Fd), POLLOUT, 0};
    ::poll(&P, 1, Ms);
}

} // namespace ComPortDetail
