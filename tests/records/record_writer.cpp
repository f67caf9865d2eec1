// A bench that writes test records through the records worker and is killed by the test at a
// chosen point: record_writer <folder> <connection string> <count> [pause point [nth]].
// Prints "STORED <id>" once a record is durable in the local file, "PAUSED <point>" when it
// stops at the point (the nth time it passes there, the first by default) and waits there to be
// killed, and "DONE" once every record it wrote has left the queue.
#include "uRecordTestSupport.h"
#include "uTestRecordWorker.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

QByteArray PausePoint;
std::atomic<int> PauseCountdown{1};

void Pause(const char *point) {
    if (PausePoint != point || --PauseCountdown != 0) return;
    std::printf("PAUSED %s\n", point);
    std::fflush(stdout);
    for (;;)
        QThread::sleep(60);
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) return 2;
    if (args.size() > 4) PausePoint = args[4].toLatin1();
    if (args.size() > 5) PauseCountdown = args[5].toInt();
    TestRecordPauseHook = Pause;
    const int count = args[3].toInt();
    TTestRecordWorker worker(args[1], {args[2]});
    int stored = 0;
    QObject::connect(&worker, &TTestRecordWorker::Stored, [&](const TTestRecord &record) {
        std::printf("STORED %s\n", qPrintable(record.Id));
        std::fflush(stdout);
        ++stored;
    });
    QObject::connect(&worker, &TTestRecordWorker::StoreFailed,
                     [](const TTestRecord &, const QString &error, bool) {
                         std::printf("FAILED %s\n", qPrintable(error));
                         std::fflush(stdout);
                         QCoreApplication::exit(1);
                     });
    const auto checkDone = [&] {
        const TRecordQueueState &state = worker.State();
        if (stored == count && state.Waiting == 0 && state.ServerError.isEmpty()) {
            std::printf("DONE\n");
            std::fflush(stdout);
            QCoreApplication::quit();
        }
    };
    QObject::connect(&worker, &TTestRecordWorker::StateChanged, checkDone);
    QObject::connect(&worker, &TTestRecordWorker::Sent, checkDone);
    for (int i = 0; i < count; ++i)
        worker.Write(FullTestRecord(QStringLiteral("KILL-%1").arg(i)));
    return app.exec();
}
