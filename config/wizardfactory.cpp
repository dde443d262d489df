#include "config/wizardfactory.h"

#include "config/userwizard.h"

QWidget* createUserWizard(ControlPanel* controller, const QString& traceFile)
{
    auto* wizard = new userwizard;
    wizard->setControlPanel(controller);
    if (!traceFile.isEmpty())
        wizard->preselectTraceFile(traceFile);
    return wizard;
}
