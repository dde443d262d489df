#pragma once
// Talking to the launcher child by signals, which neither queue nor keep their
// order, and watching the capture helper it runs (through /proc).

// Sends `signo` to the launcher child and waits (at most a second) until the child
// has taken it, so that the next signal cannot be merged with it or overtake it.
// Nothing happens without a launcher child.
void signalLauncher(int signo);

// After a stop the launcher ends the capture helper on its own time, and until the
// helper is gone it may still write records. Waits (at most a second) for that.
void waitForCaptureHelperExit();
