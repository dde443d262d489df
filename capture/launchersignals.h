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

// Sends `signo` to the launcher child and waits (at most a second) until the child
// has taken it, so that the next signal cannot be merged with it or overtake it.
// Nothing happens without a launcher child.
void signalLauncher(int signo);

// After a stop the launcher ends the capture helper on its own time, and until the
// helper is gone it may still write records. Waits (at most a second) for that.
void waitForCaptureHelperExit();
