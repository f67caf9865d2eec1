#include "uComPort.h"
#include "uComPortCore.h"

#include <QMutex>
#include <QThread>

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

void TComPort::SetPort(const QString &Value) {
    if (Value == FPort) return;
    FPort = Value;
    if (!Connected()) return;
    if (FUpdateCount > 0) {
        FPortChanged = true;
        return;
    }
    DoClose(true);
    DoOpen();
}

void TComPort::SetCustomBaudRate(int Value) {
    CommitLineSetting(FBaudRate, Value);
}

void TComPort::SetDataBits(TDataBits Value) {
    CommitLineSetting(FDataBits, Value);
}

void TComPort::SetStopBits(TStopBits Value) {
    CommitLineSetting(FStopBits, Value);
}

void TComPort::SetParityBits(TParityBits Value) {
    CommitLineSetting(FParity.Bits, Value);
}

template <class T> void TComPort::CommitLineSetting(T &Field, T Value) {
    if (Value == Field) return;
    const T Old = std::exchange(Field, Value);
    try {
        ApplyLineSettings();
    } catch (...) {
        Field = Old; // the open port refused it and keeps what it had
        throw;
    }
}

void TComPort::SetSyncMethod(TSyncMethod Value) {
    if (Value == FSyncMethod) return;
    if (Connected()) throw EComPort(QStringLiteral("Cannot set property while connected"));
    FSyncMethod = Value;
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
    QString Text;
    auto Apply = [&] {
        Ok = C->Serial && C->ApplyTo(S);
        if (!Ok && C->Serial) Text = C->Serial->errorString();
    };
    if (QThread::currentThread() == C->Thread)
        Apply();
    else
        QMetaObject::invokeMethod(C.get(), Apply, Qt::BlockingQueuedConnection);
    if (!Ok) throw EComPort(QStringLiteral("Unable to set com port settings: %1").arg(Text), EINVAL);
}

void TComPort::SetConnected(bool Value) {
    if (Value == Connected()) return;
    if (Value) {
        DoOpen();
    } else {
        DoClose(true);
    }
}

void TComPort::DoOpen() {
    FClosing.store(false, std::memory_order_release);
    auto C = std::make_shared<TComPortCore>();
    C->Self = C;
    C->Sync = FSyncMethod;
    C->StallMs = OutputStallMs;
    C->Thread = new QThread;
    C->Thread->setObjectName(QStringLiteral("ComPort ") + FPort);
    C->moveToThread(C->Thread);
    C->Thread->start();

    const TLineSettings S{FBaudRate, FDataBits, FParity.Bits, FStopBits};
    const QString Name = FPort;
    const TDTRFlowControl Dtr = FlowControl.ControlDTR;
    bool Ok = false;
    int Code = 0;
    QString Text;
    QMetaObject::invokeMethod(
        C.get(), [&] { Ok = C->OpenPort(Name, S, Dtr, Code, Text); }, Qt::BlockingQueuedConnection);
    if (!Ok) {
        C->Thread->quit();
        C->Thread->wait();
        delete C->Thread;
        C->Thread = nullptr;
        throw EComPort(
            QStringLiteral("Unable to open com port %1: error %2, %3").arg(Name).arg(Code).arg(Text), Code);
    }
    {
        QMutexLocker L(&C->Lock);
        C->Owner = this;
    }
    FCore = C;
    FLineSettingsChanged = false;
    if (OnAfterOpen) OnAfterOpen(this);
}

void TComPort::DoClose(bool RaiseEvent) {
    std::shared_ptr<TComPortCore> C = FCore;
    if (!C) return;
    FClosing.store(true, std::memory_order_release);
    {
        QMutexLocker L(&C->Lock);
        C->Owner = nullptr; // no handler starts from here on
        C->RxBuffer.clear();
    }
    const bool Stuck = C->AbortWrites();
    QThread *T = C->Thread;
    if (QThread::currentThread() == T) {
        // Closed from a handler on the port's own thread: close here and let the thread end
        // by itself; the core stays alive until the thread has finished.
        C->ClosePort(Stuck);
        QObject::connect(T, &QThread::finished, T, [C, T] { T->deleteLater(); });
        T->quit();
    } else {
        // Runs after a handler that is under way on the port's thread has returned, so the
        // port stays usable for that handler until then.
        QMetaObject::invokeMethod(
            C.get(), [&C, Stuck] { C->ClosePort(Stuck); }, Qt::BlockingQueuedConnection);
        T->quit();
        T->wait();
        delete T;
        C->Thread = nullptr;
    }
    FCore.reset();
    if (RaiseEvent && OnAfterClose) OnAfterClose(this);
}

int TComPort::ReadStr(QByteArray &Str, int Count) {
    Str.clear();
    if (!FCore || Count <= 0) return 0;
    QMutexLocker L(&FCore->Lock);
    const qsizetype N = qMin<qsizetype>(Count, FCore->RxBuffer.size());
    Str = FCore->RxBuffer.left(N);
    FCore->RxBuffer.remove(0, N);
    return int(N);
}

int TComPort::InputCount() const {
    if (!FCore) return 0;
    QMutexLocker L(&FCore->Lock);
    return int(FCore->RxBuffer.size());
}

void TComPort::WriteStr(const QByteArray &Str) {
    PAsync R;
    WriteStrAsync(Str, R);
    WaitForAsync(R);
}

void TComPort::WriteStrAsync(const QByteArray &Str, PAsync &AsyncPtr) {
    AsyncPtr = std::make_shared<TAsync>();
    if (!FCore) {
        AsyncPtr->Finish(false);
        return;
    }
    FCore->StartWrite(Str, AsyncPtr);
}

bool TComPort::AsyncDone(const PAsync &AsyncPtr, int TimeoutMs) {
    if (!AsyncPtr) return true;
    QMutexLocker L(&AsyncPtr->M);
    QDeadlineTimer Deadline(TimeoutMs);
    while (!AsyncPtr->Done) {
        if (!AsyncPtr->Cv.wait(&AsyncPtr->M, Deadline)) break;
    }
    return AsyncPtr->Done && !AsyncPtr->Failed;
}

bool TComPort::TryFinishAsync(PAsync &AsyncPtr) {
    if (!AsyncPtr) return true;
    bool Ok = false;
    {
        QMutexLocker L(&AsyncPtr->M);
        if (!AsyncPtr->Done) return false;
        Ok = !AsyncPtr->Failed;
    }
    AsyncPtr.reset();
    if (!Ok) throw EComPort(QStringLiteral("WriteFile function failed"));
    return true;
}

void TComPort::WaitForAsync(PAsync &AsyncPtr) {
    if (!AsyncPtr) return;
    PAsync R = std::move(AsyncPtr);
    AsyncPtr.reset();
    // On the port's own thread nobody else would finish the write: push it out here.
    if (FCore && QThread::currentThread() == FCore->Thread)
        FCore->FlushBlocking(QDeadlineTimer(WriteTimeoutMs));
    if (!AsyncDone(R, WriteTimeoutMs)) throw EComPort(QStringLiteral("WriteFile function failed"));
}
