// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Seam between start-up and the main window: main() asks for the window here.

class QWidget;

// Creates the main window (which creates the capture controller and the first
// wizard). `traceFile`, when not empty, is a trace the user named on the command line.
QWidget* createMainWindow(const char* traceFile);
