// Firmware passes against a boot loader that answers in the order it was asked: a second
// start answer restarts the transfer at page 0, and the pages of the abandoned pass that are
// still on their way send nothing further when their statuses come.
#include "KvTestFixture.h"
#include "TestMain.h"

#include <QQueue>

namespace {

// The loader side of the line: remembers what the engine sent and answers it in order.
struct TLoaderScript {
    TKvCapture Cap;
    std::unique_ptr<TKvProtocol> Engine;
    QByteArray Image = QByteArray(300, 'i'); // pages of 128, 128 and 44 bytes
    QQueue<QByteArray> Unanswered;
    qsizetype Seen = 0;
    QStringList Transcript;
    QList<quint32> Progress;

    TLoaderScript() {
        Engine = MakeEngine(Cap);
        for (int i = 0; i < Image.size(); ++i)
            Image[i] = char(i * 13 + 1);
    }
    static QString Name(const QByteArray &payload) {
        if (quint8(payload[0]) == 0x52) return QStringLiteral("R");
        return QStringLiteral("P%1").arg(quint8(payload[1]) | (quint8(payload[2]) << 8));
    }
    // What the engine sent since the last look, by name; each goes to the loader's input.
    QString Sent() {
        QStringList names;
        for (; Seen < Cap.Frames.size(); ++Seen) {
            const QByteArray p = TKvCapture::PayloadOf(Cap.Frames[Seen]);
            Unanswered.enqueue(p);
            names << Name(p);
        }
        return names.isEmpty() ? QStringLiteral("-") : names.join(' ');
    }
    void Start() {
        Engine->FirmwareStart(
            [this](quint16, quint16, quint16, const QByteArray &) {
                Engine->FirmwareWrite(Image, [this](quint8 error, quint32 pos, quint32) {
                    if (error == 0) Progress << pos;
                });
            },
            false, quint32(Image.size()));
        Transcript << Sent();
    }
    // The loader answers its oldest request; the transcript shows what the engine sent on it.
    void Answer() {
        const QByteArray request = Unanswered.dequeue();
        const QByteArray answer =
            quint8(request[0]) == 0x52 ? Hex("52 34 12 40 00 80 00") + "BL" : Hex("1A 00");
        Engine->InputData(DeviceFrame(answer));
        Transcript << Name(request) + "→" + Sent();
    }
    void Lose() { Transcript << Name(Unanswered.dequeue()) + "→lost"; }
    void Run(const QString &script) {
        for (const QString &step : script.split(' ', Qt::SkipEmptyParts)) {
            if (step == "start")
                Start();
            else if (step == "answer")
                Answer();
            else if (step == "lose")
                Lose();
        }
        while (!Unanswered.isEmpty())
            Answer();
    }
};

} // namespace

class TestKvFirmwareRestart : public QObject {
    Q_OBJECT
private slots:
    void passes_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("transcript");
        QTest::addColumn<QList<quint32>>("progress");
        const QList<quint32> onePass{128, 256, 384};
        QTest::newRow("one start answer") << "start"
                                          << "R; R→P0; P0→P1; P1→P2; P2→-" << onePass;
        QTest::newRow("second start answer before any status")
            << "start start"
            << "R; R; R→P0; R→P0; P0→-; P0→P1; P1→P2; P2→-" << onePass;
        QTest::newRow("three start answers")
            << "start start start"
            << "R; R; R; R→P0; R→P0; R→P0; P0→-; P0→-; P0→P1; P1→P2; P2→-" << onePass;
        // Start pressed again while page 1 is on its way: its status still moves the old pass
        // on (it was asked before the start request), the page that sends is abandoned.
        QTest::newRow("start again while a page waits")
            << "start answer answer start"
            << "R; R→P0; P0→P1; R; P1→P2; R→P0; P2→-; P0→P1; P1→P2; P2→-"
            << QList<quint32>{128, 256, 128, 256, 384};
        // A status lost on the line is not waited for after the next start answer.
        QTest::newRow("status lost, start again")
            << "start answer lose start"
            << "R; R→P0; P0→lost; R; R→P0; P0→P1; P1→P2; P2→-" << onePass;
    }
    void passes() {
        QFETCH(QString, script);
        QFETCH(QString, transcript);
        QFETCH(QList<quint32>, progress);
        TLoaderScript s;
        s.Run(script);
        QCOMPARE(s.Transcript.join("; "), transcript);
        QCOMPARE(s.Progress, progress);
    }

    // Statuses nobody asked for (no page on its way) move nothing.
    void unaskedStatus() {
        TLoaderScript s;
        s.Run("start");
        const qsizetype sent = s.Cap.Frames.size();
        s.Engine->InputData(DeviceFrame(Hex("1A 00")));
        QCOMPARE(s.Cap.Frames.size(), sent);
        QCOMPARE(s.Progress, (QList<quint32>{128, 256, 384}));
    }
};

TAMREL_TEST_MAIN_CORE(TestKvFirmwareRestart)
#include "tst_KvFirmwareRestart.moc"
