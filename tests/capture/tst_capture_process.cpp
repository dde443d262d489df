// SPDX-License-Identifier: GPL-2.0-or-later
// Start and Stop against the real launcher child, with a stand-in capture helper
// installed in a temporary NUKPATH: no record of one capture reaches the next, no
// helper outlives its capture; a finished replay starts again, and a live capture's
// kernel drops reach the main window's status bar.

#include "app/capturestatus.h"
#include "app/displayfilterbar.h"
#include "app/nuk.h"
#include "app/nukprompts.h"
#include "common/testmain.h"
#include "capture/process/process.h"
#include "capture/controlpanel.h"
#include "capture/scheduler.h"
#include "capture/settings.h"
#include "common/processes.h"
#include "testviews.h"
#include "views/common/viewprompts.h"
#include "views/packets/testlistview.h"

#include <QDir>
#include <QLabel>
#include <QRegularExpression>
#include <QStatusBar>
#include <QtTest>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
QWidget* visibleWindow(const QString& name)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name && w->isVisible())
            return w;
    return nullptr;
}
}  // namespace

class TestCaptureProcess : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(QDir(m_root.path()).mkpath(QStringLiteral("tmp")) && m_root.install("pcap", FAKEPCAP, true));
        qputenv("NUKPATH", m_root.path().toLocal8Bit() + "/");
        qputenv("NUK_TMPDIR", m_root.root.filePath(QStringLiteral("tmp")).toLocal8Bit());
        qputenv("NUK_BUFFER_MB", "1");  // the live capture's ring: small enough to overflow,
        qputenv("NUK_SPOOL_MB", "0");   // with the helper waiting for the reader
        QCOMPARE(startNukProcesses(), 0);
        QVERIFY(g_ForkNumber > 0);
    }

    void cleanupTestCase()
    {
        runShutdownSteps();
    }

    void init()
    {
        expression.clear();
        g_FileName.clear();
        deviceFlag = 0;
        nukOpMode = OpRealtime;
        g_bPureStepMode = false;
        g_bStepIt = false;
    }

    void captureStopsAndStartsCleanly()
    {
        RecordingUi ui;
        ControlPanel controller(&ui);
        auto* view = new RecordingView;
        controller.AddView(view, QStringLiteral("PacketListView"));
        const int kCycles = 100;
        for (int i = 1; i <= kCycles; ++i) {
            // Each capture's helper tags its records; it streams until it is stopped.
            expression = QStringLiteral("tag %1 gap 100").arg(i);
            controller.Start();
            QVERIFY(controller.isRunning());
            view->mark();
            // Every other helper is stopped before it has even become the helper.
            if (i % 2 == 0)
                QTRY_VERIFY_WITH_TIMEOUT(view->packets.load() > 0 && view->tags().back() == std::uint32_t(i), 5000);
            controller.Stop();
            view->packets = 0;
        }

        // Every record after a capture's start carries that capture's tag. The mark
        // follows Start, so the next capture's first records may come just before it.
        std::uint32_t capture = 0, last = 0;
        int delivered = 0;
        for (const std::uint32_t tag : view->tags()) {
            if (tag == RecordingView::kMark) {
                ++capture;
                continue;
            }
            QVERIFY2(tag >= last && (tag == capture || tag == capture + 1),
                     qPrintable(QStringLiteral("record of capture %1 after the start of %2").arg(tag).arg(capture)));
            last = tag;
            ++delivered;
        }
        QCOMPARE(capture, std::uint32_t(kCycles));
        qInfo("%d records over %d captures", delivered, kCycles);

        // No helper outlives its capture, not even as a zombie for long.
        QTRY_COMPARE_WITH_TIMEOUT(testproc::childrenOf(g_ForkNumber).size(), 0, 3000);
        QTest::qWait(500);  // a shutdown run by mistake in a child would end us by now
        QCOMPARE(testproc::childrenOf(g_ForkNumber).size(), 0);
        QCOMPARE(::kill(g_ForkNumber, 0), 0);  // the launcher child lives on
        RemoveView(view);
    }

    // The real capture helper replays a committed trace (its 12 TCP packets pass the
    // default filter). A finished replay is a stopped capture: a reconstruction asks
    // nothing, Stop says nothing, and Start replays the same trace, also after a Stop.
    void finishedReplayStartsAgain()
    {
        QVERIFY(m_root.install("pcap", NUK_BUILD_DIR "/nuk/pcap", true));
        const auto restore = qScopeGuard([&] {
            m_root.install("pcap", FAKEPCAP, true);
            g_Scheduler.SetPace(1);
            resetNukPrompts();
            viewui::setAskHandler({});
        });
        NukPrompts& prompts = nukPrompts();
        QStringList messages, asked;
        prompts.message = [&](QWidget*, const QString&, const QString& text) { messages << text; };
        prompts.shutdown = [] {};
        viewui::setAskHandler([&](QWidget*, QMessageBox::Icon, const QString&, const QString& text, const QStringList&) {
            asked << text;
            return 0;
        });
        NUK window;
        ControlPanel* controller = window.controller();
        auto* view = new RecordingView;
        controller->AddView(view, QStringLiteral("PacketListView"));
        const QString trace = QStringLiteral(NUK_TEST_DATA "/packets/loopback.tr");
        const auto finished = [&] {
            return window.statusBar()->currentMessage() == QStringLiteral("Replay finished: 12 packets");
        };

        g_FileName = trace;
        nukOpMode = OpDiskFile;
        g_Scheduler.SetPace(0);
        window.slotStartPlay();
        QTRY_VERIFY_WITH_TIMEOUT(finished(), 5000);
        QVERIFY(!controller->isRunning() && ValidWizard);
        QTRY_VERIFY(controller->isStopped());  // once the helper has ended
        QVERIFY(window.captureStatus()->modeLabel()->isHidden());
        QCOMPARE(view->packets.load(), 12);
        window.slotNewReconstructionView();
        auto* contents = qobject_cast<TestListView*>(visibleWindow(QStringLiteral("Contents View")));
        QVERIFY(contents);
        contents->slotReconView();
        QVERIFY(contents->isReconstructionBuilt());
        window.slotStopPlay();  // nothing runs: nothing to say
        QVERIFY(asked.isEmpty() && messages.isEmpty());

        window.slotStartPlay();
        QTRY_COMPARE_WITH_TIMEOUT(view->packets.load(), 24, 5000);
        QTRY_VERIFY(!controller->isRunning() && finished());
        g_Scheduler.SetPace(40);  // twenty seconds
        window.slotStartPlay();
        QTRY_VERIFY(view->packets.load() > 24);
        window.slotStopPlay();
        QCOMPARE(messages, QStringList{QStringLiteral("Packet Transfering Stopped.")});
        g_Scheduler.SetPace(0);
        window.slotStartPlay();
        QVERIFY(controller->isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(finished(), 5000);
        QCOMPARE(messages.size(), 1);
        QVERIFY(asked.isEmpty());
        QCOMPARE(g_FileName, trace);
        RemoveView(view);
        contents->close();
    }

    void liveCapture_data()
    {
        QTest::addColumn<bool>("drops");
        QTest::newRow("kernel drops") << true;
        QTest::newRow("display filter") << false;
    }

    // Live on lo with a 1 MiB ring. In step mode the reader holds the first packets,
    // the helper waits on the full pipe, and the kernel drops what the ring cannot
    // hold: the status bar says how many, in the warning colour, also after Stop.
    // Running, a display filter set meanwhile re-feeds the view with the matching
    // packets so far, and the later ones pass only when they match.
    void liveCapture()
    {
        QFETCH(bool, drops);
        if (geteuid() != 0)
            QSKIP("live capture needs root (or capture rights on nuk/pcap): run the tests as root to cover it");
        QVERIFY(m_root.install("pcap", NUK_BUILD_DIR "/nuk/pcap", true));
        const auto restore = qScopeGuard([&] {
            m_root.install("pcap", FAKEPCAP, true);
            resetNukPrompts();
        });
        nukPrompts().message = [](QWidget*, const QString&, const QString&) {};
        nukPrompts().shutdown = [] {};
        const int receiver = ::socket(AF_INET, SOCK_DGRAM, 0), sender = ::socket(AF_INET, SOCK_DGRAM, 0);
        const auto closeSockets = qScopeGuard([&] {
            ::close(receiver);
            ::close(sender);
        });
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof to;
        QVERIFY(::bind(receiver, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
                ::getsockname(receiver, reinterpret_cast<sockaddr*>(&to), &length) == 0 &&
                ::connect(sender, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0);
        NUK window;
        expression = QStringLiteral("udp port %1").arg(ntohs(to.sin_port));
        deviceFlag = 1;
        if (drops) {
            const QLabel* loss = window.captureStatus()->lossLabel();
            window.slotStartStep();
            QTRY_VERIFY_WITH_TIMEOUT(!loss->isHidden(), 5000);
            QVERIFY2(loss->text().startsWith(QStringLiteral("0 packets captured, 0 dropped by the kernel")),
                     qPrintable(loss->text()));
            const QByteArray datagram(1000, 'b');
            for (int i = 0; i < 6000; ++i)
                QCOMPARE(::send(sender, datagram.constData(), size_t(datagram.size()), 0), ssize_t(datagram.size()));
            window.slotStopPlay();
            const QRegularExpression shown(QStringLiteral("^(\\d+) packets captured, <span style=\"color:%1\">(\\d+) "
                                                          "dropped by the kernel</span>$")
                                               .arg(CaptureStatus::warningColor().name()));
            QTRY_VERIFY2_WITH_TIMEOUT(shown.match(loss->text()).hasMatch(), qPrintable(loss->text()), 5000);
            const QRegularExpressionMatch m = shown.match(loss->text());
            QVERIFY(m.captured(2).toInt() > 0);
            QVERIFY(m.captured(1).toInt() + m.captured(2).toInt() <= 6000);  // the rest stayed in the ring at Stop
            QVERIFY(!loss->isHidden());
            if (qEnvironmentVariableIsSet("NUK_TEST_GRAB"))
                window.grab().save(qEnvironmentVariable("NUK_TEST_GRAB"));
            return;
        }
        const auto send = [&](int count) {  // payloads starting with 'a' and 'b' in turn
            for (int i = 0; i < count; ++i)
                QCOMPARE(::send(sender, i % 2 ? "b" : "a", 1, 0), ssize_t(1));
        };
        auto* view = new RecordingView;
        window.controller()->AddView(view, QStringLiteral("PacketListView"));
        window.slotStartPlay();
        QTest::qWait(500);  // the helper opens the device
        send(100);
        QTRY_COMPARE_WITH_TIMEOUT(view->packets.load(), 100, 10000);
        window.displayFilterBar()->apply(QStringLiteral("udp[8] = 0x61"));
        QTRY_COMPARE_WITH_TIMEOUT(view->packets.load(), 50, 10000);
        send(100);
        QTRY_COMPARE_WITH_TIMEOUT(window.controller()->packetCount(), std::size_t(200), 10000);
        QTRY_COMPARE(view->packets.load(), 100);
        window.slotStopPlay();
        const DisplayProgress shown = window.controller()->displayProgress();
        QVERIFY(shown.matched == 100 && shown.captured == 200 && !shown.refeeding);
        RemoveView(view);
    }

private:
    testproc::FakeNukPath m_root;
};

NUK_TEST_CLASS(TestCaptureProcess)
#include "tst_capture_process.moc"
