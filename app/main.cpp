#include "app/process.h"
#include "capture/settings.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv)
{
    ValidWizard = true;
    QApplication app(argc, argv);
    // Seam: the real main window (NUK) replaces this placeholder.
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Nukrit Version 1.0"));
    window.show();
    return app.exec();
}
