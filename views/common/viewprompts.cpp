// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/common/viewprompts.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QPushButton>

namespace viewui {
namespace {
AskHandler& askHandler()
{
    static AskHandler handler;
    return handler;
}
SaveFileHandler& saveFileHandler()
{
    static SaveFileHandler handler;
    return handler;
}
NumberHandler& numberHandler()
{
    static NumberHandler handler;
    return handler;
}
}  // namespace

int ask(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
        const QStringList& buttons)
{
    if (askHandler())
        return askHandler()(parent, icon, title, text, buttons);
    QMessageBox box(icon, title, text, QMessageBox::NoButton, parent);
    QList<QAbstractButton*> made;
    for (const QString& label : buttons)
        made << box.addButton(label, QMessageBox::AcceptRole);
    if (!made.isEmpty())
        box.setDefaultButton(qobject_cast<QPushButton*>(made.first()));
    // Escape and the title bar's close answer "none of them"; without an escape button
    // of its own a one-button box would take its only button for it.
    QAbstractButton* dismiss = box.addButton(QMessageBox::Cancel);
    dismiss->hide();
    box.setEscapeButton(dismiss);
    box.exec();
    return int(made.indexOf(box.clickedButton()));
}

void warning(QWidget* parent, const QString& title, const QString& text)
{
    ask(parent, QMessageBox::Warning, title, text, {QStringLiteral("OK")});
}

QString getSaveFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter,
                        QString* selectedFilter)
{
    if (saveFileHandler())
        return saveFileHandler()(parent, caption, dir, filter, selectedFilter);
    return QFileDialog::getSaveFileName(parent, caption, dir, filter, selectedFilter);
}

bool askNumber(QWidget* parent, const QString& title, const QString& label, int min, int max, int* value)
{
    if (numberHandler())
        return numberHandler()(parent, title, label, min, max, value);
    bool ok = false;
    const int chosen = QInputDialog::getInt(parent, title, label, *value, min, max, 1, &ok);
    if (ok)
        *value = chosen;
    return ok;
}

void setAskHandler(AskHandler handler) { askHandler() = std::move(handler); }
void setSaveFileHandler(SaveFileHandler handler) { saveFileHandler() = std::move(handler); }
void setNumberHandler(NumberHandler handler) { numberHandler() = std::move(handler); }

}  // namespace viewui
