// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Creates the analysis views for the main window's commands and the wizard's
// Finish. A kind whose view has not been built yet gives null.

#include "capture/viewkind.h"

#include <QString>

class CTimeBasedView;
class ControlPanel;

// A new top-level view with the given object name, not yet registered.
CTimeBasedView* createView(ViewKind kind, const QString& objectName, ControlPanel* controller);
