// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/viewfactory.h"

#include "views/packets/connectionviews.h"
#include "views/packets/listviews.h"
#include "views/packets/testlistview.h"
#include "views/tcpstate/stattrandiagram.h"
#include "views/topology/topologyview.h"
#include "views/timeline/newtimeline.h"

CTimeBasedView* createView(ViewKind kind, const QString& objectName, ControlPanel* controller)
{
    const QByteArray name = objectName.toLatin1();
    switch (kind) {
    case ViewKind::PacketList:
        return new ListViews(nullptr, name.constData());
    case ViewKind::StreamLink:
        return new ConnectionViews(nullptr, name.constData());
    case ViewKind::Reconstruction:
        return new TestListView(controller, nullptr, name.constData());
    case ViewKind::TimeLine:
        return new NewTimeLine(nullptr, name.constData());
    case ViewKind::TcpState:
        return new StatTranDiagram(nullptr, name.constData());
    case ViewKind::Topology:
        return new CTopologyView(nullptr, name.constData());
    }
    return nullptr;
}
