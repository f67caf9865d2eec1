// The simulator on a real pseudo-terminal, driven the way the program drives the tester: the
// port opened by its published name with a serial port object and the protocol engine on it.
#include "TestMain.h"
#include "uKvProtocol.h"
#include "uKvThreadHandOver.h"
#include "uPrivateRuntime.h"
#include "uSimPipe.h"
#include "uSimPty.h"
#include "uTamrelRegisterMap.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// A host: a serial port opened by name and a protocol engine on it.
struct THost {
    QSerialPort Port;
    std::unique_ptr<TKvProtocol> Engine;
    QList<quint8> Received;
    QList<QPair<quint8, TKvPError>> TimeOuts;
    QList<quint8> Acks;

    bool Open(const QString &name) {
        Port.setPortName(name);
        Port.setBaudRate(115200);
        if (!Port.open(QIODevice::ReadWrite)) return false;
        Engine = std::make_unique<TKvProtocol>([this](const QByteArray &f) { Port.write(f); },
                                               TesterRegistersInfo(),
                                               [this](TKvProtocol *, quint8 r) { Received << r; }, TOnAck{},
                                               TOutputData{}, false, "SimTest", false);
        QObject::connect(&Port, &QSerialPort::readyRead, &Port,
                         [this] { Engine->InputData(Port.readAll()); });
        return true;
    }
    void Close() {
        Engine.reset();
        Port.close();
    }
    TOnRegTimeoutOrError OnTimeOut() {
        return [this](TKvProtocol *, quint8 r, TKvPError e) { TimeOuts << qMakePair(r, e); };
    }
    TOnRegisterNotify OnAck() {
        return [this](TKvProtocol *, quint8 r) { Acks << r; };
    }
    void Write(quint8 reg, const QVariant &value) {
        VariantToRegister(Engine->Registers[reg], value);
        Engine->WriteRegister(reg, 0, OnTimeOut(), OnAck());
    }
    int Count(quint8 reg) const { return int(Received.count(reg)); }
};

QStringList Modes(const QVector<TSimFrameRecord> &log, bool received) {
    QStringList out;
    for (const TSimFrameRecord &r : log)
        if (r.Received == received) out << r.Mode;
    return out;
}

} // namespace

class TestSimPty : public QObject {
    Q_OBJECT

    // A runtime folder of this test's own, so that simulators of tests running at the same
    // time neither take these names nor appear in this port folder.
    TPrivateRuntime FRuntime;

private slots:
    void initTestCase() { QVERIFY(FRuntime.InUse()); }

    void portIsPublishedAndRemoved() {
        const QString folder = TSimPty::PortFolder();
        QCOMPARE(folder,
                 QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + "/tamrel/ports/");
        QVERIFY(QFileInfo(folder).isDir());
        TSimPty a, b;
        QString error;
        QVERIFY2(a.Start({}, &error), qPrintable(error));
        QVERIFY2(b.Start({}, &error), qPrintable(error));
        for (const TSimPty *s : {&a, &b}) {
            QVERIFY(s->PortName().startsWith(folder));
            QVERIFY(QRegularExpression("^TAMSIM\\d+$").match(QFileInfo(s->PortName()).fileName()).hasMatch());
            QVERIFY(QFileInfo(s->PortName()).isSymLink());
            QCOMPARE(QFileInfo(s->PortName()).symLinkTarget(), s->SlavePath());
            QVERIFY(s->SlavePath().startsWith("/dev/pts/"));
        }
        QVERIFY(a.PortName() != b.PortName());
        QVERIFY(!a.Start({}, &error)); // already running, and left running
        QVERIFY(a.Running());
        QVERIFY(QFileInfo(a.PortName()).isSymLink());
        QVERIFY(QFileInfo::exists(a.SlavePath()));
        a.Stop();
        QVERIFY(!QFileInfo(a.PortName()).exists() && !QFileInfo(a.PortName()).isSymLink());
        QVERIFY(QFileInfo(b.PortName()).isSymLink());
        const QString nameB = b.PortName();
        b.Stop();
        b.Stop(); // twice is harmless
        QVERIFY(!QFileInfo(nameB).isSymLink());
    }

