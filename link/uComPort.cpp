#include "uComPort.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QMutex>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QWaitCondition>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QDeadlineTimer>

struct TAsync {
    QMutex M;
    QWaitCondition Cv;
    bool Done = false;
    bool Failed = false;

    void Finish(bool Ok) {
        QMutexLocker L(&M);
        Done = true;
        Failed = !Ok;
        Cv.wakeAll();
    }
};

namespace {

bool IsPseudoTerminal(const QString &Name) {
    const QString Real = QFileInfo(Name).canonicalFilePath();
    return Real.startsWith(QLatin1String("/dev/pts/")) || Real == QLatin1String("/dev/ptmx");
}

QSerialPort::DataBits ToQt(TDataBits V) {
    switch (V) {
    case dbFive:
        return QSerialPort::Data5;
    case dbSix:
        return QSerialPort::Data6;
    case dbSeven:
        return QSerialPort::Data7;
    default:
        return QSerialPort::Data8;
    }
}

QSerialPort::Parity ToQt(TParityBits V) {
    switch (V) {
    case prOdd:
        return QSerialPort::OddParity;
    case prEven:
        return QSerialPort::EvenParity;
    case prMark:
        return QSerialPort::MarkParity;
    case prSpace:
        return QSerialPort::SpaceParity;
    default:
        return QSerialPort::NoParity;
    }
}

QSerialPort::StopBits ToQt(TStopBits V) {
    switch (V) {
    case sbOne5StopBits:
        return QSerialPort::OneAndHalfStop;
    case sbTwoStopBits:
        return QSerialPort::TwoStop;
    default:
        return QSerialPort::OneStop;
    }
}

struct TLineSettings {
    int BaudRate = 9600;
    TDataBits DataBits = dbEight;
    TParityBits Parity = prNone;
    TStopBits StopBits = sbOneStopBit;
};

struct TTxItem {
    QByteArray Rest;
    PAsync Record;
};

} // namespace

// State shared by the port object, its event thread and the calls posted to the GUI thread.
class TComPortCore : public QObject {
public:
    // ---- Owned by the event thread
    QSerialPort *Serial = nullptr;
    QSocketNotifier *WriteNotifier = nullptr;
    QTimer *StallTimer = nullptr; // runs while output waits and the line takes nothing
    int StallMs = 0;
    bool LineGone = false; // the line hung up or stalled; it is being or has been let go

    QThread *Thread = nullptr;
    TSyncMethod Sync = smThreadSync;

    QMutex Lock; // guards everything below
    int Fd = -1; // the descriptor writers use; -1 once the line is let go
    QByteArray RxBuffer;
    bool RxNotifyPending = false;
    QList<TTxItem> TxQueue;
    TComPort *Owner = nullptr; // cleared when the port closes
    std::weak_ptr<TComPortCore> Self;

    // ---- Event thread
    bool OpenPort(const QString &Name, const TLineSettings &S, TDTRFlowControl Dtr, int &Code,
                  QString &Text) {
        Serial = new QSerialPort(this);
        Serial->setPortName(Name);
        ApplyTo(S);
        if (!Serial->open(QIODevice::ReadWrite)) {
            Text = Serial->errorString();
            Code = HostErrorCode(Name);
            delete Serial;
            Serial = nullptr;
            return false;
        }
        // A pseudo-terminal has no modem lines: the request fails there and means nothing.
        if (!Serial->setDataTerminalReady(Dtr != dtrDisable) && !IsPseudoTerminal(Name)) {
            Text = Serial->errorString();
            Code = EINVAL;
            Serial->close();
            delete Serial;
            Serial = nullptr;
            return false;
        }
        Serial->clearError();
        Fd = int(Serial->handle());
        connect(Serial, &QSerialPort::readyRead, this, [this] { ReadyRead(); });
        connect(Serial, &QSerialPort::errorOccurred, this,
                [this](QSerialPort::SerialPortError E) { SerialError(E); });
        WriteNotifier = new QSocketNotifier(Fd, QSocketNotifier::Write, this);
        WriteNotifier->setEnabled(false);
        connect(WriteNotifier, &QSocketNotifier::activated, this, [this] { FlushSome(); });
        if (StallMs > 0) {
            StallTimer = new QTimer(this);
            StallTimer->setSingleShot(true);
            StallTimer->setInterval(StallMs);
            connect(StallTimer, &QTimer::timeout, this, [this] { OutputStalled(); });
        }
        return true;
    }

