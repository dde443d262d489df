// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/topology/hostsjson.h"

#include "views/packets/packetjson.h"
#include "views/topology/topologymodel.h"

namespace hostsjson {

QByteArray nodeLine(const CNode& node)
{
    return "{\"node\":" + QByteArray::number(node.nNodeNo) + ",\"address\":" + packetjson::quoted(node.strIPAddress) +
           ",\"sent\":" + QByteArray::number(node.nSent) + ",\"received\":" + QByteArray::number(node.nReceived) + "}";
}

QByteArray linkLine(const CLink& link)
{
    return "{\"link\":" + packetjson::quoted(link.GetLinkName()) + ",\"from\":" +
           QByteArray::number(link.pFromNode->nNodeNo) + ",\"to\":" + QByteArray::number(link.pToNode->nNodeNo) +
           ",\"packets\":" + QByteArray::number(link.nPackets) + "}";
}

QList<QByteArray> lines(const TopologyModel& model)
{
    QList<QByteArray> out;
    for (const auto& node : model.nodes())
        out << nodeLine(*node);
    for (const auto& link : model.links())
        out << linkLine(*link);
    return out;
}

}  // namespace hostsjson