    void leftoverLinksAreRemoved() {
        // Links left by simulators that were killed: one whose pty is gone, one whose pty
        // number now belongs to something else. Neither has a running simulator behind it.
        const QString folder = TSimPty::PortFolder();
        QStringList stale;
        for (int n = 0; n < 1000 && stale.size() < 2; ++n) {
            const QString name = folder + QString("TAMSIM%1").arg(n);
            if (!QFileInfo(name).isSymLink() && !QFileInfo::exists(name)) stale << name;
        }
        QVERIFY(QFile::link("/dev/pts/no-such-pty", stale[0]));
        QVERIFY(QFile::link("/dev/null", stale[1]));
        TSimPty sim;
        QVERIFY(sim.Start());
        for (const QString &name : stale)
            QVERIFY2(!QFileInfo(name).isSymLink() || QFileInfo(name).symLinkTarget() == sim.SlavePath(),
                     qPrintable(name));
        // A running simulator's link is never taken for a leftover.
        TSimPty second;
        QVERIFY(second.Start());
        QVERIFY(QFileInfo(sim.PortName()).isSymLink());
        QCOMPARE(QFileInfo(sim.PortName()).symLinkTarget(), sim.SlavePath());
    }

    void identificationInChecksumMode() {
        TSimPty sim;
        QVERIFY(sim.Start());
        THost host;
        QVERIFY2(host.Open(sim.PortName()), qPrintable(host.Port.errorString()));
        host.Engine->RequestRegister(0, 0, host.OnTimeOut());
        QTRY_COMPARE(host.Count(0), 1);
        QCOMPARE(host.Engine->Registers[0].RawData, QByteArray("Tavik TAMREL sim 1.0"));
        QVERIFY(!host.Engine->UseCrc16);
        QVERIFY(host.TimeOuts.isEmpty());
        QCOMPARE(Modes(sim.FrameLog(), false), QStringList{"cs"});
    }

    void valueSentAtOnceFromTheTestThread() {
        TSimPty sim;
        QVERIFY(sim.Start());
        THost host;
        QVERIFY(host.Open(sim.PortName()));
        QTRY_VERIFY(sim.HostPresent());
        sim.Device()->SetRegisterInt(7, -15);
        sim.Device()->SendRegister(7);
        QTRY_COMPARE(host.Count(7), 1);
        QCOMPARE(RegisterToVariant(host.Engine->Registers[7]).toInt(), -15);
    }

    void crcProbeSwitchesBothSides() {
        TSimPty sim;
        QVERIFY(sim.Start());
        THost host;
        QVERIFY(host.Open(sim.PortName()));
        host.Engine->RequestRegister(5, 0, host.OnTimeOut()); // the first contact probes in CRC format
        QTRY_VERIFY(host.Count(5) == 1);
        QVERIFY(host.Engine->UseCrc16);
        QCOMPARE(host.Engine->PacketCounterErrors, quint16(0));
        host.Engine->RequestRegister(3, 0, host.OnTimeOut());
        QTRY_COMPARE(host.Count(3), 1);
        QCOMPARE(Modes(sim.FrameLog(), true), (QStringList{"crc", "crc", "crc"}));
        QCOMPARE(Modes(sim.FrameLog(), false), (QStringList{"crc", "crc", "crc"}));
        QCOMPARE(int(sim.Device()->PacketCounter()), 3);
        QCOMPARE(sim.Device()->HostCounterGaps(), 0);
    }

    void checksumOnlyDeviceLetsTheProbeTimeOut() {
        TSimOptions o;
        o.ChecksumOnly = true;
        TSimPty sim;
        QVERIFY(sim.Start(o));
        THost host;
        QVERIFY(host.Open(sim.PortName()));
        host.Engine->RequestRegister(5, 0, host.OnTimeOut());
        QTRY_COMPARE(host.Count(5), 1); // after the probe's time-out, in checksum mode
        QVERIFY(!host.Engine->UseCrc16);
        QCOMPARE(Modes(sim.FrameLog(), false), QStringList{"cs"});
    }

    void writeAcknowledgedAndRefused() {
        TSimPty sim;
        QVERIFY(sim.Start());
        THost host;
        QVERIFY(host.Open(sim.PortName()));
        host.Write(5, 40);
        QTRY_COMPARE(host.Acks, QList<quint8>{5});
        QCOMPARE(sim.Register(5), QByteArray::fromHex("2800"));
        host.Write(0, QByteArray("Other"));
        QTRY_COMPARE(host.TimeOuts.size(), 1);
        QCOMPARE(host.TimeOuts[0], qMakePair(quint8(0), TKvPError(KvErrRegAddress)));
        QCOMPARE(host.Acks, QList<quint8>{5});
        QCOMPARE(sim.Register(0), QByteArray("Tavik TAMREL sim 1.0"));
    }

