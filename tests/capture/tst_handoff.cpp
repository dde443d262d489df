// The reader -> GUI hand-off: order, bounded wake-ups, a responsive event loop,
// and safe destruction with wake-ups still queued.

#include "capture/handoff.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

using namespace std::chrono_literals;

class TestHandoff : public QObject {
    Q_OBJECT
private slots:
    // Slices of one batch of two: order holds across slices and pushes made between
    // them, and a discard in the middle of a drain drops the rest of what was taken.
    void slicesKeepOrderAndDiscardDropsTheRest()
    {
        std::vector<int> seen;
        HandoffQueue<int> queue([&](std::vector<int>& b) { seen.insert(seen.end(), b.begin(), b.end()); }, nullptr,
                                0ms, 2);
        for (int i = 0; i < 5; ++i)
            queue.push(i);
        QCoreApplication::processEvents();  // one slice
        QCOMPARE(seen, (std::vector<int>{0, 1}));
        for (int i = 5; i < 10; ++i)
            queue.push(i);
        QTRY_COMPARE(seen.size(), std::size_t(10));
        QCOMPARE(seen, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));

        seen.clear();
        QThread::msleep(10);  // past the 5 ms pause after a drain, so the next wake-up drains at once
        for (int i = 0; i < 10; ++i)
            queue.push(i);
        QCoreApplication::processEvents();
        QCOMPARE(seen, (std::vector<int>{0, 1}));
        queue.discard();
        QCOMPARE(queue.pending(), std::size_t(0));
        queue.drainAll();
        QTest::qWait(30);  // the paced wake-up comes and finds nothing
        QCOMPARE(seen, (std::vector<int>{0, 1}));
    }

    void millionItemBurstKeepsOrderAndEventLoop()
    {
        // A consumer that costs about a microsecond per item: a million items are a
        // second of GUI work, which must come in slices.
        constexpr int kItems = 1000000;
        int expected = 0;
        bool inOrder = true;
        std::size_t largest = 0;
        HandoffQueue<int> queue([&](std::vector<int>& batch) {
            const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(batch.size());
            largest = std::max(largest, batch.size());
            for (int v : batch)
                inOrder = inOrder && v == expected++;
            while (std::chrono::steady_clock::now() < until) {
            }
        });

        qint64 worstLateness = 0;
        QElapsedTimer sinceTick;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            worstLateness = std::max(worstLateness, sinceTick.elapsed() - 10);
            sinceTick.restart();
        });
        sinceTick.start();
        tick.start(10);

        QElapsedTimer clock;
        clock.start();
        std::thread producer([&] {
            for (int i = 0; i < kItems; ++i)
                queue.push(i);
        });
        QTRY_VERIFY_WITH_TIMEOUT(expected == kItems || !inOrder, 60000);
        producer.join();
        const qint64 elapsedMs = clock.elapsed();

        QVERIFY(inOrder);
        QVERIFY(largest <= 4096);
        QCOMPARE(queue.pending(), std::size_t(0));
        // At most two wake-ups (a posted one and a paced one) per 5 ms interval of the burst.
        const unsigned long bound = 2 * (elapsedMs / 5 + 1) + 10;
        qInfo("%d items in %lld ms: %lu wake-ups, longest timer lateness %lld ms", kItems, elapsedMs, queue.wakeups(),
              worstLateness);
        QVERIFY2(queue.wakeups() <= bound && queue.wakeups() < 5000, qPrintable(QString::number(queue.wakeups())));
        // The slices are 8 ms; an undivided drain would stall for the whole second.
        // The bound leaves room for a loaded, sanitised build.
        QVERIFY2(worstLateness < 200, qPrintable(QString::number(worstLateness)));
    }

    void destroyingQueueDropsPendingWakeup()
    {
        for (int round = 0; round < 200; ++round) {
            int consumed = 0;
            auto queue = std::make_unique<HandoffQueue<int>>([&](std::vector<int>& b) { consumed += int(b.size()); });
            std::thread producer([&] {
                for (int i = 0; i < 100; ++i)
                    queue->push(i);
            });
            producer.join();
            QVERIFY(queue->pending() > 0);
            queue.reset();  // a wake-up is queued for the dead queue
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents();
            QCOMPARE(consumed, 0);
        }
    }

    void discardAndDrainAll()
    {
        std::vector<int> seen;
        HandoffQueue<int> queue([&](std::vector<int>& b) { seen.insert(seen.end(), b.begin(), b.end()); }, nullptr,
                                8ms, 2);
        queue.push(-1);
        queue.push(-2);
        queue.discard();
        QCOMPARE(queue.pending(), std::size_t(0));
        for (int i = 0; i < 5; ++i)
            queue.push(i);
        queue.drainAll();  // synchronously, past the batch size of 2
        QCOMPARE(seen, (std::vector<int>{0, 1, 2, 3, 4}));
        // The wake-ups still queued find nothing and the next push is delivered.
        queue.push(5);
        QTRY_COMPARE(seen.size(), std::size_t(6));
    }
};

QTEST_GUILESS_MAIN(TestHandoff)
#include "tst_handoff.moc"
