#include "helperrunner.h"

#include "capture/recordreader.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

HelperRunner::HelperRunner(const QString& program, QStringList args, const QString& tmpDir)
    : m_program(program), m_args(std::move(args)), m_tmpDir(tmpDir)
{
    static int serial = 0;
    m_stderrPath = tmpDir + QStringLiteral("/stderr-%1-%2.txt").arg(getpid()).arg(++serial);
}

HelperRunner::~HelperRunner()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_readFd >= 0)
        ::close(m_readFd);
}

bool HelperRunner::start()
{
    int fds[2];
    if (::pipe(fds) != 0)
        return false;
    const QByteArray path = QByteArray(NUK_BUILD_DIR "/nuk/") + m_program.toLocal8Bit();
    std::vector<QByteArray> argStore{m_program.toLocal8Bit()};
    for (const QString& a : m_args)
        argStore.push_back(a == QLatin1String("%fd") ? QByteArray::number(fds[1]) : a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<QByteArray> envStore{"NUK_TMPDIR=" + m_tmpDir.toLocal8Bit()};
    for (char** e = environ; *e; ++e)
        if (qstrncmp(*e, "NUK_TMPDIR=", 11) != 0)
            envStore.emplace_back(*e);
    std::vector<char*> envp;
    for (QByteArray& e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const QByteArray errPath = m_stderrPath.toLocal8Bit();

    m_pid = ::fork();
    if (m_pid < 0)
        return false;
    if (m_pid == 0) {
        ::close(fds[0]);
        const int err = ::open(errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (err >= 0)
            ::dup2(err, 2);
        if (m_uid != uid_t(-1) && (::setgroups(0, nullptr) != 0 || ::setgid(m_gid) != 0 || ::setuid(m_uid) != 0))
            ::_exit(126);
        ::execve(path.constData(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    m_readFd = fds[0];
    return true;
}

void HelperRunner::closeReadEnd()
{
    if (m_readFd >= 0)
        ::close(m_readFd);
    m_readFd = -1;
}

std::vector<CPacket> HelperRunner::readRecords()
{
    std::vector<CPacket> records;
    RecordReader reader(m_readFd);
    RawPacket raw;
    while (reader.next(raw) == RecordReader::Status::Record)
        records.emplace_back(&raw);
    return records;
}

QByteArray HelperRunner::readAll()
{
    QByteArray all;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_readFd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        all.append(buf, n);
    }
    return all;
}

bool HelperRunner::waitForStderr(const QByteArray& text, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        if (stderrText().contains(text))
            return true;
        QThread::msleep(20);
    }
    return false;
}

int HelperRunner::wait(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (m_pid > 0) {
        int status = 0;
        const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (timer.elapsed() > ms)
            return -1;
        QThread::msleep(10);
    }
    return -1;
}

QByteArray HelperRunner::stderrText() const
{
    QFile f(m_stderrPath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

ReplayResult replayTrace(const QString& trace, const QString& filter, const QString& tmpDir)
{
    ReplayResult result;
    HelperRunner helper(QStringLiteral("pcap"), {trace, QStringLiteral("%fd"), QStringLiteral("0"),
                                                 QStringLiteral("NULL"), filter},
                        tmpDir);
    if (!helper.start())
        return result;
    result.records = helper.readRecords();
    result.status = helper.wait();
    result.stderrText = helper.stderrText();
    return result;
}