    void streamingStartsAndStopsWithRegister1() {
        TSimOptions o;
        o.AutoSendPeriodMs = 30;
        TSimPty sim;
        QVERIFY(sim.Start(o));
        THost host;
        QVERIFY(host.Open(sim.PortName()));
        QTest::qWait(100);
        QCOMPARE(host.Received.size(), 0);
        host.Write(1, 1);
        QTRY_VERIFY(host.Count(2) >= 3);
        for (quint8 r : {8, 7, 11, 13})
            QVERIFY(host.Count(r) >= 2);
        QVERIFY(qAbs(RegisterToVariant(host.Engine->Registers[7]).toInt() - 250) < 30);
        host.Write(1, 0);
        QTRY_COMPARE(host.Acks, (QList<quint8>{1, 1}));
        QTest::qWait(60);
        host.Received.clear();
        QTest::qWait(200);
        QCOMPARE(host.Received.size(), 0);
    }

    void servesEveryOpenAndSendsNothingWhileClosed() {
        TSimOptions o;
        o.AutoSendPeriodMs = 20;
        TSimPty sim;
        QVERIFY(sim.Start(o));
        {
            THost host;
            QVERIFY(host.Open(sim.PortName()));
            host.Write(1, 1);
            QTRY_VERIFY(host.Count(2) >= 2);
            QTRY_VERIFY(sim.HostPresent());
            host.Close(); // streaming on, no stop written
        }
        QTRY_VERIFY(!sim.HostPresent());
        QCOMPARE(sim.Register(1), QByteArray(1, '\0')); // the tester stopped when the host left
        QTest::qWait(200);

        // Nothing stale waits for the next opener, and it is served like the first.
        QSerialPort raw;
        raw.setPortName(sim.PortName());
        QVERIFY(raw.open(QIODevice::ReadWrite));
        QTest::qWait(150);
        QCOMPARE(raw.readAll(), QByteArray());
        raw.close();

        for (int i = 0; i < 15; ++i) {
            THost host;
            QVERIFY2(host.Open(sim.PortName()), qPrintable(host.Port.errorString()));
            host.Engine->RequestRegister(0, 0, host.OnTimeOut());
            QTRY_COMPARE_WITH_TIMEOUT(host.Count(0), 1, 2000);
            QVERIFY(host.TimeOuts.isEmpty());
            host.Close();
        }
    }

