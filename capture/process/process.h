// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The three-process model: the GUI process, the launcher child that starts and
// stops the capture helper, and the socket child that starts and stops the
// socket-listing helper. Both children are forked before the toolkit starts.
// main starts them and runs the shutdown; the capture side talks to the helpers
// through helpercontrol.h. The globals are here for main and for tests that play
// the GUI process with pipes of their own.

#include <cstddef>
#include <sys/types.h>

extern pid_t g_ForkNumber;   // GUI: the launcher child; 0 inside the launcher child
extern pid_t g_SockFork;     // GUI: the socket child; 0 in both children
extern pid_t nPcapChildID;   // launcher child: the running capture helper, 0 when none
extern pid_t sockForkRet;    // socket child: the running socket-listing helper, 0 when none
extern int nControlPipe[2];  // packet pipe: capture helper -> reader thread
extern int nDataPipe[2];     // parameter pipe: GUI -> capture helper's process
extern int SockPipe[2];      // socket pipe: socket-listing helper -> socket dialog
extern char* NUK_Default_Trace_File;

// Pipe carrying the capture helper's standard error to the GUI (read end [0]),
// so that the main window can show why a capture delivers nothing.
extern int nErrorPipe[2];

// A new copy of $NUKPATH with one trailing "/" removed, or null when unset.
// The caller frees it with free().
char* getNukPath();
// Builds "/tmp/<uid>_NukDefaultTraceFile" into NUK_Default_Trace_File and returns it.
char* setNukDefaultTraceFile();

// Prints the four-line NUKPATH message on standard output.
void printNukPathHelp();

void Operation(int signo);
void SockOperation(int signo);
[[noreturn]] void closeNUK(int signo);

// Start-up steps that come after the NUKPATH check and before the toolkit: the
// pipes, the default trace file name, the shutdown handlers and the two children.
// Returns 0, or the exit status main must return (2: a pipe failed, 1: no trace
// file name). Only the GUI process returns; the children stay in their loops.
int startNukProcesses();

// Shutdown steps 1 to 7 (files deleted, helpers and children ended), for the main
// window's close and Exit. closeNUK runs the same steps and then exits.
void runShutdownSteps();
