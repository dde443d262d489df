// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Small helpers for tests that start real processes.

#include <QList>
#include <QString>
#include <QStringList>

#include <sys/types.h>

namespace proctools {

// Live (not zombie) processes whose session id is `sid`.
QList<pid_t> sessionMembers(pid_t sid);

// Waits up to `ms` for the session to have no live member.
bool waitSessionGone(pid_t sid, int ms);

// Forks, starts a new session and executes `program` with `args` and extra
// environment `env` ("K=V"; "K=" unsets K). Standard output goes to `outFile` if given.
pid_t spawnInNewSession(const QString& program, const QStringList& args, const QStringList& env,
                        const QString& outFile = QString());

// Kills a spawned session when a test leaves early.
class SessionGuard {
public:
    explicit SessionGuard(pid_t sid) : m_sid(sid) {}
    ~SessionGuard();
    SessionGuard(const SessionGuard&) = delete;
    SessionGuard& operator=(const SessionGuard&) = delete;

private:
    pid_t m_sid;
};

// Waits up to `ms` for `file` to exist; returns its content lines.
QStringList waitForLines(const QString& file, int ms);

}  // namespace proctools
