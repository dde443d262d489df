#include "config/wizardfactory.h"

// Placeholder until the wizard exists.
QWidget* createUserWizard(ControlPanel*, const QString&) { return nullptr; }
