#include "app/mainwindowfactory.h"

#include <QMainWindow>

// Placeholder until the real main window exists.
QWidget* createMainWindow(const char*)
{
    auto* window = new QMainWindow;
    window->setWindowTitle(QStringLiteral("NUK 1.0"));
    return window;
}
