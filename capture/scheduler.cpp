// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/scheduler.h"

#include "capture/cpacket.h"
#include "capture/settings.h"

#include <algorithm>

CScheduler g_Scheduler;

void CScheduler::Reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_count = 0;
}

void CScheduler::SetPace(float pace)
{
    g_TimeDelayRatio = pace < 0.0f ? 1.0f : pace;
    Reset();
    wake();  // a waiting packet re-computes its due time with the new pace
}

void CScheduler::step()
{
    {
        // Under the mutex so that a waiter cannot miss the flag between its check and its sleep.
        std::lock_guard<std::mutex> lock(m_mutex);
        g_bStepIt = true;
    }
    m_wakeup.notify_all();
}

void CScheduler::wake()
{
    { std::lock_guard<std::mutex> lock(m_mutex); }
    m_wakeup.notify_all();
}

bool CScheduler::AddPacket(const CPacket* packet, const std::function<bool()>& abandon)
{
    const std::int32_t* stamp = packet->GetTimeStamp();
    std::unique_lock<std::mutex> lock(m_mutex);
    if (++m_count == 1) {
        m_baseSeconds = stamp[0];
        m_baseMicroseconds = stamp[1];
        m_startTime = Clock::now();
        return true;
    }
    // A Reset that lands while this packet waits applies from the next packet on.
    const std::int32_t baseSeconds = m_baseSeconds;
    const std::int32_t baseMicroseconds = m_baseMicroseconds;
    const Clock::time_point start = m_startTime;

    if (g_bPureStepMode) {
        // Abandoning comes first: a new capture's step flag must not release an old packet.
        for (;;) {
            if (abandon && abandon())
                return false;
            if (g_bStepIt.exchange(false))
                return true;
            m_wakeup.wait_for(lock, kRecheck);
        }
    }

    const double network = double(std::int64_t(stamp[0]) - baseSeconds)
                           + double(std::int64_t(stamp[1]) - baseMicroseconds) / 1000000.0;
    for (;;) {
        // Capped so that a wild time stamp or pace cannot overflow the clock (about three years).
        const double dueMs = std::min(network * 1000.0 * double(g_TimeDelayRatio.load()), 1e11);
        // Pace 0 and packets older than the base are due at once: no clock needed.
        if (!(dueMs >= 1.0))
            return true;
        const auto due = std::chrono::milliseconds(std::int64_t(dueMs));
        const auto now = Clock::now();
        if (std::chrono::duration_cast<std::chrono::milliseconds>(now - start) >= due)
            return true;
        if (abandon && abandon())
            return false;
        if (g_bStepIt.exchange(false))
            return true;
        m_wakeup.wait_until(lock, std::min(start + due, now + kRecheck));
    }
}
