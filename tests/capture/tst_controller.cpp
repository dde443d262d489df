// SPDX-License-Identifier: GPL-2.0-or-later
// The capture controller against real pipes, without the launcher child: the test
// plays the helper's part by writing records into the packet pipe and reads the
// parameter block that Start writes.

#include "capture/process/process.h"
#include "common/testmain.h"
#include "capture/controlpanel.h"
#include "capture/currentpacket.h"
#include "capture/scheduler.h"
#include "capture/settings.h"
#include "capture/recordreader.h"
#include "capture/replayprogress.h"
#include "common/processes.h"
#include "testviews.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <numeric>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Plays the helper: writes `count` records numbered from `first`, cut to `keep`
// bytes in all, into the packet pipe.
bool writeRecords(std::uint32_t first, int count, std::uint32_t tag, std::size_t keep = SIZE_MAX)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i) {
        const auto r = makeRecord(first + std::uint32_t(i), tag);
        bytes.append(reinterpret_cast<const char*>(r.data()), qsizetype(r.size()));
    }
    return testproc::writeAll(nControlPipe[1], bytes.left(qsizetype(std::min<std::size_t>(keep, bytes.size()))));
}

QByteArray readParameterPipe()
{
    QByteArray bytes;
    char buf[4096];
    pollfd pfd{nDataPipe[0], POLLIN, 0};
    while (::poll(&pfd, 1, 0) > 0) {
        const ssize_t n = ::read(nDataPipe[0], buf, sizeof buf);
        if (n <= 0)
            break;
        bytes.append(buf, n);
    }
    return bytes;
}

std::vector<std::uint32_t> range(std::uint32_t first, std::uint32_t count, std::uint32_t step = 1)
{
    std::vector<std::uint32_t> v(count);
    for (std::uint32_t i = 0; i < count; ++i)
        v[i] = first + i * step;
    return v;
}

// A display filter keeping the records with an even number (sequence number).
std::shared_ptr<const DisplayFilter> evenNumbers()
{
    const std::string text = "tcp[4:4] & 1 = 0";
    std::vector<bpf_insn> program;
    std::string error;
    return DisplayFilter::compile(text, program, error) ? std::make_shared<DisplayFilter>(text, program) : nullptr;
}

bool isPrefix(const std::vector<std::uint32_t>& part, const std::vector<std::uint32_t>& whole)
{
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}
}  // namespace