    static int HostErrorCode(const QString &Name) {
        const QByteArray Path =
            QFile::encodeName(Name.startsWith('/') ? Name : QStringLiteral("/dev/") + Name);
        const int Fd = ::open(Path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (Fd < 0) return errno;
        ::close(Fd);
        return EBUSY; // the device exists but refused us: held by another program
    }

    bool ApplyTo(const TLineSettings &S) {
        bool Ok = Serial->setBaudRate(S.BaudRate);
        Ok = Serial->setDataBits(ToQt(S.DataBits)) && Ok;
        Ok = Serial->setParity(ToQt(S.Parity)) && Ok;
        Ok = Serial->setStopBits(ToQt(S.StopBits)) && Ok;
        return Ok;
    }

    // DiscardOutput: the line was taking nothing, so what still waits in the driver is thrown
    // away; a driver that waits for it to drain would otherwise hold the close for long.
    void ClosePort(bool DiscardOutput) {
        delete StallTimer;
        StallTimer = nullptr;
        delete WriteNotifier;
        WriteNotifier = nullptr;
        {
            QMutexLocker L(&Lock);
            Fd = -1; // no writer touches the descriptor from here on
        }
        if (Serial) {
            disconnect(Serial, nullptr, this, nullptr);
            if (DiscardOutput) ::tcflush(int(Serial->handle()), TCOFLUSH);
            Serial->close();
            delete Serial;
            Serial = nullptr;
        }
    }

    // ---- Loss of the line (event thread)
    // Qt names a vanished device a resource error. A hung-up line may show only as a read
    // error (the read came back empty), so the descriptor itself is asked as well.
    void SerialError(QSerialPort::SerialPortError E) {
        if (E == QSerialPort::NoError) return;
        if (E == QSerialPort::ResourceError || DescriptorHungUp()) LoseLine();
    }

    // The descriptor's own signs of a hang-up: POLLHUP, or readable with nothing to read.
    bool DescriptorHungUp() const {
        const int D = Serial ? int(Serial->handle()) : -1;
        if (D < 0) return false;
        pollfd P{D, POLLIN, 0};
        if (::poll(&P, 1, 0) != 1) return false;
        if (P.revents & (POLLHUP | POLLNVAL)) return true;
        int Waiting = 0;
        return (P.revents & POLLIN) && ::ioctl(D, FIONREAD, &Waiting) == 0 && Waiting == 0;
    }

    // A write failed: a hang-up is the likely reason.
    void CheckLine() {
        if (DescriptorHungUp()) LoseLine();
    }

    void OutputStalled() {
        {
            QMutexLocker L(&Lock);
            if (TxQueue.isEmpty()) return;
        }
        LoseLine();
    }

    // Lets the line go from the event loop: the signal or notifier that noticed the loss
    // belongs to what is being deleted.
    void LoseLine() {
        if (LineGone) return;
        LineGone = true;
        QMetaObject::invokeMethod(
            this, [this] { DropLine(); }, Qt::QueuedConnection);
    }

    void DropLine() {
        if (!Serial) return; // the owner closed the port meanwhile
        ClosePort(AbortWrites());
        std::weak_ptr<TComPortCore> W = Self;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [W] {
                if (auto C = W.lock()) C->DeliverLineLost();
            },
            Qt::QueuedConnection);
    }

    // GUI thread. Owner is cleared under the lock before a close, so a port that is still
    // its owner's here is alive and open.
    void DeliverLineLost() {
        QMutexLocker L(&Lock);
        TComPort *O = Owner;
        const TComPortNotify Handler = O ? O->OnLineLost : TComPortNotify{};
        L.unlock();
        if (Handler) Handler(O);
    }

