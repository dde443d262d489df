// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Freeing what a view held: a million packets' records take tens of milliseconds
// to give back, time the GUI thread should spend on the user instead. The
// containers are moved to a thread of their own and destroyed there.
// Only for plain data: nothing in them may refer to a QObject or take a lock.

#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>

template <class... Containers>
void disposeInBackground(Containers&&... containers)
{
    static_assert((std::is_rvalue_reference_v<Containers&&> && ...), "hand the containers over with std::move");
    try {
        std::thread([](std::decay_t<Containers>...) {}, std::move(containers)...).detach();
    } catch (const std::system_error&) {
        // No thread to be had: they were freed here, as without this function.
    }
}
