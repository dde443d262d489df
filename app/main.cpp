#include "app/mainwindowfactory.h"
#include "app/process.h"
#include "capture/settings.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv)
{
    ValidWizard = true;
    if (const int status = startNukProcesses())
        return status;
    QApplication app(argc, argv);
    QWidget* window = createMainWindow(argc > 1 ? argv[1] : nullptr);
    window->setWindowTitle(QStringLiteral("Nukrit Version 1.0"));
    window->show();
    const int result = app.exec();
    delete window;
    return result;
}
