// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Process-wide capture settings. The configuration dialogs write them, Start reads
// them. Texts and ints are touched on the GUI thread only; the step flags and the
// pace are shared with the reader thread and are atomics.

#include <QString>
#include <atomic>

extern QString expression;      // tcpdump filter expression; Start substitutes "tcp" when empty
extern QString g_FileName;      // trace file to replay (mode 0); kept for the next Start
extern QString g_SaveFileName;  // last Save as target
extern int deviceFlag;          // nonzero: capture on the loopback device too
extern int nukOpMode;           // 0 disk file, 1 all realtime traffic, 2 active sockets, 3 application
extern std::atomic<bool> ValidWizard;
extern std::atomic<bool> g_bPureStepMode;
extern std::atomic<bool> g_bStepIt;
extern std::atomic<float> g_TimeDelayRatio;
extern QString nukAppFile;      // application socket file name, built by setNukFileName()

// Operation modes written to nukOpMode.
enum NukOpMode { OpDiskFile = 0, OpRealtime = 1, OpActiveSockets = 2, OpApplication = 3 };
