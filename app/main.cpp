// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/mainwindowfactory.h"
#include "capture/process/process.h"
#include "capture/settings.h"

#include <QApplication>
#include <QFont>
#include <QWidget>

#include <cstdlib>

int main(int argc, char** argv)
{
    ValidWizard = true;
    char* root = getNukPath();
    if (!root) {
        printNukPathHelp();
        return 0;
    }
    std::free(root);
    if (const int status = startNukProcesses())
        return status;

    QApplication app(argc, argv);
    QApplication::setFont(QFont(QStringLiteral("helvetica"), 12, QFont::Normal, false));
    QWidget* window = createMainWindow(argc > 1 ? argv[1] : nullptr);
    window->setWindowTitle(QStringLiteral("Nukrit Version " NUK_VERSION));
    window->show();
    const int result = app.exec();
    delete window;
    return result;
}
