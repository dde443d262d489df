// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/topology/topologymodel.h"

#include "capture/cpacket.h"
#include "capture/settings.h"

#include <algorithm>
#include <chrono>
#include <cmath>

qint64 monotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

qint64 travelTime(int duration)
{
    const float t = float(duration) * g_TimeDelayRatio.load();
    // A pace that is not a number or absurdly large must not overflow the conversion.
    if (!(t > 0.0f))
        return 0;
    return qint64(std::min(t, 1e15f));
}

QString CNode::GetNodeName() const { return QStringLiteral("Node No.") + QString::number(nNodeNo); }

QString CLink::GetLinkName() const
{
    return QStringLiteral("Link from Node No.") + QString::number(pFromNode ? pFromNode->nNodeNo : 0) +
           QStringLiteral(" to Node No. ") + QString::number(pToNode ? pToNode->nNodeNo : 0);
}

void CLink::AddNewPacket(const CPacket* packet, qint64 now)
{
    // Packets arrive in order of their start times, so the expired ones are in front.
    const qint64 travel = travelTime();
    while (!packetList.empty() && now - packetList.front().tStart > travel)
        packetList.pop_front();
    packetList.push_back(LINKPACKET{packet, now});
    ++nPackets;
}

qint64 CLink::UpdateData(qint64 now)
{
    const qint64 travel = travelTime();
    packetList.erase(std::remove_if(packetList.begin(), packetList.end(),
                                    [&](const LINKPACKET& p) { return now - p.tStart > travel; }),
                     packetList.end());
    return now;
}

TopologyModel::TopologyModel(NodeInfoSink* sink, bool keepInFlight)
    : m_sink(sink), m_keepInFlight(keepInFlight)
{
}

CLink* TopologyModel::findLink(const IpAddress& from, const IpAddress& to) const
{
    const CNode* a = findNode(from);
    const CNode* b = findNode(to);
    return a && b ? m_linkIndex.value(pairKey(a, b)) : nullptr;
}

CNode* TopologyModel::createNode(const IpAddress& address, const char* text)
{
    auto node = std::make_unique<CNode>(QString::fromLatin1(text), address);
    node->nX = m_random.next() % (m_width - 100) + 50;
    node->nY = m_random.next() % (m_height - 100) + 50;
    node->fZoom = fZoom;
    node->nNodeNo = nNextNodeNo++;
    node->bShowIPAddress = bShowIPAddress;
    node->bShowStatInfo = bShowStatInfo;
    CNode* created = node.get();
    m_hasIPv6 = m_hasIPv6 || address.isV6();
    m_nodes.push_back(std::move(node));
    m_nodeIndex.insert(address, created);
    return created;
}

bool TopologyModel::AddPacket(const CPacket* packet, qint64 now)
{
    if (bLocked)
        return false;
    const IpAddress srcAddress = packet->sourceAddress();
    const IpAddress dstAddress = packet->destAddress();
    CNode* src = findNode(srcAddress);
    CNode* dst = findNode(dstAddress);
    CLink* link = src && dst ? m_linkIndex.value(pairKey(src, dst)) : nullptr;
    if (srcAddress == dstAddress && !src)
        bSelfPending = true;
    bool created = false;

    if (src) {
        src->AddSendPacket(packet);
        if (m_sink)
            m_sink->SendPacket(src->nNodeNo);
    } else {
        char text[IpAddress::TextSize];
        src = createNode(srcAddress, packet->GetSrcIPAddr(0, text, sizeof text));
        src->AddSendPacket(packet);
        if (m_sink)
            m_sink->AddNode(src->nNodeNo, src->strIPAddress, 0, 1);
        created = true;
    }

    if (!dst && !bSelfPending) {
        char text[IpAddress::TextSize];
        dst = createNode(dstAddress, packet->GetDstIPAddr(0, text, sizeof text));
        dst->AddReceivePacket(packet);
        if (m_sink)
            m_sink->AddNode(dst->nNodeNo, dst->strIPAddress, 1, 0);
        created = true;
    } else {
        if (bSelfPending) {
            dst = src;
            bSelfPending = false;
        }
        dst->AddReceivePacket(packet);
        if (m_sink)
            m_sink->ReceivePacket(dst->nNodeNo);
    }

    if (!link) {
        auto made = std::make_unique<CLink>();
        made->SetLink(src, dst);
        link = made.get();
        m_links.push_back(std::move(made));
        m_linkIndex.insert(pairKey(src, dst), link);
        created = true;
    }
    if (created)
        m_layoutHeat = 1.0f;
    if (m_keepInFlight)
        link->AddNewPacket(packet, now);
    else
        ++link->nPackets;
    return created;
}

void TopologyModel::clear()
{
    bSelfPending = false;
    m_linkIndex.clear();
    m_nodeIndex.clear();
    m_links.clear();
    m_nodes.clear();
    nNextNodeNo = 0;
    m_hasIPv6 = false;
    m_layoutHeat = 1.0f;
    // What the layout grew for the nodes goes with them.
    m_width = m_chosenWidth;
    m_height = m_chosenHeight;
}

void TopologyModel::expirePackets(qint64 now)
{
    for (const auto& link : m_links)
        if (!link->packetList.empty())
            link->UpdateData(now);
}

void TopologyModel::ReForceLayout(int nIterations, float linkLength)
{
    // Grown from the size last chosen, not from the last growth: rounding does not
    // pile up and the proportions stay.
    const CanvasSize size =
        canvasForNodes(m_nodes.size(), (linkLength + 1.0f) * float(CNode::kSize), m_chosenWidth, m_chosenHeight);
    m_width = std::max(m_width, size.width);
    m_height = std::max(m_height, size.height);
    std::vector<std::pair<int, int>> before;
    before.reserve(m_nodes.size());
    for (const auto& node : m_nodes)
        before.emplace_back(node->nX, node->nY);
    forceLayout(m_nodes, m_links, nIterations, m_width, m_height, m_layoutHeat,
                m_hasIPv6 ? kIPv6SideMargin : 100);
    m_layoutMoved = false;
    for (std::size_t i = 0; i < m_nodes.size() && !m_layoutMoved; ++i)
        m_layoutMoved = std::abs(m_nodes[i]->nX - before[i].first) > 1 || std::abs(m_nodes[i]->nY - before[i].second) > 1;
}

void TopologyModel::setAllShowIPAddress(bool show)
{
    for (const auto& node : m_nodes)
        node->bShowIPAddress = show;
}

void TopologyModel::setAllShowStatInfo(bool show)
{
    for (const auto& node : m_nodes)
        node->bShowStatInfo = show;
}

void TopologyModel::resizeCanvas(int width, int height)
{
    m_width = m_chosenWidth = width;
    m_height = m_chosenHeight = height;
}
