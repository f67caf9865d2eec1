// The spin lock under load: the companion takes and releases it a million times, emptying the
// buffer whenever it holds records, while the engine appends register 254's values as fast as
// it can, until both a million cycles and a hundred thousand records are done. Every record the companion
// reads must be whole: its 0x7E, a length that fits, and the bytes of one value in order.
#include "TestMain.h"
#include "TrazerTestSupport.h"

#include <QRegularExpression>

namespace {

// 64 bytes: the sequence number, then byte i = (seq + i) & 0xFF (the companion checks this).
QByteArray StressValue(quint32 seq) {
    QByteArray value(64, '\0');
    qToLittleEndian<quint32>(seq, value.data());
    for (int i = 4; i < value.size(); ++i)
        value[i] = char((seq + quint32(i)) & 0xFF);
    return value;
}

} // namespace

class TestTrazerStress : public QObject {
    Q_OBJECT

    TPrivateSettings FSettings;

private slots:
    void millionLockCyclesWhileAppending() {
        TCompanion companion(FSettings.Path());
        QVERIFY(companion.Started());
        const QString name = UniqueServerName(QStringLiteral("Stress"));
        TServedEngine e(name);
        QCOMPARE(companion.Ask("open " + name), QStringLiteral("ok 1000289"));
        QCOMPARE(companion.Ask("setcount 0"), QStringLiteral("ok"));

        companion.Send(QStringLiteral("stress 1000000 100000 240000"));
        quint32 seq = 0;
        QElapsedTimer guard;
        guard.start();
        while (!companion.AnswerReady() && guard.elapsed() < 600000) {
            for (int i = 0; i < 100; ++i)
                e.Stream(StressValue(++seq));
            e.Notified.clear();
            QCoreApplication::processEvents();
        }
        const QString answer = companion.Answer();
        const QRegularExpressionMatch m =
            QRegularExpression(
                QStringLiteral("^cycles (\\d+) takes (\\d+) records (\\d+) torn (\\d+) disorder (\\d+) "
                               "lastseq (\\d+)$"))
                .match(answer);
        QVERIFY2(m.hasMatch(), qPrintable(answer));
        QVERIFY(m.captured(1).toLongLong() >= 1000000LL);
        QCOMPARE(m.captured(4).toLongLong(), 0LL); // no torn record
        QCOMPARE(m.captured(5).toLongLong(), 0LL); // values in the order they were appended
        QVERIFY(m.captured(2).toLongLong() > 0);   // the companion found records to take
        QVERIFY(m.captured(3).toLongLong() >= 100000);
        QVERIFY(m.captured(6).toLongLong() <= qint64(seq));
        qInfo("%s; %u values appended", qPrintable(answer), seq);
    }
};

TAMREL_TEST_MAIN_CORE(TestTrazerStress)
#include "tst_TrazerStress.moc"
