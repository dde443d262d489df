// SPDX-License-Identifier: GPL-2.0-or-later
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
    QFileDialog dialog(parent, caption, dir, filter);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // Named pipes too: a trace can be read while it is being captured elsewhere.
    dialog.setFilter(dialog.filter() | QDir::System);
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

void setWarningHandler(WarningHandler handler) { warningHandler() = std::move(handler); }
void setOpenFileHandler(OpenFileHandler handler) { openFileHandler() = std::move(handler); }

}  // namespace nukui
