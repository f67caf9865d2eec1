// The real window against the simulated tester over a pseudo-terminal: connecting through
// the port search, the start write, the polling order on the line, values shown and never
// echoed, a user setting written once, the hysteresis sweep, loss of the link and the stop
// write on close.
#include "CompFloatEdit.h"
#include "TestMain.h"
#include "uFormTamrel.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uFrameTamrelChannel.h"
#include "uPlatformTick.h"
#include "uPrivateRuntime.h"
#include "uSimPty.h"
#include "uTamrelCharts.h"
#include "uTamrelWidgets.h"

#include <QAction>
#include <QCheckBox>
#include <QPushButton>
#include <QSet>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <qcustomplot.h>

#include <algorithm>
#include <memory>

namespace {

bool IsRead(const TSimFrameRecord &F) {
    return F.Received && (F.Command == 8 || F.Command == 19);
}
bool IsWrite(const TSimFrameRecord &F) {
    return F.Received && (F.Command == 7 || F.Command == 18);
}

// Register value of a write frame as the tester got it: [cmd][reg][type][value LE].
qint64 WrittenValue(const TSimFrameRecord &F) {
    QByteArray Body = F.Raw.mid(1, F.Raw.size() - 2);
    Body.replace(QByteArray("\x7d\x3e", 2), QByteArray("\x7e", 1));
    Body.replace(QByteArray("\x7d\x3d", 2), QByteArray("\x7d", 1));
    qint64 V = 0;
    const int Size = (quint8(Body[2]) <= 3) ? 1 : (quint8(Body[2]) <= 5 ? 2 : 4);
    for (int i = Size - 1; i >= 0; --i)
        V = (V << 8) | quint8(Body[3 + i]);
    return V;
}

} // namespace

class TestTamrelEndToEnd : public QObject {
    Q_OBJECT

    // A private port folder: simulators of other test runs stay out of the search.
    TPrivateRuntime RuntimeDir;
    std::unique_ptr<TSimPty> Sim;
    std::unique_ptr<TFormTamrel> Form;

