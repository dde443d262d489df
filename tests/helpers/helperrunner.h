// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Runs a built helper (nuk/pcap, nuk/getSock) as a real child process with a real
// pipe, the way the launcher child does, and collects what it writes; plus what
// the helper tests share: tshark's reading of a trace, record bytes, loopback sockets.

#include "capture/cpacket.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <sys/socket.h>
#include <sys/types.h>
#include <vector>

class HelperRunner {
public:
    // `program` is "pcap" or "getSock" (or a path to a copy); "%fd" in `args` becomes
    // the pipe's write end. `tmpDir` is handed over as NUK_TMPDIR.
    HelperRunner(const QString& program, const QStringList& args, const QString& tmpDir);
    ~HelperRunner();

    bool start();
    pid_t pid() const { return pid_t(m_process.processId()); }
    int readFd() const { return m_readFd; }
    void closeReadEnd();
    // Until the helper closes the pipe; each record's fixed part also into `fixed` if given.
    std::vector<CPacket> readRecords(std::vector<QByteArray>* fixed = nullptr);
    QByteArray readAll();                // likewise, raw bytes
    bool waitForStderr(const QByteArray& text, int ms);
    bool waitForOutput(int ms);  // until the pipe holds something to read
    int wait(int ms = 20000);  // exit status, 128 after a signal, -1 on timeout
    QByteArray stderrText();

private:
    QProcess m_process;
    QStringList m_args;
    QByteArray m_stderr;
    int m_readFd = -1;
};

QStringList pcapArgs(const QString& trace, const QString& filter, int mode = 0, const QString& device = "NULL");

struct ReplayResult {
    std::vector<CPacket> records;
    std::vector<QByteArray> fixed;  // each record's fixed part as the helper wrote it
    int status = -1;
    QByteArray stderrText;
};
ReplayResult replayTrace(const QString& trace, const QString& filter, const QString& tmpDir);

// Empty when the records agree with tshark's reading of the trace (<trace>.expected,
// written by tests/data/make-traces.sh), else the first difference.
QString compareWithExpected(const ReplayResult& replay, const QString& expectedPath);

QByteArray payloadOf(const CPacket& p);
// A record's bytes: headers, type, length and payload; with the time and link header if asked.
QByteArray recordBytes(const CPacket& p, bool withTimeAndLink = true);

// A socket of `type` bound to 127.0.0.1 (::1 for AF_INET6) on a free port (-1 on failure).
int boundSocket(int type, quint16& port, int family = AF_INET);
bool connectLoopback(int socket, quint16 port, int family = AF_INET);
