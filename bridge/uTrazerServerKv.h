#pragma once
// TTrazerServer: lets a companion oscilloscope program in another process use the device
// connection of one protocol engine through a named shared-memory block. The companion
// receives the stream of register 254's values, has registers read (and gets the value back
// as a double) and has registers written; a liveness object shows that the server lives and
// a value in the user's settings announces its name (see uTrazerNamedObjects.h).
//
// The engine makes the server itself when it is constructed with a server name, through the
// factory this library installs, and holds the one reference to it. The server's handlers run
// on the thread on which the engine interprets received payloads; the companion works on the
// block at any time, under the block's spin lock or through the command record's Status.
#include "uKvTrazerHook.h"
#include "uTrazerNamedObjects.h"
#include "uTrazerSharedRecords.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

class TKvProtocol;

class TTrazerServer : public ITrazerServer {
public:
    // AKvProtocol: the engine served, not owned. An empty name stands for the engine's class.
    // Named objects that cannot be had (a name the host cannot use, another user's object of
    // that name, a running server of that name) leave the server inert: no block, no liveness
    // object, no announcement, no hook, handlers that do nothing; Refusal says why, and the
    // engine's trace log and the standard error stream get the same line.
    TTrazerServer(TKvProtocol *aKvProtocol, const QString &trazerServerName);
    ~TTrazerServer() override;
    TTrazerServer(const TTrazerServer &) = delete;
    TTrazerServer &operator=(const TTrazerServer &) = delete;

    // The engine's OnReceivedRegisterTrazer: every register value of command 7/18, before the
    // engine's own notification. Records register 254's values, then serves the commands.
    void OnReceivedRegister(TKvProtocol *senderKvProtocol, quint8 regNum);
    // Serves the companion's write request and read handshake.
    void OnRegisterUpdate(quint8 regNum);

    // The published name: "Terminal" removed once in any letter case, then a leading T that
    // comes before another upper-case letter (TTerminalRig and TerminalRig give Rig).
    static QString RegisterServerNameFor(const QString &trazerServerName);
    // Why a server of the given name could never publish (the host cannot use the published
    // name), as a line for the technician; empty when the name is usable.
    static QString NameProblem(const QString &trazerServerName);

    QString Refusal() const override { return FRefusal; }

    // Longest wait for the spin lock. A companion holds it only to copy a few bytes; one that
    // died holding it costs this once, after which each handler tries only once until the
    // lock is seen free again, so the engine's thread never hangs on it.
    static constexpr quint32 SpinLockMaxWaitMs = 500;

    TTrazerHandle HFileMapping = 0;
    TTrazerHandle HMutexProtocolLive = 0;
    TTrazerSharedRecord *PSharedBuffer = nullptr; // null: not mapped
    TTrazerSharedRecordExt *PSharedBufferExt = nullptr;
    TKvProtocol *FKvProtocol = nullptr;
    QString RegisterServerName;
    qint32 InputBufferSizeActual = 0;
    quint8 *PInputBuffer = nullptr;

private:
    enum class TAppend { Written, Skipped, BufferFull };
    TAppend AppendRecord(const QByteArray &value);
    void ServeWriteRequest();
    void ServeReadRequest(quint8 regNum);
    bool TakeSpinLock();
    void ReleaseSpinLock();
    std::int32_t *SpinlockWord() const;

    bool FSpinLockStalled = false;
    bool FAnnounced = false;
    QString FRefusal;
};
