// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// "Export as Image...": a drawing written as PNG or SVG with the same painting code
// the view's widget uses.

#include <QSize>
#include <QString>

#include <functional>

class QPainter;
class QWidget;

using DrawFunction = std::function<void(QPainter& painter)>;

// Renders `size` pixels of `draw` into `fileName`: SVG when the name ends in ".svg"
// (any case), PNG otherwise. False with a reason in `error`.
bool writeImage(const QString& fileName, QSize size, const DrawFunction& draw, QString* error);

// Asks for a file name ("PNG image (*.png)" or "SVG drawing (*.svg)"; ".png" or ".svg"
// added when the name has neither) and writes it; a failure is shown in a warning box.
// False when cancelled or failed.
bool exportImage(QWidget* parent, QSize size, const DrawFunction& draw);
