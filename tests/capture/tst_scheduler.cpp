// Step mode and display pace: when each packet is released.

#include "capture/cpacket.h"
#include "capture/scheduler.h"
#include "capture/settings.h"
#include "testviews.h"

#include <QScopeGuard>
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

double msSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// Polls every millisecond (QTRY polls in 50 ms steps, too coarse to time a release).
template <typename F>
bool waitUntil(F done, int timeoutMs = 2000)
{
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() > until)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Runs AddPacket on another thread, as the reader does.
class Waiter {
public:
    Waiter(CScheduler& s, CPacket p) : m_scheduler(s), m_packet(std::move(p))
    {
        m_thread = std::thread([this] {
            m_scheduler.AddPacket(&m_packet);
            m_done = true;
        });
    }
    ~Waiter()
    {
        if (!waitUntil([this] { return m_done.load(); }, 1000))
            m_scheduler.step();  // a failed check must not leave the thread waiting for ever
        m_thread.join();
    }
    bool done() const { return m_done; }

private:
    CScheduler& m_scheduler;
    CPacket m_packet;
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};
}  // namespace

class TestScheduler : public QObject {
    Q_OBJECT
private slots:
    void init();
    void paceZeroReleasesAtOnce();
    void paceKeepsCapturedSpacing();
    void paceIsReadWhileWaiting();
    void earlierThanBaseIsImmediate();
    void stepModeNeedsOneStepPerPacket();
    void startAtStepModeLetsTwoThrough();
    void stepWhileNothingWaitsReleasesNext();
    void stepReleasesPacedPacketEarly();
    void negativePaceBecomesOne();
    void resetRebasesOnNextPacket();
    void abandonEndsWait();
};

void TestScheduler::init()
{
    g_bPureStepMode = false;
    g_bStepIt = false;
    g_TimeDelayRatio = 1.0f;
}

void TestScheduler::paceZeroReleasesAtOnce()
{
    CScheduler s;
    s.SetPace(0.0f);
    QCOMPARE(g_TimeDelayRatio.load(), 0.0f);
    const auto start = Clock::now();
    for (int i = 0; i < 1000; ++i) {
        CPacket p = packetAt(i * 1000);  // a thousand seconds of traffic
        QVERIFY(s.AddPacket(&p));
    }
    QVERIFY(msSince(start) < 200);
}

void TestScheduler::paceKeepsCapturedSpacing()
{
    for (const float pace : {1.0f, 2.0f}) {
        CScheduler s;
        s.SetPace(pace);
        const int offsets[] = {0, 40, 100, 130};
        CPacket first = packetAt(offsets[0]);
        QVERIFY(s.AddPacket(&first));
        const auto base = Clock::now();
        for (int i = 1; i < 4; ++i) {
            CPacket p = packetAt(offsets[i]);
            QVERIFY(s.AddPacket(&p));
            const double at = msSince(base);
            const double due = offsets[i] * pace;
            // Never early; late by a few milliseconds at most (generous for a loaded machine).
            QVERIFY2(at >= due - 1 && at <= due + 40, qPrintable(QStringLiteral("%1 vs %2").arg(at).arg(due)));
        }
    }
}

void TestScheduler::paceIsReadWhileWaiting()
{
    CScheduler s;
    s.SetPace(100.0f);
    CPacket first = packetAt(0);
    s.AddPacket(&first);
    const auto start = Clock::now();
    {
        Waiter w(s, packetAt(100));  // due after 10 s at this pace
        std::this_thread::sleep_for(30ms);
        QVERIFY(!w.done());
        g_TimeDelayRatio = 0.0f;  // written as the pace dialog would, then a wake
        s.wake();
    }
    QVERIFY(msSince(start) < 1000);
}

void TestScheduler::earlierThanBaseIsImmediate()
{
    CScheduler s;
    CPacket first = packetAt(5000);
    s.AddPacket(&first);
    const auto start = Clock::now();
    CPacket older = packetAt(0);
    QVERIFY(s.AddPacket(&older));
    QVERIFY(msSince(start) < 50);
}

