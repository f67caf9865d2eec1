#pragma once
// A bare pseudo-terminal pair for serial tests that need to see the raw line.
#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

class TPtyPair {
public:
    TPtyPair() {
        Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (Master < 0 || ::grantpt(Master) != 0 || ::unlockpt(Master) != 0) return;
        SlaveName = QString::fromLocal8Bit(::ptsname(Master));
        // Keep one slave descriptor open so that the master never sees a hang-up between opens.
        Keeper = ::open(SlaveName.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        ::tcgetattr(Keeper, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(Keeper, TCSANOW, &t);
    }
    ~TPtyPair() {
        CloseMaster();
        if (Keeper >= 0) ::close(Keeper);
    }
    bool Ok() const { return Master >= 0 && !SlaveName.isEmpty(); }
    void CloseMaster() {
        if (Master >= 0) ::close(Master);
        Master = -1;
    }
    void Write(const QByteArray &data) const {
        (void)!::write(Master, data.constData(), size_t(data.size()));
    }
    // Reads until Count bytes have come or TimeoutMs passed.
    QByteArray Read(qsizetype count, int timeoutMs = 2000) const {
        QByteArray out;
        QDeadlineTimer d(timeoutMs);
        while (out.size() < count && !d.hasExpired()) {
            pollfd p{Master, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            char buf[4096];
            const ssize_t n = ::read(Master, buf, sizeof buf);
            if (n > 0) out.append(buf, n);
        }
        return out;
    }
    // Line speed that the slave side is set to.
    speed_t SlaveSpeed() const {
        termios t{};
        ::tcgetattr(Master, &t);
        return ::cfgetospeed(&t);
    }
    bool TwoStopBits() const {
        termios t{};
        ::tcgetattr(Master, &t);
        return (t.c_cflag & CSTOPB) != 0;
    }
    int Master = -1;
    int Keeper = -1;
    QString SlaveName;
};
