// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Step mode and display pace. The reader thread calls AddPacket for every packet
// before the views see it; the call returns when the packet may be shown.
//
// In step mode every packet after the first waits for a Step. Otherwise packets keep
// the spacing they had when captured, multiplied by the pace (g_TimeDelayRatio).
// Waits use a monotonic clock and a condition variable woken by step(), wake() and
// SetPace(), so a packet is released within a millisecond or two of its due time.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

class CPacket;

class CScheduler {
public:
    using Clock = std::chrono::steady_clock;

    // GUI thread. The next packet becomes the new time base.
    void Reset();
    // GUI thread. A negative pace becomes 1.0; then Reset().
    void SetPace(float pace);

    // Reader thread. Returns true when the packet may be delivered, false when
    // `abandon` (checked whenever the wait wakes) asked to give the packet up.
    bool AddPacket(const CPacket* packet, const std::function<bool()>& abandon = {});

    // GUI thread: the Step command. Sets g_bStepIt and wakes a waiting packet.
    void step();
    // Wakes a waiting packet so that it re-checks its abandon condition.
    void wake();

    // Longest a wait sleeps before looking at the flags again, for writers that
    // set g_bStepIt or g_bPureStepMode without calling step().
    static constexpr std::chrono::milliseconds kRecheck{20};

private:
    std::mutex m_mutex;
    std::condition_variable m_wakeup;
    int m_count = 0;
    std::int32_t m_baseSeconds = 0;
    std::int32_t m_baseMicroseconds = 0;
    Clock::time_point m_startTime;
};

extern CScheduler g_Scheduler;
