// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/process/process.h"

#include "capture/fdio.h"
#include "capture/process/helpercontrol.h"
#include "capture/tmpfiles.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

pid_t g_ForkNumber = 0;
pid_t g_SockFork = 0;
pid_t nPcapChildID = 0;
pid_t sockForkRet = 0;
int nControlPipe[2] = {-1, -1};
int nDataPipe[2] = {-1, -1};
int SockPipe[2] = {-1, -1};
int nErrorPipe[2] = {-1, -1};
char* NUK_Default_Trace_File = nullptr;

using helpercontrol::kHelperFailedMark;

namespace {

// Everything the signal handlers and the children need is built here before any
// handler is installed, so that the handlers only call async-signal-safe functions.
char g_traceFile[PATH_MAX];
char g_appSockFile[PATH_MAX];
char g_synFile[PATH_MAX];
char g_pcapProgram[PATH_MAX];  // empty when NUKPATH was not set
char g_sockProgram[PATH_MAX];

// A parameter block field longer than this is not something Start writes.
constexpr std::int32_t kMaxParameterText = 1 << 20;

// The children record the signals they get and act on them outside the handler,
// in arrival order, from their sigsuspend loop.
volatile sig_atomic_t g_queued[16];
volatile sig_atomic_t g_queuedCount = 0;

// Sent to a child by the kernel when the GUI process dies without a shutdown.
const int kParentDeathSignal = SIGRTMIN + 2;

// The GUI process. A shutdown tells its processes apart by this id and signals
// only processes of its own, by their ids: never the process group, which holds
// whatever started nuk (a script, a launcher's shell) as well.
pid_t g_guiPid = 0;

void queueSignal(int signo)
{
    const sig_atomic_t n = g_queuedCount;
    if (n < sig_atomic_t(sizeof g_queued / sizeof g_queued[0])) {
        g_queued[n] = signo;
        g_queuedCount = n + 1;
    }
}

void ignoreSignal(int) {}

void setHandler(int signo, void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigfillset(&action.sa_mask);  // handlers never interrupt one another
    action.sa_flags = SA_RESTART;
    sigaction(signo, &action, nullptr);
}

const int kShutdownSignals[] = {SIGSEGV, SIGINT, SIGHUP, SIGTERM, SIGQUIT};

// The process that is about to execute a helper must not keep the GUI's handlers
// (a SIGTERM would run the shutdown there) nor the launcher's blocked signals.
void resetSignalsForHelper()
{
    for (int signo : kShutdownSignals)
        std::signal(signo, SIG_DFL);
    std::signal(SIGUSR1, SIG_DFL);
    std::signal(SIGUSR2, SIG_DFL);
    std::signal(SIGCHLD, SIG_DFL);
    std::signal(kParentDeathSignal, SIG_DFL);
    std::signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

[[noreturn]] void waitForSignalsForever()
{
    for (;;)
        pause();
}

// Reads exactly n bytes unless the pipe fails or ends. Returns the bytes read.
std::size_t readFully(int fd, void* buf, std::size_t n)
{
    auto* p = static_cast<unsigned char*>(buf);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t r = ::read(fd, p + done, n - done);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        done += std::size_t(r);
    }
    return done;
}

// One field of the parameter block. A short read reports the error and waits for
// one signal before going on, as the launcher always did.
bool readParameter(void* buf, std::size_t n)
{
    if (n == 0 || readFully(nDataPipe[0], buf, n) == n)
        return true;
    std::printf("Read Data Pipe Error!\n");
    std::fflush(stdout);
    pause();
    return false;
}

char* readParameterText(std::int32_t length)
{
    if (length < 0 || length > kMaxParameterText) {
        std::printf("Read Data Pipe Error!\n");
        std::fflush(stdout);
        _exit(1);
    }
    char* text = static_cast<char*>(std::calloc(std::size_t(length) + 1, 1));
    if (!text)
        _exit(1);
    readParameter(text, std::size_t(length));
    return text;
}

void closeUnneededForHelper(int keep1, int keep2)
{
    const int fds[] = {nControlPipe[0], nControlPipe[1], nDataPipe[0], nDataPipe[1],
                       SockPipe[0],     SockPipe[1],     nErrorPipe[0], nErrorPipe[1]};
    for (int fd : fds)
        if (fd >= 0 && fd != keep1 && fd != keep2)
            ::close(fd);
}

// In the process forked by the launcher child: read the parameter block and
// become the capture helper.
[[noreturn]] void becomeCaptureHelper()
{
    resetSignalsForHelper();
    prctl(PR_SET_PDEATHSIG, SIGTERM);

    char pipeText[16];
    std::snprintf(pipeText, sizeof pipeText, "%d", nControlPipe[1]);

    std::int32_t expressionLength = 0;
    readParameter(&expressionLength, sizeof expressionLength);
    char* expressionText = readParameterText(expressionLength);
    std::int32_t fileLength = 0;
    readParameter(&fileLength, sizeof fileLength);

    if (g_pcapProgram[0] == '\0') {
        static const char kHelp[] = "Before you run nuk, please set NUKPATH to the parent of\n"
                                    "the directory containing the nuk executable.\n"
                                    "   example: setenv NUKPATH /home/john/nuk-1.0/\n";
        writeFully(STDOUT_FILENO, kHelp, sizeof kHelp - 1);
        _exit(1);
    }

    char* fileName = nullptr;
    if (fileLength != 0)
        fileName = readParameterText(fileLength);
    std::int32_t device = 0;
    std::int32_t mode = 0;
    readParameter(&device, sizeof device);
    readParameter(&mode, sizeof mode);

    char modeText[16];
    std::snprintf(modeText, sizeof modeText, "%d", mode);
    char pcapName[] = "pcap";
    char nullText[] = "NULL";
    char loText[] = "lo";
    char* argv[] = {pcapName,  fileName ? fileName : nullText, pipeText, modeText,
                    device ? loText : nullText, expressionText, nullptr};

    // The helper's complaints reach the GUI through the error pipe, and so does a
    // replay's progress, which the helper reports only when asked.
    if (nErrorPipe[1] >= 0)
        dup2(nErrorPipe[1], STDERR_FILENO);
    setenv("NUK_PROGRESS", "1", 1);
    closeUnneededForHelper(nControlPipe[1], STDERR_FILENO);
    execv(g_pcapProgram, argv);
    std::fprintf(stderr, "cannot execute %s: %s\n", g_pcapProgram, std::strerror(errno));
    waitForSignalsForever();
}

void startCaptureHelper()
{
    // Until the new process has dropped the inherited handlers, a SIGTERM from a quick
    // Stop would run the shutdown there, and with no launcher id it ends the whole
    // group. Signals wait, blocked, until resetSignalsForHelper() unblocks them.
    sigset_t all, previous;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &previous);
    const pid_t pid = fork();
    if (pid == 0)
        becomeCaptureHelper();
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (pid < 0) {
        std::perror("fork");
        return;
    }
    nPcapChildID = pid;
}

