// The actuator model behind the measured registers: the hysteresis loop of a duty sweep,
// the lag, the closed loop on the set input voltage, and the ranges of every value.
#include "TestMain.h"
#include "uSimActuator.h"

class TestSimActuator : public QObject {
    Q_OBJECT

    static TSimChannelInput Duty(int percent) {
        TSimChannelInput in;
        in.Manual = true;
        in.DutyPercent = percent;
        return in;
    }
    // Settled outputs of a sweep 0..100..0 in steps of Step, as the hysteresis measurement does it.
    static void Sweep(int step, QMap<int, int> &rising, QMap<int, int> &falling) {
        TSimActuatorChannel ch;
        for (int d = 0; d <= 100; d += step) {
            ch.Step(Duty(d), 1000);
            rising[d] = ch.OutputMv();
        }
        for (int d = 100; d >= 0; d -= step) {
            ch.Step(Duty(d), 1000);
            falling[d] = ch.OutputMv();
        }
    }

private slots:
    void sweepDrawsAHysteresisLoop() {
        QMap<int, int> rising, falling;
        Sweep(5, rising, falling);
        // The branches lie several hundred millivolts apart in the middle of the travel.
        for (int d : {30, 40, 50, 60, 70})
            QVERIFY2(falling[d] - rising[d] >= 300,
                     qPrintable(QString("%1 %: %2 / %3").arg(d).arg(rising[d]).arg(falling[d])));
        // Both branches rise with the duty and span most of the 0..5 V range.
        for (int d = 5; d <= 100; d += 5) {
            QVERIFY(rising[d] >= rising[d - 5]);
            QVERIFY(falling[d] >= falling[d - 5]);
        }
        QVERIFY(rising[0] < 600);
        QVERIFY(rising[100] > 4400);
        QCOMPARE(falling[100], rising[100]);
    }

    void outputLagsBehindAStep() {
        TSimActuatorChannel ch;
        ch.Settle(Duty(0));
        const int start = ch.OutputMv();
        ch.Step(Duty(100), 0);
        const double target = TSimActuatorChannel::CurveMv(100 - TSimActuatorChannel::HalfWidthPercent);
        ch.Step(Duty(100), TSimActuatorChannel::LagMs);
        const double part = (ch.OutputMv() - start) / (target - start);
        QVERIFY2(part > 0.58 && part < 0.68, qPrintable(QString::number(part))); // 1 - 1/e
        for (int i = 0; i < 20; ++i)
            ch.Step(Duty(100), 50);
        QVERIFY(qAbs(ch.OutputMv() - target) < 2);
    }

    void closedLoopFollowsTheSetInputVoltage_data() {
        QTest::addColumn<int>("vin");
        QTest::addColumn<int>("expected");
        QTest::newRow("1 V") << 1000 << 1000;
        QTest::newRow("4.5 V") << 4500 << 4500;
        QTest::newRow("above the range") << 9000 << 5000;
        QTest::newRow("zero") << 0 << 0;
    }
    void closedLoopFollowsTheSetInputVoltage() {
        QFETCH(int, vin);
        QFETCH(int, expected);
        TSimActuatorChannel ch;
        TSimChannelInput in;
        in.SetupVinMv = vin;
        ch.Settle(in);
        QCOMPARE(ch.OutputMv(), expected);
        QVERIFY(ch.CurrentCentiAmp() >= 20 && ch.CurrentCentiAmp() <= 270);
    }

    void voltsModeDrivesLikeDuty() {
        TSimActuatorChannel a, b;
        TSimChannelInput volts;
        volts.Manual = true;
        volts.VoltsMode = true;
        volts.ManualTenthsVolt = 70; // half of 14 V
        volts.DutyPercent = 0;       // not used in volts mode
        a.Settle(volts);
        b.Settle(Duty(50));
        QCOMPARE(a.OutputMv(), b.OutputMv());
        volts.ManualTenthsVolt = 500; // beyond 14 V: full travel, no more
        a.Settle(volts);
        QVERIFY(a.OutputMv() <= TSimActuatorChannel::MaxOutputMv);
    }

    void temperatureDriftsAround25Degrees() {
        TSimActuator act;
        int lo = 1000, hi = -1000;
        for (int i = 0; i < 600; ++i) { // ten minutes, one step a second
            act.Step(Duty(100), Duty(100), 1000);
            lo = qMin(lo, act.TemperatureTenths());
            hi = qMax(hi, act.TemperatureTenths());
        }
        QVERIFY(lo >= 230 && hi <= 280);
        QVERIFY(hi - lo >= 10); // it does move
    }
};

TAMREL_TEST_MAIN_CORE(TestSimActuator)
#include "tst_SimActuator.moc"
