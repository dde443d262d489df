#pragma once
// Runs a built helper (nuk/pcap, nuk/getSock) as a real child process with a real
// pipe, the way the launcher child does, and collects what it writes.

#include "capture/cpacket.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <sys/types.h>
#include <vector>

class HelperRunner {
public:
    // `program` is "pcap" or "getSock"; "%fd" in `args` becomes the pipe's write end.
    // `tmpDir` is handed over as NUK_TMPDIR.
    HelperRunner(const QString& program, QStringList args, const QString& tmpDir);
    ~HelperRunner();

    // Runs the helper as another user (the test must be root).
    void runAs(uid_t uid, gid_t gid)
    {
        m_uid = uid;
        m_gid = gid;
    }
    bool start();
    pid_t pid() const { return m_pid; }
    int readFd() const { return m_readFd; }
    void closeReadEnd();

    // Reads packet records until the helper closes the pipe.
    std::vector<CPacket> readRecords();
    // Reads raw bytes until the helper closes the pipe.
    QByteArray readAll();
    // Waits up to `ms` for `text` to appear on the helper's standard error.
    bool waitForStderr(const QByteArray& text, int ms);
    // Waits for the helper to end: its exit status, or 128 + signal, -1 on timeout.
    int wait(int ms = 20000);
    QByteArray stderrText() const;

private:
    QString m_program;
    QStringList m_args;
    QString m_tmpDir;
    QString m_stderrPath;
    pid_t m_pid = -1;
    uid_t m_uid = uid_t(-1);
    gid_t m_gid = gid_t(-1);
    int m_readFd = -1;
};

// Replays `trace` (mode 0) with `filter` and returns the records, exit status and stderr.
struct ReplayResult {
    std::vector<CPacket> records;
    int status = -1;
    QByteArray stderrText;
};
ReplayResult replayTrace(const QString& trace, const QString& filter, const QString& tmpDir);
