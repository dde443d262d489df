// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The machine distribution model as JSON lines, for nukdump --hosts: one line per
// node in creation order, then one per link in creation order:
//   {"node":0,"address":"10.0.0.1","sent":S,"received":R}
//   {"link":"Link from Node No.0 to Node No. 1","from":0,"to":1,"packets":P}
// "packets" counts every packet ever put on the link.

#include <QByteArray>
#include <QList>

class CLink;
class CNode;
class TopologyModel;

namespace hostsjson {
QByteArray nodeLine(const CNode& node);
QByteArray linkLine(const CLink& link);
QList<QByteArray> lines(const TopologyModel& model);
}  // namespace hostsjson
