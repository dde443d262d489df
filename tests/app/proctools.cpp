// SPDX-License-Identifier: GPL-2.0-or-later
#include "proctools.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <algorithm>

#include <csignal>
#include <cstdlib>
#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

namespace proctools {

namespace {
// Every live process with the fields of its stat line after "pid (comm) ":
// state ppid pgrp session ... (field 19 of these is the start time).
QList<QPair<pid_t, QList<QByteArray>>> liveProcesses()
{
    QList<QPair<pid_t, QList<QByteArray>>> all;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool ok = false;
        const pid_t pid = entry.toInt(&ok);
        if (!ok)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const int close = line.lastIndexOf(')');
        if (close < 0)
            continue;
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (fields.size() < 20 || fields[0] == "Z" || fields[0] == "X")
            continue;
        all.append({pid, fields});
    }
    return all;
}
}  // namespace

QList<pid_t> sessionMembers(pid_t sid)
{
    QList<pid_t> members;
    for (const auto& [pid, fields] : liveProcesses())
        if (fields[3].toInt() == sid)
            members << pid;
    return members;
}

QList<pid_t> childrenOf(pid_t parent)
{
    QList<QPair<qulonglong, pid_t>> children;
    for (const auto& [pid, fields] : liveProcesses())
        if (fields[1].toInt() == parent)
            children.append({fields[19].toULongLong(), pid});
    std::sort(children.begin(), children.end());
    QList<pid_t> pids;
    for (const auto& child : children)
        pids << child.second;
    return pids;
}

bool catchesSignal(pid_t pid, int signo)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signo - 1) & 1;
    return false;
}

bool waitSessionGone(pid_t sid, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        if (sessionMembers(sid).isEmpty())
            return true;
        QThread::msleep(20);
    }
    return sessionMembers(sid).isEmpty();
}

pid_t spawnInNewSession(const QString& program, const QStringList& args, const QStringList& env,
                        const QString& outFile)
{
    const QByteArray path = program.toLocal8Bit();
    QList<QByteArray> argBytes{path};
    for (const QString& a : args)
        argBytes << a.toLocal8Bit();
    QList<QByteArray> envBytes;
    for (const QString& e : env)
        envBytes << e.toLocal8Bit();
    const QByteArray out = outFile.toLocal8Bit();

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
    const int fd = out.isEmpty() ? ::open("/dev/null", O_WRONLY)
                                 : ::open(out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) {
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

void writeParameterBlock(int fd, const QByteArray& expr, const QByteArray& file, int device, int mode)
{
    QByteArray block;
    auto putInt = [&block](std::int32_t v) { block.append(reinterpret_cast<const char*>(&v), sizeof v); };
    putInt(std::int32_t(expr.size()));
    block += expr;
    putInt(std::int32_t(file.size()));
    block += file;
    putInt(device);
    putInt(mode);
    const char* p = block.constData();
    qsizetype left = block.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n <= 0)
            return;
        p += n;
        left -= n;
    }
}

SessionGuard::~SessionGuard()
{
    if (m_sid > 0)
        kill(-m_sid, SIGKILL);
}

QStringList waitForLines(const QString& file, int ms)
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
