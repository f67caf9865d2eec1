#pragma once
// A throw-away PostgreSQL 15 cluster for the tests of test records: initdb, then pg_ctl
// start/stop, run as "nobody" when the test runs as root (PostgreSQL refuses to run as root),
// listening on a socket in the cluster's folder only. It can be stalled (every process of it
// stopped with SIGSTOP) and resumed, as a server that hangs.
#include "uChildProcess.h"
#include "uTestRecordServerStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <pwd.h>
#include <unistd.h>

inline const QString PgBin = QStringLiteral("/usr/lib/postgresql/15/bin");

// A throw-away cluster: initdb, then pg_ctl start/stop, run as "nobody" when the test runs as
// root (PostgreSQL refuses to run as root), listening on a socket in the cluster's folder only.
class TPostgresServer {
public:
    QTemporaryDir Dir;
    int Port = 0;
    QString Error;

    TPostgresServer() : Port(20000 + int(QCoreApplication::applicationPid() % 20000)) {
        if (!Dir.isValid()) {
            Error = QStringLiteral("no temporary folder");
            return;
        }
        if (geteuid() == 0) {
            const passwd *nobody = getpwnam("nobody");
            if (!nobody || chown(qPrintable(Dir.path()), nobody->pw_uid, nobody->pw_gid) != 0) {
                Error = QStringLiteral("cannot hand the folder to nobody");
                return;
            }
        }
        if (!Run(QStringLiteral("initdb"), {"-D", DataDir(), "-A", "trust", "-U", "tamrel", "--no-sync",
                                            "--encoding=UTF8", "--locale=C"}))
            return;
        Start();
    }
    ~TPostgresServer() {
        if (Running) Stop();
    }

    bool Start() {
        Running =
            Run(QStringLiteral("pg_ctl"),
                {"-D", DataDir(), "-l", Dir.filePath("log"), "-w", "-t", "60", "-o",
                 QStringLiteral("-k %1 -c listen_addresses='' -p %2 -c fsync=off").arg(Dir.path()).arg(Port),
                 "start"});
        return Running;
    }
    bool Stop() {
        Running = false;
        return Run(QStringLiteral("pg_ctl"), {"-D", DataDir(), "-w", "-m", "fast", "stop"});
    }

    TRecordServerSettings Settings(const QString &database = QStringLiteral("postgres")) const {
        return {QStringLiteral("host=%1 port=%2 dbname=%3 user=tamrel connect_timeout=5")
                    .arg(Dir.path())
                    .arg(Port)
                    .arg(database)};
    }
    // An empty database of its own, for a test that needs the tables not yet created.
    bool CreateDatabase(const QString &name) {
        return Run(QStringLiteral("createdb"),
                   {"-h", Dir.path(), "-p", QString::number(Port), "-U", "tamrel", name});
    }

    // Stops (SIGSTOP) or resumes (SIGCONT) the server's processes: the postmaster and every
    // process it started, found through /proc.
    bool Signal(int signal) const {
        QFile pidFile(QDir(DataDir()).filePath(QStringLiteral("postmaster.pid")));
        if (!pidFile.open(QIODevice::ReadOnly)) return false;
        const pid_t postmaster = pid_t(QString::fromLatin1(pidFile.readLine()).trimmed().toLongLong());
        if (postmaster <= 0) return false;
        QVector<pid_t> pids{postmaster};
        for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
            if (!stat.open(QIODevice::ReadOnly)) continue;
            // pid (name) state ppid ...: the name may hold spaces, so read after its ')'.
            const QByteArray text = stat.readAll();
            const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
            if (fields.size() > 1 && fields[1].toLongLong() == postmaster) pids << pid_t(entry.toLongLong());
        }
        // Resumed children first, the postmaster last: a postmaster running again may end a
        // child of the list at once (a backend whose client gave up while it was stopped). A
        // process already gone needs no signal.
        if (signal == SIGCONT) std::reverse(pids.begin(), pids.end());
        for (const pid_t pid : pids)
            if (kill(pid, signal) != 0 && errno != ESRCH) return false;
        return true;
    }
    bool Stall() const { return Signal(SIGSTOP); }
    bool Resume() const { return Signal(SIGCONT); }

private:
    bool Running = false;
    QString DataDir() const { return Dir.filePath(QStringLiteral("data")); }

    bool Run(const QString &tool, const QStringList &arguments) {
        // Started without QProcess: the thread build goes on checking the test process.
        TChildProcess process;
        const bool started =
            geteuid() == 0 ? process.Start(QStringLiteral("runuser"),
                                           QStringList{"-u", "nobody", "--", PgBin + u'/' + tool} + arguments,
                                           TChildProcess::ErrorMerged)
                           : process.Start(PgBin + u'/' + tool, arguments, TChildProcess::ErrorMerged);
        if (!started || !process.WaitForFinished(120000) || !process.NormalExit() ||
            process.ExitCode() != 0) {
            Error = tool + QStringLiteral(": ") + QString::fromLocal8Bit(process.ReadAll());
            return false;
        }
        return true;
    }
};
