#include "views/viewfactory.h"

#include "views/packets/listviews.h"
#include "views/tcpstate/stattrandiagram.h"
#include "views/topology/topologyview.h"
#include "views/timeline/newtimeline.h"

CTimeBasedView* createView(ViewKind kind, const QString& objectName, ControlPanel* controller)
{
    (void)controller;
    const QByteArray name = objectName.toLatin1();
    switch (kind) {
    case ViewKind::PacketList:
        return new ListViews(nullptr, name.constData());
    case ViewKind::TimeLine:
        return new NewTimeLine(nullptr, name.constData());
    case ViewKind::TcpState:
        return new StatTranDiagram(nullptr, name.constData());
    case ViewKind::Topology:
        return new CTopologyView(nullptr, name.constData());
    case ViewKind::StreamLink:
    case ViewKind::Reconstruction:
        break;
    }
    return nullptr;
}