void stopCaptureHelper()
{
    if (nPcapChildID == 0)
        return;
    kill(nPcapChildID, SIGTERM);
    int status;
    wait3(&status, WNOHANG, nullptr);
    nPcapChildID = 0;
}

void startSocketHelper()
{
    // As for the capture helper: no inherited handler may run in the new process.
    sigset_t all, previous;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &previous);
    const pid_t pid = fork();
    if (pid == 0) {
        resetSignalsForHelper();
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        char pipeText[16];
        std::snprintf(pipeText, sizeof pipeText, "%d", SockPipe[1]);
        char name[] = "getSock";
        char* argv[] = {name, pipeText, nullptr};
        closeUnneededForHelper(SockPipe[1], -1);
        execv(g_sockProgram, argv);
        std::fprintf(stderr, "cannot execute %s: %s\n", g_sockProgram, std::strerror(errno));
        waitForSignalsForever();
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (pid < 0) {
        std::perror("fork");
        return;
    }
    sockForkRet = pid;
}

void stopSocketHelper()
{
    if (sockForkRet == 0)
        return;
    kill(sockForkRet, SIGKILL);
    int status;
    waitpid(sockForkRet, &status, WNOHANG);
    sockForkRet = 0;
}

// A capture helper that failed (it could not start, or broke off) is reported to
// the GUI, which shows the helper's last line in a message box.
void reportHelperFailure(int status)
{
    char line[32];
    const int n = WIFSIGNALED(status) ? std::snprintf(line, sizeof line, "%csignal %d\n", kHelperFailedMark, WTERMSIG(status))
                                      : std::snprintf(line, sizeof line, "%cexit %d\n", kHelperFailedMark, WEXITSTATUS(status));
    if (nErrorPipe[1] >= 0 && n > 0)
        writeFully(nErrorPipe[1], line, std::size_t(n));
}

