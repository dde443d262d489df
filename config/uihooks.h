// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Message boxes and file dialogs of the configuration dialogs go through here, so
// that tests can answer them. By default they are the toolkit's modal boxes.

#include <QString>
#include <functional>

class QWidget;

namespace nukui {

using WarningHandler = std::function<void(QWidget* parent, const QString& title, const QString& text)>;
using OpenFileHandler = std::function<QString(QWidget* parent, const QString& caption, const QString& dir,
                                              const QString& filter)>;

// A modal warning box with one button.
void warning(QWidget* parent, const QString& title, const QString& text);
// The open-file dialog; empty when cancelled.
QString getOpenFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter);

// An empty handler restores the toolkit's dialog.
void setWarningHandler(WarningHandler handler);
void setOpenFileHandler(OpenFileHandler handler);

}  // namespace nukui