    void ReadyRead() {
        const QByteArray Data = Serial->readAll();
        if (Data.isEmpty()) return;
        QMutexLocker L(&Lock);
        RxBuffer += Data;
        if (Sync == smNone) {
            const int Count = int(RxBuffer.size());
            TComPort *O = Owner;
            L.unlock();
            if (O && O->OnRxChar) O->OnRxChar(O, Count);
            return;
        }
        if (RxNotifyPending) return;
        RxNotifyPending = true;
        std::weak_ptr<TComPortCore> W = Self;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [W] {
                if (auto C = W.lock()) C->DeliverRx();
            },
            Qt::QueuedConnection);
    }

    // ---- GUI thread (smThreadSync)
    void DeliverRx() {
        QMutexLocker L(&Lock);
        RxNotifyPending = false;
        const int Count = int(RxBuffer.size());
        TComPort *O = Owner;
        L.unlock();
        if (Count > 0 && O && O->OnRxChar) O->OnRxChar(O, Count);
    }

    // ---- Writes (any thread)
    // Writes what the line takes now. Returns bytes written, or -1 on an error.
    qsizetype WriteNow(const char *Data, qsizetype Size) {
        qsizetype Done = 0;
        while (Done < Size) {
            const ssize_t N = ::write(Fd, Data + Done, size_t(Size - Done));
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

    void StartWrite(const QByteArray &Data, const PAsync &Record) {
        QMutexLocker L(&Lock);
        if (Fd < 0 || !Owner) {
            L.unlock();
            Record->Finish(false);
            return;
        }
        if (TxQueue.isEmpty()) {
            const qsizetype N = WriteNow(Data.constData(), Data.size());
            if (N < 0) {
                L.unlock();
                Record->Finish(false);
                QMetaObject::invokeMethod(
                    this, [this] { CheckLine(); }, Qt::QueuedConnection);
                return;
            }
            if (N == Data.size()) {
                L.unlock();
                Record->Finish(true);
                return;
            }
            TxQueue.append({Data.mid(N), Record});
        } else {
            TxQueue.append({Data, Record});
        }
        L.unlock();
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!WriteNotifier) return;
                WriteNotifier->setEnabled(true);
                QMutexLocker L(&Lock);
                if (StallTimer && !StallTimer->isActive() && !TxQueue.isEmpty()) StallTimer->start();
            },
            Qt::QueuedConnection);
    }

    // Event thread: the line can take more.
    void FlushSome() {
        QList<PAsync> Finished;
        bool Failed = false;
        bool Moved = false;
        {
            QMutexLocker L(&Lock);
            while (!TxQueue.isEmpty()) {
                TTxItem &Head = TxQueue.first();
                const qsizetype N = Fd < 0 ? -1 : WriteNow(Head.Rest.constData(), Head.Rest.size());
                if (N < 0) {
                    Failed = true;
                    for (const TTxItem &I : TxQueue)
                        Finished.append(I.Record);
                    TxQueue.clear();
                    break;
                }
                Moved = Moved || N > 0;
                if (N < Head.Rest.size()) {
                    Head.Rest.remove(0, N);
                    break;
                }
                Finished.append(Head.Record);
                TxQueue.removeFirst();
            }
            if (TxQueue.isEmpty() && WriteNotifier) WriteNotifier->setEnabled(false);
            // The stall limit counts from the last byte the line took.
            if (StallTimer) {
                if (TxQueue.isEmpty())
                    StallTimer->stop();
                else if (Moved || !StallTimer->isActive())
                    StallTimer->start();
            }
        }
        for (const PAsync &R : Finished)
            R->Finish(!Failed);
        if (Failed) CheckLine();
    }

    // Any thread that cannot rely on the event thread (the event thread itself): push the
    // queue out, waiting for the line, until Deadline.
    void FlushBlocking(QDeadlineTimer Deadline) {
        for (;;) {
            {
                QMutexLocker L(&Lock);
                if (TxQueue.isEmpty()) return;
            }
            FlushSome();
            QMutexLocker L(&Lock);
            if (TxQueue.isEmpty() || Fd < 0) return;
            L.unlock();
            if (Deadline.hasExpired()) return;
            pollfd P{Fd, POLLOUT, 0};
            ::poll(&P, 1, int(qMin<qint64>(Deadline.remainingTime(), 100)));
        }
    }

    // True when output was still waiting: the line was not taking it.
    bool AbortWrites() {
        QList<TTxItem> Items;
        {
            QMutexLocker L(&Lock);
            Items.swap(TxQueue);
        }
        for (const TTxItem &I : Items)
            I.Record->Finish(false);
        return !Items.isEmpty();
    }
};

// ---------------------------------------------------------------------------------------

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
    if (Value == FBaudRate) return;
    const int Old = FBaudRate;
    FBaudRate = Value;
    try {
        ApplyLineSettings();
    } catch (...) {
        FBaudRate = Old; // the open port keeps what it had
        throw;
    }
}

void TComPort::SetDataBits(TDataBits Value) {
    if (Value == FDataBits) return;
    const TDataBits Old = FDataBits;
    FDataBits = Value;
    try {
        ApplyLineSettings();
    } catch (...) {
        FDataBits = Old; // the open port keeps what it had
        throw;
    }
}

void TComPort::SetStopBits(TStopBits Value) {
    if (Value == FStopBits) return;
    const TStopBits Old = FStopBits;
    FStopBits = Value;
    try {
        ApplyLineSettings();
    } catch (...) {
        FStopBits = Old; // the open port keeps what it had
        throw;
    }
}

void TComPort::SetParityBits(TParityBits Value) {
    if (Value == FParity.Bits) return;
    const TParityBits Old = FParity.Bits;
    FParity.Bits = Value;
    try {
        ApplyLineSettings();
    } catch (...) {
        FParity.Bits = Old; // the open port keeps what it had
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
