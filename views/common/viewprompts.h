// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The analysis views' message boxes and save dialogs, behind one seam so that tests
// can answer them. By default they are the toolkit's modal dialogs.

#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace viewui {

// A modal box with the given buttons (the first is the default). Gives the index
// of the button pressed, or -1 when the box was closed otherwise.
using AskHandler = std::function<int(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                     const QString& text, const QStringList& buttons)>;
// The save-file dialog; empty when cancelled. `selectedFilter` may be null.
using SaveFileHandler = std::function<QString(QWidget* parent, const QString& caption, const QString& dir,
                                              const QString& filter, QString* selectedFilter)>;
// A number between `min` and `max` (`value` holds the proposal); false when cancelled.
using NumberHandler = std::function<bool(QWidget* parent, const QString& title, const QString& label, int min,
                                         int max, int* value)>;

int ask(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
        const QStringList& buttons);
// A warning box with one "OK" button.
void warning(QWidget* parent, const QString& title, const QString& text);
QString getSaveFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter,
                        QString* selectedFilter = nullptr);
bool askNumber(QWidget* parent, const QString& title, const QString& label, int min, int max, int* value);

// An empty handler restores the toolkit's dialog.
void setAskHandler(AskHandler handler);
void setSaveFileHandler(SaveFileHandler handler);
void setNumberHandler(NumberHandler handler);

}  // namespace viewui
