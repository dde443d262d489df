// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The connection packet view's two panes for the selected packet's payload: a
// hexadecimal dump with byte offsets (16 bytes a row in two groups of 8) and the
// same bytes as characters. Each packet is shown from its start, in contents that
// begin at the pane's first size and grow as its rows are drawn.

#include "views/packets/contentspane.h"

#include <QByteArray>

class Packet;

// Shared by both panes: the payload shown (empty: nothing, not even the title).
class PayloadPane : public ContentsPane {
public:
    PayloadPane(int width, int height, QWidget* parent)
        : ContentsPane(width, height, parent), m_startWidth(width), m_startHeight(height)
    {
    }
    // The packet's payload from its first row; null shows nothing.
    void updateview(const Packet* packet);
    const QByteArray& shownBytes() const { return m_bytes; }

protected:
    // Grows the contents for the rows the payload begins.
    virtual void grow() = 0;
    QByteArray m_bytes;

private:
    int m_startWidth, m_startHeight;
};

class BinaryScrollView : public PayloadPane {
public:
    static constexpr int CellWidth = 8;
    explicit BinaryScrollView(QWidget* parent = nullptr);
    // Where the hex digit `digit` (0 or 1) of byte `index` is drawn: x of its cell and the baseline.
    static QPoint cellOf(int index, int digit);

protected:
    void grow() override;
    void paintContents(QPainter& painter, const QRect& exposed, int left, qint64 top) override;
};

class ASCIIScrollView : public PayloadPane {
public:
    explicit ASCIIScrollView(QWidget* parent = nullptr);
    static QPoint cellOf(int index);

protected:
    void grow() override;
    void paintContents(QPainter& painter, const QRect& exposed, int left, qint64 top) override;
};

// isprint() of the POSIX locale.
inline bool isPrintableByte(unsigned char c) { return c >= 0x20 && c < 0x7f; }
