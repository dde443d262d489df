#pragma once
// The kinds of analysis view the main window and the wizard can open.

enum class ViewKind { PacketList, Topology, StreamLink, TimeLine, TcpState, Reconstruction };
