// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The byte pane: the selected packet's hexadecimal image with offsets and a
// character column, the selected field drawn in red. Paints only the exposed part
// of its contents (900 pixels wide; the height grows in 15-pixel steps with the
// rows drawn and never shrinks).

#include "views/packets/bytepanelayout.h"

#include <QAbstractScrollArea>
#include <QFont>
#include <QString>

class ItemFolder;
class Packet;

class DetailScrollView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit DetailScrollView(QWidget* parent = nullptr);

    // Shows the packet's image without a selection; null shows nothing.
    void updateview(const Packet* packet);
    // Shows the packet's image with the folder's digits selected.
    void updateview(const Packet* packet, const ItemFolder* folder);
    void clear();

    const QString& shownText() const { return m_text; }
    int selectionPos() const { return m_pos; }
    int selectionLength() const { return m_len; }
    int contentsHeight() const { return m_height; }
    const QFont& paneFont() const { return m_font; }

    // Draws the contents rectangle `rect` (contents coordinates) with `painter`.
    void drawContents(class QPainter& painter, const QRect& rect) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void display(const QString& text, int pos, int len);
    void updateScrollBars();

    QString m_text;
    int m_pos = -1;
    int m_len = -1;
    int m_height = BytePaneLayout::InitialHeight;
    QFont m_font;
};
