// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The kinds of analysis view the main window and the wizard can open.

enum class ViewKind { PacketList, Topology, StreamLink, TimeLine, TcpState, Reconstruction };
