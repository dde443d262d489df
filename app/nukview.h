// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The main window's central widget: an empty strip under the tool bars.

#include <QWidget>

class NUKView : public QWidget {
    Q_OBJECT
public:
    explicit NUKView(QWidget* parent = nullptr) : QWidget(parent) {}

public slots:
    void slotDocumentChanged() {}
};
