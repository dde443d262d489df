// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What the views share for the program's current packet (CurrentPacket): the
// "Go to Packet..." entry and the "Follow in TCP State Diagram" entry.

#include <QString>

#include <functional>

class CPacket;
class QAction;
class QMenu;
class QObject;
class QWidget;

namespace linked {

// Adds "&Go to Packet..." (Ctrl+G) to `menu`. It asks for a packet's number in the
// capture, lets `show` show that packet in `view` and makes it current.
QAction* addGoToPacket(QMenu* menu, QWidget* view, std::function<void(CPacket*)> show);
// Asks as the entry does; null when cancelled or no such packet (the user is told).
CPacket* askPacket(QWidget* view);

// "Follow in TCP State Diagram", added to `widget`'s context menu; it follows the
// connection of the packet `chosen` gives. Disabled until updateFollowEntry enables it.
QAction* addFollowEntry(QWidget* widget, std::function<const CPacket*()> chosen);
// Enables the entry for a TCP packet only.
void updateFollowEntry(QAction* entry, const CPacket* chosen);

}  // namespace linked
