#include "uSimPty.h"
#include "uTamrelTester.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString ErrnoText(const char *what) {
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(strerror(errno)));
}

void MakeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return;
    cfmakeraw(&t);
    // The tester's line rate; a pseudo-terminal takes it as information only.
    static_assert(TamrelTester::BaudRate == 115200);
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    tcsetattr(fd, TCSANOW, &t);
}

// Opens the slave for a moment, throws away whatever waits in its input and closes it again.
// This leaves the master in the hung-up state that says "no one holds the port", and takes
// back bytes that were written just as the last holder closed.
void TouchSlave(const QByteArray &slavePath, bool setRaw) {
    const int fd = ::open(slavePath.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return;
    if (setRaw) MakeRaw(fd);
    tcflush(fd, TCIFLUSH);
    char buf[256];
    while (::read(fd, buf, sizeof buf) > 0) {
    }
    ::close(fd);
}

// Discards what waits in the slave's input without reading it, while a host holds it.
void FlushSlaveInput(const QByteArray &slavePath) {
    const int fd = ::open(slavePath.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return;
    tcflush(fd, TCIFLUSH);
    ::close(fd);
}

// Whether the master shows a hang-up now (no slave descriptor open).
bool MasterHungUp(int master) {
    pollfd p{master, 0, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
}

} // namespace

TSimPty::TSimPty() = default;

TSimPty::~TSimPty() {
    Stop();
}

QString TSimPty::LockFolder(const QString &portFolder) {
    const QString folder = QDir::cleanPath(portFolder + "/../sim-locks") + "/";
    QDir().mkpath(folder);
    return folder;
}

int TSimPty::LockName(const QString &lockFolder, int number) {
    const QByteArray path = QFile::encodeName(lockFolder + QStringLiteral("TAMSIM%1.lock").arg(number));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void TSimPty::SweepLeftoverLinks(const QString &portFolder, const QString &lockFolder) {
    const QDir dir(portFolder);
    static const QRegularExpression name("^TAMSIM(\\d+)$");
    for (const QFileInfo &fi : dir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        const QRegularExpressionMatch m = name.match(fi.fileName());
        if (!m.hasMatch() || !fi.isSymLink()) continue;
        const int lock = LockName(lockFolder, m.captured(1).toInt());
        if (lock < 0) continue; // its simulator runs
        // Holding the lock, no simulator can publish this name while the leftover goes.
        ::unlink(QFile::encodeName(fi.filePath()).constData());
        ::close(lock);
    }
}

QString TSimPty::PortFolder() {
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + "/tamrel/ports/";
    QDir().mkpath(folder);
    return folder;
}

bool TSimPty::Start(const TSimOptions &options, QString *error) {
    auto fail = [&](const QString &message) {
        if (error) *error = message;
        CloseAndUnlink();
        return false;
    };
    if (FRunning.load() || FThread.joinable()) {
        if (error) // the running simulator is left alone
            *error = QStringLiteral("The simulator is already running");
        return false;
    }
    FDied = false;
    FStop = false;
    FPortName.clear();
    FSlavePath.clear();

    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (FMaster < 0) return fail(ErrnoText("posix_openpt"));
    ::fcntl(FMaster, F_SETFD, FD_CLOEXEC);
    char name[128] = {};
    if (::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0 || ::ptsname_r(FMaster, name, sizeof name) != 0)
        return fail(ErrnoText("pseudo-terminal"));
    FSlavePath = QString::fromLocal8Bit(name);
    MakeRaw(FMaster);
    TouchSlave(name, true);

    if (::pipe2(FWake, O_NONBLOCK | O_CLOEXEC) != 0) return fail(ErrnoText("pipe"));

    // Publish under the first free number. Each name is owned through a lock that the
    // simulator holds while it runs and that the system releases when it dies, so a link
    // left by a killed simulator is recognised (its lock is free) even when its pty number
    // has been given to someone else since, and two simulators never take the same name.
    const QString folder = PortFolder(); // asks the system once: it may warn each time
    const QString locks = LockFolder(folder);
    SweepLeftoverLinks(folder, locks);
    const QByteArray target = FSlavePath.toLocal8Bit();
    for (int n = 0; n < 1000 && FPortName.isEmpty(); ++n) {
        const int lock = LockName(locks, n);
        if (lock < 0) continue; // in use
        const QString link = folder + QStringLiteral("TAMSIM%1").arg(n);
        const QByteArray linkPath = QFile::encodeName(link);
        ::unlink(linkPath.constData()); // a leftover, since its lock was free
        if (::symlink(target.constData(), linkPath.constData()) != 0) {
            ::close(lock);
            return fail(ErrnoText("symlink") + " " + link);
        }
        FPortName = link;
        FLock = lock;
        FLinked = true;
    }
    if (FPortName.isEmpty()) return fail(QStringLiteral("No free port name in %1").arg(folder));

    FDevice = std::make_unique<TSimDevice>(options);
    FDevice->SetHostPresent(false);
    FRunning = true;
    FThread = std::thread([this] { Run(); });
    return true;
}

void TSimPty::Stop() {
    FStop = true;
    if (FWake[1] >= 0) {
        const char c = 1;
        [[maybe_unused]] auto r = ::write(FWake[1], &c, 1);
    }
    if (FThread.joinable()) FThread.join();
    CloseAndUnlink();
    for (int &fd : FWake) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    FRunning = false;
}

void TSimPty::CloseAndUnlink() {
    if (FMaster >= 0) {
        ::close(FMaster);
        FMaster = -1;
    }
    if (FLinked.exchange(false)) {
        // Only our own link: another simulator may have taken the name over meanwhile.
        const QByteArray linkPath = QFile::encodeName(FPortName);
        char buf[256] = {};
        const ssize_t n = ::readlink(linkPath.constData(), buf, sizeof buf - 1);
        if (n > 0 && QString::fromLocal8Bit(buf, int(n)) == FSlavePath) ::unlink(linkPath.constData());
    }
    if (FLock >= 0) {
        ::close(FLock); // after the unlink: the name is free only once the link is gone
        FLock = -1;
    }
}

void TSimPty::Run() {
    // A throttled answer is timed to the microsecond; the default 50 us timer slack would
    // let every answer leave late by up to that much, ten times per polling tick.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    QByteArray pendingOut; // bytes the device sent that the pty did not take yet
    // The device normally sends from this thread; a test that makes it send from another
    // thread (SendRegister) lands here too, so its bytes are handed over under a lock.
    {
        std::lock_guard<std::mutex> l(FHandOverLock);
        FHandOver.clear();
    }
    FDevice->SetOutput([this](const QByteArray &bytes) {
        std::lock_guard<std::mutex> l(FHandOverLock);
        FHandOver.append(bytes);
    });
    auto takeOutput = [&] {
        std::lock_guard<std::mutex> l(FHandOverLock);
        pendingOut.append(FHandOver);
        FHandOver.clear();
    };
    const QByteArray slave = FSlavePath.toLocal8Bit();
    bool hung = true; // after TouchSlave in Start, no one holds the port
    alignas(inotify_event) char buf[4096];
    int opens = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (opens >= 0 && ::inotify_add_watch(opens, slave.constData(), IN_OPEN) < 0) {
        ::close(opens);
        opens = -1;
    }

    while (!FStop.load()) {
        if (FDevice->Dead()) {
            // Unplugged: the holder of the port sees the hang-up, the port leaves the list.
            CloseAndUnlink();
            FDied = true;
            break;
        }
        if (hung) {
            // The master reports POLLHUP at once while hung up, so it cannot be waited on.
            // An open of the slave wakes this wait through its inotify event; without inotify
            // the master is looked at every 2 ms.
            pollfd w[2] = {{FWake[0], POLLIN, 0}, {opens, POLLIN, 0}};
            ::poll(w, opens >= 0 ? 2 : 1, opens >= 0 ? 50 : 2);
            if (opens >= 0)
                while (::read(opens, buf, sizeof buf) > 0) {
                }
            if (FStop.load()) break;
            if (!MasterHungUp(FMaster)) {
                // A new holder. Nothing was sent since the last one left, so whatever waits
                // in the port's input now is stale (written while that holder was closing).
                FlushSlaveInput(slave);
                hung = false;
                FDevice->SetHostPresent(true);
            } else {
                FDevice->Tick(); // model and die-after go on; nothing is sent
                continue;
            }
        }
        // A deaf tester leaves the host's bytes where they are; a hang-up still shows.
        const bool deaf = FDevice->Deaf();
        pollfd fds[2] = {{FMaster, short((deaf ? 0 : POLLIN) | (pendingOut.isEmpty() ? 0 : POLLOUT)), 0},
                         {FWake[0], POLLIN, 0}};
        // Waits to the microsecond, so that a throttled answer leaves when its last byte would.
        // Waking from a sleep takes tens of microseconds on a busy host, and every late answer
        // delays the host's next request: the last SpinMs before something is due are spent
        // looking (the turns round this loop) instead of sleeping.
        constexpr double spinMs = 0.06;
        const double waitMs = pendingOut.isEmpty() ? FDevice->NextDue() : std::min(FDevice->NextDue(), 1.0);
        const timespec wait{0, long(std::max(0.0, waitMs - spinMs) * 1e6)};
        ::ppoll(fds, 2, &wait, nullptr);
        if (FStop.load()) break;
        if (!deaf && (fds[0].revents & POLLIN)) {
            for (;;) {
                const ssize_t n = ::read(FMaster, buf, sizeof buf);
                if (n <= 0) break;
                FDevice->Receive(QByteArray(buf, int(n)));
            }
        }
        if ((fds[0].revents & POLLHUP) || MasterHungUp(FMaster)) {
            hung = true;
            takeOutput();
            pendingOut.clear();
            TouchSlave(slave, false);
            FDevice->SetHostPresent(false);
            continue;
        }
        FDevice->Tick();
        takeOutput();
        while (!pendingOut.isEmpty()) {
            if (MasterHungUp(FMaster)) break; // the next turn notices it and drops the bytes
            const ssize_t n = ::write(FMaster, pendingOut.constData(), size_t(pendingOut.size()));
            if (n <= 0) break; // full (EAGAIN): POLLOUT says when to go on
            pendingOut.remove(0, n);
        }
    }
    FDevice->SetOutput({});
    if (opens >= 0) ::close(opens);
}

bool TSimPty::Running() const {
    return FRunning.load() && !FDied.load();
}

QString TSimPty::PortName() const {
    return FPortName;
}

QString TSimPty::SlavePath() const {
    return FSlavePath;
}

bool TSimPty::HostPresent() const {
    return FDevice && FDevice->HostPresent();
}

bool TSimPty::Died() const {
    return FDied.load();
}

QVector<TSimFrameRecord> TSimPty::FrameLog() const {
    return FDevice ? FDevice->FrameLog() : QVector<TSimFrameRecord>();
}

QByteArray TSimPty::Register(quint8 regNum) const {
    return FDevice ? FDevice->Register(regNum) : QByteArray();
}

void TSimPty::SetRegister(quint8 regNum, const QByteArray &raw) {
    if (FDevice) FDevice->SetRegister(regNum, raw);
}

void TSimPty::SetIdent(const QString &ident) {
    if (FDevice) FDevice->SetIdent(ident);
}

QByteArray TSimPty::ReceivedImage() const {
    return FDevice ? FDevice->ReceivedImage() : QByteArray();
}
