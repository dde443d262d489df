#include "views/viewfactory.h"

CTimeBasedView* createView(ViewKind kind, const QString& objectName, ControlPanel* controller)
{
    (void)objectName;
    (void)controller;
    switch (kind) {
    case ViewKind::PacketList:
    case ViewKind::Topology:
    case ViewKind::StreamLink:
    case ViewKind::TimeLine:
    case ViewKind::TcpState:
    case ViewKind::Reconstruction:
        break;
    }
    return nullptr;
}
