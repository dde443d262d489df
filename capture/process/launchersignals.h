// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Talking to the launcher and socket children by signals, which neither queue nor
// keep their order, and watching the helpers they run (through /proc).

#include <sys/types.h>

// Sends `signo` to `child` (the launcher or the socket child) and waits (at most a
// second) until the child has taken it, so that the next signal cannot be merged
// with it or overtake it. Nothing happens for a pid of 0 or less.
void signalChild(pid_t child, int signo);

// Waits (at most a second) until `child` has no live helper process left.
void waitForHelperExit(pid_t child);

// True while the launcher `child` has a helper process that has not ended.
bool helperRunning(pid_t child);
