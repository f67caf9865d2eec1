// The figures of hand-computed hysteresis loops.
#include "TestMain.h"
#include "uHysteresisFigures.h"

using TBranch = QVector<THysteresisPoint>;

class TestHysteresisFigures : public QObject {
    Q_OBJECT
private slots:
    void figures_data();
    void figures();
};

void TestHysteresisFigures::figures_data() {
    QTest::addColumn<TBranch>("rising");
    QTest::addColumn<TBranch>("falling");
    QTest::addColumn<int>("compared");
    QTest::addColumn<double>("maxVolts");
    QTest::addColumn<double>("meanVolts");
    QTest::addColumn<double>("maxAtDuty");
    QTest::addColumn<double>("spanVolts");
    QTest::addColumn<double>("maxPercent"); // -1: no percentage (span 0)
    QTest::addColumn<double>("meanPercent");

    // Falling 0.2 V above rising in the middle: 0, 0.2, 0.2, 0 -> the lower duty of the tie.
    QTest::newRow("symmetric") << TBranch{{10, 1.0}, {20, 2.0}, {30, 3.0}, {40, 4.0}}
                               << TBranch{{40, 4.0}, {30, 3.2}, {20, 2.2}, {10, 1.0}} << 4 << 0.2 << 0.1
                               << 20.0 << 3.0 << 100 * 0.2 / 3 << 100 * 0.1 / 3;
    // 0, 0.1, 0.9, 0.3, 0 over a 4 V span.
    QTest::newRow("asymmetric") << TBranch{{0, 0.5}, {25, 1.0}, {50, 2.5}, {75, 4.0}, {100, 4.5}}
                                << TBranch{{100, 4.5}, {75, 4.3}, {50, 3.4}, {25, 1.1}, {0, 0.5}} << 5 << 0.9
                                << 0.26 << 50.0 << 4.0 << 22.5 << 6.5;
    // Falling sampled at 20 and 40 only, rising at 10, 30, 50: compared at 20, 30, 40 inside the
    // common range, each branch interpolated where it has no sample:
    // 20: 2.2 - 2.0; 30: 3.5 - 3.0; 40: 4.8 - 4.0.
    QTest::newRow("different duties")
        << TBranch{{10, 1.0}, {30, 3.0}, {50, 5.0}} << TBranch{{40, 4.8}, {20, 2.2}} << 3 << 0.8 << 0.5
        << 40.0 << 4.0 << 20.0 << 12.5;
    QTest::newRow("unsorted") << TBranch{{30, 3.0}, {50, 5.0}, {10, 1.0}} << TBranch{{20, 2.2}, {40, 4.8}}
                              << 3 << 0.8 << 0.5 << 40.0 << 4.0 << 20.0 << 12.5;
    // Stopped two steps into the fall: only 40..50 is compared, the span is the whole rise.
    QTest::newRow("stopped while falling")
        << TBranch{{10, 1.0}, {20, 2.0}, {30, 3.0}, {40, 4.0}, {50, 5.0}} << TBranch{{50, 5.0}, {40, 4.6}}
        << 2 << 0.6 << 0.3 << 40.0 << 4.0 << 15.0 << 7.5;
    QTest::newRow("stopped while rising") << TBranch{{10, 1.0}, {20, 2.0}, {30, 3.0}} << TBranch{} << 0 << 0.0
                                          << 0.0 << 0.0 << 2.0 << -1.0 << -1.0;
    QTest::newRow("nothing taken") << TBranch{} << TBranch{} << 0 << 0.0 << 0.0 << 0.0 << 0.0 << -1.0 << -1.0;
    // Start equal to end: one sample each way, no span to relate to.
    QTest::newRow("one point each") << TBranch{{10, 1.5}} << TBranch{{10, 1.7}} << 1 << 0.2 << 0.2 << 10.0
                                    << 0.0 << -1.0 << -1.0;
    QTest::newRow("one point rising")
        << TBranch{{10, 1.5}} << TBranch{} << 0 << 0.0 << 0.0 << 0.0 << 0.0 << -1.0 << -1.0;
    QTest::newRow("no common duty") << TBranch{{10, 1.0}, {20, 2.0}} << TBranch{{40, 4.0}, {30, 3.0}} << 0
                                    << 0.0 << 0.0 << 0.0 << 1.0 << -1.0 << -1.0;
    // A sensor whose voltage falls as the duty rises: the falling branch lies below, the
    // hysteresis is still how far apart they are.
    QTest::newRow("falling sensor") << TBranch{{10, 4.0}, {20, 3.0}, {30, 2.0}}
                                    << TBranch{{30, 2.0}, {20, 2.6}, {10, 4.0}} << 3 << 0.4 << 0.4 / 3 << 20.0
                                    << 2.0 << 20.0 << 20.0 / 3;
    // Two readings at 50 % count as their mean (5.0) for the comparison, both for the span.
    QTest::newRow("repeated duty") << TBranch{{0, 1.0}, {50, 4.8}, {50, 5.2}} << TBranch{{50, 5.0}, {0, 1.4}}
                                   << 2 << 0.4 << 0.2 << 0.0 << 4.2 << 100 * 0.4 / 4.2 << 100 * 0.2 / 4.2;
}

void TestHysteresisFigures::figures() {
    QFETCH(TBranch, rising);
    QFETCH(TBranch, falling);
    QFETCH(int, compared);
    QFETCH(double, maxVolts);
    QFETCH(double, meanVolts);
    QFETCH(double, maxAtDuty);
    QFETCH(double, spanVolts);
    QFETCH(double, maxPercent);
    QFETCH(double, meanPercent);

    const THysteresisFigures figures = ComputeHysteresisFigures(rising, falling);
    const auto near = [](double a, double b) { return std::abs(a - b) < 1e-9; };
    QCOMPARE(figures.ComparedPoints, compared);
    QCOMPARE(figures.Available(), compared > 0);
    QVERIFY2(near(figures.MaxVolts, maxVolts), qPrintable(QString::number(figures.MaxVolts)));
    QVERIFY2(near(figures.MeanVolts, meanVolts), qPrintable(QString::number(figures.MeanVolts)));
    QVERIFY2(near(figures.MaxAtDuty, maxAtDuty), qPrintable(QString::number(figures.MaxAtDuty)));
    QVERIFY2(near(figures.SpanVolts, spanVolts), qPrintable(QString::number(figures.SpanVolts)));
    QCOMPARE(figures.HasPercent(), maxPercent >= 0);
    if (maxPercent >= 0) {
        QVERIFY2(near(figures.MaxPercent, maxPercent), qPrintable(QString::number(figures.MaxPercent)));
        QVERIFY2(near(figures.MeanPercent, meanPercent), qPrintable(QString::number(figures.MeanPercent)));
    }
}

TAMREL_TEST_MAIN_CORE(TestHysteresisFigures)
#include "tst_HysteresisFigures.moc"
