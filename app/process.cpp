#include "app/process.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
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

char* getNukPath()
{
    const char* value = std::getenv("NUKPATH");
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
    char name[64];
    std::snprintf(name, sizeof name, "/tmp/%u_NukDefaultTraceFile", unsigned(getuid()));
    std::free(NUK_Default_Trace_File);
    NUK_Default_Trace_File = strdup(name);
    return NUK_Default_Trace_File;
}

// Filled in with the process model.
void Operation(int) {}
void SockOperation(int) {}
void closeNUK(int) { _exit(0); }
int startNukProcesses() { return 0; }
void runShutdownSteps() {}
