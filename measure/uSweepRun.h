#pragma once
// One hysteresis sweep as it runs: it writes each step's duty, asks for the position that
// belongs to a step (at the end of the step's period when settled, right after the write
// otherwise), takes the readings that are numbers and skips the others, and ends with the
// points of the loop. The tester, the steps' clock and what is shown are the face's: the
// window drives it from its timer and the link's answers, tamrel-cli from its blocking
// connection and pauses.
#include "uSweepPlan.h"
#include "uTestRecord.h"

#include <QDateTime>
#include <QVector>

#include <optional>

struct TKvRegister;

// How a sweep ended and what it measured.
struct TSweepOutcome {
    TSweepSettings Settings; // as the sweep started
    QDateTime StartedAt;     // UTC
    QVector<TTestRecordPoint> Points;
    // The falling half ended: the loop is closed. A sweep stopped earlier has the part done.
    bool Complete = false;
};

// What a sweep needs of the tester and of the face that runs it. Calls come from the thread
// that drives the sweep; none may wait on the sweep itself.
class ISweepTester {
public:
    // Channel 1's duty, percent.
    virtual void WriteDuty(qint64 duty) = 0;
    // Asks for channel 1's position. Its reading goes to TSweepRun::PositionReceived, from
    // inside this call (a blocking face) or later (an asynchronous one); it may never come.
    virtual void RequestPosition() = 0;
    // A step every periodMs from now on: the face calls TSweepRun::Tick at each.
    virtual void StartSteps(int periodMs) = 0;
    // No more steps: the sweep has stopped and the duty is back at the start. Its last
    // sample may still be on its way.
    virtual void StepsEnded() = 0;
    // The stopped sweep waits for its last sample: the face calls TSweepRun::GiveUpLastSample
    // once timeoutMs have passed without it (at once when nothing more can come).
    virtual void AwaitLastSample(int timeoutMs) = 0;
    // A sample was taken (for a chart).
    virtual void SampleTaken(const TTestRecordPoint &point) = 0;
    // The sweep is over, its last sample in or given up.
    virtual void SweepFinished(const TSweepOutcome &outcome) = 0;

protected:
    ~ISweepTester() = default;
};

// Why a sweep stops before its loop is closed.
enum TSweepStop : quint8 {
    ssUser,     // stopped by the technician: the sample asked for last is still awaited
    ssLinkLost, // the connection is gone: nothing more will come
};

class TSweepRun {
public:
    // The last sample of a stopped sweep is asked for just before the stop; its answer
    // normally comes within milliseconds. One that does not is given up after this long.
    static constexpr int LastSampleWaitMs = 1000;

    explicit TSweepRun(ISweepTester &tester) : FTester(tester) {}
    TSweepRun(const TSweepRun &) = delete;
    TSweepRun &operator=(const TSweepRun &) = delete;

    // dmNone while no sweep runs; a reference that stays valid for the run's life.
    const TDiagramMode &Mode() const { return FMode; }
    bool Running() const { return FMode != dmNone; }
    // Stopped, its last sample still awaited.
    bool AwaitingLastSample() const { return FAwaitingLast; }
    // The duty of the present step.
    qint64 Duty() const { return FDuty; }
    const TSweepSettings &Settings() const { return FOutcome.Settings; }
    const QVector<TTestRecordPoint> &Points() const { return FOutcome.Points; }

    // Starts a sweep (a previous one still waiting for its last sample is finished with what
    // it has): the start duty is written, its position asked for at once when sampling right
    // after each step, and the steps begin.
    void Start(const TSweepSettings &settings);
    // For a face whose technician may change them while a sweep runs: the duty in force and
    // the start, end and step as they are now; the next step follows them. The settings the
    // record keeps are those the sweep started with.
    void Follow(qint64 dutyInForce, qint64 start, qint64 end, qint64 step);
    // One period has passed: the settled sample of the duty in force is asked for, then the
    // next duty is written (and asked for, when sampling right after each step), or the loop
    // is closed.
    void Tick();
    // Stops a running sweep before its loop is closed.
    void Stop(TSweepStop why);
    // A position reading of channel 1 in millivolts; nothing when the reading is no number.
    // A number is the sample asked for last, if one is awaited; a reading that is no number is
    // no sample, and the request stays open for the next reading.
    void PositionReceived(std::optional<qint64> millivolts);
    // The last sample of a stopped sweep is not coming: the sweep finishes without it.
    void GiveUpLastSample();

private:
    void RequestSample(TDiagramMode mode);
    void End(bool complete, bool awaitLastSample);
    void Finish();

    ISweepTester &FTester;
    TDiagramMode FMode = dmNone;
    qint64 FDuty = 0;
    qint64 FStart = 0, FEnd = 0, FStep = 0;
    // The sample asked for last: its duty and half, while it is awaited.
    bool FSampleWanted = false;
    qint64 FSampleDuty = 0;
    TDiagramMode FSampleMode = dmNone;
    bool FAwaitingLast = false;
    TSweepOutcome FOutcome;
};

// Channel 1's position reading as the sweep takes it: read by the register map's type, in
// millivolts; nothing when it is no number (a text, NaN, out of the type's range).
std::optional<qint64> SweepPositionMillivolts(const TKvRegister &reg);
