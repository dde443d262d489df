// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What the view tests share: packets handed over from a thread of their own, as
// the reader thread hands them, and menu entries found by their id.

#include "packets/packetfixtures.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

#include <cstddef>
#include <memory>
#include <thread>

namespace viewtest {

inline CPacket* packetOf(CPacket* p) { return p; }
inline CPacket* packetOf(const std::unique_ptr<CPacket>& p) { return p.get(); }
inline CPacket* packetOf(const fixtures::TracePacket& p) { return p.packet.get(); }

// Hands packets [from, to) to `sink` (a view or the controller) on a thread of its own.
template <class Sink, class Packets>
void feed(Sink& sink, const Packets& packets, std::size_t from, std::size_t to)
{
    std::thread reader([&] {
        for (std::size_t i = from; i < to; ++i)
            sink.AddPacket(packetOf(packets[i]));
    });
    reader.join();
}

// The entry of the window's menus whose data is `id`.
inline QAction* menuEntry(QMainWindow& w, int id)
{
    for (QAction* top : w.menuBar()->actions())
        if (top->menu())
            for (QAction* a : top->menu()->actions())
                if (a->data().toInt() == id)
                    return a;
    return nullptr;
}

}  // namespace viewtest
