#include "uComPort.h"
#include "uComPortCore.h"

#include <QMutex>
#include <QThread>

#include <chrono>
#include <utility>

TComPort::TComPort() = default;

TComPort::~TComPort() {
    try {
        DoClose(false);
    } catch (...) {
    }
}

bool TComPort::Connected() const {
    return FCore != nullptr;
}

QThread *TComPort::EventThread() const {
    return FCore ? FCore->Thread : nullptr;
}

void TComPort::SetPort(const QString &value) {
    if (value == FPort) return;
    FPort = value;
    if (!Connected()) return;
    if (FUpdateCount > 0) {
        FPortChanged = true;
        return;
    }
    DoClose(true);
    DoOpen();
}

void TComPort::SetCustomBaudRate(int value) {
    CommitLineSetting(FBaudRate, value);
}

void TComPort::SetDataBits(TDataBits value) {
    CommitLineSetting(FDataBits, value);
}

void TComPort::SetStopBits(TStopBits value) {
    CommitLineSetting(FStopBits, value);
}

void TComPort::SetParityBits(TParityBits value) {
    CommitLineSetting(FParity.Bits, value);
}

template <class T> void TComPort::CommitLineSetting(T &Field, T Value) {
    if (Value == Field) return;
    const T old = std::exchange(Field, Value);
    try {
        ApplyLineSettings();
    } catch (...) {
        Field = old; // the open port refused it and keeps what it had
        throw;
    }
}

void TComPort::SetSyncMethod(TSyncMethod value) {
    if (value == FSyncMethod) return;
    if (Connected()) throw EComPort(QStringLiteral("Cannot set property while connected"));
    FSyncMethod = value;
}

void TComPort::BeginUpdate() {
    ++FUpdateCount;
}

void TComPort::EndUpdate() {
    if (FUpdateCount == 0) return;
    if (--FUpdateCount > 0) return;
    if (FPortChanged && Connected()) {
        FPortChanged = false;
        FLineSettingsChanged = false;
        DoClose(true);
        DoOpen();
        return;
    }
    FPortChanged = false;
    if (FLineSettingsChanged) ApplyLineSettings();
}

void TComPort::ApplyLineSettings() {
    if (!Connected()) return;
    if (FUpdateCount > 0) {
        FLineSettingsChanged = true;
        return;
    }
    FLineSettingsChanged = false;
    TLineSettings S{FBaudRate, FDataBits, FParity.Bits, FStopBits};
    std::shared_ptr<TComPortCore> C = FCore;
    bool Ok = false;
    QString text;
    auto apply = [&] {
        Ok = C->Serial && C->ApplyTo(S);
        if (!Ok && C->Serial) text = C->Serial->errorString();
    };
    if (QThread::currentThread() == C->Thread) {
        apply();
    } else {
        // A handler on the event thread that waits for this thread sees the flag and returns,
        // so that the event thread gets to the setting.
        FEventThreadAwaited.fetch_add(1, std::memory_order_acq_rel);
        KvThread::CallBlocking(C.get(), apply);
        FEventThreadAwaited.fetch_sub(1, std::memory_order_acq_rel);
    }
    if (!Ok) throw EComPort(QStringLiteral("Unable to set com port settings: %1").arg(text), EINVAL);
}

void TComPort::SetConnected(bool value) {
    if (value == Connected()) return;
    if (value) {
        DoOpen();
    } else {
        DoClose(true);
    }
}

void TComPort::DoOpen() {
    FClosing.store(false, std::memory_order_release);
    auto c = std::make_shared<TComPortCore>();
    c->Self = c;
    c->Sync = FSyncMethod;
    c->StallMs = OutputStallMs;
    c->Thread = new QThread;
    c->Thread->setObjectName(QStringLiteral("ComPort ") + FPort);
    c->moveToThread(c->Thread);
    c->Thread->start();

    const TLineSettings S{FBaudRate, FDataBits, FParity.Bits, FStopBits};
    const QString Name = FPort;
    const TDTRFlowControl Dtr = FlowControl.ControlDTR;
    bool Ok = false;
    int Code = 0;
    QString Text;
    KvThread::CallBlocking(c.get(), [&] { Ok = c->OpenPort(Name, S, Dtr, Code, Text); });
    if (!Ok) {
        c->Thread->quit();
        c->Thread->wait();
        delete c->Thread;
        c->Thread = nullptr;
        throw EComPort(
            QStringLiteral("Unable to open com port %1: error %2, %3").arg(Name).arg(Code).arg(Text), Code);
    }
    // The core first, then the owner under the lock: a handler that the event thread starts
    // as soon as it sees the owner finds the port complete.
    FCore = c;
    FLineSettingsChanged = false;
    {
        QMutexLocker l(&c->Lock);
        c->Owner = this;
    }
    if (OnAfterOpen) OnAfterOpen(this);
}

