// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What the tests that start real programs share: an environment with a NUKPATH,
// a temporary NUKPATH with stand-in helpers, a program run to its end, the
// children a process has not reaped, the capture parameter block, and files and
// pipes written and read whole.

#include "common/standin.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <sys/types.h>

namespace testproc {

// This process's environment with NUKPATH at `root`, plus "K=V" pairs.
inline QProcessEnvironment nukEnvironment(const QStringList& extra = {},
                                          const QString& root = QStringLiteral(NUK_BUILD_DIR))
{
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("NUKPATH"), root);
    for (const QString& kv : extra)
        e.insert(kv.section(QLatin1Char('='), 0, 0), kv.section(QLatin1Char('='), 1));
    return e;
}

struct Run {
    int exitCode = -1;  // -1: did not end normally
    QByteArray out, err;
    QList<QByteArray> lines;  // standard output's non-empty lines
};

inline Run runProgram(const QString& program, const QStringList& args,
                      const QProcessEnvironment& env = nukEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    Run r;
    if (p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit)
        r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    r.lines = r.out.split('\n');
    r.lines.removeAll(QByteArray());
    return r;
}

inline Run runNukdump(const QStringList& args, const QStringList& env = {})
{
    return runProgram(QStringLiteral(NUK_BUILD_DIR "/nuk/nukdump"), args, nukEnvironment(env));
}

// A temporary NUKPATH; stand-in helpers go to <path>/nuk/.
struct FakeNukPath {
    QTemporaryDir root;
    FakeNukPath() { QDir(root.path()).mkpath(QStringLiteral("nuk")); }
    QString path() const { return root.path(); }
    // <path>/nuk/<name>: an owner-only copy of `program`, or a link to it.
    bool install(const QString& name, const QString& program, bool asLink = false) const
    {
        const QString target = root.filePath(QStringLiteral("nuk/") + name);
        QFile::remove(target);
        if (asLink)
            return QFile::link(program, target);
        return QFile::copy(program, target) &&
               QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
};

// The children `parent`'s main thread started and has not reaped (zombies too),
// oldest first.
inline QList<pid_t> childrenOf(pid_t parent)
{
    QList<pid_t> children;
    QFile list(QStringLiteral("/proc/%1/task/%1/children").arg(parent));
    if (list.open(QIODevice::ReadOnly))
        for (const QByteArray& word : list.readAll().split(' '))
            if (word.toInt() > 0)
                children << pid_t(word.toInt());
    return children;
}

// A capture parameter block: E, the expression, F, the file name, device, mode.
inline QByteArray parameterBlock(const QByteArray& expr, const QByteArray& file, std::int32_t device,
                                 std::int32_t mode)
{
    QByteArray b;
    const auto put = [&b](std::int32_t v) { b.append(reinterpret_cast<const char*>(&v), 4); };
    put(std::int32_t(expr.size()));
    b.append(expr);
    put(std::int32_t(file.size()));
    b.append(file);
    put(device);
    put(mode);
    return b;
}

// The whole file; empty when it cannot be read.
inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeFile(const QString& path, const QByteArray& bytes,
                      QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Truncate)
{
    QFile f(path);
    return f.open(mode) && f.write(bytes) == bytes.size();
}

inline bool writeAll(int fd, const QByteArray& bytes) { return writeFully(fd, bytes.constData(), size_t(bytes.size())); }

}  // namespace testproc
