// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The scene items of the machine distribution view: a node's circle with its number,
// address label and bar chart, and a link's line with the trails and notches of its
// packets in flight. Items draw what the model holds; sync() takes the model's
// positions and sizes into the item's geometry, which painting never changes.

#include "views/topology/linkgeometry.h"
#include "views/topology/topologymodel.h"

#include <QGraphicsItem>
#include <QPolygon>

#include <memory>

// Colours of the drawing (red, green, blue).
namespace topologycolours {
inline const QColor kBackground(230, 230, 230);
inline const QColor kSelected(128, 128, 233);
inline const QColor kRightwardTrail(233, 128, 128);
inline const QColor kLeftwardTrail(128, 233, 128);
inline const QColor kSentBar(52, 160, 255);
inline const QColor kReceivedBar(125, 68, 25);
}  // namespace topologycolours

struct NodeLook;

class CNodeItem : public QGraphicsItem {
public:
    enum { Type = UserType + CNode::Rtti };

    explicit CNodeItem(CNode* node);
    ~CNodeItem() override;
    int type() const override { return Type; }
    CNode* node() const { return m_node; }
    // Position, size and the extent of the label and chart from the model; the
    // node is drawn again when what it shows changed.
    void sync();

    QRectF boundingRect() const override { return m_bounds; }
    // Clicks answer to the node's square only, not to its label or chart.
    QPainterPath shape() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

private:
    CNode* m_node;
    std::unique_ptr<NodeLook> m_look;  // fonts and sizes, made again when the zoom changes
    QRectF m_bounds;
    // What the node shows besides its place.
    struct Shown {
        float zoom;
        bool selected, showAddress, showStat;
        int sent, received;
        bool operator==(const Shown&) const = default;
    } m_shown{};
};

class CLinkItem : public QGraphicsItem {
public:
    enum { Type = UserType + CLink::Rtti };

    explicit CLinkItem(CLink* link);
    int type() const override { return Type; }
    CLink* link() const { return m_link; }
    // The line and band from the two ends' positions and zoom.
    void sync();
    const LinkGeometry& geometry() const { return m_geometry; }
    // The last painting drew trails or marks, which a repaint must erase once the
    // packets are gone.
    bool drewPackets() const { return m_drewPackets; }

    QRectF boundingRect() const override { return m_bounds; }
    // The band; a link with nothing drawn (self-link, touching circles) has no area.
    QPainterPath shape() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

private:
    CLink* m_link;
    LinkGeometry m_geometry;
    QPolygon m_band;
    QRectF m_bounds;
    bool m_drewPackets = false;
};
