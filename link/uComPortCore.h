#pragma once
// The inside of an open TComPort, for uComPort.cpp alone: the state that the port object,
// its event thread and the calls posted to the GUI thread share. The event thread owns the
// QSerialPort, reads, finishes the writes the line did not take at once, and notices when
// the line itself goes (a hang-up, or output that the line stops taking). What only the
// host's own descriptors can do is declared in ComPortDetail below and defined per host
// (uComPort_unix.cpp).
#include "uComPort.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QList>
#include <QMutex>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QWaitCondition>

#include <cerrno>

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

namespace ComPortDetail {

// ---- The host's descriptors (uComPort_unix.cpp)
// True for a pseudo-terminal, which has no modem lines.
bool IsPseudoTerminal(const QString &Name);
// The host's error code for an open that failed: Error is the port's own verdict, SystemError
// the errno that the failed call left (0 when none); the verdict picks the code when errno
// does not fit it.
int OpenErrorCode(QSerialPort::SerialPortError Error, int SystemError);
// The host's error code that the failed call just left, or Fallback when it left none.
int LastSystemError(int Fallback);
// Writes what the line takes now, without waiting. Returns bytes written, or -1 on an error.
qsizetype WriteNow(qintptr Fd, const char *Data, qsizetype Size);
// The descriptor's own signs of a hang-up: POLLHUP, or readable with nothing to read.
bool DescriptorHungUp(qintptr Fd);
// Throws away output that waits in the driver.
void DiscardOutput(qintptr Fd);
// Waits at most Ms until the line can take more.
void WaitWritable(qintptr Fd, int Ms);

inline QSerialPort::DataBits ToQt(TDataBits V) {
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

inline QSerialPort::Parity ToQt(TParityBits V) {
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

inline QSerialPort::StopBits ToQt(TStopBits V) {
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

} // namespace ComPortDetail

using ComPortDetail::IsPseudoTerminal;
using ComPortDetail::TLineSettings;
using ComPortDetail::ToQt;
using ComPortDetail::TTxItem;

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
        errno = 0;
        if (!Serial->open(QIODevice::ReadWrite)) {
            const int SystemError = errno; // before anything else can change it
            Code = ComPortDetail::OpenErrorCode(Serial->error(), SystemError);
            Text = Serial->errorString();
            delete Serial;
            Serial = nullptr;
            return false;
        }
        // A pseudo-terminal has no modem lines: the request fails there and means nothing.
        errno = 0;
        if (!Serial->setDataTerminalReady(Dtr != dtrDisable) && !IsPseudoTerminal(Name)) {
            Code = ComPortDetail::LastSystemError(EINVAL);
            Text = Serial->errorString();
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
            if (DiscardOutput) ComPortDetail::DiscardOutput(Serial->handle());
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

    bool DescriptorHungUp() const { return Serial && ComPortDetail::DescriptorHungUp(Serial->handle()); }

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
    qsizetype WriteNow(const char *Data, qsizetype Size) { return ComPortDetail::WriteNow(Fd, Data, Size); }

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
                QMutexLocker locker(&Lock);
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
            const int D = Fd;
            L.unlock();
            if (Deadline.hasExpired()) return;
            ComPortDetail::WaitWritable(D, int(qMin<qint64>(Deadline.remainingTime(), 100)));
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