class TestController : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(::pipe(nControlPipe) == 0);
        QVERIFY(::pipe(nDataPipe) == 0);
        QVERIFY(::pipe(nErrorPipe) == 0);
        ::fcntl(nControlPipe[1], F_SETPIPE_SZ, 1 << 20);
        qputenv("NUK_TMPDIR", m_tmp.path().toLocal8Bit());
    }

    void init()
    {
        expression.clear();
        g_FileName.clear();
        deviceFlag = 0;
        nukOpMode = OpRealtime;
        ValidWizard = true;
        readParameterPipe();
    }

    void startWritesParameterBlockAndStopResets()
    {
        RecordingUi ui;
        ControlPanel controller(&ui);
        controller.Stop();  // idle: nothing at all
        QVERIFY(ui.messages.isEmpty() && ui.statuses.isEmpty() && !controller.isStopped());

        // No expression: "tcp" is sent and kept; mode 1 needs no file, F = 0.
        controller.Start();
        QVERIFY(controller.isRunning() && !ValidWizard);
        QCOMPARE(readParameterPipe(), testproc::parameterBlock("tcp", "", 0, 1));
        QCOMPARE(expression, QStringLiteral("tcp"));
        controller.Start();
        QCOMPARE(ui.messages.last(), QStringLiteral("System is running"));
        QVERIFY(readParameterPipe().isEmpty());
        controller.Stop();

        nukOpMode = OpActiveSockets;
        deviceFlag = 1;
        expression = QStringLiteral("port 80");
        controller.Start();
        QCOMPARE(readParameterPipe(), testproc::parameterBlock("port 80", "", 1, 2));
        controller.Stop();

        g_FileName = QStringLiteral("/traces/a b.tr");
        nukOpMode = OpDiskFile;
        deviceFlag = 0;
        controller.Start();
        QCOMPARE(readParameterPipe(), testproc::parameterBlock("port 80", "/traces/a b.tr", 0, 0));
        controller.Stop();
        QVERIFY(!controller.isRunning() && controller.isStopped() && ValidWizard);
        QCOMPARE(ui.messages.last(), QStringLiteral("Packet Transfering Stopped."));
        QCOMPARE(ui.statuses.last(), QStringLiteral("System has stopped"));

        // The file name stays: Start replays the same trace with the same settings.
        controller.Start();
        QVERIFY(controller.isRunning());
        QCOMPARE(readParameterPipe(), testproc::parameterBlock("port 80", "/traces/a b.tr", 0, 0));
        controller.Stop();

        // Without a file name mode 0 warns and starts nothing.
        g_FileName.clear();
        controller.Start();
        QVERIFY(!controller.isRunning() && ValidWizard);
        QCOMPARE(ui.messages.last(), QStringLiteral("Invalid file name. Choose user wizard to reset filename."));
        QVERIFY(readParameterPipe().isEmpty());
    }

    // The helper's progress lines: the share of the trace behind the delivered
    // packets, interpolated between reports, and the finish once all have arrived.
    void replayProgressFromHelperLines()
    {
        ReplayProgress p;
        QVERIFY(!p.take("pcap: capturing on lo"));
        QVERIFY(p.take("pcap: replay progress 7 500 1024"));  // an earlier helper's late line
        QVERIFY(!p.isReplay());
        QCOMPARE(p.share(5), -1.0);
        for (const char* line : {"pcap: replay progress 0 24 1024", "pcap: replay progress 100 524 1024",
                                 "pcap: replay progress 50 600 1024", "pcap: replay progress 1x 600 1024",
                                 "pcap: replay progress 200 1024 1024 9", "pcap: replay progress 120 500 1024"})
            QVERIFY(p.take(line));  // taken; backwards or malformed ones change nothing
        QVERIFY(p.isReplay());
        QCOMPARE(p.share(0), 24 / 1024.0);
        QCOMPARE(p.share(50), 274 / 1024.0);
        QCOMPARE(p.share(150), 524 / 1024.0);  // past the last report: no guess
        QVERIFY(!p.finished(150));
        QVERIFY(p.take("pcap: replay finished 180"));
        QCOMPARE(p.share(140), 774 / 1024.0);
        QVERIFY(!p.finished(179) && p.finished(180));
        QCOMPARE(p.share(180), 1.0);

        // A trace without a size (a pipe): no share, still a finish.
        p.reset();
        QVERIFY(!p.isReplay() && !p.finished(0));
        p.take("pcap: replay progress 0 0 0");
        p.take("pcap: replay finished 3");
        QCOMPARE(p.share(1), -1.0);
        QVERIFY(p.finished(3));
    }

    // A live capture's statistics lines: the total counts, a device's own line
    // taken but not counted, anything malformed left to the status bar.
    void captureCountsFromHelperLines()
    {
        CaptureCounts c;
        QVERIFY(!c.take("pcap: capturing on eth0 lo"));
        QVERIFY(!c.take("pcap: 5 packets captured, 6 received by the filter, 1x dropped by the kernel, 0 dropped by the interface"));
        QVERIFY(!c.take("pcap: 5 packets captured, 6 received by the filter, 1 dropped by the kernel, 0 dropped by the interface!"));
        QVERIFY(!c.known());
        QVERIFY(c.take("pcap: 1 packet captured, 1 received by the filter, 0 dropped by the kernel, 0 dropped by the interface"));
        QVERIFY(c.known() && c.captured() == 1 && c.kernelDrops() == 0);
        QVERIFY(c.take("pcap: lo: 70 packets captured, 90 received by the filter, 20 dropped by the kernel, 0 dropped by the interface"));
        QCOMPARE(c.captured(), std::uint64_t(1));
        QVERIFY(c.take("pcap: 80 packets captured, 103 received by the filter, 20 dropped by the kernel, 3 dropped by the interface"));
        QVERIFY(c.captured() == 80 && c.received() == 103 && c.kernelDrops() == 20 && c.interfaceDrops() == 3);
        c.reset();
        QVERIFY(!c.known() && c.kernelDrops() == 0);
    }

    void staleBytesNeverReachNextCapture()
    {
        ControlPanel controller;
        auto* view = new RecordingView;
        controller.AddView(view, QStringLiteral("PacketListView"));

        controller.Start();
        QVERIFY(writeRecords(0, 10, 1));
        QTRY_COMPARE(view->packets.load(), 10);
        // Half a record, then the capture stops before the rest arrives.
        QVERIFY(writeRecords(10, 1, 1, 100));
        QTest::qWait(30);  // the reader takes the half record into its framer
        controller.Stop();
        // An old helper that has not died yet writes more after the drain.
        QVERIFY(writeRecords(11, 6, 1, 5 * 164 + 50));

        view->clear();
        controller.Start();
        QVERIFY(writeRecords(100, 20, 2));
        QTRY_COMPARE(view->packets.load(), 20);
        QTest::qWait(50);
        QCOMPARE(view->tags(), std::vector<std::uint32_t>(20, 2));
        QCOMPARE(view->numbers(), range(100, 20));
        controller.Stop();
        QCOMPARE(controller.packetCount(), std::size_t(30));
        RemoveView(view);
    }

    // The views are fed again from the captured packets, in capture order; packets
    // arriving meanwhile wait their turn and later ones pass only when they match.
    // A locked view keeps what it has; clearing the filter shows everything again.
    void displayFilterRefeedsViews()
    {
        RecordingUi ui;
        ControlPanel controller(&ui);
        auto* view = new RecordingView;
        auto* locked = new RecordingView;
        controller.AddView(view, QStringLiteral("PacketListView"));
        controller.AddView(locked, QStringLiteral("PacketListView"));
        controller.Start();
        QVERIFY(writeRecords(0, 3000, 1));
        QTRY_COMPARE(view->packets.load(), 3000);
        QTRY_COMPARE(locked->packets.load(), 3000);
        locked->locked = true;

        controller.setDisplayFilter(evenNumbers());
        QVERIFY(writeRecords(3000, 3000, 1));  // during the re-feed
        QTRY_COMPARE(view->packets.load(), 3000);
        QTRY_VERIFY(!controller.displayProgress().refeeding);
        QCOMPARE(view->numbers(), range(0, 3000, 2));
        QCOMPARE(locked->numbers(), range(0, 3000));
        const DisplayProgress shown = controller.displayProgress();
        QCOMPARE(shown.text, std::string("tcp[4:4] & 1 = 0"));
        QCOMPARE(shown.matched, 3000u);
        QCOMPARE(shown.captured, 6000u);

        locked->locked = false;
        controller.setDisplayFilter(nullptr);
        QTRY_COMPARE(view->packets.load(), 6000);
        QTRY_VERIFY(!controller.displayProgress().refeeding);
        QCOMPARE(view->numbers(), range(0, 6000));
        QCOMPARE(locked->numbers(), range(0, 6000));  // unlocked, it is cleared and fed again
        controller.Stop();
        RemoveView(view);
        RemoveView(locked);
    }

    // Stop or a newer filter ends a re-feed: each view keeps a prefix of the
    // matching packets and gets nothing more from it.
    void cancelledRefeedLeavesPrefix()
    {
        ControlPanel controller;
        auto* view = new RecordingView;
        controller.AddView(view, QStringLiteral("PacketListView"));
        constexpr std::uint32_t kCount = 200000;
        for (std::uint32_t i = 0; i < kCount; ++i) {
            const auto r = makeRecord(i, 1);
            RawPacket raw;
            std::memcpy(raw.fixed, r.data(), packetlen);
            raw.payload = r.data() + packetlen;
            controller.AddPacket(new CPacket(&raw));
        }
        const auto even = range(0, kCount / 2, 2);
        controller.setDisplayFilter(evenNumbers());
        controller.setDisplayFilter(evenNumbers());  // the first re-feed is cancelled
        QTest::qWait(1);
        controller.Stop();
        QVERIFY(!controller.displayProgress().refeeding);
        const auto kept = view->numbers();
        QVERIFY(isPrefix(kept, even));
        QTest::qWait(20);
        QCOMPARE(view->numbers(), kept);

        // "Save Displayed As..." cancelled from its progress dialog leaves no file.
        const QTemporaryDir dir;
        const std::string path = dir.filePath(QStringLiteral("shown.pcap")).toStdString();
        std::vector<std::size_t> told;
        std::string error = "?";
        QCOMPARE(writeDisplayedTrace(path, controller.capturedPackets(), evenNumbers().get(), error,
                                     [&](std::size_t done) { told.push_back(done); return told.size() < 2; }),
                 -1LL);
        QVERIFY(error.empty() && !QFileInfo::exists(QString::fromStdString(path)));
        QCOMPARE(told, (std::vector<std::size_t>{4096, 8192}));
        RemoveView(view);
    }

    void packetWaitingForStepAcrossStop()
    {
        RecordingUi ui;
        ControlPanel controller(&ui);
        auto* view = new RecordingView;
        controller.AddView(view, QStringLiteral("PacketListView"));
        g_bPureStepMode = true;
        controller.Start();
        QVERIFY(writeRecords(0, 3, 4));
        QTRY_COMPARE(view->packets.load(), 1);  // the first passes, the second waits for a Step
        // The stepped packet is the program's current one.
        QTRY_VERIFY(currentPacket().packet() && currentPacket().packet()->captureNumber() == 1);
        controller.Stop();
        g_Scheduler.step();  // still stopped: the waiting packet goes to the views
        QTRY_COMPARE(view->packets.load(), 2);  // the third was drained with the pipe

        // Start at Step Mode lets two through; the third waits at Stop, and a new
        // Start abandons it: the step it sets belongs to the new capture.
        for (const std::uint32_t tag : {6u, 7u}) {
            g_bStepIt = true;
            controller.Start();
            QVERIFY(writeRecords(tag * 10, 3, tag));
            QTRY_COMPARE(view->packets.load(), int(tag) * 2 - 8);
            controller.Stop();
        }
        QTest::qWait(50);
        QCOMPARE(view->tags(), (std::vector<std::uint32_t>{4, 4, 6, 6, 7, 7}));
        QCOMPARE(view->numbers(), (std::vector<std::uint32_t>{0, 1, 60, 61, 70, 71}));
        g_bPureStepMode = false;
        g_bStepIt = false;
        RemoveView(view);
    }

    void modeThreeCreatesPrivateSocketFile()
    {
        RecordingUi ui;
        ControlPanel controller(&ui);
        nukOpMode = OpApplication;
        const QString name = setNukFileName();
        QVERIFY(name.startsWith(m_tmp.path()));
        QVERIFY(name.endsWith(QStringLiteral("_NukAppSockFile")));

        QVERIFY(testproc::writeFile(name, "left over"));
        ::chmod(QFile::encodeName(name).constData(), 0644);
        controller.Start();
        QCOMPARE(readParameterPipe(), testproc::parameterBlock("tcp", "", 0, 3));
        struct stat info;
        QCOMPARE(::lstat(QFile::encodeName(name).constData(), &info), 0);
        QCOMPARE(int(info.st_mode & 0777), 0600);
        QCOMPARE(qint64(info.st_size), qint64(0));
        controller.Stop();

        // A link or a FIFO planted at the name is refused, with the reason, and what
        // the link points to is left alone.
        const QString target = m_tmp.filePath(QStringLiteral("victim"));
        QVERIFY(testproc::writeFile(target, "precious"));
        for (const bool link : {true, false}) {
            QFile::remove(name);
            QVERIFY(link ? QFile::link(target, name) : ::mkfifo(QFile::encodeName(name).constData(), 0666) == 0);
            controller.Start();
            QVERIFY(!controller.isRunning() && readParameterPipe().isEmpty());
            QCOMPARE(ui.messages.last(), name + QStringLiteral(" is not a regular file owned by you; not used"));
        }
        QCOMPARE(QFileInfo(target).size(), qint64(8));
        QFile::remove(name);
    }

    // What the helper writes on its standard error: of what arrives at once the last
    // whole line is shown, cut to 300 characters, control characters made spaces.
    void helperErrorLineInTheStatusBar()
    {
        RecordingUi ui;
        ControlPanel controller(&ui);
        const auto say = [](const QByteArray& text) {
            QCOMPARE(::write(nErrorPipe[1], text.constData(), size_t(text.size())), ssize_t(text.size()));
        };
        say("pcap: first\npcap: second\x1b[1m\tbold\r\npcap: half a li");
        QTRY_COMPARE(ui.statuses.value(0), QStringLiteral("pcap: second [1m bold"));
        say("ne\n");
        QTRY_COMPARE(ui.statuses.value(1), QStringLiteral("pcap: half a line"));
        say(QByteArray(5000, 'x') + "\n");
        QTRY_COMPARE(ui.statuses.value(2), QString(300, QLatin1Char('x')));
        QCOMPARE(ui.statuses.size(), 3);
    }

private:
    QTemporaryDir m_tmp;
};

NUK_TEST_CLASS(TestController)
#include "tst_controller.moc"
