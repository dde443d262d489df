// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/process/launchersignals.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

namespace {
bool isLiveProcess(pid_t pid, pid_t parent)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
    FILE* f = std::fopen(path, "re");
    if (!f)
        return false;
    char buf[512];
    const std::size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    buf[n] = '\0';
    const char* close = std::strrchr(buf, ')');  // the command name may hold anything
    char state = 0;
    int ppid = 0;
    if (!close || std::sscanf(close + 1, " %c %d", &state, &ppid) != 2)
        return false;
    return ppid == parent && state != 'Z' && state != 'X';
}

bool launcherHasLiveChild(pid_t launcher)
{
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return false;
    bool found = false;
    while (const dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid > 0 && *end == '\0' && isLiveProcess(pid_t(pid), launcher)) {
            found = true;
            break;
        }
    }
    ::closedir(proc);
    return found;
}

bool signalPending(pid_t pid, int signo)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/status", int(pid));
    FILE* f = std::fopen(path, "re");
    if (!f)
        return false;
    bool pending = false;
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
        unsigned long long mask = 0;
        if (std::sscanf(line, "ShdPnd: %llx", &mask) == 1 || std::sscanf(line, "SigPnd: %llx", &mask) == 1)
            pending = pending || (mask >> (signo - 1)) & 1u;
    }
    std::fclose(f);
    return pending;
}

}  // namespace

bool helperRunning(pid_t child)
{
    return child > 0 && launcherHasLiveChild(child);
}

void waitForHelperExit(pid_t child)
{
    if (child <= 0)
        return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
    while (launcherHasLiveChild(child) && std::chrono::steady_clock::now() < deadline)
        ::usleep(1000);
}

// A Start's SIGUSR1 still pending when a Stop's SIGUSR2 arrives is taken after it
// (lower numbers first) or merged with the next Start's. Once the child has taken a
// signal, its work for it comes before it takes the next one.
void signalChild(pid_t child, int signo)
{
    if (child <= 0)
        return;
    ::kill(child, signo);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
    while (signalPending(child, signo) && std::chrono::steady_clock::now() < deadline)
        ::usleep(200);
}

