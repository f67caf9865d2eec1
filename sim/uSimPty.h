#pragma once
// The simulated tester on a pseudo-terminal, on a thread of its own, so that it answers
// while the thread that started it is busy. The port is published as a symbolic link
// TAMSIM<n> (first free n) in the virtual-port folder, which the program's port list shows,
// and the link is removed again when the simulator stops.
//
// The program opens and closes the port many times; the simulator serves every new open
// and sends nothing while no one holds the port, because bytes written into a pty with no
// reader would reach the next opener as a stale answer. When the holder closes the port the
// tester stops its work (register 1 := 0), as it would for a host that went away.
#include "uSimDevice.h"
#include "uSimOptions.h"

#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

class TSimPty {
public:
    TSimPty();
    ~TSimPty(); // stops
    TSimPty(const TSimPty &) = delete;
    TSimPty &operator=(const TSimPty &) = delete;

    // The folder in which simulated ports are published, below the runtime folder (created
    // when missing). Tests that set XDG_RUNTIME_DIR to a folder of their own get a port
    // folder of their own, which simulators of other tests running at the same time never see.
    static QString PortFolder();

    // Opens the pty pair, publishes the link and starts the thread. False with a message
    // when the pty or the link cannot be made, or when already running.
    bool Start(const TSimOptions &options = {}, QString *error = nullptr);
    // Ends the thread, closes the pty and removes the link. Safe to call twice.
    void Stop();
    bool Running() const;

    // The published link, e.g. /tmp/runtime-root/tamrel/ports/TAMSIM0; after Stop or death it
    // still names the link that was removed.
    QString PortName() const;
    QString SlavePath() const; // e.g. /dev/pts/3

    // True while a host holds the port open (as far as the pty shows it).
    bool HostPresent() const;
    // True once the die-after time made the simulator vanish (pty closed, link removed).
    bool Died() const;

    // The device, thread-safe in itself (see TSimDevice); null before Start.
    TSimDevice *Device() const { return FDevice.get(); }
    QVector<TSimFrameRecord> FrameLog() const;
    QByteArray Register(quint8 regNum) const;
    void SetRegister(quint8 regNum, const QByteArray &raw);
    void SetIdent(const QString &ident);
    QByteArray ReceivedImage() const;

private:
    static QString LockFolder(const QString &portFolder);
    // Opens and locks the lock of name TAMSIM<Number>; -1 when another simulator holds it.
    static int LockName(const QString &lockFolder, int number);
    // Removes the links whose simulator is gone.
    static void SweepLeftoverLinks(const QString &portFolder, const QString &lockFolder);
    void Run();
    void CloseAndUnlink();

    std::unique_ptr<TSimDevice> FDevice;
    std::thread FThread;
    std::atomic<bool> FStop{false};
    std::atomic<bool> FRunning{false};
    std::atomic<bool> FDied{false};
    std::atomic<bool> FLinked{false}; // the link in the port folder is ours to remove
    int FMaster = -1;
    int FLock = -1;           // held lock of the published name
    int FWake[2] = {-1, -1};  // self-pipe that interrupts the thread's poll on Stop
    std::mutex FHandOverLock; // guards FHandOver: device output not yet taken by the thread
    QByteArray FHandOver;
    QString FPortName;
    QString FSlavePath;
};
