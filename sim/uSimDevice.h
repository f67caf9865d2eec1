#pragma once
// The simulated tester, without any transport: bytes from the host go into Receive, the
// bytes the tester sends come out of the output callback. Time comes from a clock that the
// runner (pseudo-terminal, in-process pipe or a test) advances by calling Tick.
//
// Thread safety: every public operation may be called from any thread; one lock guards the
// state. The output callback is always called with that lock released, so an output that
// synchronously feeds an answer back into Receive is fine.
#include "uSimOptions.h"
#include "uTamrelRegisterMap.h"

#include <QByteArray>
#include <QFile>
#include <QMutex>
#include <QString>
#include <QVector>

#include <functional>
#include <memory>

// One frame seen or sent by the simulated tester.
struct TSimFrameRecord {
    double TimeMs = 0;     // device clock when it was received or put on the line
    bool Received = false; // true: host to tester; false: tester to host
    QString Mode;          // "cs", "crc", or "bad" for a received body that fails both checks
    QByteArray Raw;        // the frame as on the line, delimiters included
    int Command = -1;      // command byte after any address prefix; -1 when none
    int Register = -1;     // register (second byte) for register commands; -1 otherwise
    QString RawHex() const { return QString::fromLatin1(Raw.toHex(' ')); }
};

using TSimOutput = std::function<void(const QByteArray &bytes)>;
// Milliseconds on any steadily rising scale.
using TSimClock = std::function<double()>;

class TSimDevice {
public:
    static constexpr int RegisterCount = TamrelReg::RegisterCount;
    // In-memory frame log keeps at most this many records (oldest dropped).
    static constexpr int MaxLogRecords = 100000;

    explicit TSimDevice(const TSimOptions &options = {});
    ~TSimDevice();
    TSimDevice(const TSimDevice &) = delete;
    TSimDevice &operator=(const TSimDevice &) = delete;

    TSimOptions Options() const;
    void SetOutput(TSimOutput output);
    // Replaces the clock (default: a monotonic clock started at construction). The
    // die-after time counts from the first reading of the new clock.
    void SetClock(TSimClock clock);
    double Now() const;

    // Bytes from the host, in any chunking.
    void Receive(const QByteArray &bytes);
    // Advances the actuator model, sends what is due (delayed answers, unasked values).
    void Tick();
    // Test form: sets a manual clock to NowMs first.
    void Tick(quint32 nowMs);
    // Milliseconds until Tick has something to do (answers due, next unasked value, model
    // step); at most 20.
    int NextDueMs() const;
    // The same with fractions of a millisecond, for transports that can wait that finely.
    double NextDue() const;

    // The transport tells whether a host holds the port. While none does, nothing is sent
    // and pending output is discarded; when the host lets go, the tester stops its work
    // (register 1 := 0) and forgets half-received bytes, as after a host that went away.
    void SetHostPresent(bool present);
    bool HostPresent() const;
    // True once the die-after time has passed; the transport then closes the line.
    bool Dead() const;
    // True once the deaf-after time has passed; the transport then stops reading the line.
    bool Deaf() const;
    // Switches the "send nothing" fault on or off while running (a tester that goes quiet
    // but stays on the line).
    void SetSilent(bool silent);

    // Register access for tests. SetRegister stores raw bytes without type checks. Setting a
    // measured register (2, 7, 8, 11, 13) pins it: the actuator model leaves it at that value
    // until ReleaseRegister.
    QByteArray Register(quint8 regNum) const;
    quint8 RegisterType(quint8 regNum) const;
    qint64 RegisterInt(quint8 regNum) const; // little-endian integer value of the raw bytes
    void SetRegister(quint8 regNum, const QByteArray &raw);
    void SetRegisterInt(quint8 regNum, qint64 value); // stored in the register's own size
    void ReleaseRegister(quint8 regNum);
    // Sends the register's value at once, unasked, as the tester's own values go out (in the
    // format of the last frame received). Nothing goes out while no host is present.
    void SendRegister(quint8 regNum);
    void SetIdent(const QString &ident);

    // Firmware image received through the boot loader (pages placed by index).
    QByteArray ReceivedImage() const;
    int PagesReceived() const;
    // Size announced by the last start-of-update command, -1 when none.
    qint64 AnnouncedImageSize() const;

    QVector<TSimFrameRecord> FrameLog() const;
    void ClearFrameLog();
    // Frames received in CRC format whose counter did not follow the previous one.
    int HostCounterGaps() const;
    // Packet counter the tester puts into its next CRC frame.
    quint8 PacketCounter() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> d;
};
