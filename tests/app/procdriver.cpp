// Plays the GUI process for tests: starts the two children, starts a capture
// helper in mode 1 and then waits to be killed.
#include "capture/process/process.h"
#include "proctools.h"

#include <cstdio>
#include <csignal>
#include <unistd.h>

int main()
{
    if (const int status = startNukProcesses())
        return status;
    proctools::writeParameterBlock(nDataPipe[1], "tcp", "", 0, 1);
    kill(g_ForkNumber, SIGUSR1);
    kill(g_SockFork, SIGUSR1);
    std::printf("ready %d %d\n", int(g_ForkNumber), int(g_SockFork));
    std::fflush(stdout);
    for (;;)
        pause();
}