void TestScheduler::stepModeNeedsOneStepPerPacket()
{
    CScheduler s;
    g_bPureStepMode = true;
    CPacket first = packetAt(0);
    const auto start = Clock::now();
    QVERIFY(s.AddPacket(&first));
    QVERIFY(msSince(start) < 50);

    std::atomic<int> released{0};
    std::atomic<bool> giveUp{false};
    std::thread reader([&] {
        for (int i = 1; i <= 4; ++i) {
            CPacket p = packetAt(i);
            if (s.AddPacket(&p, [&] { return giveUp.load(); }))
                ++released;
        }
    });
    // Whatever fails below, the reader thread is let go and joined.
    const auto finish = qScopeGuard([&] {
        giveUp = true;
        s.wake();
        reader.join();
    });
    std::this_thread::sleep_for(60ms);
    QCOMPARE(released.load(), 0);
    for (int step = 1; step <= 3; ++step) {
        const auto pressed = Clock::now();
        s.step();
        QVERIFY(waitUntil([&] { return released.load() == step; }));
        QVERIFY(msSince(pressed) < 100);
        std::this_thread::sleep_for(30ms);
        QCOMPARE(released.load(), step);  // exactly one per Step
    }
}

void TestScheduler::startAtStepModeLetsTwoThrough()
{
    CScheduler s;
    g_bStepIt = true;
    g_bPureStepMode = true;
    CPacket a = packetAt(0), b = packetAt(10);
    const auto start = Clock::now();
    QVERIFY(s.AddPacket(&a));
    QVERIFY(s.AddPacket(&b));
    QVERIFY(msSince(start) < 50);
    QVERIFY(!g_bStepIt);
    Waiter third(s, packetAt(20));
    std::this_thread::sleep_for(40ms);
    QVERIFY(!third.done());
    s.step();
}

void TestScheduler::stepWhileNothingWaitsReleasesNext()
{
    CScheduler s;
    g_bPureStepMode = true;
    CPacket a = packetAt(0);
    s.AddPacket(&a);
    s.step();  // nothing waits yet
    QVERIFY(g_bStepIt);
    CPacket b = packetAt(10);
    const auto start = Clock::now();
    QVERIFY(s.AddPacket(&b));
    QVERIFY(msSince(start) < 50);
    QVERIFY(!g_bStepIt);
}

void TestScheduler::stepReleasesPacedPacketEarly()
{
    CScheduler s;
    CPacket a = packetAt(0);
    s.AddPacket(&a);
    const auto start = Clock::now();
    {
        Waiter w(s, packetAt(60000));  // a minute away
        std::this_thread::sleep_for(30ms);
        QVERIFY(!w.done());
        s.step();
    }
    QVERIFY(msSince(start) < 500);
    QVERIFY(!g_bStepIt);
}

void TestScheduler::negativePaceBecomesOne()
{
    CScheduler s;
    s.SetPace(-5.0f);
    QCOMPARE(g_TimeDelayRatio.load(), 1.0f);
    s.SetPace(0.0f);
    QCOMPARE(g_TimeDelayRatio.load(), 0.0f);
    s.SetPace(500.0f);
    QCOMPARE(g_TimeDelayRatio.load(), 500.0f);
}

void TestScheduler::resetRebasesOnNextPacket()
{
    CScheduler s;
    CPacket a = packetAt(0);
    s.AddPacket(&a);
    s.Reset();
    // Ten seconds after the old base, but the first packet after the reset: at once.
    CPacket b = packetAt(10000);
    const auto start = Clock::now();
    QVERIFY(s.AddPacket(&b));
    CPacket c = packetAt(10030);
    QVERIFY(s.AddPacket(&c));
    const double at = msSince(start);
    QVERIFY2(at >= 29 && at < 80, qPrintable(QString::number(at)));
}

void TestScheduler::abandonEndsWait()
{
    CScheduler s;
    g_bPureStepMode = true;
    CPacket a = packetAt(0);
    s.AddPacket(&a);
    std::atomic<bool> giveUp{false};
    std::atomic<int> result{-1};
    std::thread reader([&] {
        CPacket b = packetAt(1);
        result = s.AddPacket(&b, [&] { return giveUp.load(); }) ? 1 : 0;
    });
    std::this_thread::sleep_for(30ms);
    QCOMPARE(result.load(), -1);
    const auto start = Clock::now();
    giveUp = true;
    s.wake();
    reader.join();
    QCOMPARE(result.load(), 0);
    QVERIFY(msSince(start) < 50);
    QVERIFY(!g_bStepIt);  // giving up does not use a step
}

QTEST_GUILESS_MAIN(TestScheduler)
#include "tst_scheduler.moc"
