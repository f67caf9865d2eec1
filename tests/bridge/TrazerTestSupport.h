#pragma once
// The pieces the shared-memory server tests share: the companion in its own process, a private
// settings folder for the server's announcement, names no other test run uses, and an engine
// with a server that is fed device frames and records what it sends.
#include "KvTestFixture.h"
#include "uChildProcess.h"
#include "uKvProtocol.h"
#include "uTrazerServerKv.h"

#include <QCoreApplication>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The companion program, driven line by line (see trazer_companion.cpp). Started without
// QProcess, so that the thread build still checks this test process afterwards.
class TCompanion {
public:
    explicit TCompanion(const QString &settingsDir) {
        FStarted =
            FProc.Start(QStringLiteral(TRAZER_COMPANION_EXE), {QStringLiteral("--settings"), settingsDir}) &&
            ReadLine() == QStringLiteral("ready");
    }
    ~TCompanion() {
        if (!FProc.Running()) return;
        FProc.Write("quit\n");
        if (!FProc.WaitForFinished(10000)) {
            ::kill(pid_t(FProc.Pid()), SIGKILL);
            FProc.WaitForFinished(10000);
        }
    }
    TCompanion(const TCompanion &) = delete;
    TCompanion &operator=(const TCompanion &) = delete;

    bool Started() const { return FStarted; }
    // Sends one command and returns its answer line ("" when none came in time).
    QString Ask(const QString &command, int timeoutMs = 60000) {
        FProc.Write(command.toUtf8() + '\n');
        return ReadLine(timeoutMs);
    }
    // Sends a command whose answer is collected later with Answer (for long-running ones).
    void Send(const QString &command) { FProc.Write(command.toUtf8() + '\n'); }
    bool AnswerReady() { return FProc.CanReadLine(); }
    QString Answer() { return QString::fromUtf8(FProc.ReadLine(0)).trimmed(); }

private:
    QString ReadLine(int timeoutMs = 60000) { return QString::fromUtf8(FProc.ReadLine(timeoutMs)).trimmed(); }
    TChildProcess FProc;
    bool FStarted = false;
};

// A server name for this test process only: test runs side by side must not meet in /dev/shm.
inline QString UniqueServerName(const QString &tag) {
    return QStringLiteral("TamrelTest%1%2").arg(QCoreApplication::applicationPid()).arg(tag);
}

// The server's announcement goes to a settings folder of the test's own.
struct TPrivateSettings {
    QTemporaryDir Dir;
    TPrivateSettings() { QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Dir.path()); }
    QString Path() const { return Dir.path(); }
};

// One companion for a whole test class, with the class's private settings folder.
class TCompanionSession {
public:
    bool Start() {
        FCompanion = std::make_unique<TCompanion>(FSettings.Path());
        return FSettings.Dir.isValid() && FCompanion->Started();
    }
    void Stop() { FCompanion.reset(); }
    TCompanion *operator->() const { return FCompanion.get(); }
    QString Open(const QString &name) { return FCompanion->Ask(QStringLiteral("open ") + name); }
    QString SettingsPath() const { return FSettings.Path(); }

private:
    TPrivateSettings FSettings;
    std::unique_ptr<TCompanion> FCompanion;
};

// Bytes as the companion prints them.
inline QString HexOf(const QByteArray &data) {
    return data.isEmpty() ? QStringLiteral("-") : QString::fromLatin1(data.toHex());
}

inline TKvRegister Declared(quint8 regNum, TKvRegisterType type) {
    TKvRegister reg;
    reg.RegAdr = regNum;
    reg.RegType = type;
    return reg;
}

// An engine constructed with a server name, fed device frames, its sent payloads recorded.
struct TServedEngine {
    QList<QByteArray> Sent;                         // payloads the engine sent
    QList<quint8> Notified;                         // the application's OnReceivedRegister
    std::function<void(const QByteArray &)> OnSend; // called for each payload as it is sent
    std::unique_ptr<TKvProtocol> Engine;

    explicit TServedEngine(const QString &name, const TKvRegistersDynArray &regs = {}) {
        Engine = std::make_unique<TKvProtocol>(
            [this](const QByteArray &frame) {
                const QByteArray payload = TKvCapture::PayloadOf(frame);
                Sent << payload;
                if (OnSend) OnSend(payload);
            },
            regs, [this](TKvProtocol *, quint8 r) { Notified << r; }, TOnAck{}, TOutputData{}, false,
            QString{}, false, name);
        Engine->FirstPacket = false; // requests go out as they are, without the first-contact probe
    }
    TTrazerServer *Server() const { return dynamic_cast<TTrazerServer *>(Engine->TrazerServerI.get()); }
    void Feed(const QByteArray &payload) { Engine->InputData(DeviceFrame(payload)); }
    // A value of register 254 as the device sends it.
    void Stream(const QByteArray &value) { Feed(Hex("07 FE 0A") + value); }
    // Any other register value: the traffic at whose pace the server serves commands.
    void Traffic() { Feed(Hex("07 02 07 00 00 00 00")); }
};

// Offsets in the block, as a client counts them.
constexpr int BlockBuffer = 13;
constexpr int BlockExt = 13 + 1000000;