    void StartAndConnect(const TSimOptions &Options) {
        Sim = std::make_unique<TSimPty>();
        QString Error;
        QVERIFY2(Sim->Start(Options, &Error), qPrintable(Error));
        Form = std::make_unique<TFormTamrel>();
        Form->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
        Form->DeviceLink->sButtonConnect->click();
        QTRY_VERIFY_WITH_TIMEOUT(Form->DeviceLink->IsConnected(), 5000);
        // The button shows "connected" only once the tester has acknowledged the start.
        QTRY_COMPARE_WITH_TIMEOUT(Form->DeviceLink->CurrentImageIndex(), 1, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(Sim->Device()->RegisterInt(1), qint64(1), 3000);
    }
    int StartWriteIndex(const QVector<TSimFrameRecord> &Log) {
        for (int i = 0; i < Log.size(); ++i)
            if (IsWrite(Log[i]) && Log[i].Register == 1 && WrittenValue(Log[i]) == 1) return i;
        return -1;
    }
    // Reads of the polling tick: everything read but the firmware name and the keep-alive.
    static QVector<int> PolledReads(const QVector<TSimFrameRecord> &Log, int From) {
        QVector<int> R;
        for (int i = qMax(0, From); i < Log.size(); ++i)
            if (IsRead(Log[i]) && Log[i].Register != 0 && Log[i].Register != 1) R << Log[i].Register;
        return R;
    }
    static void CheckCycles(const QVector<int> &Reads, const QVector<int> &Order, int MinCycles) {
        const int First = int(Reads.indexOf(Order[0]));
        QVERIFY2(First >= 0, "no polling tick seen");
        QVERIFY2(Reads.size() - First >= MinCycles * Order.size(), qPrintable(QString::number(Reads.size())));
        for (int i = First; i < Reads.size(); ++i)
            QVERIFY2(Reads[i] == Order[(i - First) % Order.size()],
                     qPrintable(QStringLiteral("read %1 is register %2").arg(i).arg(Reads[i])));
    }

private slots:
    void initTestCase() { QVERIFY(RuntimeDir.InUse()); }
    void cleanup() {
        Form.reset();
        Sim.reset();
        KvPlatform::SetTickCountOffset(0);
    }

    void connectPollShowAndClose_data() {
        QTest::addColumn<bool>("ChecksumOnly");
        QTest::addColumn<bool>("NewCommands");
        QTest::newRow("tester answering the CRC probe") << false << false;
        QTest::newRow("checksum-only tester") << true << false;
        QTest::newRow("new command set") << false << true;
    }
    void connectPollShowAndClose() {
        QFETCH(bool, ChecksumOnly);
        QFETCH(bool, NewCommands);
        TSimOptions Options;
        Options.ChecksumOnly = ChecksumOnly;
        Options.NewCommands = NewCommands;
        StartAndConnect(Options);

        // The firmware name is read once and becomes the update button's hint.
        QTRY_COMPARE_WITH_TIMEOUT(Form->ButtonUpdateFirmware->toolTip(), Options.Ident, 3000);
        QTest::qWait(2200);
        auto Log = Sim->FrameLog();
        const int Start = StartWriteIndex(Log);
        QVERIFY(Start >= 0);
        int NameReads = 0;
        for (int i = Start; i < Log.size(); ++i)
            NameReads += IsRead(Log[i]) && Log[i].Register == 0;
        QCOMPARE(NameReads, 1);

        // Every 500 ms the eight setting registers, in their order.
        const QVector<int> Percent{6, 5, 12, 9, 3, 10, 4, 14};
        CheckCycles(PolledReads(Log, Start), Percent, 2);
        QVector<double> TickTimes;
        for (int i = Start; i < Log.size(); ++i)
            if (IsRead(Log[i]) && Log[i].Register == 6) TickTimes << Log[i].TimeMs;
        // Single ticks may slip on a loaded machine; on average they come every 500 ms.
        QVERIFY(TickTimes.size() >= 3);
        for (int i = 1; i < TickTimes.size(); ++i)
            QVERIFY2(TickTimes[i] - TickTimes[i - 1] > 250 && TickTimes[i] - TickTimes[i - 1] < 750,
                     qPrintable(QString::number(TickTimes[i] - TickTimes[i - 1])));
        const double Mean = (TickTimes.last() - TickTimes.first()) / (TickTimes.size() - 1);
        QVERIFY2(Mean > 450 && Mean < 570, qPrintable(QString::number(Mean)));

        // Values the tester reports are shown; nothing is written back.
        Sim->Device()->SetRegisterInt(6, 3210);
        Sim->Device()->SetRegisterInt(9, 42);
        QTRY_COMPARE_WITH_TIMEOUT(Form->FrameTamrelChannel1->FloatEditSetupVin->text(),
                                  QStringLiteral("3.210"), 2000);
        QTRY_COMPARE_WITH_TIMEOUT(Form->FrameTamrelChannel2->FloatEditManualPWM->ValueInt(), 42, 2000);
        QCOMPARE(Form->FrameTamrelChannel1->TrackBarVin->value(), 321);
        QTRY_VERIFY_WITH_TIMEOUT(Form->SeriesPositionVoltage->data()->size() > 0, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(Form->LabelTemperature->text().endsWith(QStringLiteral(" °C")), 2000);
        Log = Sim->FrameLog();
        for (int i = Start + 1; i < Log.size(); ++i)
            QVERIFY2(!IsWrite(Log[i]) || Log[i].Register == 1,
                     qPrintable(QStringLiteral("register %1 written").arg(Log[i].Register)));

        // A user setting is written once.
        Form->RadioGroupPumpType->Item(2)->click();
        QTRY_COMPARE_WITH_TIMEOUT(Sim->Device()->RegisterInt(10), qint64(2), 2000);
        QTest::qWait(1100); // two ticks read it back and show it
        Log = Sim->FrameLog();
        int PumpWrites = 0;
        for (const auto &F : Log)
            PumpWrites += IsWrite(F) && F.Register == 10;
        QCOMPARE(PumpWrites, 1);
        QVERIFY(!Form->RadioGroupResistiveHead->isEnabled());

        // "Regulate in V": ten reads per tick.
        Form->NManualInVolt->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(Sim->Device()->RegisterInt(14), qint64(1), 2000);
        QTest::qWait(600);
        Sim->Device()->ClearFrameLog();
        QTest::qWait(1700);
        CheckCycles(PolledReads(Sim->FrameLog(), 0), {6, 5, 15, 12, 9, 16, 3, 10, 4, 14}, 2);

        // Closing the window stops the tester.
        Form->close();
        QTRY_COMPARE_WITH_TIMEOUT(Sim->Device()->RegisterInt(1), qint64(0), 2000);
        Log = Sim->FrameLog();
        int LastWrite = -1;
        for (int i = 0; i < Log.size(); ++i)
            if (IsWrite(Log[i])) LastWrite = i;
        QVERIFY(LastWrite >= 0);
        QCOMPARE(Log[LastWrite].Register, 1);
        QCOMPARE(WrittenValue(Log[LastWrite]), qint64(0));
    }

    // A technician types into a setting field while the polling goes on: the typed text stays
    // until Enter (sent), Escape or leaving the field (the tester's latest value shown, nothing
    // sent).
    void typingSurvivesPolling_data() {
        QTest::addColumn<int>("Channel");
        QTest::addColumn<QString>("Field");
        QTest::addColumn<int>("Reg");
        QTest::addColumn<qint64>("Initial");
        QTest::addColumn<QString>("Typed");
        QTest::addColumn<qint64>("Committed");
        QTest::addColumn<double>("Scale"); // register value per unit shown
        QTest::addColumn<qint64>("TesterValue1");
        QTest::addColumn<QString>("Shown1");
        QTest::addColumn<qint64>("TesterValue2");
        QTest::addColumn<QString>("Shown2");
        QTest::newRow("channel 1 Vin")
            << 1 << "FloatEditSetupVin" << 6 << qint64(2500) << "1.2" << qint64(1200) << 1000.0
            << qint64(4000) << "4.000" << qint64(4100) << "4.100";
        QTest::newRow("channel 2 duty") << 2 << "FloatEditManualPWM" << 9 << qint64(25) << "37" << qint64(37)
                                        << 1.0 << qint64(64) << "64" << qint64(65) << "65";
        QTest::newRow("channel 1 volts")
            << 1 << "FloatEditManualVolts" << 15 << qint64(80) << "7.5" << qint64(75) << 10.0 << qint64(120)
            << "12.0" << qint64(130) << "13.0";
    }
    void typingSurvivesPolling() {
        QFETCH(int, Channel);
        QFETCH(QString, Field);
        QFETCH(int, Reg);
        QFETCH(qint64, Initial);
        QFETCH(QString, Typed);
        QFETCH(qint64, Committed);
        QFETCH(double, Scale);
        QFETCH(qint64, TesterValue1);
        QFETCH(QString, Shown1);
        QFETCH(qint64, TesterValue2);
        QFETCH(QString, Shown2);
        StartAndConnect(TSimOptions());
        if (Reg == 15) {
            // Channel 1's volts: manual control, regulated in volts.
            Form->NManualInVolt->trigger();
            Form->sSpeedButtonManualControl->click();
            QTRY_COMPARE_WITH_TIMEOUT(Sim->Device()->RegisterInt(14), qint64(1), 2000);
            QTRY_COMPARE_WITH_TIMEOUT(Sim->Device()->RegisterInt(4), qint64(1), 2000);
        }
        TFrameTamrelChannel *Panel = Channel == 1 ? Form->FrameTamrelChannel1 : Form->FrameTamrelChannel2;
        auto *Edit = Panel->findChild<TFloatEdit *>(Field);
        QVERIFY(Edit);
        const quint8 R = quint8(Reg);
        Sim->Device()->SetRegisterInt(R, Initial);
        QTRY_COMPARE_WITH_TIMEOUT(qRound64(double(Edit->ValueFloat()) * Scale), Initial, 3000);
        // Two more answers of the polling reach the window.
        auto WaitPolls = [&] {
            const quint32 Before = Form->ReceivedRegisterCount[R];
            QTRY_VERIFY_WITH_TIMEOUT(Form->ReceivedRegisterCount[R] >= Before + 2, 5000);
        };
        auto Writes = [&] {
            int N = 0;
            for (const auto &F : Sim->FrameLog())
                N += IsWrite(F) && F.Register == Reg;
            return N;
        };
        Form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form.get()));
        Edit->setFocus();
        QTRY_VERIFY(Edit->hasFocus());
        auto TypeOver = [&](const QString &Text) {
            QTest::keyClick(Edit, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(Edit, Text);
        };

        // Enter sends the typed value.
        TypeOver(Typed);
        WaitPolls();
        QCOMPARE(Edit->text(), Typed);
        QCOMPARE(Sim->Device()->RegisterInt(R), Initial);
        QCOMPARE(Writes(), 0);
        QTest::keyClick(Edit, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(Sim->Device()->RegisterInt(R), Committed, 2000);
        WaitPolls();
        QCOMPARE(qRound64(double(Edit->ValueFloat()) * Scale), Committed);
        QCOMPARE(Writes(), 1);

        // Escape: the tester's latest value, which changed meanwhile, is shown; nothing is sent.
        TypeOver(QStringLiteral("3"));
        Sim->Device()->SetRegisterInt(R, TesterValue1);
        WaitPolls();
        QCOMPARE(Edit->text(), QStringLiteral("3"));
        QTest::keyClick(Edit, Qt::Key_Escape);
        QCOMPARE(Edit->text(), Shown1);
        QVERIFY(Edit->hasFocus());

        // Leaving the field: the same.
        TypeOver(QStringLiteral("4"));
        Sim->Device()->SetRegisterInt(R, TesterValue2);
        WaitPolls();
        QCOMPARE(Edit->text(), QStringLiteral("4"));
        QTest::keyClick(Edit, Qt::Key_Tab);
        QVERIFY(!Edit->hasFocus());
        QCOMPARE(Edit->text(), Shown2);
        WaitPolls();
        QCOMPARE(Edit->text(), Shown2);
        QCOMPARE(Sim->Device()->RegisterInt(R), TesterValue2);
        QCOMPARE(Writes(), 1);
    }

    void autoStartStopOffClosesWithoutStopWrite() {
        StartAndConnect(TSimOptions());
        Form->CheckBoxAutoStartStop->trigger(); // unchecks: no start/stop writes, no keep-alive
        QVERIFY(!Form->CheckBoxAutoStartStop->isChecked());
        QVERIFY(!Form->DeviceLink->AutoStartStop);
        QVERIFY(!Form->DeviceLink->KeepConnection);
        Sim->Device()->ClearFrameLog();
        Form->close();
        QTRY_VERIFY_WITH_TIMEOUT(!Form->DeviceLink->IsConnected(), 2000);
        QTest::qWait(200);
        for (const auto &F : Sim->FrameLog())
            QVERIFY2(!IsWrite(F), qPrintable(QStringLiteral("register %1 written").arg(F.Register)));
    }

    void hysteresisSweep() {
        StartAndConnect(TSimOptions());
        Form->sPageControl1->setCurrentWidget(Form->sTabSheetChartHyst);
        Form->FloatEditDutyStart->SetValueInt(0);
        Form->FloatEditDutyEnd->SetValueInt(50);
        Form->FloatEditStep->SetValueInt(10);
        // Long enough for each position answer to arrive before the next step, also on a
        // loaded machine.
        Form->FloatEditPeriod->SetValueInt(300);
        // Polling goes on during the sweep: a duty reading asked for just before a step's
        // write must not pull the sweep back.
        QVERIFY(Form->TimerUpdateRegisters->isActive());
        Form->ButtonStartStop->click();
        QCOMPARE(Form->DiagramMode, dmForward);
        QTRY_COMPARE_WITH_TIMEOUT(Sim->Device()->RegisterInt(4), qint64(1), 2000);
        QTRY_COMPARE_WITH_TIMEOUT(Form->DiagramMode, dmNone, 10000);
        TColoredLineSeries *S = Form->SeriesHyst1;
        const QVector<int> Xs{0, 10, 20, 30, 40, 50, 40, 30, 20, 10};
        QCOMPARE(S->PointCount(), Xs.size());
        for (int i = 0; i < Xs.size(); ++i) {
            QCOMPARE(S->Point(i).x(), double(Xs[i]));
            QCOMPARE(S->PointColor(i), i < 6 ? QColor(255, 0, 0) : QColor(255, 144, 96));
        }
        // The samples are the tester's measured output in volts.
        for (int i = 0; i < S->PointCount(); ++i)
            QVERIFY(S->Point(i).y() >= 0 && S->Point(i).y() <= 5);
        QCOMPARE(Form->ChartHyst->xAxis->range().upper, 60.0);
        QCOMPARE(Form->FrameTamrelChannel1->FloatEditManualPWM->ValueInt(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(Sim->Device()->RegisterInt(5), qint64(0), 2000);
        QCOMPARE(Form->ButtonStartStop->text(), QStringLiteral("Start"));
    }

    // "Draw often" against a tester that also sends its measured values by itself every
    // 100 ms: each charted register keeps one request chain, however many values come
    // unasked. On the line: at no time more than the chain's own request (and, for a moment
    // after an unasked value was taken for its answer, one more) waits for an answer; the
    // polling keeps its 500 ms and each tick is answered long before the next; the chart
    // goes on being fed.
    void drawOftenKeepsOneChainPerRegister_data() {
        QTest::addColumn<int>("LineRate");
        QTest::newRow("line paced at 115200 baud") << 115200;
        QTest::newRow("unthrottled") << 0;
    }
    void drawOftenKeepsOneChainPerRegister() {
        QFETCH(int, LineRate);
        TSimOptions Options;
        Options.LineRate = LineRate;
        QCOMPARE(Options.AutoSendPeriodMs, 100);
        StartAndConnect(Options);
        QTest::qWait(600);
        Sim->Device()->ClearFrameLog();
        const quint32 Samples0 = Form->ReceivedRegisterCount[2];
        Form->sCheckBoxPositionFast->click();
        QVERIFY(Form->sCheckBoxPositionFast->isChecked());
        QTest::qWait(5000);
        const double Samples = Form->ReceivedRegisterCount[2] - Samples0;
        const QVector<TSimFrameRecord> Log = Sim->FrameLog();

        // What the tester sent, in order; a value of register 2 followed at once by values of
        // 8 and 7 starts one of its unasked rounds (2, 8, 7, 11, 13); 7 is never asked for.
        QVector<int> Sent;
        for (int i = 0; i < Log.size(); ++i)
            if (!Log[i].Received) Sent << i;
        auto IsValue = [&](int i, int Reg) {
            return !Log[i].Received && (Log[i].Command == 7 || Log[i].Command == 18) &&
                   Log[i].Register == Reg;
        };
        QSet<int> Unasked;
        for (int k = 0; k + 2 < Sent.size(); ++k)
            if (IsValue(Sent[k], 2) && IsValue(Sent[k + 1], 8) && IsValue(Sent[k + 2], 7))
                Unasked << Sent[k] << Sent[k + 1];
        QVERIFY2(Unasked.size() >= 2 * 30, qPrintable(QString::number(Unasked.size())));

        // Requests of a charted register that wait for their answer, at any moment.
        for (int Reg : {2, 8}) {
            int InFlight = 0, MaxInFlight = 0, Reads = 0;
            for (int i = 0; i < Log.size(); ++i) {
                if (IsRead(Log[i]) && Log[i].Register == Reg) {
                    ++Reads;
                    MaxInFlight = qMax(MaxInFlight, ++InFlight);
                } else if (IsValue(i, Reg) && !Unasked.contains(i)) {
                    InFlight = qMax(0, InFlight - 1);
                }
            }
            qInfo("register %d: %d reads in 5 s, at most %d waiting at once", Reg, Reads, MaxInFlight);
            QVERIFY2(
                MaxInFlight <= 2,
                qPrintable(
                    QStringLiteral("register %1: %2 requests waiting at once").arg(Reg).arg(MaxInFlight)));
        }

        // Polling: a tick every 500 ms, each answered in full before the next begins.
        QVector<double> TickStarts;
        QVector<double> TickTimes;
        double TickStart = -1;
        for (int i = 0; i < Log.size(); ++i) {
            if (IsRead(Log[i]) && Log[i].Register == 6) {
                QVERIFY2(TickStart < 0, "a polling tick began before the previous one was answered");
                TickStart = Log[i].TimeMs;
                TickStarts << TickStart;
            } else if (IsValue(i, 14) && TickStart >= 0) {
                TickTimes << Log[i].TimeMs - TickStart;
                TickStart = -1;
            }
        }
        QVERIFY(TickStarts.size() >= 8);
        const double Mean = (TickStarts.last() - TickStarts.first()) / (TickStarts.size() - 1);
        std::sort(TickTimes.begin(), TickTimes.end());
        qInfo("polling every %.0f ms, a tick answered in %.1f ms (median); %.0f samples/s charted", Mean,
              TickTimes[TickTimes.size() / 2], Samples / 5);
        QVERIFY2(Mean > 450 && Mean < 570, qPrintable(QString::number(Mean)));
        QVERIFY2(TickTimes[TickTimes.size() / 2] < 250,
                 qPrintable(QString::number(TickTimes[TickTimes.size() / 2])));
        // The chart is still fed, well beyond the tester's own ten values a second (a single
        // chain waits for every answer, so a loaded machine slows it down).
        QVERIFY2(Samples / 5 > 30, qPrintable(QString::number(Samples / 5)));
    }

    void sweepStopsWhenLinkLost() {
        StartAndConnect(TSimOptions());
        Form->FloatEditDutyEnd->SetValueInt(100);
        Form->FloatEditStep->SetValueInt(1);
        Form->FloatEditPeriod->SetValueInt(50);
        Form->ButtonStartStop->click();
        QTRY_VERIFY_WITH_TIMEOUT(Form->SeriesHyst1->PointCount() >= 3, 3000);
        QCOMPARE(Form->DiagramMode, dmForward);
        Sim->Stop(); // the tester vanishes
        // Skip the silence the link waits for before it declares the loss.
        KvPlatform::SetTickCountOffset(4000);
        QTRY_VERIFY_WITH_TIMEOUT(!Form->DeviceLink->IsConnected(), 6000);
        QTRY_COMPARE_WITH_TIMEOUT(Form->DiagramMode, dmNone, 1000);
        QCOMPARE(Form->ButtonStartStop->text(), QStringLiteral("Start"));
        QVERIFY(!Form->TimerUpdateRegisters->isActive());
    }
};

TAMREL_TEST_MAIN(TestTamrelEndToEnd)
#include "tst_TamrelEndToEnd.moc"
