// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Sessions of real processes for the process model tests.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <QThread>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace proctools {

// Live (not zombie) processes whose session id is `sid`.
inline QList<pid_t> sessionMembers(pid_t sid)
{
    QList<pid_t> members;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (entry.toInt() <= 0 || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // After "pid (comm) ": state ppid pgrp session ...
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 3 && fields[0] != "Z" && fields[0] != "X" && fields[3].toInt() == sid)
            members << pid_t(entry.toInt());
    }
    return members;
}

// Whether `pid` has a handler of its own for `signo` (its SigCgt mask).
inline bool catchesSignal(pid_t pid, int signo)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signo - 1) & 1;
    return false;
}

// Forks, starts a new session and executes `program` with `args` and extra
// environment `env` ("K=V"; "K=" unsets K), its standard output on /dev/null.
inline pid_t spawnInNewSession(const QString& program, const QStringList& args, const QStringList& env)
{
    const QByteArray path = program.toLocal8Bit();
    QList<QByteArray> argBytes{path};
    for (const QString& a : args)
        argBytes << a.toLocal8Bit();
    QList<QByteArray> envBytes;
    for (const QString& e : env)
        envBytes << e.toLocal8Bit();

    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    setsid();
    for (int signo = 1; signo < NSIG; ++signo)
        if (signo != SIGKILL && signo != SIGSTOP)
            std::signal(signo, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (const QByteArray& e : envBytes) {
        const int eq = e.indexOf('=');
        const QByteArray key = e.left(eq);
        if (eq == e.size() - 1)
            unsetenv(key.constData());
        else
            setenv(key.constData(), e.constData() + eq + 1, 1);
    }
    // Never keep the test runner's output pipe open in processes that may outlive the test.
    if (const int fd = ::open("/dev/null", O_WRONLY); fd >= 0) {
        dup2(fd, STDOUT_FILENO);
        ::close(fd);
    }
    std::vector<char*> argv;
    for (QByteArray& a : argBytes)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(path.constData(), argv.data());
    _exit(127);
}

// Kills a spawned session when a test leaves early.
class SessionGuard {
public:
    explicit SessionGuard(pid_t sid) : m_sid(sid) {}
    ~SessionGuard()
    {
        if (m_sid > 0)
            kill(-m_sid, SIGKILL);
    }
    SessionGuard(const SessionGuard&) = delete;
    SessionGuard& operator=(const SessionGuard&) = delete;

private:
    pid_t m_sid;
};

// Waits up to `ms` for `file` to exist; returns its content lines.
inline QStringList waitForLines(const QString& file, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QFile f(file);
        if (f.open(QIODevice::ReadOnly))
            return QString::fromLocal8Bit(f.readAll()).split('\n', Qt::SkipEmptyParts);
        QThread::msleep(10);
    }
    return {};
}

}  // namespace proctools
