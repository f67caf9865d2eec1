#pragma once
// The inside of an open TComPort, for uComPort.cpp alone: the state that the port object,
// its event thread and the calls posted to the GUI thread share. The event thread owns the
// QSerialPort, reads, finishes the writes the line did not take at once, and notices when
// the line itself goes (a hang-up, or output that the line stops taking). What only the
// host's own descriptors can do is declared in ComPortDetail below and defined per host
// (uComPort_unix.cpp).
#include "uComPort.h"
#include "uKvHopTrace.h"
#include "uKvThreadHandOver.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QList>
#include <QMutex>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <condition_variable>
#include <mutex>

// The standard library's mutex and condition variable rather than Qt's: the waiting thread
// and the finishing thread then meet in a lock that a ThreadSanitizer build sees.
struct TAsync {
    std::mutex M;
    std::condition_variable Cv;
    bool Done = false;
    bool Failed = false;

    void Finish(bool ok) {
        std::lock_guard l(M);
        Done = true;
        Failed = !ok;
        Cv.notify_all();
    }
};

namespace ComPortDetail {

// ---- The host's descriptors (uComPort_unix.cpp)
// True for a pseudo-terminal, which has no modem lines.
bool IsPseudoTerminal(const QString &name);
// The host's error code for an open that failed: Error is the port's own verdict, SystemError
// the errno that the failed call left (0 when none); the verdict picks the code when errno
// does not fit it.
int OpenErrorCode(QSerialPort::SerialPortError error, int systemError);
// The host's error code that the failed call just left, or Fallback when it left none.
int LastSystemError(int fallback);
// Writes what the line takes now, without waiting. Returns bytes written, or -1 on an error.
qsizetype WriteNow(qintptr fd, const char *data, qsizetype size);
// The descriptor's own signs of a hang-up: POLLHUP, or readable with nothing to read.
bool DescriptorHungUp(qintptr fd);
// Throws away output that waits in the driver.
void DiscardOutput(qintptr fd);
// Waits at most Ms until the line can take more.
void WaitWritable(qintptr fd, int ms);

inline QSerialPort::DataBits ToQt(TDataBits v) {
    switch (v) {
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

inline QSerialPort::Parity ToQt(TParityBits v) {
    switch (v) {
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

inline QSerialPort::StopBits ToQt(TStopBits v) {
    switch (v) {
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
    bool OpenPort(const QString &name, const TLineSettings &s, TDTRFlowControl dtr, int &code,
                  QString &text) {
        Serial = new QSerialPort(this);
        Serial->setPortName(name);
        ApplyTo(s);
        errno = 0;
        if (!Serial->open(QIODevice::ReadWrite)) {
            const int systemError = errno; // before anything else can change it
            code = ComPortDetail::OpenErrorCode(Serial->error(), systemError);
            text = Serial->errorString();
            delete Serial;
            Serial = nullptr;
            return false;
        }
        // A pseudo-terminal has no modem lines: the request fails there and means nothing.
        errno = 0;
        if (!Serial->setDataTerminalReady(dtr != dtrDisable) && !IsPseudoTerminal(name)) {
            code = ComPortDetail::LastSystemError(EINVAL);
            text = Serial->errorString();
            Serial->close();
            delete Serial;
            Serial = nullptr;
            return false;
        }
        Serial->clearError();
        Fd = int(Serial->handle());
        connect(Serial, &QSerialPort::readyRead, this, [this] { ReadyRead(); });
        connect(Serial, &QSerialPort::errorOccurred, this,
                [this](QSerialPort::SerialPortError e) { SerialError(e); });
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

    bool ApplyTo(const TLineSettings &s) {
        bool ok = Serial->setBaudRate(s.BaudRate);
        ok = Serial->setDataBits(ToQt(s.DataBits)) && ok;
        ok = Serial->setParity(ToQt(s.Parity)) && ok;
        ok = Serial->setStopBits(ToQt(s.StopBits)) && ok;
        return ok;
    }

    // DiscardOutput: the line was taking nothing, so what still waits in the driver is thrown
    // away; a driver that waits for it to drain would otherwise hold the close for long.
    void ClosePort(bool discardOutput) {
        delete StallTimer;
        StallTimer = nullptr;
        delete WriteNotifier;
        WriteNotifier = nullptr;
        {
            QMutexLocker l(&Lock);
            Fd = -1; // no writer touches the descriptor from here on
        }
        if (Serial) {
            disconnect(Serial, nullptr, this, nullptr);
            if (discardOutput) ComPortDetail::DiscardOutput(Serial->handle());
            Serial->close();
            delete Serial;
            Serial = nullptr;
        }
    }

    // ---- Loss of the line (event thread)
    // Qt names a vanished device a resource error. A hung-up line may show only as a read
    // error (the read came back empty), so the descriptor itself is asked as well.
    void SerialError(QSerialPort::SerialPortError e) {
        if (e == QSerialPort::NoError) return;
        if (e == QSerialPort::ResourceError || DescriptorHungUp()) LoseLine();
    }

    bool DescriptorHungUp() const { return Serial && ComPortDetail::DescriptorHungUp(Serial->handle()); }

    // A write failed: a hang-up is the likely reason.
    void CheckLine() {
        if (DescriptorHungUp()) LoseLine();
    }

    void OutputStalled() {
        {
            QMutexLocker l(&Lock);
            if (TxQueue.isEmpty()) return;
        }
        LoseLine();
    }

    // Lets the line go from the event loop: the signal or notifier that noticed the loss
    // belongs to what is being deleted.
    void LoseLine() {
        if (LineGone) return;
        LineGone = true;
        KvThread::Post(this, [this] { DropLine(); });
    }

    void DropLine() {
        if (!Serial) return; // the owner closed the port meanwhile
        ClosePort(AbortWrites());
        std::weak_ptr<TComPortCore> w = Self;
        KvThread::Post(QCoreApplication::instance(), [w] {
            if (auto c = w.lock()) c->DeliverLineLost();
        });
    }

    // GUI thread. Owner is cleared under the lock before a close, so a port that is still
    // its owner's here is alive and open.
    void DeliverLineLost() {
        QMutexLocker l(&Lock);
        TComPort *o = Owner;
        const TComPortNotify handler = o ? o->OnLineLost : TComPortNotify{};
        l.unlock();
        if (handler) handler(o);
    }

    void ReadyRead() {
        const QByteArray data = Serial->readAll();
        if (data.isEmpty()) return;
        KvHopTrace::Mark(KvHopTrace::hpRead);
        QMutexLocker l(&Lock);
        RxBuffer += data;
        if (Sync == smNone) {
            const int count = int(RxBuffer.size());
            TComPort *o = Owner;
            l.unlock();
            if (o && o->OnRxChar) o->OnRxChar(o, count);
            return;
        }
        if (RxNotifyPending) return;
        RxNotifyPending = true;
        std::weak_ptr<TComPortCore> w = Self;
        KvThread::Post(QCoreApplication::instance(), [w] {
            if (auto c = w.lock()) c->DeliverRx();
        });
    }

    // ---- GUI thread (smThreadSync)
    void DeliverRx() {
        QMutexLocker l(&Lock);
        RxNotifyPending = false;
        const int count = int(RxBuffer.size());
        TComPort *o = Owner;
        l.unlock();
        if (count > 0 && o && o->OnRxChar) o->OnRxChar(o, count);
    }

    // ---- Writes (any thread)
    // Writes what the line takes now. Returns bytes written, or -1 on an error.
    qsizetype WriteNow(const char *data, qsizetype size) { return ComPortDetail::WriteNow(Fd, data, size); }

    void StartWrite(const QByteArray &data, const PAsync &record) {
        QMutexLocker l(&Lock);
        if (Fd < 0 || !Owner) {
            l.unlock();
            record->Finish(false);
            return;
        }
        if (TxQueue.isEmpty()) {
            const qsizetype n = WriteNow(data.constData(), data.size());
            if (n < 0) {
                l.unlock();
                record->Finish(false);
                KvThread::Post(this, [this] { CheckLine(); });
                return;
            }
            if (n == data.size()) {
                l.unlock();
                record->Finish(true);
                return;
            }
            TxQueue.append({data.mid(n), record});
        } else {
            TxQueue.append({data, record});
        }
        l.unlock();
        KvThread::Post(this, [this] {
            if (!WriteNotifier) return;
            WriteNotifier->setEnabled(true);
            QMutexLocker locker(&Lock);
            if (StallTimer && !StallTimer->isActive() && !TxQueue.isEmpty()) StallTimer->start();
        });
    }

    // Event thread: the line can take more.
    void FlushSome() {
        QList<PAsync> finished;
        bool failed = false;
        bool moved = false;
        {
            QMutexLocker l(&Lock);
            while (!TxQueue.isEmpty()) {
                TTxItem &head = TxQueue.first();
                const qsizetype n = Fd < 0 ? -1 : WriteNow(head.Rest.constData(), head.Rest.size());
                if (n < 0) {
                    failed = true;
                    for (const TTxItem &i : TxQueue)
                        finished.append(i.Record);
                    TxQueue.clear();
                    break;
                }
                moved = moved || n > 0;
                if (n < head.Rest.size()) {
                    head.Rest.remove(0, n);
                    break;
                }
                finished.append(head.Record);
                TxQueue.removeFirst();
            }
            if (TxQueue.isEmpty() && WriteNotifier) WriteNotifier->setEnabled(false);
            // The stall limit counts from the last byte the line took.
            if (StallTimer) {
                if (TxQueue.isEmpty())
                    StallTimer->stop();
                else if (moved || !StallTimer->isActive())
                    StallTimer->start();
            }
        }
        for (const PAsync &r : finished)
            r->Finish(!failed);
        if (failed) CheckLine();
    }

    // Any thread that cannot rely on the event thread (the event thread itself): push the
    // queue out, waiting for the line, until Deadline.
    void FlushBlocking(QDeadlineTimer deadline) {
        for (;;) {
            {
                QMutexLocker l(&Lock);
                if (TxQueue.isEmpty()) return;
            }
            FlushSome();
            QMutexLocker l(&Lock);
            if (TxQueue.isEmpty() || Fd < 0) return;
            const int d = Fd;
            l.unlock();
            if (deadline.hasExpired()) return;
            ComPortDetail::WaitWritable(d, int(qMin<qint64>(deadline.remainingTime(), 100)));
        }
    }

    // True when output was still waiting: the line was not taking it.
    bool AbortWrites() {
        QList<TTxItem> items;
        {
            QMutexLocker l(&Lock);
            items.swap(TxQueue);
        }
        for (const TTxItem &i : items)
            i.Record->Finish(false);
        return !items.isEmpty();
    }
};