    void unreadAnswersDoNotReachTheNextOpener() {
        TSimOptions o;
        o.AutoSendPeriodMs = 10;
        TSimPty sim;
        QVERIFY(sim.Start(o));
        const QByteArray link = QFile::encodeName(sim.PortName());
        // A host that starts the streaming and closes without reading anything.
        int fd = ::open(link.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        const QByteArray start = KvCodec::FrameCheckSum(QByteArray::fromHex("07010201"));
        QCOMPARE(::write(fd, start.constData(), size_t(start.size())), qint64(start.size()));
        QThread::msleep(150);
        ::close(fd);
        QTRY_VERIFY(!sim.HostPresent());
        QVERIFY(sim.FrameLog().size() > 5); // it did stream

        fd = ::open(link.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        pollfd p{fd, POLLIN, 0};
        QCOMPARE(::poll(&p, 1, 200), 0);
        ::close(fd);
    }

    void answersWhileTheHostThreadIsBusy() {
        TSimPty sim;
        QVERIFY(sim.Start());
        QSerialPort port;
        port.setPortName(sim.PortName());
        QVERIFY(port.open(QIODevice::ReadWrite));
        QTRY_VERIFY(sim.HostPresent());
        const QByteArray request = QByteArray::fromHex("7e0800f87e");
        QCOMPARE(::write(int(port.handle()), request.constData(), size_t(request.size())),
                 qint64(request.size()));
        // No event is processed on this thread meanwhile; the answer goes out all the same.
        for (int i = 0; i < 100 && Modes(sim.FrameLog(), false).isEmpty(); ++i)
            QThread::msleep(50);
        QCOMPARE(Modes(sim.FrameLog(), false), QStringList{"cs"});
        QCOMPARE(port.bytesAvailable(), qint64(0)); // not yet taken in by this thread
        QTRY_VERIFY(port.bytesAvailable() >= 26);
    }

    void lineRateSetsTheRoundTrip() {
        TSimOptions o;
        o.LineRate = 11520; // 1152 bytes a second
        TSimPty sim;
        QVERIFY(sim.Start(o));
        THost host;
        QVERIFY(host.Open(sim.PortName()));
        QElapsedTimer t;
        t.start();
        host.Engine->RequestRegister(0, 0, {});
        QTRY_COMPARE(host.Count(0), 1);
        // 5 request bytes and 26 answer bytes at 10 bits each.
        QVERIFY2(t.elapsed() >= 26, qPrintable(QString::number(t.elapsed())));
    }

    void bootLoaderExchange() {
        QTemporaryDir dir;
        TSimOptions o;
        o.ImageOutPath = dir.filePath("image.bin");
        TSimPty sim;
        QVERIFY(sim.Start(o));
        THost host;
        QVERIFY(host.Open(sim.PortName()));
        QByteArray image(300, 0);
        for (int i = 0; i < image.size(); ++i)
            image[i] = char((i * 31 + 7) ^ (i >> 3));

        QList<QVariantList> info;
        host.Engine->FirmwareStart(
            [&](quint16 id, quint16 flash, quint16 page, const QByteArray &ident) {
                info << QVariantList{id, flash, page, ident};
            },
            true, quint32(image.size()));
        QTRY_COMPARE(info.size(), 1);
        QCOMPARE(info[0],
                 (QVariantList{quint16(0x1234), quint16(64), quint16(128), QByteArray("TAMREL-BL")}));
        QCOMPARE(sim.Device()->AnnouncedImageSize(), 300);

        QList<QList<quint32>> progress;
        host.Engine->FirmwareWrite(image, [&](quint8 error, quint32 pos, quint32 size) {
            progress << QList<quint32>{error, pos, size};
        });
        QTRY_COMPARE(progress.size(), 3);
        QCOMPARE(progress, (QList<QList<quint32>>{{0, 128, 300}, {0, 256, 300}, {0, 384, 300}}));
        QCOMPARE(sim.ReceivedImage(), image);
        QFile f(o.ImageOutPath);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), image);
    }

    void pageFailure() {
        TSimOptions o;
        o.FailPageIndex = 1;
        o.FailPageStatus = 7;
        TSimPty sim;
        QVERIFY(sim.Start(o));
        THost host;
        QVERIFY(host.Open(sim.PortName()));
        bool started = false;
        host.Engine->FirmwareStart([&](quint16, quint16, quint16, const QByteArray &) { started = true; },
                                   false, 0);
        QTRY_VERIFY(started);
        QList<QList<quint32>> progress;
        host.Engine->FirmwareWrite(QByteArray(300, 'f'), [&](quint8 error, quint32 pos, quint32 size) {
            progress << QList<quint32>{error, pos, size};
        });
        QTRY_COMPARE(progress.size(), 2);
        QCOMPARE(progress, (QList<QList<quint32>>{{0, 128, 300}, {7, 128, 300}}));
        QTest::qWait(100);
        QCOMPARE(progress.size(), 2);
        QCOMPARE(sim.Device()->PagesReceived(), 1);
    }

