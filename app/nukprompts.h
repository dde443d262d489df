// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The main window's message boxes, file dialog and shutdown, behind one seam so
// that tests can answer the dialogs and keep the shutdown steps to themselves.

#include <QString>

#include <functional>

class QWidget;

struct NukPrompts {
    // A modal message box; an empty title means none.
    std::function<void(QWidget* parent, const QString& title, const QString& text)> message;
    std::function<void(QWidget* parent, const QString& title, const QString& text)> about;
    // The save-file dialog; an empty answer means the user gave up.
    std::function<QString(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)>
        saveFileName;
    // Shutdown steps 1 to 7 (files deleted, helpers and children ended).
    std::function<void()> shutdown;
};

// The prompts in use; they start as the real dialogs and runShutdownSteps().
NukPrompts& nukPrompts();
// Puts the real ones back.
void resetNukPrompts();
