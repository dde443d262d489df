// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/handoff.h"

#include <QMetaObject>

HandoffBase::HandoffBase(QObject* parent, std::chrono::milliseconds slice,
                         std::chrono::milliseconds minInterval)
    : QObject(parent), m_slice(slice), m_minInterval(minInterval)
{
    m_pacer.setSingleShot(true);
    m_pacer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_pacer, &QTimer::timeout, this, [this] { onWakeup(); });
}

void HandoffBase::postWakeupIfIdle(std::unique_lock<std::mutex>& lock)
{
    if (m_wakePending)
        return;
    m_wakePending = true;
    lock.unlock();
    // The queue object is the context: if it is destroyed first, the call is dropped.
    QMetaObject::invokeMethod(this, [this] { onWakeup(); }, Qt::QueuedConnection);
}

void HandoffBase::onWakeup()
{
    ++m_wakeups;
    const auto now = std::chrono::steady_clock::now();
    const auto since = now - m_lastDrain;
    if (since < m_minInterval) {
        // Drained a moment ago: gather more before the next slice.
        m_pacer.start(std::chrono::duration_cast<std::chrono::milliseconds>(m_minInterval - since)
                      + std::chrono::milliseconds(1));
        return;
    }
    const bool more = drainSlice(now + m_slice);
    m_lastDrain = std::chrono::steady_clock::now();
    if (more)
        m_pacer.start(m_minInterval);  // the slice ran out: let the event loop breathe first
}
