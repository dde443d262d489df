// SPDX-License-Identifier: GPL-2.0-or-later
// The three-process model, with real forks, pipes and signals.
#include "capture/process/process.h"
#include "common/testmain.h"
#include "capture/tmpfiles.h"
#include "common/processes.h"
#include "proctools.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace proctools;
using testproc::childrenOf;

namespace {
const QString kNuk = QStringLiteral(NUK_BUILD_DIR "/nuk/nuk");
const QString kFakeHelper = QStringLiteral(NUK_BUILD_DIR "/tests/bin/fakehelper");

QString uidName(const QString& dir, const char* suffix)
{
    return QStringLiteral("%1/%2%3").arg(dir).arg(getuid()).arg(QLatin1String(suffix));
}
}  // namespace

class ProcessTest : public QObject {
    Q_OBJECT

    testproc::FakeNukPath m_root;  // fake helpers under nuk/
    QTemporaryDir m_tmp;   // NUK_TMPDIR and argument files

private slots:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid() && m_root.install("pcap", kFakeHelper) && m_root.install("getSock", kFakeHelper));
    }

    // Runs the children inside this process (the test plays the GUI) and checks
    // what the helpers are executed with.
    void launcherExecutesTheHelperWithTheParameterBlock()
    {
        qputenv("NUKPATH", (m_root.path() + "/").toLocal8Bit());
        qputenv("NUK_TMPDIR", m_tmp.path().toLocal8Bit());
        const QString args = m_tmp.path() + "/args";
        qputenv("NUK_FAKE_ARGS", args.toLocal8Bit());
        QCOMPARE(startNukProcesses(), 0);
        QVERIFY(g_ForkNumber > 0 && g_SockFork > 0 && g_ForkNumber != g_SockFork);

        struct Case {
            QByteArray expr, file;
            int device, mode;
            QStringList expected;
        };
        const QString fd = QString::number(nControlPipe[1]);
        const QList<Case> cases = {
            {"tcp", "", 0, 1, {"pcap", "NULL", fd, "1", "NULL", "tcp"}},
            {"udp and port 53", "/data/x.tr", 1, 0, {"pcap", "/data/x.tr", fd, "0", "lo", "udp and port 53"}},
            {" ( host 1.2.3.4 and port 80)", "", 7, 2, {"pcap", "NULL", fd, "2", "lo", " ( host 1.2.3.4 and port 80)"}},
        };
        for (const Case& c : cases) {
            QFile::remove(args + ".pcap");
            const QByteArray block = testproc::parameterBlock(c.expr, c.file, c.device, c.mode);
            QCOMPARE(write(nDataPipe[1], block.constData(), size_t(block.size())), ssize_t(block.size()));
            QCOMPARE(kill(g_ForkNumber, SIGUSR1), 0);
            QCOMPARE(waitForLines(args + ".pcap", 15000), c.expected);
            kill(g_ForkNumber, SIGUSR2);  // the launcher ends the helper with SIGTERM
            QTRY_COMPARE_WITH_TIMEOUT(waitForLines(args + ".pcap", 100).value(6), QStringLiteral("TERM"), 5000);
        }

        // The helper's standard error arrives on the error pipe.
        fcntl(nErrorPipe[0], F_SETFL, O_NONBLOCK);
        QByteArray said;
        char buf[512];
        QTRY_VERIFY_WITH_TIMEOUT((said += QByteArray(buf, std::max<ssize_t>(0, read(nErrorPipe[0], buf, sizeof buf)))).contains("pcap: helper says hello"), 5000);

        // The socket child runs getSock with the socket pipe's write end.
        kill(g_SockFork, SIGUSR1);
        QCOMPARE(waitForLines(args + ".getSock", 15000),
                 (QStringList{"getSock", QString::number(SockPipe[1])}));
        kill(g_SockFork, SIGUSR2);

        const pid_t launcher = g_ForkNumber;
        const pid_t socketChild = g_SockFork;
        runShutdownSteps();
        QTRY_VERIFY_WITH_TIMEOUT(kill(launcher, 0) != 0, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(kill(socketChild, 0) != 0 || waitpid(socketChild, nullptr, WNOHANG) == socketChild, 3000);
        for (int signo : {SIGSEGV, SIGINT, SIGHUP, SIGTERM, SIGQUIT, SIGUSR1, SIGUSR2})
            std::signal(signo, SIG_DFL);
    }

    // Started from a script, nuk's shutdown, however it is set off (Ctrl+C in the
    // terminal too), ends nuk's own processes only: the script goes on and its other
    // child lives. The temporary files go, and a link planted at one of their names is
    // removed without touching its target.
    void shutdownSparesTheRestOfTheProcessGroup_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("signo");
        QTest::newRow("SIGTERM to nuk") << "nuk" << SIGTERM;
        QTest::newRow("SIGTERM to the launcher child") << "launcher" << SIGTERM;
        QTest::newRow("SIGTERM to the socket child") << "socket child" << SIGTERM;
        QTest::newRow("SIGINT to the group") << "group" << SIGINT;
    }
    void shutdownSparesTheRestOfTheProcessGroup()
    {
        QFETCH(QString, target);
        QFETCH(int, signo);
        QTemporaryDir tmp;
        const QString sibling = tmp.path() + "/sibling", done = tmp.path() + "/done", victim = tmp.path() + "/victim";
        QVERIFY(testproc::writeFile(victim, "keep me"));
        QVERIFY(QFile::link(victim, uidName(tmp.path(), "_NukDefaultTraceFile")));
        for (const char* suffix : {"_NukAppSockFile", "_Nuk_Syn_Packets"})
            QVERIFY(testproc::writeFile(uidName(tmp.path(), suffix), {}));
        const pid_t shell = spawnInNewSession(
            QStringLiteral("/bin/bash"),
            {"-c", "sleep 60 & echo $! > \"$1\"; \"$0\"; echo $? > \"$2\"; wait", kNuk, sibling, done},
            {"NUKPATH=" + m_root.path(), "NUK_TMPDIR=" + tmp.path(), "QT_QPA_PLATFORM=offscreen"});
        SessionGuard guard(shell);
        QTRY_COMPARE_WITH_TIMEOUT(sessionMembers(shell).size(), 5, 10000);  // bash, sleep, nuk and its children
        const pid_t sleeper = waitForLines(sibling, 5000).value(0).toInt();
        QList<pid_t> nuk = childrenOf(shell);
        nuk.removeAll(sleeper);
        QCOMPARE(nuk.size(), 1);
        nuk += childrenOf(nuk[0]);  // the launcher child, then the socket child
        QCOMPARE(nuk.size(), 3);
        for (pid_t pid : nuk)  // each of nuk's processes handles the signal by now
            QTRY_VERIFY_WITH_TIMEOUT(catchesSignal(pid, signo), 10000);
        const QStringList targets{"nuk", "launcher", "socket child"};
        QCOMPARE(kill(target == "group" ? -shell : nuk[targets.indexOf(target)], signo), 0);

        QCOMPARE(waitForLines(done, 10000), QStringList{"0"});  // the script went on after nuk
        for (pid_t pid : nuk)
            QTRY_VERIFY2_WITH_TIMEOUT(!sessionMembers(shell).contains(pid), "a process of nuk's remains", 5000);
        QVERIFY2(sessionMembers(shell).contains(shell) && sessionMembers(shell).contains(sleeper),
                 "the script or its other child was ended");
        for (const char* suffix : {"_NukDefaultTraceFile", "_NukAppSockFile", "_Nuk_Syn_Packets"})
            QVERIFY2(!QFileInfo::exists(uidName(tmp.path(), suffix)) &&
                         !QFileInfo(uidName(tmp.path(), suffix)).isSymLink(),
                     suffix);
        QCOMPARE(testproc::readFile(victim), QByteArray("keep me"));
    }

};

NUK_TEST_CLASS(ProcessTest)
#include "test_process.moc"
