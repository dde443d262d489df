// SPDX-License-Identifier: GPL-2.0-or-later
#include "config/wizardfactory.h"

#include "config/userwizard.h"

QWidget* createUserWizard(ControlPanel* controller, const WizardViewCreator& createView, const QString& traceFile)
{
    auto* wizard = new userwizard;
    wizard->setControlPanel(controller);
    wizard->setViewCreator(createView);
    if (!traceFile.isEmpty())
        wizard->preselectTraceFile(traceFile);
    return wizard;
}
