#pragma once
// A second process for a test, started with posix_spawn instead of QProcess. QProcess starts
// its child through a clone of its own that ThreadSanitizer does not follow: once a test
// process has started a child that way, the thread checker reports nothing more in it. The
// suites that the thread build checks start their children here, so that what runs after the
// start is still checked.
//
// The child's standard input and output are pipes of this object; its error output goes to
// this process's own (so that a child's own checker report shows in the test log) or joins
// the output. Reading never blocks longer than asked.
#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char **environ;

class TChildProcess {
public:
    enum TErrorOutput { ErrorForwarded, ErrorMerged };

    TChildProcess() = default;
    TChildProcess(const TChildProcess &) = delete;
    TChildProcess &operator=(const TChildProcess &) = delete;
    ~TChildProcess() {
        if (Running()) {
            ::kill(FPid, SIGKILL);
            WaitForFinished(10000);
        }
        CloseFd(FIn);
        CloseFd(FOut);
    }

    // Starts Program (looked up in PATH when it has no slash) with Args.
    bool Start(const QString &program, const QStringList &args, TErrorOutput errorOutput = ErrorForwarded) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0) return false;
        if (::pipe2(out, O_CLOEXEC) != 0) {
            ::close(in[0]);
            ::close(in[1]);
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        if (errorOutput == ErrorMerged) posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);

        std::vector<std::string> strings;
        strings.push_back(QFile::encodeName(program).toStdString());
        for (const QString &a : args)
            strings.push_back(a.toLocal8Bit().toStdString());
        std::vector<char *> argv;
        for (std::string &s : strings)
            argv.push_back(s.data());
        argv.push_back(nullptr);

        pid_t pid = 0;
        const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        if (rc != 0) {
            ::close(in[1]);
            ::close(out[0]);
            return false;
        }
        ::fcntl(out[0], F_SETFL, ::fcntl(out[0], F_GETFL) | O_NONBLOCK);
        FPid = pid;
        FIn = in[1];
        FOut = out[0];
        FFinished = false;
        FOutput.clear();
        return true;
    }

    qint64 Pid() const { return FPid; }
    bool Running() {
        Reap(false);
        return FPid > 0 && !FFinished;
    }

    bool Write(const QByteArray &bytes) {
        qsizetype done = 0;
        while (FIn >= 0 && done < bytes.size()) {
            const ssize_t n = ::write(FIn, bytes.constData() + done, size_t(bytes.size() - done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += n;
        }
        return done == bytes.size();
    }
    void CloseWrite() { CloseFd(FIn); }

    // Waits up to TimeoutMs for a whole line of output and returns it without its line end
    // (empty when none came, or the child ended without one).
    QByteArray ReadLine(int timeoutMs = 60000) {
        QDeadlineTimer deadline(timeoutMs);
        while (!FOutput.contains('\n')) {
            if (!Fill(deadline) && (FOut < 0 || deadline.hasExpired())) return {};
        }
        const qsizetype end = FOutput.indexOf('\n');
        QByteArray line = FOutput.left(end);
        FOutput.remove(0, end + 1);
        if (line.endsWith('\r')) line.chop(1);
        return line;
    }
    // Whether a whole line is there, without waiting.
    bool CanReadLine() {
        Fill(QDeadlineTimer(0));
        return FOutput.contains('\n');
    }
    // Everything the child wrote so far (waiting for nothing).
    QByteArray ReadAll() {
        Fill(QDeadlineTimer(0));
        QByteArray all = FOutput;
        FOutput.clear();
        return all;
    }

    // Waits for the child's end, taking in its output meanwhile (a full pipe would hold it).
    bool WaitForFinished(int timeoutMs = 30000) {
        QDeadlineTimer deadline(timeoutMs);
        while (!Reap(false)) {
            if (deadline.hasExpired()) return false;
            Fill(QDeadlineTimer(10));
        }
        Fill(QDeadlineTimer(0));
        return true;
    }
    bool NormalExit() const { return FFinished && WIFEXITED(FStatus); }
    int ExitCode() const { return FFinished && WIFEXITED(FStatus) ? WEXITSTATUS(FStatus) : -1; }

private:
    static void CloseFd(int &fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    // True once the child has ended and been collected.
    bool Reap(bool block) {
        if (FPid <= 0 || FFinished) return FFinished;
        const pid_t r = ::waitpid(FPid, &FStatus, block ? 0 : WNOHANG);
        if (r == FPid) FFinished = true;
        return FFinished;
    }
    // Reads what is there, waiting until Deadline for the first bytes; false when none came.
    bool Fill(QDeadlineTimer deadline) {
        bool got = false;
        while (FOut >= 0) {
            char buf[4096];
            const ssize_t n = ::read(FOut, buf, sizeof buf);
            if (n > 0) {
                FOutput.append(buf, n);
                got = true;
                continue;
            }
            if (n == 0) {
                CloseFd(FOut); // the child closed its output
                break;
            }
            if (errno == EINTR) continue;
            if (got || deadline.hasExpired()) break;
            pollfd p{FOut, POLLIN, 0};
            const qint64 left = deadline.remainingTime(); // -1: no deadline
            ::poll(&p, 1, left < 0 || left > 100 ? 100 : int(left));
        }
        return got;
    }

    pid_t FPid = 0;
    int FIn = -1;
    int FOut = -1;
    int FStatus = 0;
    bool FFinished = false;
    QByteArray FOutput;
};
