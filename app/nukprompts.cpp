// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/nukprompts.h"

#include "capture/process/process.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {
NukPrompts realPrompts()
{
    NukPrompts p;
    p.message = [](QWidget* parent, const QString& title, const QString& text) {
        QMessageBox box(title.isEmpty() ? QMessageBox::Information : QMessageBox::Warning, title, text,
                        QMessageBox::Ok, parent);
        box.exec();
    };
    p.about = [](QWidget* parent, const QString& title, const QString& text) {
        QMessageBox::about(parent, title, text);
    };
    p.saveFileName = [](QWidget* parent, const QString& caption, const QString& dir, const QString& filter) {
        return QFileDialog::getSaveFileName(parent, caption, dir, filter);
    };
    p.shutdown = [] { runShutdownSteps(); };
    return p;
}
}  // namespace

NukPrompts& nukPrompts()
{
    static NukPrompts prompts = realPrompts();
    return prompts;
}

void resetNukPrompts() { nukPrompts() = realPrompts(); }