void TComPort::DoClose(bool raiseEvent) {
    std::shared_ptr<TComPortCore> c = FCore;
    if (!c) return;
    FClosing.store(true, std::memory_order_release);
    {
        QMutexLocker l(&c->Lock);
        c->Owner = nullptr; // no handler starts from here on
        c->RxBuffer.clear();
    }
    const bool stuck = c->AbortWrites();
    QThread *t = c->Thread;
    if (QThread::currentThread() == t) {
        // Closed from a handler on the port's own thread: close here and let the thread end
        // by itself; the core stays alive until the thread has finished.
        c->ClosePort(stuck);
        QObject::connect(t, &QThread::finished, t, [c, t] { t->deleteLater(); });
        t->quit();
    } else {
        // Runs after a handler that is under way on the port's thread has returned, so the
        // port stays usable for that handler until then.
        KvThread::CallBlocking(c.get(), [&c, stuck] { c->ClosePort(stuck); });
        t->quit();
        t->wait();
        delete t;
        c->Thread = nullptr;
    }
    FCore.reset();
    if (raiseEvent && OnAfterClose) OnAfterClose(this);
}

int TComPort::ReadStr(QByteArray &str, int count) {
    str.clear();
    if (!FCore || count <= 0) return 0;
    QMutexLocker l(&FCore->Lock);
    const qsizetype n = qMin<qsizetype>(count, FCore->RxBuffer.size());
    str = FCore->RxBuffer.left(n);
    FCore->RxBuffer.remove(0, n);
    return int(n);
}

int TComPort::InputCount() const {
    if (!FCore) return 0;
    QMutexLocker l(&FCore->Lock);
    return int(FCore->RxBuffer.size());
}

void TComPort::WriteStr(const QByteArray &str) {
    PAsync r;
    WriteStrAsync(str, r);
    WaitForAsync(r);
}

void TComPort::WriteStrAsync(const QByteArray &str, PAsync &asyncPtr) {
    asyncPtr = std::make_shared<TAsync>();
    if (!FCore) {
        asyncPtr->Finish(false);
        return;
    }
    FCore->StartWrite(str, asyncPtr);
}

bool TComPort::AsyncDone(const PAsync &asyncPtr, int timeoutMs) {
    if (!asyncPtr) return true;
    std::unique_lock l(asyncPtr->M);
    asyncPtr->Cv.wait_for(l, std::chrono::milliseconds(timeoutMs), [&] { return asyncPtr->Done; });
    return asyncPtr->Done && !asyncPtr->Failed;
}

bool TComPort::TryFinishAsync(PAsync &asyncPtr) {
    if (!asyncPtr) return true;
    bool ok = false;
    {
        std::lock_guard l(asyncPtr->M);
        if (!asyncPtr->Done) return false;
        ok = !asyncPtr->Failed;
    }
    asyncPtr.reset();
    if (!ok) throw EComPort(QStringLiteral("WriteFile function failed"));
    return true;
}

void TComPort::WaitForAsync(PAsync &asyncPtr) {
    if (!asyncPtr) return;
    PAsync r = std::move(asyncPtr);
    asyncPtr.reset();
    // On the port's own thread nobody else would finish the write: push it out here.
    if (FCore && QThread::currentThread() == FCore->Thread)
        FCore->FlushBlocking(QDeadlineTimer(WriteTimeoutMs));
    if (!AsyncDone(r, WriteTimeoutMs)) throw EComPort(QStringLiteral("WriteFile function failed"));
}
