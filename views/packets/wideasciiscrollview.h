// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The wide character pane of the connection views: a connection's payload as one
// stream of 58 characters a row. Unsorted, it shows every packet in arrival order
// coloured by direction (see WideText); sorted, it shows one direction reassembled,
// forward in red, backward in blue, under the title "Reconstructed ASCII form".
//
// Its context menu saves the bytes it shows, raw, to a file.

#include "views/packets/contentspane.h"
#include "views/packets/widetext.h"

class QAction;

class WideASCIIScrollView : public ContentsPane {
    Q_OBJECT
public:
    WideASCIIScrollView(bool sorted, bool forward, QWidget* parent = nullptr);

    // Arrival order; null shows nothing.
    void updateview(const Connection* connection);
    // The chosen direction reassembled; null shows nothing.
    void updateSortedView(const Connection* connection);
    // Runs in the pane's sorted colour (what updateSortedView shows).
    void showRuns(const std::vector<ByteRun>& runs);
    void clearLstText();
    // Scrolls the row holding byte `index` of the stream to the top.
    void scrollToByte(std::uint64_t index);

    bool isSorted() const { return m_sorted; }
    bool isForward() const { return m_forward; }
    const WideText& text() const { return m_text; }
    QAction* saveAction() const { return m_save; }
    // Where byte `index` of the stream is drawn: x of its cell and the baseline.
    static QPoint cellOf(std::uint64_t index);
    // The pane width that shows whole rows beside the vertical scroll bar: the whole
    // contents width, so that nothing needs scrolling sideways.
    int rowFittingWidth() const;

public slots:
    void saveBytesAs();

protected:
    void paintContents(QPainter& painter, const QRect& exposed, int left, qint64 top) override;

private:
    void shown();

    bool m_sorted;
    bool m_forward;
    WideText m_text;
    QAction* m_save;
};
