// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Runs nukdump (or a shell around it) with NUKPATH set, and collects its lines.

#include <QProcess>
#include <QStringList>

namespace fixtures {

struct Run {
    int exitCode = -1;  // -1: did not end normally
    QByteArray out, err;
    QList<QByteArray> lines;  // standard output's non-empty lines
};

inline Run runNukdump(const QStringList& args, const QStringList& env = {},
                      const QString& program = QStringLiteral(NUK_BUILD_DIR "/nuk/nukdump"))
{
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("NUKPATH"), QStringLiteral(NUK_BUILD_DIR));
    for (const QString& kv : env)
        e.insert(kv.section(QLatin1Char('='), 0, 0), kv.section(QLatin1Char('='), 1));
    p.setProcessEnvironment(e);
    p.start(program, args);
    Run r;
    if (!p.waitForFinished(60000))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    r.lines = r.out.split('\n');
    r.lines.removeAll(QByteArray());
    return r;
}

}  // namespace fixtures
