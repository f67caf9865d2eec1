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
        termios T{};
        ::tcgetattr(Keeper, &T);
        ::cfmakeraw(&T);
        ::tcsetattr(Keeper, TCSANOW, &T);
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
    void Write(const QByteArray &Data) const {
        (void)!::write(Master, Data.constData(), size_t(Data.size()));
    }
    // Reads until Count bytes have come or TimeoutMs passed.
    QByteArray Read(qsizetype Count, int TimeoutMs = 2000) const {
        QByteArray Out;
        QDeadlineTimer D(TimeoutMs);
        while (Out.size() < Count && !D.hasExpired()) {
            pollfd P{Master, POLLIN, 0};
            if (::poll(&P, 1, 20) <= 0) continue;
            char Buf[4096];
            const ssize_t N = ::read(Master, Buf, sizeof Buf);
            if (N > 0) Out.append(Buf, N);
        }
        return Out;
    }
    // Line speed that the slave side is set to.
    speed_t SlaveSpeed() const {
        termios T{};
        ::tcgetattr(Master, &T);
        return ::cfgetospeed(&T);
    }
    bool TwoStopBits() const {
        termios T{};
        ::tcgetattr(Master, &T);
        return (T.c_cflag & CSTOPB) != 0;
    }
    int Master = -1;
    int Keeper = -1;
    QString SlaveName;
};
