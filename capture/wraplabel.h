// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A word-wrapped label that asks its layout for the height its text needs at the
// width it was given, so that a page or dialog grows to show every line instead
// of cutting the text off at a larger font.

#include <QLabel>

class WrapLabel : public QLabel {
    Q_OBJECT
public:
    explicit WrapLabel(const QString& text, QWidget* parent = nullptr);

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    int m_laidOutWidth = -1;  // until the first layout, QLabel's own guess
};