    void dieAfterClosesThePort() {
        TSimOptions o;
        o.DieAfterMs = 400;
        TSimPty sim;
        QVERIFY(sim.Start(o));
        const QString link = sim.PortName();
        THost host;
        QVERIFY(host.Open(link));
        const int fd = ::open(QFile::encodeName(sim.SlavePath()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        host.Engine->RequestRegister(0, 0, host.OnTimeOut());
        QTRY_COMPARE(host.Count(0), 1);
        QList<QSerialPort::SerialPortError> errors;
        connect(&host.Port, &QSerialPort::errorOccurred, &host.Port, [&](QSerialPort::SerialPortError e) {
            if (e != QSerialPort::NoError) errors << e;
        });
        QTRY_VERIFY_WITH_TIMEOUT(sim.Died(), 3000);
        pollfd p{fd, POLLIN, 0};
        QCOMPARE(::poll(&p, 1, 1000), 1);
        QVERIFY(p.revents & POLLHUP); // the reader sees the hang-up
        ::close(fd);
        QTRY_VERIFY(!errors.isEmpty());
        QVERIFY(!QFileInfo(link).isSymLink());
        QVERIFY(!sim.Running());
    }

    // A deaf tester goes on sending its unasked values while the host's bytes back up.
    void deafAfterStopsReadingButGoesOnSending() {
        TSimOptions o;
        o.AutoSendPeriodMs = 20;
        o.DeafAfterMs = 300;
        TSimPty sim;
        QVERIFY(sim.Start(o));
        THost host;
        QVERIFY(host.Open(sim.PortName()));
        host.Write(1, 1); // start: unasked values follow
        QTRY_COMPARE(host.Acks.count(1), 1);
        QTRY_VERIFY_WITH_TIMEOUT(sim.Device()->Deaf(), 3000);
        const int framesSeen = int(sim.FrameLog().size());
        // The line takes the host's bytes until its buffers are full, then nothing more.
        const QByteArray chunk(4096, '\x55');
        qint64 written = 0;
        bool full = false;
        while (written < 16 * 1024 * 1024 && !full) {
            const ssize_t n = ::write(int(host.Port.handle()), chunk.constData(), size_t(chunk.size()));
            if (n > 0) written += n;
            full = n < 0 && errno == EAGAIN;
        }
        QVERIFY2(full, qPrintable(QString::number(written)));
        const int values = host.Count(2);
        QTRY_VERIFY(host.Count(2) > values + 3);
        for (const TSimFrameRecord &f : sim.FrameLog().mid(framesSeen))
            QVERIFY(!f.Received);
    }

    void pipeServesAnEngineInProcess() {
        TKvProtocol *engine = nullptr;
        TSimOptions o;
        o.AutoSendPeriodMs = 20;
        TSimPipe pipe(o, [&engine](const QByteArray &b) { engine->InputData(b); });
        QList<quint8> received;
        TKvProtocol e([&pipe](const QByteArray &f) { pipe.Write(f); }, TesterRegistersInfo(),
                      [&](TKvProtocol *, quint8 r) { received << r; }, TOnAck{}, TOutputData{}, false,
                      "SimPipe", false);
        engine = &e;
        e.RequestRegister(0, 0, {});
        QCOMPARE(received, QList<quint8>{0}); // undelayed answers come back inside the write
        VariantToRegister(e.Registers[1], 1);
        e.WriteRegister(1, 0, {}, {});
        QTRY_VERIFY(received.count(2) >= 2); // unasked values come from the pipe's timer
        QVERIFY(e.UseCrc16);
        pipe.Close();
        received.clear();
        QTest::qWait(100);
        QVERIFY(received.isEmpty());
    }

    void pipeUnplugsAtTheDieAfterTime() {
        TSimOptions o;
        o.DieAfterMs = 100;
        QByteArray out;
        TSimPipe pipe(o, [&out](const QByteArray &b) { out += b; });
        QSignalSpy unplugged(&pipe, &TSimPipe::Unplugged);
        pipe.Write(KvCodec::FrameCheckSum(QByteArray::fromHex("0800")));
        QVERIFY(!out.isEmpty());
        QTRY_COMPARE(unplugged.size(), 1);
        QVERIFY(pipe.Died());
        out.clear();
        pipe.Write(KvCodec::FrameCheckSum(QByteArray::fromHex("0800")));
        QVERIFY(out.isEmpty());
    }

    void pipeOnAGivenThread() {
        QThread worker;
        worker.start();
        TSimOptions o;
        o.AutoSendPeriodMs = 10;
        QMutex lock;
        QByteArray received;
        QSet<QThread *> threads;
        auto *pipe = new TSimPipe(o, [&](const QByteArray &b) {
            QMutexLocker l(&lock);
            received += b;
            threads << QThread::currentThread();
        });
        pipe->moveToThread(&worker);
        pipe->Write(KvCodec::FrameCheckSum(QByteArray::fromHex("07010201"))); // queued to the worker
        QTRY_VERIFY([&] {
            QMutexLocker l(&lock);
            return received.count('\x7e') >= 12; // the acknowledgement and unasked values
        }());
        {
            QMutexLocker l(&lock);
            QCOMPARE(threads, QSet<QThread *>{&worker});
            QVERIFY(received.startsWith(KvCodec::FrameCheckSum(QByteArray::fromHex("82070100"))));
        }
        KvThread::CallBlocking(pipe, [pipe] { delete pipe; });
        worker.quit();
        worker.wait();
    }
};

TAMREL_TEST_MAIN_CORE(TestSimPty)
#include "tst_SimPty.moc"
