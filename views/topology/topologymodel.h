// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The machine distribution model: hosts as nodes, each direction of traffic between
// two hosts as a link, and the packets in flight on each link.
//
// Everything here runs on one thread (the GUI thread in the view, the main thread in
// nukdump and the tests). Nodes and links are found through indexes keyed by address
// and by address pair, so a packet costs a few hash lookups however many hosts there
// are. Times are milliseconds on a monotonic clock: ages never jump at midnight or
// when the wall clock is set.

#include "capture/ipaddress.h"
#include "views/topology/forcelayout.h"

#include <QHash>
#include <QString>

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

class CPacket;

// Milliseconds on the monotonic clock.
qint64 monotonicMs();

// The travel time of a link in milliseconds: trunc(duration × pace), never negative.
qint64 travelTime(int duration);

struct LINKPACKET {
    const CPacket* pPacket;  // not owned: the capture controller keeps every packet
    qint64 tStart;           // monotonicMs() when the packet was put on the link
};

class CNode {
public:
    static constexpr int Rtti = 5;
    static constexpr int kSize = 20;  // diameter at zoom 1

    CNode(const QString& text, const IpAddress& numeric) : strIPAddress(text), address(numeric) {}

    QString GetNodeName() const;
    void SetPosition(int x, int y)
    {
        nX = x;
        nY = y;
    }
    void AddSendPacket(const CPacket*)
    {
        ++nSent;
        bCountsChanged = true;
    }
    void AddReceivePacket(const CPacket*)
    {
        ++nReceived;
        bCountsChanged = true;
    }
    // The centre of the node's circle.
    int centreX() const { return int(float(nSize) * fZoom / 2 + float(nX)); }
    int centreY() const { return int(float(nSize) * fZoom / 2 + float(nY)); }
    float radius() const { return float(nSize) * fZoom / 2; }

    int nX = 0, nY = 0;  // top-left corner of the node's square
    int nNodeNo = 30;
    QString strIPAddress;
    float fZoom = 1.0f;
    int nSize = kSize;
    bool bSelected = false;
    bool bShowIPAddress = false;
    bool bShowStatInfo = false;
    int nSent = 0;
    int nReceived = 0;

    IpAddress address;            // the same address as a value, for the index
    bool bCountsChanged = false;  // counts moved since the view last repainted the node
    bool bPlaced = false;         // the layout has placed the node
};

class CLink {
public:
    static constexpr int Rtti = 4;

    void SetLink(CNode* from, CNode* to)
    {
        pFromNode = from;
        pToNode = to;
    }
    QString GetLinkName() const;
    // Puts a packet in flight. Packets already expired at `now` leave first, so a
    // link never holds more than one travel time's worth of packets.
    void AddNewPacket(const CPacket* packet, qint64 now);
    // Removes every packet older than the travel time; returns `now`.
    qint64 UpdateData(qint64 now);
    qint64 travelTime() const { return ::travelTime(nDuration); }

    CNode* pToNode = nullptr;
    CNode* pFromNode = nullptr;
    int nWidth = 6;
    float fZoom = 1.0f;
    std::deque<LINKPACKET> packetList;  // oldest first
    int nDuration = 1;
    bool bSelected = false;

    qint64 nPackets = 0;  // every packet ever put on the link
};

// Receives the node info rows as the model creates nodes and counts packets.
class NodeInfoSink {
public:
    virtual ~NodeInfoSink() = default;
    virtual void AddNode(int nodeNo, const QString& address, int received, int sent) = 0;
    virtual void SendPacket(int nodeNo) = 0;
    virtual void ReceivePacket(int nodeNo) = 0;
};

class TopologyModel {
public:
    static constexpr int kCanvasWidth = 600;
    static constexpr int kCanvasHeight = 480;

    // `sink` may be null. Without `keepInFlight` packets are only counted (nukdump).
    explicit TopologyModel(NodeInfoSink* sink = nullptr, bool keepInFlight = true);

    // Steps 1 to 6 for one packet put on its link at `now`. True when a node or a link
    // was created: the caller then runs the layout.
    bool AddPacket(const CPacket* packet, qint64 now);

    // Forgets every node and link; numbering starts again at 0. Lock, label flags and
    // canvas size stay.
    void clear();

    // Removes expired packets from every link (they expire even when not drawn).
    void expirePackets(qint64 now);

    // `nIterations` rounds of the force layout, then the fit (see forcelayout.h).
    // The canvas first grows, if need be, to give every node a square of its own
    // diameter plus `linkLength` diameters of room.
    void ReForceLayout(int nIterations, float linkLength);
    // The last layout run still moved nodes and has not cooled down: another run
    // would improve the picture.
    bool layoutSettling() const { return m_layoutHeat > 0.01f && m_layoutMoved; }

    void setAllShowIPAddress(bool show);
    void setAllShowStatInfo(bool show);

    const std::vector<std::unique_ptr<CNode>>& nodes() const { return m_nodes; }
    const std::vector<std::unique_ptr<CLink>>& links() const { return m_links; }
    CNode* findNode(const IpAddress& address) const { return m_nodeIndex.value(address); }
    CLink* findLink(const IpAddress& from, const IpAddress& to) const;

    int canvasWidth() const { return m_width; }
    int canvasHeight() const { return m_height; }
    void resizeCanvas(int width, int height);

    LayoutRandom& random() { return m_random; }

    float fZoom = 1.0f;
    int nNextNodeNo = 0;
    bool bShowIPAddress = false;
    bool bShowStatInfo = false;
    bool bLocked = false;
    bool bSelfPending = false;

private:
    // Links are keyed by their nodes' numbers, unique within the model.
    static quint64 pairKey(const CNode* from, const CNode* to) { return (quint64(quint32(from->nNodeNo)) << 32) | quint32(to->nNodeNo); }
    CNode* createNode(const IpAddress& address, const char* text);

    NodeInfoSink* m_sink;
    bool m_keepInFlight;
    std::vector<std::unique_ptr<CNode>> m_nodes;  // creation order
    std::vector<std::unique_ptr<CLink>> m_links;  // creation order
    QHash<IpAddress, CNode*> m_nodeIndex;
    QHash<quint64, CLink*> m_linkIndex;
    int m_width = kCanvasWidth;
    int m_height = kCanvasHeight;
    int m_chosenWidth = kCanvasWidth;  // the size set from outside, before the layout grew it
    int m_chosenHeight = kCanvasHeight;
    LayoutRandom m_random;  // start positions of new nodes
    float m_layoutHeat = 1.0f;  // see forceLayout: 1 after every new node or link
    bool m_layoutMoved = false;
    // Once an IPv6 node is on the map the fit keeps wider margins left and right: a
    // label with a 39-character address, centred below its node, stays on the canvas.
    static constexpr int kIPv6SideMargin = 160;
    bool m_hasIPv6 = false;
};
