// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Hands items from a worker thread (the reader) to the GUI thread in batches.
//
// push() may be called from any thread. It appends under a mutex and posts a
// queued wake-up to the GUI thread only when none is outstanding. The GUI thread
// drains in slices of a few milliseconds and at most once per `minInterval`, so a
// burst of a million items costs a number of wake-ups bounded by the burst's
// duration, not by its size, and the event loop keeps running (painting, input)
// between slices.
//
// The queue is a QObject living on the GUI thread; destroying it drops any wake-up
// still queued. The owner must make sure no thread is inside push() while the queue
// is destroyed (views are unregistered from the reader's walk before they die).

#include <QObject>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

class HandoffBase : public QObject {
public:
    explicit HandoffBase(QObject* parent, std::chrono::milliseconds slice,
                         std::chrono::milliseconds minInterval);
    // Items handed over so far and not yet consumed (for tests and benchmarks).
    virtual std::size_t pending() const = 0;
    // GUI-thread wake-ups so far (for tests and benchmarks).
    unsigned long wakeups() const { return m_wakeups.load(); }
    // GUI thread: for a consumer whose cost per batch grows (it then drains less often).
    void setMinInterval(std::chrono::milliseconds minInterval) { m_minInterval = minInterval; }

protected:
    // Called by push() with the item already queued; `mutex` guards m_wakePending.
    void postWakeupIfIdle(std::unique_lock<std::mutex>& lock);
    // Consumes batches until the queue is empty or `deadline` passes. Returns true
    // when items remain. Clears m_wakePending (under the queue's mutex) when it
    // leaves the queue empty.
    virtual bool drainSlice(std::chrono::steady_clock::time_point deadline) = 0;

    bool m_wakePending = false;  // guarded by the derived queue's mutex

private:
    void onWakeup();

    QTimer m_pacer;
    std::chrono::milliseconds m_slice;
    std::chrono::milliseconds m_minInterval;
    std::chrono::steady_clock::time_point m_lastDrain{};
    std::atomic<unsigned long> m_wakeups{0};
};

template <typename T>
class HandoffQueue : public HandoffBase {
public:
    // `consume` runs on the GUI thread with a batch of items in arrival order.
    // The batch is never empty and holds at most `maxBatch` items.
    using Consumer = std::function<void(std::vector<T>& batch)>;

    explicit HandoffQueue(Consumer consume, QObject* parent = nullptr,
                          std::chrono::milliseconds slice = std::chrono::milliseconds(8),
                          std::size_t maxBatch = 4096,
                          std::chrono::milliseconds minInterval = std::chrono::milliseconds(5))
        : HandoffBase(parent, slice, minInterval), m_consume(std::move(consume)), m_maxBatch(std::max<std::size_t>(1, maxBatch))
    {
    }

    void push(T item)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_items.push_back(std::move(item));
        postWakeupIfIdle(lock);
    }

    // GUI thread: the largest batch from now on.
    void setMaxBatch(std::size_t maxBatch) { m_maxBatch = std::max<std::size_t>(1, maxBatch); }

    // Drops everything not yet consumed (GUI thread, e.g. on clear).
    void discard()
    {
        m_draining.clear();
        m_drainPos = 0;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_items.clear();
    }

    // Consumes everything queued now, synchronously (GUI thread).
    void drainAll()
    {
        while (drainSlice(std::chrono::steady_clock::time_point::max())) {
        }
    }

    // GUI thread.
    std::size_t pending() const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_items.size() + (m_draining.size() - m_drainPos);
    }

protected:
    bool drainSlice(std::chrono::steady_clock::time_point deadline) override
    {
        for (;;) {
            if (m_drainPos == m_draining.size()) {
                m_draining.clear();
                m_drainPos = 0;
                std::lock_guard<std::mutex> lock(m_mutex);
                m_draining.swap(m_items);
                if (m_draining.empty()) {
                    m_wakePending = false;  // the next push posts a new wake-up
                    return false;
                }
            }
            const std::size_t n = std::min(m_maxBatch, m_draining.size() - m_drainPos);
            const auto first = m_draining.begin() + std::ptrdiff_t(m_drainPos);
            std::vector<T> batch(std::make_move_iterator(first),
                                 std::make_move_iterator(first + std::ptrdiff_t(n)));
            m_drainPos += n;
            m_consume(batch);
            if (std::chrono::steady_clock::now() >= deadline)
                return true;  // m_wakePending stays set: no push posts until we come back
        }
    }

private:
    mutable std::mutex m_mutex;
    std::vector<T> m_items;     // guarded by m_mutex
    std::vector<T> m_draining;  // GUI thread: taken from m_items, consumed in batches
    std::size_t m_drainPos = 0;
    Consumer m_consume;
    std::size_t m_maxBatch;
};
