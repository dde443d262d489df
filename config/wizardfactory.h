// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Seam between the main window and the user wizard.

#include "capture/viewkind.h"

#include <QString>
#include <functional>

class QWidget;
class ControlPanel;
class CTimeBasedView;

// Makes the views ticked on the wizard's page at Finish (null: not available).
using WizardViewCreator = std::function<CTimeBasedView*(ViewKind, const QString& objectName, ControlPanel*)>;

// A new user wizard (no parent, not modal) given the controller, not yet shown.
// With a trace file named on the command line, the wizard starts with "Disk File"
// and that file chosen.
QWidget* createUserWizard(ControlPanel* controller, const WizardViewCreator& createView,
                          const QString& traceFile = QString());
