// The real window against the simulated tester over a pseudo-terminal: connecting through
// the port search, the start write, the polling order on the line, values shown and never
// echoed, a user setting written once, the hysteresis sweep (its loop against the simulated
// actuator's own hysteresis, its figures, verdict and stored record), loss of the link and the
// stop write on close.
#include "CompFloatEdit.h"
#include "TestMain.h"
#include "uFormTamrel.h"
#include "uFormTestHistory.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uFrameTamrelChannel.h"
#include "uPdfTestSupport.h"
#include "uPlatformTick.h"
#include "uPostgresTestServer.h"
#include "uPrivateRuntime.h"
#include "uSimActuator.h"
#include "uSimFrameValue.h"
#include "uSimPty.h"
#include "uTamrelCharts.h"
#include "uTamrelWidgets.h"
#include "uTestHistoryModel.h"
#include "uTestRecordStore.h"
#include "uTestRecordWorker.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QSettings>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <qcustomplot.h>

#include <algorithm>
#include <memory>
#include <optional>

namespace {

bool IsRead(const TSimFrameRecord &f) {
    return f.Received && (f.Command == 8 || f.Command == 19);
}
bool IsWrite(const TSimFrameRecord &f) {
    return f.Received && (f.Command == 7 || f.Command == 18);
}

// The duty at which a branch of a loop passes through volts, interpolated between the two
// samples around it; nothing when the branch does not reach volts.
std::optional<double> DutyAtVolts(QVector<THysteresisPoint> branch, double volts) {
    std::sort(branch.begin(), branch.end(), [](auto &a, auto &b) { return a.Duty < b.Duty; });
    for (int i = 1; i < branch.size(); ++i) {
        const THysteresisPoint &a = branch[i - 1], &b = branch[i];
        if ((a.Volts - volts) * (b.Volts - volts) <= 0 && a.Volts != b.Volts)
            return a.Duty + (volts - a.Volts) * (b.Duty - a.Duty) / (b.Volts - a.Volts);
    }
    return std::nullopt;
}

} // namespace

class TestTamrelEndToEnd : public QObject {
    Q_OBJECT

    // A private port folder: simulators of other test runs stay out of the search.
    TPrivateRuntime RuntimeDir;
    std::unique_ptr<TSimPty> Sim;
    std::unique_ptr<TFormTamrel> Form;
    // Each test's records go to a folder of its own.
    std::unique_ptr<QTemporaryDir> Records;

