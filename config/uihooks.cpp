#include "config/uihooks.h"

#include <QFileDialog>
#include <QMessageBox>

namespace nukui {
namespace {
WarningHandler& warningHandler()
{
    static WarningHandler handler;
    return handler;
}
OpenFileHandler& openFileHandler()
{
    static OpenFileHandler handler;
    return handler;
}
}  // namespace

void warning(QWidget* parent, const QString& title, const QString& text)
{
    if (warningHandler())
        warningHandler()(parent, title, text);
    else
        QMessageBox::warning(parent, title, text, QMessageBox::Ok);
}

QString getOpenFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)
{
    if (openFileHandler())
        return openFileHandler()(parent, caption, dir, filter);
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

void setWarningHandler(WarningHandler handler) { warningHandler() = std::move(handler); }
void setOpenFileHandler(OpenFileHandler handler) { openFileHandler() = std::move(handler); }

}  // namespace nukui
