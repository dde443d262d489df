#pragma once
// Hands items from a worker thread (the reader) to the GUI thread in batches.
//
// push() may be called from any thread. It appends under a mutex and posts one
// queued wake-up to the GUI thread only when the queue goes from empty to
// non-empty, so a burst of a million items costs a handful of wake-ups. The GUI
// thread drains in slices of a few milliseconds and re-posts itself while items
// remain, so the event loop keeps running (painting, input) during a burst.
//
// The queue is a QObject living on the GUI thread; destroying it drops any wake-up
// still queued, so a view that owns its queue never sees a call after it is gone.

#include <QObject>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

class HandoffBase : public QObject {
public:
    explicit HandoffBase(QObject* parent = nullptr) : QObject(parent) {}
    // Items handed over so far and not yet consumed (for tests and benchmarks).
    virtual std::size_t pending() const = 0;

protected:
    void postWakeup();
    virtual void drainSlice() = 0;
    std::atomic<bool> m_wakePosted{false};
};

template <typename T>
class HandoffQueue : public HandoffBase {
public:
    // `consume` runs on the GUI thread with a batch of items in arrival order.
    // The batch is never empty.
    using Consumer = std::function<void(std::vector<T>& batch)>;

    explicit HandoffQueue(Consumer consume, QObject* parent = nullptr,
                          std::chrono::milliseconds slice = std::chrono::milliseconds(8),
                          std::size_t maxBatch = 50000)
        : HandoffBase(parent), m_consume(std::move(consume)), m_slice(slice), m_maxBatch(maxBatch)
    {
    }

    void push(T item)
    {
        bool wasEmpty;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            wasEmpty = m_items.empty();
            m_items.push_back(std::move(item));
        }
        if (wasEmpty)
            postWakeup();
    }

    // Drops everything not yet consumed (GUI thread, e.g. on clear).
    void discard()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_items.clear();
    }

    // Consumes everything queued now, synchronously (GUI thread).
    void drainAll()
    {
        for (;;) {
            std::vector<T> batch;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                batch.swap(m_items);
            }
            if (batch.empty())
                return;
            m_consume(batch);
        }
    }

    std::size_t pending() const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_items.size();
    }

protected:
    void drainSlice() override
    {
        m_wakePosted.store(false);
        const auto deadline = std::chrono::steady_clock::now() + m_slice;
        for (;;) {
            std::vector<T> batch;
            bool more;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_items.size() <= m_maxBatch) {
                    batch.swap(m_items);
                } else {
                    batch.assign(std::make_move_iterator(m_items.begin()),
                                 std::make_move_iterator(m_items.begin() + std::ptrdiff_t(m_maxBatch)));
                    m_items.erase(m_items.begin(), m_items.begin() + std::ptrdiff_t(m_maxBatch));
                }
                more = !m_items.empty();
            }
            if (!batch.empty())
                m_consume(batch);
            if (!more)
                return;
            if (std::chrono::steady_clock::now() >= deadline) {
                postWakeup();  // let the event loop breathe, then go on
                return;
            }
        }
    }

private:
    mutable std::mutex m_mutex;
    std::vector<T> m_items;
    Consumer m_consume;
    std::chrono::milliseconds m_slice;
    std::size_t m_maxBatch;
};
