// The application's general error display: guarded handlers hand every exception, of any
// type, to the display; errors of other threads arrive on the GUI thread.
#include "TestMain.h"
#include "uKvApplication.h"

#include <QThread>

#include <stdexcept>
#include <thread>

class TKvApplicationTest : public QObject {
    Q_OBJECT
    QStringList Shown;
    QVector<QThread *> ShownOn;

private slots:
    void init() {
        Shown.clear();
        ShownOn.clear();
        TKvApplication::SetErrorDisplay([this](const QString &m) {
            Shown << m;
            ShownOn << QThread::currentThread();
        });
    }
    void cleanupTestCase() { TKvApplication::SetErrorDisplay({}); }

    void guardedBodyReportsItsError_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("runtime_error") << 0 << "Wrong COM-port settings";
        QTest::newRow("derived, Russian text") << 1 << "Неверный адрес регистра";
        QTest::newRow("not a std::exception") << 2 << "Unknown error";
    }
    void guardedBodyReportsItsError() {
        QFETCH(int, kind);
        QFETCH(QString, message);
        struct EDerived : std::runtime_error {
            using std::runtime_error::runtime_error;
        };
        const bool ok = TKvApplication::RunGuarded([&] {
            if (kind == 0) throw std::runtime_error(message.toStdString());
            if (kind == 1) throw EDerived(message.toStdString());
            throw 42;
        });
        QVERIFY(!ok);
        QCOMPARE(Shown, QStringList{message});
    }

    void bodyWithoutErrorShowsNothing() {
        int ran = 0;
        QVERIFY(TKvApplication::RunGuarded([&] { ++ran; }));
        QCOMPARE(ran, 1);
        QVERIFY(Shown.isEmpty());
    }

    // Without a display set, an error raised on another thread is posted to the GUI thread
    // (where the message box would run).
    void errorOfAnotherThreadReachesTheGuiThread() {
        TErrorDisplay capture = [this](const QString &m) {
            Shown << m;
            ShownOn << QThread::currentThread();
        };
        TKvApplication::SetErrorDisplay({});
        std::thread worker(
            [] { TKvApplication::RunGuarded([] { throw std::runtime_error("from worker"); }); });
        worker.join();
        TKvApplication::SetErrorDisplay(capture); // in place before the posted call runs
        QTRY_COMPARE(Shown, QStringList{"from worker"});
        QCOMPARE(ShownOn.first(), QThread::currentThread());
    }
};

TAMREL_TEST_MAIN(TKvApplicationTest)
#include "tst_KvApplication.moc"
