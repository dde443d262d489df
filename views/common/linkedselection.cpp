// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/common/linkedselection.h"

#include "capture/cpacket.h"
#include "capture/currentpacket.h"
#include "views/common/viewprompts.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

#include <algorithm>
#include <climits>

namespace linked {

CPacket* askPacket(QWidget* view)
{
    CurrentPacket& hub = currentPacket();
    const std::uint32_t count = hub.packetCount();
    if (count == 0) {
        viewui::warning(view, QStringLiteral("Warning"), QStringLiteral("No packet captured yet."));
        return nullptr;
    }
    int number = hub.packet() ? int(std::min<std::uint32_t>(hub.packet()->captureNumber(), INT_MAX)) : 1;
    number = std::max(number, 1);
    const int last = int(std::min<std::uint32_t>(count, INT_MAX));
    if (!viewui::askNumber(view, QStringLiteral("Go to Packet"),
                           QStringLiteral("Packet number (1 to %1):").arg(last), 1, last, &number))
        return nullptr;
    CPacket* packet = number >= 1 ? hub.packetNumbered(std::uint32_t(number)) : nullptr;
    if (!packet)
        viewui::warning(view, QStringLiteral("Warning"), QStringLiteral("No packet numbered %1.").arg(number));
    return packet;
}

QAction* addGoToPacket(QMenu* menu, QWidget* view, std::function<void(CPacket*)> show)
{
    QAction* action = menu->addAction(QStringLiteral("&Go to Packet..."));
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    QObject::connect(action, &QAction::triggered, view, [view, show = std::move(show)] {
        if (CPacket* packet = askPacket(view)) {
            show(packet);
            currentPacket().select(packet, view);
        }
    });
    return action;
}

QAction* addFollowEntry(QWidget* widget, std::function<const CPacket*()> chosen)
{
    auto* action = new QAction(QStringLiteral("Follow in TCP State Diagram"), widget);
    action->setEnabled(false);
    QObject::connect(action, &QAction::triggered, widget, [chosen = std::move(chosen)] {
        const CPacket* packet = chosen();
        if (packet && packet->isTcp())
            currentPacket().follow(packet);
    });
    widget->addAction(action);
    widget->setContextMenuPolicy(Qt::ActionsContextMenu);
    return action;
}

void updateFollowEntry(QAction* entry, const CPacket* chosen) { entry->setEnabled(chosen && chosen->isTcp()); }

}  // namespace linked