    void StartAndConnect(const TSimOptions &options) {
        Sim = std::make_unique<TSimPty>();
        QString error;
        QVERIFY2(Sim->Start(options, &error), qPrintable(error));
        Form = std::make_unique<TFormTamrel>();
        Records = std::make_unique<QTemporaryDir>();
        Form->RecordFolder = Records->path();
        Form->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
        Form->DeviceLink->sButtonConnect->click();
        QTRY_VERIFY_WITH_TIMEOUT(Form->DeviceLink->IsConnected(), 5000);
        // The button shows "connected" only once the tester has acknowledged the start.
        QTRY_COMPARE_WITH_TIMEOUT(Form->DeviceLink->CurrentImageIndex(), 1, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(Sim->Device()->RegisterInt(1), qint64(1), 3000);
    }
    int StartWriteIndex(const QVector<TSimFrameRecord> &log) {
        for (int i = 0; i < log.size(); ++i)
            if (IsWrite(log[i]) && log[i].Register == 1 && WrittenValue(log[i]) == 1) return i;
        return -1;
    }
    // Reads of the polling tick: everything read but the firmware name and the keep-alive.
    static QVector<int> PolledReads(const QVector<TSimFrameRecord> &log, int from) {
        QVector<int> r;
        for (int i = qMax(0, from); i < log.size(); ++i)
            if (IsRead(log[i]) && log[i].Register != 0 && log[i].Register != 1) r << log[i].Register;
        return r;
    }
    static void CheckCycles(const QVector<int> &reads, const QVector<int> &order, int minCycles) {
        const int first = int(reads.indexOf(order[0]));
        QVERIFY2(first >= 0, "no polling tick seen");
        QVERIFY2(reads.size() - first >= minCycles * order.size(), qPrintable(QString::number(reads.size())));
        for (int i = first; i < reads.size(); ++i)
            QVERIFY2(reads[i] == order[(i - first) % order.size()],
                     qPrintable(QStringLiteral("read %1 is register %2").arg(i).arg(reads[i])));
    }

private slots:
    void initTestCase() { QVERIFY(RuntimeDir.InUse()); }
    void cleanup() {
        Form.reset();
        Sim.reset();
        Records.reset();
        QSettings settings(TFormTamrel::SettingsFilePath(), QSettings::IniFormat);
        settings.remove(QStringLiteral("TestLimits"));
        settings.remove(QStringLiteral("Sweep"));
        settings.remove(QStringLiteral("TestRecords"));
        KvPlatform::SetTickCountOffset(0);
    }

    void connectPollShowAndClose_data() {
        QTest::addColumn<bool>("checksumOnly");
        QTest::addColumn<bool>("newCommands");
        QTest::newRow("tester answering the CRC probe") << false << false;
        QTest::newRow("checksum-only tester") << true << false;
        QTest::newRow("new command set") << false << true;
    }
    void connectPollShowAndClose() {
        QFETCH(bool, checksumOnly);
        QFETCH(bool, newCommands);
        TSimOptions options;
        options.ChecksumOnly = checksumOnly;
        options.NewCommands = newCommands;
        StartAndConnect(options);

        // The firmware name is read once and becomes the update button's hint.
        QTRY_COMPARE_WITH_TIMEOUT(Form->ButtonUpdateFirmware->toolTip(), options.Ident, 3000);
        QTest::qWait(2200);
        auto log = Sim->FrameLog();
        const int start = StartWriteIndex(log);
        QVERIFY(start >= 0);
        int nameReads = 0;
        for (int i = start; i < log.size(); ++i)
            nameReads += IsRead(log[i]) && log[i].Register == 0;
        QCOMPARE(nameReads, 1);

        // Every 500 ms the eight setting registers, in their order.
        const QVector<int> percent{6, 5, 12, 9, 3, 10, 4, 14};
        CheckCycles(PolledReads(log, start), percent, 2);
        QVector<double> tickTimes;
        for (int i = start; i < log.size(); ++i)
            if (IsRead(log[i]) && log[i].Register == 6) tickTimes << log[i].TimeMs;
        // Single ticks may slip on a loaded machine; on average they come every 500 ms.
        QVERIFY(tickTimes.size() >= 3);
        for (int i = 1; i < tickTimes.size(); ++i)
            QVERIFY2(tickTimes[i] - tickTimes[i - 1] > 250 && tickTimes[i] - tickTimes[i - 1] < 750,
                     qPrintable(QString::number(tickTimes[i] - tickTimes[i - 1])));
        const double mean = (tickTimes.last() - tickTimes.first()) / (tickTimes.size() - 1);
        QVERIFY2(mean > 450 && mean < 570, qPrintable(QString::number(mean)));

        // Values the tester reports are shown; nothing is written back.
        Sim->Device()->SetRegisterInt(6, 3210);
        Sim->Device()->SetRegisterInt(9, 42);
        QTRY_COMPARE_WITH_TIMEOUT(Form->FrameTamrelChannel1->FloatEditSetupVin->text(),
                                  QStringLiteral("3.210"), 2000);
        QTRY_COMPARE_WITH_TIMEOUT(Form->FrameTamrelChannel2->FloatEditManualPWM->ValueInt(), 42, 2000);
        QCOMPARE(Form->FrameTamrelChannel1->TrackBarVin->value(), 321);
        QTRY_VERIFY_WITH_TIMEOUT(Form->SeriesPositionVoltage->data()->size() > 0, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(Form->LabelTemperature->text().endsWith(QStringLiteral(" °C")), 2000);
        log = Sim->FrameLog();
        for (int i = start + 1; i < log.size(); ++i)
            QVERIFY2(!IsWrite(log[i]) || log[i].Register == 1,
                     qPrintable(QStringLiteral("register %1 written").arg(log[i].Register)));

        // A user setting is written once.
        Form->RadioGroupPumpType->Item(2)->click();
        QTRY_COMPARE_WITH_TIMEOUT(Sim->Device()->RegisterInt(10), qint64(2), 2000);
        QTest::qWait(1100); // two ticks read it back and show it
        log = Sim->FrameLog();
        int pumpWrites = 0;
        for (const auto &f : log)
            pumpWrites += IsWrite(f) && f.Register == 10;
        QCOMPARE(pumpWrites, 1);
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
        log = Sim->FrameLog();
        int lastWrite = -1;
        for (int i = 0; i < log.size(); ++i)
            if (IsWrite(log[i])) lastWrite = i;
        QVERIFY(lastWrite >= 0);
        QCOMPARE(log[lastWrite].Register, 1);
        QCOMPARE(WrittenValue(log[lastWrite]), qint64(0));
    }

    // A technician types into a setting field while the polling goes on: the typed text stays
    // until Enter (sent), Escape or leaving the field (the tester's latest value shown, nothing
    // sent).
    void typingSurvivesPolling_data() {
        QTest::addColumn<int>("channel");
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("reg");
        QTest::addColumn<qint64>("initial");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<qint64>("committed");
        QTest::addColumn<double>("scale"); // register value per unit shown
        QTest::addColumn<qint64>("testerValue1");
        QTest::addColumn<QString>("shown1");
        QTest::addColumn<qint64>("testerValue2");
        QTest::addColumn<QString>("shown2");
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
        QFETCH(int, channel);
        QFETCH(QString, field);
        QFETCH(int, reg);
        QFETCH(qint64, initial);
        QFETCH(QString, typed);
        QFETCH(qint64, committed);
        QFETCH(double, scale);
        QFETCH(qint64, testerValue1);
        QFETCH(QString, shown1);
        QFETCH(qint64, testerValue2);
        QFETCH(QString, shown2);
        StartAndConnect(TSimOptions());
        if (reg == 15) {
            // channel 1's volts: manual control, regulated in volts.
            Form->NManualInVolt->trigger();
            Form->sSpeedButtonManualControl->click();
            QTRY_COMPARE_WITH_TIMEOUT(Sim->Device()->RegisterInt(14), qint64(1), 2000);
            QTRY_COMPARE_WITH_TIMEOUT(Sim->Device()->RegisterInt(4), qint64(1), 2000);
        }
        TFrameTamrelChannel *panel = channel == 1 ? Form->FrameTamrelChannel1 : Form->FrameTamrelChannel2;
        auto *edit = panel->findChild<TFloatEdit *>(field);
        QVERIFY(edit);
        const quint8 r = quint8(reg);
        Sim->Device()->SetRegisterInt(r, initial);
        QTRY_COMPARE_WITH_TIMEOUT(qRound64(double(edit->ValueFloat()) * scale), initial, 3000);
        // Two more answers of the polling reach the window.
        auto waitPolls = [&] {
            const quint32 before = Form->ReceivedRegisterCount[r];
            QTRY_VERIFY_WITH_TIMEOUT(Form->ReceivedRegisterCount[r] >= before + 2, 5000);
        };
        auto writes = [&] {
            int n = 0;
            for (const auto &f : Sim->FrameLog())
                n += IsWrite(f) && f.Register == reg;
            return n;
        };
        Form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form.get()));
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        auto typeOver = [&](const QString &text) {
            QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(edit, text);
        };

        // Enter sends the typed value.
        typeOver(typed);
        waitPolls();
        QCOMPARE(edit->text(), typed);
        QCOMPARE(Sim->Device()->RegisterInt(r), initial);
        QCOMPARE(writes(), 0);
        QTest::keyClick(edit, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(Sim->Device()->RegisterInt(r), committed, 2000);
        waitPolls();
        QCOMPARE(qRound64(double(edit->ValueFloat()) * scale), committed);
        QCOMPARE(writes(), 1);

        // Escape: the tester's latest value, which changed meanwhile, is shown; nothing is sent.
        typeOver(QStringLiteral("3"));
        Sim->Device()->SetRegisterInt(r, testerValue1);
        waitPolls();
        QCOMPARE(edit->text(), QStringLiteral("3"));
        QTest::keyClick(edit, Qt::Key_Escape);
        QCOMPARE(edit->text(), shown1);
        QVERIFY(edit->hasFocus());

        // Leaving the field: the same.
        typeOver(QStringLiteral("4"));
        Sim->Device()->SetRegisterInt(r, testerValue2);
        waitPolls();
        QCOMPARE(edit->text(), QStringLiteral("4"));
        QTest::keyClick(edit, Qt::Key_Tab);
        QVERIFY(!edit->hasFocus());
        QCOMPARE(edit->text(), shown2);
        waitPolls();
        QCOMPARE(edit->text(), shown2);
        QCOMPARE(Sim->Device()->RegisterInt(r), testerValue2);
        QCOMPARE(writes(), 1);
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
        for (const auto &f : Sim->FrameLog())
            QVERIFY2(!IsWrite(f), qPrintable(QStringLiteral("register %1 written").arg(f.Register)));
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
        // The last step's position is read just before the stop; the sweep ends with its answer.
        QTRY_VERIFY_WITH_TIMEOUT(Form->LastRecord().has_value(), 3000);
        TColoredLineSeries *s = Form->SeriesHyst1;
        const QVector<int> xs{0, 10, 20, 30, 40, 50, 40, 30, 20, 10};
        QCOMPARE(s->PointCount(), xs.size());
        for (int i = 0; i < xs.size(); ++i) {
            QCOMPARE(s->Point(i).x(), double(xs[i]));
            QCOMPARE(s->PointColor(i), i < 6 ? QColor(255, 0, 0) : QColor(255, 144, 96));
        }
        // The samples are the tester's measured output in volts.
        for (int i = 0; i < s->PointCount(); ++i)
            QVERIFY(s->Point(i).y() >= 0 && s->Point(i).y() <= 5);
        QCOMPARE(Form->ChartHyst->xAxis->range().upper, 60.0);
        QCOMPARE(Form->FrameTamrelChannel1->FloatEditManualPWM->ValueInt(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(Sim->Device()->RegisterInt(5), qint64(0), 2000);
        QCOMPARE(Form->ButtonStartStop->text(), QStringLiteral("Start"));
    }

    // The loop of a sweep against the simulated actuator, whose backlash makes its falling
    // branch lie a fixed duty apart from its rising one. Read at the end of each step's period,
    // the loop is as wide as the actuator's own (within one step); read right after each
    // step's write, each point shows the position of the step before, and the loop comes out
    // about two steps too wide.
    void loopWidthMatchesActuator_data() {
        QTest::addColumn<bool>("afterStep");
        QTest::addColumn<bool>("matches");
        QTest::newRow("settled (the default)") << false << true;
        QTest::newRow("right after each step") << true << false;
    }
    void loopWidthMatchesActuator() {
        QFETCH(bool, afterStep);
        QFETCH(bool, matches);
        StartAndConnect(TSimOptions());
        QVERIFY(!Form->CheckBoxSampleAfterStep->isChecked());
        if (afterStep) Form->CheckBoxSampleAfterStep->click();
        // The head waits at the start duty under manual control, so that the first point
        // shows no travel from elsewhere.
        Form->sSpeedButtonManualControl->click();
        TFloatEdit *duty = Form->FrameTamrelChannel1->FloatEditManualPWM;
        duty->SetValueInt(20);
        duty->Validate(true, true);
        QTRY_COMPARE_WITH_TIMEOUT(Sim->Device()->RegisterInt(5), qint64(20), 2000);
        QTest::qWait(500);
        const int step = 2;
        Form->FloatEditDutyStart->SetValueInt(20);
        Form->FloatEditDutyEnd->SetValueInt(70);
        Form->FloatEditStep->SetValueInt(step);
        Form->FloatEditPeriod->SetValueInt(100);
        Form->ButtonStartStop->click();
        QCOMPARE(Form->DiagramMode, dmForward);
        QTRY_VERIFY_WITH_TIMEOUT(Form->DiagramMode == dmNone && Form->LastRecord(), 30000);
        const TTestRecord record = *Form->LastRecord();
        QCOMPARE(record.Sweep.Sampling, afterStep ? smAfterStep : smSettled);
        const QVector<THysteresisPoint> rising = record.Branch(sbRising), falling = record.Branch(sbFalling);
        QCOMPARE(rising.size(), 26);  // 20, 22, ... 70
        QCOMPARE(falling.size(), 24); // 68, 66, ... 22

        // The actuator's own loop is 2 x its backlash wide, at every position.
        const double modelWidth = 2 * TSimActuatorChannel::HalfWidthPercent;
        for (const double volts : {1.5, 2.2, 3.0}) {
            const std::optional<double> up = DutyAtVolts(rising, volts), down = DutyAtVolts(falling, volts);
            QVERIFY(up && down);
            const double width = *up - *down;
            qInfo("at %.1f V the loop is %.2f %% wide (the actuator's: %.1f %%)", volts, width, modelWidth);
            QVERIFY2((std::abs(width - modelWidth) <= step) == matches,
                     qPrintable(QStringLiteral("width %1 % at %2 V").arg(width).arg(volts)));
        }
    }

    // A sweep against the simulated tester ends with its figures and verdict shown and its
    // record in the store: limits for the tester's pump and head type (VE, inductive) that the
    // simulated head fails, that it passes, and none.
    void sweepFiguresVerdictAndRecord_data() {
        QTest::addColumn<double>("maxVolts"); // < 0: no limit set
        QTest::addColumn<int>("verdict");
        QTest::newRow("fails") << 0.2 << int(tvFail);
        QTest::newRow("passes") << 2.0 << int(tvPass);
        QTest::newRow("no limits") << -1.0 << int(tvNone);
    }
    void sweepFiguresVerdictAndRecord() {
        QFETCH(double, maxVolts);
        QFETCH(int, verdict);
        if (maxVolts >= 0) {
            QSettings settings(TFormTamrel::SettingsFilePath(), QSettings::IniFormat);
            SaveTestLimits(settings, "VE", "Inductive", {maxVolts, std::nullopt, 1.0});
        }
        StartAndConnect(TSimOptions());
        QTRY_COMPARE_WITH_TIMEOUT(Form->RadioGroupPumpType->ItemIndex(), 0, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(Form->RadioGroupResistiveHead->ItemIndex(), 0, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(Form->ButtonUpdateFirmware->toolTip(), TSimOptions().Ident, 3000);
        int stored = 0;
        Form->OnRecordStored = [&](const TTestRecord &) { ++stored; };
        Form->sPageControl1->setCurrentWidget(Form->sTabSheetChartHyst);
        Form->EditHeadSerial->setText(QStringLiteral("VE-7731"));
        Form->FloatEditDutyStart->SetValueInt(20);
        Form->FloatEditDutyEnd->SetValueInt(60);
        Form->FloatEditStep->SetValueInt(5);
        Form->FloatEditPeriod->SetValueInt(100);
        Form->ButtonStartStop->click();
        QTRY_VERIFY_WITH_TIMEOUT(Form->DiagramMode == dmNone && Form->LastRecord(), 15000);
        QTRY_COMPARE_WITH_TIMEOUT(stored, 1, 20000);

        // The figures under the chart.
        const TTestRecord shown = *Form->LastRecord();
        const THysteresisFigures &f = shown.Figures;
        QVERIFY(f.Available() && f.HasPercent());
        QVERIFY2(f.MaxVolts > 0.2 && f.MaxVolts < 1.0, qPrintable(QString::number(f.MaxVolts)));
        QCOMPARE(Form->LabelHystMax->text(), QStringLiteral("Max hysteresis: %1 V (%2 %) at %3 %")
                                                 .arg(f.MaxVolts, 0, 'f', 3)
                                                 .arg(f.MaxPercent, 0, 'f', 1)
                                                 .arg(f.MaxAtDuty));
        QCOMPARE(Form->LabelHystMean->text(), QStringLiteral("Mean hysteresis: %1 V (%2 %)")
                                                  .arg(f.MeanVolts, 0, 'f', 3)
                                                  .arg(f.MeanPercent, 0, 'f', 1));
        QCOMPARE(Form->LabelHystSpan->text(), QStringLiteral("Span: %1 V").arg(f.SpanVolts, 0, 'f', 3));
        QVERIFY(Form->LabelHystMax->isVisible());
        // The maximum marked on the chart, from the rising to the falling branch.
        QVERIFY(Form->MarkerMaxHysteresis->visible());
        QCOMPARE(Form->MarkerMaxHysteresis->start->coords().x(), f.MaxAtDuty);
        QVERIFY(qAbs(std::abs(Form->MarkerMaxHysteresis->end->coords().y() -
                              Form->MarkerMaxHysteresis->start->coords().y()) -
                     f.MaxVolts) < 1e-9);

        // The verdict, large and coloured, with the figure that failed.
        QCOMPARE(Form->LabelVerdict->isVisible(), verdict != tvNone);
        QCOMPARE(Form->LabelVerdict->text(), TestVerdictText(TTestVerdict(verdict)));
        if (verdict != tvNone) {
            const QColor colour = Form->LabelVerdict->palette().color(QPalette::WindowText);
            QCOMPARE(colour, verdict == tvPass ? QColor(0, 153, 51) : QColor(204, 0, 0));
            QVERIFY(Form->LabelVerdict->font().pointSize() >= 2 * Form->LabelHystMax->font().pointSize());
        }
        QCOMPARE(Form->LabelVerdictFailures->isVisible(), verdict == tvFail);
        if (verdict == tvFail)
            QVERIFY2(Form->LabelVerdictFailures->text().startsWith(QStringLiteral("Max hysteresis ")) &&
                         Form->LabelVerdictFailures->text().contains(QStringLiteral("> 0.20 V")),
                     qPrintable(Form->LabelVerdictFailures->text()));

        // The record, read back through the store.
        TTestRecordStore store(Records->path(), TTestRecordStore::saReadOnly);
        const QVector<TTestRecordSummary> list = store.ListRecords();
        QCOMPARE(list.size(), 1);
        const std::optional<TTestRecord> record = store.LoadRecord(list[0].Id);
        QVERIFY(record);
        QCOMPARE(record->HeadSerial, QStringLiteral("VE-7731"));
        QCOMPARE(record->Firmware, TSimOptions().Ident);
        QCOMPARE(record->TesterId, Form->DeviceLink->ComPortObject()->Port());
        QCOMPARE(record->PumpType, QStringLiteral("VE"));
        QCOMPARE(record->HeadType, QStringLiteral("Inductive"));
        QVERIFY(qAbs(record->TakenAt.secsTo(QDateTime::currentDateTimeUtc())) < 60);
        QCOMPARE(record->Sweep, (TSweepSettings{20, 60, 5, 100, smSettled}));
        QCOMPARE(int(record->Verdict), verdict);
        QCOMPARE(record->Limits.IsEmpty(), maxVolts < 0);
        QVERIFY(record->Figures == f);
        // Every point of the chart, with its branch, in the order taken.
        TColoredLineSeries *s = Form->SeriesHyst1;
        QCOMPARE(record->Points.size(), s->PointCount());
        QCOMPARE(record->Points.size(), 9 + 7); // 20..60 up, 55..25 down
        for (int i = 0; i < s->PointCount(); ++i) {
            QCOMPARE(record->Points[i].Duty, s->Point(i).x());
            QCOMPARE(record->Points[i].Volts, s->Point(i).y());
            QCOMPARE(record->Points[i].Branch, i < 9 ? sbRising : sbFalling);
        }

        // The record in the history window, its loop shown when selected.
        Form->ButtonTestHistory->click();
        TFormTestHistory *history = Form->FormTestHistory;
        QVERIFY(history && history->isVisible());
        // The history asks the records' worker and shows its answers as they come.
        QTRY_COMPARE_WITH_TIMEOUT(history->ModelRecords->rowCount(), 1, 10000);
        QCOMPARE(history->ModelRecords->Record(0).Id, record->Id);
        history->TableRecords->selectRow(0);
        QTRY_COMPARE_WITH_TIMEOUT(history->ShownRecords().size(), 1, 10000);
        QVERIFY(history->ShownRecords().first() == *record);
        history->close();

        // The report a technician hands over: one page, the serial in its title.
        const QString pdfPath = Records->filePath(QStringLiteral("report.pdf"));
        Form->AskSaveFileName = [&pdfPath](const QString &, const QString &, const QString &) {
            return pdfPath;
        };
        Form->ButtonReportPdf->click();
        QFile pdf(pdfPath);
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        CheckPdf(pdf.readAll(), QStringLiteral("VE-7731"));
    }

    // "Draw often" against a tester that also sends its measured values by itself every
    // 100 ms: each charted register keeps one request chain, however many values come
    // unasked. On the line: at no time more than the chain's own request (and, for a moment
    // after an unasked value was taken for its answer, one more) waits for an answer; the
    // polling keeps its 500 ms and each tick is answered long before the next; the chart
    // goes on being fed.
    // A record server that hangs (every process of it stopped) while a sweep ends: the record
    // is handed over and its send waits on the server's thread, while the tester goes on
    // getting its keep-alive and its polling and the link is never lost; once the server is
    // back the record reaches it.
    void keepAliveWhileRecordServerStalls() {
        TPostgresServer server;
        QVERIFY2(server.Error.isEmpty(), qPrintable(server.Error));
        {
            QSettings settings(TFormTamrel::SettingsFilePath(), QSettings::IniFormat);
            SaveRecordServerSettings(settings, server.Settings());
        }
        StartAndConnect(TSimOptions());
        TTestRecordWorker *worker = Form->RecordWorker();
        QVERIFY(worker->ServerSet());
        QSignalSpy sent(worker, &TTestRecordWorker::Sent);
        int stored = 0;
        Form->OnRecordStored = [&](const TTestRecord &) { ++stored; };
        Form->sPageControl1->setCurrentWidget(Form->sTabSheetChartHyst);
        Form->FloatEditDutyStart->SetValueInt(20);
        Form->FloatEditDutyEnd->SetValueInt(40);
        Form->FloatEditStep->SetValueInt(10);
        Form->FloatEditPeriod->SetValueInt(100);
        const auto sweep = [&](const QString &serial) {
            Form->EditHeadSerial->setText(serial);
            Form->ButtonStartStop->click();
            QTRY_VERIFY_WITH_TIMEOUT(Form->DiagramMode == dmNone && Form->LastRecord() &&
                                         Form->LastRecord()->HeadSerial == serial,
                                     15000);
        };
        // The first record reaches the server: the worker holds a live connection to it.
        sweep(QStringLiteral("KA-1"));
        QTRY_COMPARE_WITH_TIMEOUT(sent.size(), 1, 30000);
        QVERIFY(server.Stall());

        // From the second sweep's start through its end, where its record is handed over.
        const int from = int(Sim->FrameLog().size());
        sweep(QStringLiteral("KA-2"));
        QTRY_COMPARE_WITH_TIMEOUT(stored, 2, 20000); // in the local file, its send under way
        // The keep-alive requests from the last one before the sweep on.
        const auto keepAlives = [&] {
            QVector<double> times;
            const QVector<TSimFrameRecord> log = Sim->FrameLog();
            for (int i = 0; i < log.size(); ++i)
                if (IsRead(log[i]) && log[i].Register == 1) {
                    if (i < from) times.clear();
                    times << log[i].TimeMs;
                }
            return times;
        };
        // The link asks for register 1 once a second: six of them, each within a generous
        // bound of the one before, and the loss limit (3.5 s of silence) never reached.
        QTRY_VERIFY_WITH_TIMEOUT(keepAlives().size() >= 7, 30000);
        const QVector<double> times = keepAlives();
        for (int i = 1; i < times.size(); ++i)
            QVERIFY2(times[i] - times[i - 1] < 2500,
                     qPrintable(QStringLiteral("keep-alive %1 came %2 ms after the one before")
                                    .arg(i)
                                    .arg(times[i] - times[i - 1])));
        QVERIFY(Form->DeviceLink->IsConnected());
        // Polling went on as well: register 6 is read at every 500 ms tick.
        const QVector<int> polled = PolledReads(Sim->FrameLog(), from);
        QVERIFY2(polled.count(6) >= 4, qPrintable(QString::number(polled.count(6))));
        // All that time the server held the record's send.
        QCOMPARE(sent.size(), 1);
        QCOMPARE(worker->State().Waiting, 1);

        QVERIFY(server.Resume());
        QTRY_COMPARE_WITH_TIMEOUT(worker->State().Waiting, 0, 60000);
        QCOMPARE(sent.size(), 2);
    }

    void drawOftenKeepsOneChainPerRegister_data() {
        QTest::addColumn<int>("lineRate");
        QTest::newRow("line paced at 115200 baud") << 115200;
        QTest::newRow("unthrottled") << 0;
    }
    void drawOftenKeepsOneChainPerRegister() {
        QFETCH(int, lineRate);
        TSimOptions options;
        options.LineRate = lineRate;
        QCOMPARE(options.AutoSendPeriodMs, 100);
        StartAndConnect(options);
        QTest::qWait(600);
        Sim->Device()->ClearFrameLog();
        const quint32 samples0 = Form->ReceivedRegisterCount[2];
        Form->sCheckBoxPositionFast->click();
        QVERIFY(Form->sCheckBoxPositionFast->isChecked());
        QTest::qWait(5000);
        const double samples = Form->ReceivedRegisterCount[2] - samples0;
        const QVector<TSimFrameRecord> log = Sim->FrameLog();

        // What the tester sent, in order; a value of register 2 followed at once by values of
        // 8 and 7 starts one of its unasked rounds (2, 8, 7, 11, 13); 7 is never asked for.
        QVector<int> sent;
        for (int i = 0; i < log.size(); ++i)
            if (!log[i].Received) sent << i;
        auto isValue = [&](int i, int reg) {
            return !log[i].Received && (log[i].Command == 7 || log[i].Command == 18) &&
                   log[i].Register == reg;
        };
        QSet<int> unasked;
        for (int k = 0; k + 2 < sent.size(); ++k)
            if (isValue(sent[k], 2) && isValue(sent[k + 1], 8) && isValue(sent[k + 2], 7))
                unasked << sent[k] << sent[k + 1];
        QVERIFY2(unasked.size() >= 2 * 30, qPrintable(QString::number(unasked.size())));

        // Requests of a charted register that wait for their answer, at any moment.
        for (int reg : {2, 8}) {
            int inFlight = 0, maxInFlight = 0, reads = 0;
            for (int i = 0; i < log.size(); ++i) {
                if (IsRead(log[i]) && log[i].Register == reg) {
                    ++reads;
                    maxInFlight = qMax(maxInFlight, ++inFlight);
                } else if (isValue(i, reg) && !unasked.contains(i)) {
                    inFlight = qMax(0, inFlight - 1);
                }
            }
            qInfo("register %d: %d reads in 5 s, at most %d waiting at once", reg, reads, maxInFlight);
            QVERIFY2(
                maxInFlight <= 2,
                qPrintable(
                    QStringLiteral("register %1: %2 requests waiting at once").arg(reg).arg(maxInFlight)));
        }

        // Polling: a tick every 500 ms, each answered in full before the next begins.
        QVector<double> tickStarts;
        QVector<double> tickTimes;
        double tickStart = -1;
        for (int i = 0; i < log.size(); ++i) {
            if (IsRead(log[i]) && log[i].Register == 6) {
                QVERIFY2(tickStart < 0, "a polling tick began before the previous one was answered");
                tickStart = log[i].TimeMs;
                tickStarts << tickStart;
            } else if (isValue(i, 14) && tickStart >= 0) {
                tickTimes << log[i].TimeMs - tickStart;
                tickStart = -1;
            }
        }
        QVERIFY(tickStarts.size() >= 8);
        const double mean = (tickStarts.last() - tickStarts.first()) / (tickStarts.size() - 1);
        std::sort(tickTimes.begin(), tickTimes.end());
        qInfo("polling every %.0f ms, a tick answered in %.1f ms (median); %.0f samples/s charted", mean,
              tickTimes[tickTimes.size() / 2], samples / 5);
        QVERIFY2(mean > 450 && mean < 570, qPrintable(QString::number(mean)));
        QVERIFY2(tickTimes[tickTimes.size() / 2] < 250,
                 qPrintable(QString::number(tickTimes[tickTimes.size() / 2])));
        // The chart is still fed, well beyond the tester's own ten values a second (a single
        // chain waits for every answer, so a loaded machine slows it down).
        QVERIFY2(samples / 5 > 30, qPrintable(QString::number(samples / 5)));
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