// A helper that ended by itself (a replay reached the end of its file, or it
// failed) is reaped here; one that was stopped was forgotten when it was.
void reapFinishedHelpers()
{
    int status;
    pid_t pid;
    while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
        if (pid == nPcapChildID) {
            nPcapChildID = 0;
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
                reportHelperFailure(status);
        }
        if (pid == sockForkRet)
            sockForkRet = 0;
    }
}

void onLauncherParentDeath(int)
{
    if (nPcapChildID > 0)
        kill(nPcapChildID, SIGTERM);
    _exit(0);
}

void onSocketChildParentDeath(int)
{
    if (sockForkRet > 0)
        kill(sockForkRet, SIGKILL);
    _exit(0);
}

// The children's life: wait for signals, act on each in the order it came.
[[noreturn]] void childLoop(pid_t gui, void (*handler)(int), void (*onParentDeath)(int),
                            void (*act)(int))
{
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    sigaddset(&blocked, SIGUSR2);
    sigaddset(&blocked, SIGCHLD);
    sigset_t waitMask;
    sigprocmask(SIG_BLOCK, &blocked, &waitMask);
    sigdelset(&waitMask, SIGUSR1);
    sigdelset(&waitMask, SIGUSR2);
    sigdelset(&waitMask, SIGCHLD);

    setHandler(SIGUSR1, handler);
    setHandler(SIGUSR2, handler);
    setHandler(SIGCHLD, ignoreSignal);
    setHandler(kParentDeathSignal, onParentDeath);
    prctl(PR_SET_PDEATHSIG, kParentDeathSignal);
    if (getppid() != gui)  // the GUI died before the line above
        onParentDeath(0);

    for (;;) {
        sigsuspend(&waitMask);
        for (sig_atomic_t i = 0; i < g_queuedCount; ++i)
            act(g_queued[i]);
        g_queuedCount = 0;
        reapFinishedHelpers();
    }
}

void launcherAct(int signo)
{
    if (signo == SIGUSR1)
        startCaptureHelper();
    else if (signo == SIGUSR2)
        stopCaptureHelper();
}

void socketAct(int signo)
{
    if (signo == SIGUSR1)
        startSocketHelper();
    else if (signo == SIGUSR2)
        stopSocketHelper();
}

bool buildProgramName(char* buf, const char* root, const char* tail)
{
    buf[0] = '\0';
    if (!root)
        return false;
    const int n = std::snprintf(buf, PATH_MAX, "%s%s", root, tail);
    if (n < 0 || n >= PATH_MAX) {
        buf[0] = '\0';
        return false;
    }
    return true;
}

bool copyName(char* dst, const char* src)
{
    const std::size_t n = std::strlen(src);
    if (n >= PATH_MAX)
        return false;
    std::memcpy(dst, src, n + 1);
    return true;
}

}  // namespace

char* getNukPath()
{
    const char* value = secure_getenv("NUKPATH");
    if (!value)
        return nullptr;
    char* copy = strdup(value);
    if (!copy)
        return nullptr;
    const std::size_t n = std::strlen(copy);
    if (n > 0 && copy[n - 1] == '/')
        copy[n - 1] = '\0';
    return copy;
}

char* setNukDefaultTraceFile()
{
    char name[PATH_MAX];
    if (!tmpfiles::nameInto(name, sizeof name, tmpfiles::kDefaultTrace))
        return nullptr;
    std::free(NUK_Default_Trace_File);
    NUK_Default_Trace_File = strdup(name);
    return NUK_Default_Trace_File;
}

void printNukPathHelp()
{
    std::printf("Before you run nuk, please set NUKPATH to the parent of\n");
    std::printf("the directory containing the nuk executable.\n");
    std::printf("   example: setenv NUKPATH /home/john/nuk-1.0/\n");
    std::printf("(/home/john/nuk-1.0/nuk should be the directory containing nuk executable file.)\n\n");
    std::fflush(stdout);
}

void Operation(int signo) { queueSignal(signo); }
void SockOperation(int signo) { queueSignal(signo); }

