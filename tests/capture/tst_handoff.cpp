// SPDX-License-Identifier: GPL-2.0-or-later
// The reader -> GUI hand-off: order, discards, slices that keep the event loop
// responsive, and safe destruction with wake-ups still queued.

#include "capture/handoff.h"
#include "common/testmain.h"

#include <QTimer>
#include <QtTest>

#include <chrono>
#include <memory>
#include <thread>

using namespace std::chrono_literals;

class TestHandoff : public QObject {
    Q_OBJECT
private slots:
    // Slices of one batch of two: order holds across slices and pushes made between
    // them; a discard in the middle of a drain drops the rest of what was taken, and
    // drainAll delivers everything at once; wake-ups still queued then find nothing.
    void orderDiscardAndDrainAll()
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
        QTest::qWait(30);
        QCOMPARE(seen, (std::vector<int>{0, 1}));

        for (int i = 2; i < 7; ++i)
            queue.push(i);
        queue.drainAll();  // synchronously, past the batch size of 2
        QCOMPARE(seen, (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
        queue.push(7);
        QTRY_COMPARE(seen.size(), std::size_t(8));
    }

    // A consumer that costs about a microsecond per item: a burst of 300,000 items
    // is a third of a second of GUI work, which must come in slices, in order, with
    // the event loop running between them (here a zero timer, while items still wait).
    void burstComesInSlicesInOrder()
    {
        constexpr int kItems = 300000;
        int expected = 0;
        bool inOrder = true;
        HandoffQueue<int> queue([&](std::vector<int>& batch) {
            const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(batch.size());
            for (int v : batch)
                inOrder = inOrder && v == expected++;
            while (std::chrono::steady_clock::now() < until) {
            }
        });
        int ticksWhilePending = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] { ticksWhilePending += queue.pending() > 0; });
        tick.start(0);
        std::thread producer([&] {
            for (int i = 0; i < kItems; ++i)
                queue.push(i);
        });
        producer.join();
        QTRY_VERIFY_WITH_TIMEOUT(expected == kItems || !inOrder, 60000);
        QVERIFY(inOrder);
        QVERIFY2(queue.wakeups() < 1000, qPrintable(QString::number(queue.wakeups())));
        QVERIFY2(ticksWhilePending >= 5, qPrintable(QString::number(ticksWhilePending)));
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
            queue.reset();  // a wake-up is queued for the dead queue
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents();
            QCOMPARE(consumed, 0);
        }
    }
};

NUK_TEST_CLASS(TestHandoff)
#include "tst_handoff.moc"
