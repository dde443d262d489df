#pragma once
// Seam between the main window and the user wizard.

#include <QString>

class QWidget;
class ControlPanel;

// A new user wizard (no parent, not modal) given the controller, not yet shown.
// With a trace file named on the command line, the wizard starts with "Disk File"
// and that file chosen.
QWidget* createUserWizard(ControlPanel* controller, const QString& traceFile = QString());
