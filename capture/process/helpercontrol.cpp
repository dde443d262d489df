// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/process/helpercontrol.h"

#include "capture/fdio.h"
#include "capture/process/launchersignals.h"
#include "capture/process/process.h"
#include "capture/recordreader.h"

#include <csignal>
#include <fcntl.h>

namespace helpercontrol {
namespace {
void appendInt(std::string& block, std::int32_t value)
{
    block.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// Writes the whole block without ever blocking the GUI thread: the launcher child
// reads it only after the signal that follows.
bool writeWhole(int fd, const std::string& block)
{
    if (fd < 0)
        return false;
    if (block.size() > 65536)
        ::fcntl(fd, F_SETPIPE_SZ, int(block.size()));
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    const bool written = writeFully(fd, block.data(), block.size());
    ::fcntl(fd, F_SETFL, flags);
    return written;
}
}  // namespace

int packetPipe() { return nControlPipe[0]; }
int errorPipe() { return nErrorPipe[0]; }
int socketPipe() { return SockPipe[0]; }

void discardParameters()
{
    if (nDataPipe[0] >= 0)
        RecordReader::drain(nDataPipe[0]);
}

bool sendParameters(const CaptureParameters& p)
{
    std::string block;
    appendInt(block, std::int32_t(p.expression.size()));
    block += p.expression;
    appendInt(block, std::int32_t(p.fileName.size()));
    block += p.fileName;
    appendInt(block, p.deviceFlag);
    appendInt(block, p.opMode);
    return writeWhole(nDataPipe[1], block);
}

void startCaptureHelper() { signalChild(g_ForkNumber, SIGUSR1); }
void stopCaptureHelper() { signalChild(g_ForkNumber, SIGUSR2); }
void waitForCaptureHelperExit() { waitForHelperExit(g_ForkNumber); }
bool captureHelperRunning() { return helperRunning(g_ForkNumber); }

// Never kill(0, ...): that would signal the whole process group.
void startSocketListing() { signalChild(g_SockFork, SIGUSR1); }

void stopSocketListing()
{
    signalChild(g_SockFork, SIGUSR2);
    waitForHelperExit(g_SockFork);
}

}  // namespace helpercontrol