namespace {
// The shutdown as a child runs it (a signal meant for the whole program reached
// it, or it crashed): it ends the helper it runs and asks the GUI to shut the
// program down; the GUI then ends this child.
void runChildShutdownSteps()
{
    if (nPcapChildID > 0)
        kill(nPcapChildID, SIGTERM);
    if (sockForkRet > 0)
        kill(sockForkRet, SIGKILL);
    if (g_guiPid > 0 && getppid() == g_guiPid)
        kill(g_guiPid, SIGTERM);
}
}  // namespace

void runShutdownSteps()
{
    unlink(g_traceFile);
    unlink(g_appSockFile);
    unlink(g_synFile);
    if (g_guiPid > 0 && getpid() != g_guiPid) {
        runChildShutdownSteps();
        return;
    }
    int status;
    if (g_ForkNumber > 0) {
        kill(g_ForkNumber, SIGUSR2);
        waitpid(g_ForkNumber, &status, WNOHANG);
    }
    if (g_SockFork > 0) {
        kill(g_SockFork, SIGKILL);
        waitpid(g_SockFork, &status, WNOHANG);
    }
    sleep(1);
    if (g_ForkNumber > 0) {
        kill(g_ForkNumber, SIGKILL);
        waitpid(g_ForkNumber, &status, 0);
    }
}

void closeNUK(int)
{
    runShutdownSteps();
    _exit(0);
}

int startNukProcesses()
{
    if (pipe(nControlPipe) < 0) {
        std::perror("Can't Open Control Pipe!");
        return 2;
    }
    if (pipe(nDataPipe) < 0) {
        std::perror("Can't Open Data Pipe!");
        return 2;
    }
    if (pipe(SockPipe) < 0) {
        std::perror("Can't open Socket Pipe!");
        return 2;
    }
    if (pipe(nErrorPipe) < 0) {
        std::perror("Can't open Error Pipe!");
        return 2;
    }
    if (!setNukDefaultTraceFile() || !copyName(g_traceFile, NUK_Default_Trace_File))
        return 1;
    if (!tmpfiles::nameInto(g_appSockFile, sizeof g_appSockFile, tmpfiles::kAppSockets) ||
        !tmpfiles::nameInto(g_synFile, sizeof g_synFile, tmpfiles::kSynPackets))
        return 1;
    char* root = getNukPath();
    buildProgramName(g_pcapProgram, root, "/nuk/pcap");
    buildProgramName(g_sockProgram, root, "/nuk/getSock");
    std::free(root);
    std::fflush(stdout);
    std::fflush(stderr);

    for (int signo : kShutdownSignals)
        setHandler(signo, closeNUK);

    // The children start with their signals blocked, so that a Start that comes
    // before a child has installed its handlers waits instead of killing it.
    sigset_t childSignals, previousMask;
    sigemptyset(&childSignals);
    sigaddset(&childSignals, SIGUSR1);
    sigaddset(&childSignals, SIGUSR2);
    sigaddset(&childSignals, SIGCHLD);
    sigprocmask(SIG_BLOCK, &childSignals, &previousMask);

    const pid_t gui = getpid();
    g_guiPid = gui;
    g_ForkNumber = fork();
    if (g_ForkNumber == 0) {
        ::close(nControlPipe[0]);  // only the GUI reads packets; lets the helper see EPIPE
        ::close(nErrorPipe[0]);
        ::close(SockPipe[0]);
        nPcapChildID = 0;
        childLoop(gui, Operation, onLauncherParentDeath, launcherAct);
    }
    if (g_ForkNumber < 0) {
        std::perror("fork");
        sigprocmask(SIG_SETMASK, &previousMask, nullptr);
        return 2;
    }

    g_SockFork = fork();
    if (g_SockFork == 0) {
        ::close(nControlPipe[0]);
        ::close(nErrorPipe[0]);
        ::close(SockPipe[0]);
        sockForkRet = 0;
        childLoop(gui, SockOperation, onSocketChildParentDeath, socketAct);
    }
    if (g_SockFork < 0) {
        std::perror("fork");
        g_SockFork = 0;
        sigprocmask(SIG_SETMASK, &previousMask, nullptr);
        return 2;
    }

    // The GUI has no use for these two; a stray one must not end it before its
    // own shutdown is done.
    std::signal(SIGUSR1, SIG_IGN);
    std::signal(SIGUSR2, SIG_IGN);
    sigprocmask(SIG_SETMASK, &previousMask, nullptr);
    fcntl(nErrorPipe[0], F_SETFD, FD_CLOEXEC);
    return 0;
}
