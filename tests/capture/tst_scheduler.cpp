// SPDX-License-Identifier: GPL-2.0-or-later
// Step mode and display pace: when each packet is released.

#include "capture/cpacket.h"
#include "common/testmain.h"
#include "capture/scheduler.h"
#include "capture/settings.h"
#include "testviews.h"

#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {
CPacket packetAt(int ms)
{
    const auto bytes = makeRecord(0, 0, 1000 + ms / 1000, (ms % 1000) * 1000);
    RawPacket raw;
    std::memcpy(raw.fixed, bytes.data(), 160);
    raw.payload = bytes.data() + 160;
    return CPacket(&raw);
}

// Runs AddPacket on another thread, as the reader does, one packet after another;
// `giveUp` ends a wait as Stop does.
class Reader {
public:
    Reader(CScheduler& s, std::vector<int> offsets) : m_scheduler(s)
    {
        m_thread = std::thread([this, offsets] {
            for (int ms : offsets) {
                CPacket p = packetAt(ms);
                if (!m_scheduler.AddPacket(&p, [this] { return giveUp.load(); }))
                    break;
                ++released;
            }
            finished = true;
        });
    }
    ~Reader()
    {
        giveUp = true;  // a failed check must not leave the thread waiting for ever
        m_scheduler.wake();
        m_thread.join();
    }
    std::atomic<int> released{0};
    std::atomic<bool> giveUp{false};
    std::atomic<bool> finished{false};

private:
    CScheduler& m_scheduler;
    std::thread m_thread;
};
}  // namespace

class TestScheduler : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        g_bPureStepMode = false;
        g_bStepIt = false;
        g_TimeDelayRatio = 1.0f;
    }

    // Pace 0 releases at once (a negative pace is 1); otherwise never before the
    // captured spacing, stretched by the pace, counted from the first packet after a
    // reset. (How late a release may come is the benchmarks' business.)
    void paceKeepsCapturedSpacingFromTheBase()
    {
        CScheduler s;
        s.SetPace(-5.0f);
        QCOMPARE(g_TimeDelayRatio.load(), 1.0f);
        s.SetPace(0.0f);
        {
            std::vector<int> offsets;
            for (int i = 0; i < 1000; ++i)
                offsets.push_back(i * 1000);  // a thousand seconds of traffic
            Reader reader(s, offsets);
            QTRY_VERIFY(reader.finished.load());
            QCOMPARE(reader.released.load(), 1000);
        }
        for (const float pace : {1.0f, 2.0f}) {
            s.SetPace(pace);  // resets: the next packet is the base, ten seconds later
            const int offsets[] = {10000, 10040, 10100, 9000, 10130};
            CPacket first = packetAt(offsets[0]);
            const auto start = Clock::now();
            QVERIFY(s.AddPacket(&first));
            for (int i = 1; i < 5; ++i) {
                CPacket p = packetAt(offsets[i]);
                QVERIFY(s.AddPacket(&p));
                const double at = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
                const double due = std::max(0, offsets[i] - offsets[0]) * pace;  // older than the base: at once
                QVERIFY2(at >= due - 1, qPrintable(QStringLiteral("%1 before %2").arg(at).arg(due)));
            }
        }
    }

    void pacedWaitEndsOnAPaceChangeOrAStep()
    {
        for (const bool byStep : {false, true}) {
            CScheduler s;
            s.SetPace(100.0f);
            CPacket first = packetAt(0);
            s.AddPacket(&first);
            Reader reader(s, {600});  // due after a minute at this pace
            std::this_thread::sleep_for(30ms);
            QCOMPARE(reader.released.load(), 0);
            if (byStep) {
                s.step();
            } else {
                g_TimeDelayRatio = 0.0f;  // written as the pace dialog would, then a wake
                s.wake();
            }
            QTRY_COMPARE(reader.released.load(), 1);
            QVERIFY(!g_bStepIt);
        }
    }

    void stepModeNeedsOneStepPerPacket()
    {
        CScheduler s;
        g_bPureStepMode = true;
        CPacket first = packetAt(0);
        QVERIFY(s.AddPacket(&first));  // the first needs no step

        Reader reader(s, {1, 2, 3, 4});
        std::this_thread::sleep_for(60ms);
        QCOMPARE(reader.released.load(), 0);
        for (int step = 1; step <= 3; ++step) {
            s.step();
            QTRY_COMPARE(reader.released.load(), step);
            std::this_thread::sleep_for(30ms);
            QCOMPARE(reader.released.load(), step);  // exactly one per Step
        }
        // Giving up (Stop) ends the wait and uses no step.
        reader.giveUp = true;
        s.wake();
        QTRY_VERIFY(reader.finished.load());
        QCOMPARE(reader.released.load(), 3);
        QVERIFY(!g_bStepIt);
    }

    void startAtStepModeLetsTwoThroughAndAnEarlyStepIsKept()
    {
        CScheduler s;
        g_bStepIt = true;
        g_bPureStepMode = true;
        CPacket a = packetAt(0), b = packetAt(10);
        QVERIFY(s.AddPacket(&a));
        QVERIFY(s.AddPacket(&b));
        QVERIFY(!g_bStepIt);
        {
            Reader third(s, {20});
            std::this_thread::sleep_for(40ms);
            QCOMPARE(third.released.load(), 0);
        }
        s.step();  // nothing waits: the next packet goes without another
        QVERIFY(g_bStepIt);
        Reader fourth(s, {30});
        QTRY_COMPARE(fourth.released.load(), 1);
        QVERIFY(!g_bStepIt);
    }
};

NUK_TEST_CLASS(TestScheduler)
#include "tst_scheduler.moc"
