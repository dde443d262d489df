// Start and Stop against the real launcher child, with a stand-in capture helper
// installed in a temporary NUKPATH: no record of one capture reaches the next, no
// helper outlives its capture, and a helper's complaint and a replay's progress
// reach the main window's status bar, and so do a live capture's kernel drops.

#include "app/capturestatus.h"
#include "app/nuk.h"
#include "app/nukprompts.h"
#include "capture/process/process.h"
#include "capture/controlpanel.h"
#include "capture/scheduler.h"
#include "capture/settings.h"
#include "testviews.h"
#include "views/common/viewprompts.h"
#include "views/packets/testlistview.h"

#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <QRegularExpression>

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
        QVERIFY(m_root.isValid());
        QVERIFY(QDir(m_root.path()).mkpath(QStringLiteral("nuk")));
        QVERIFY(QDir(m_root.path()).mkpath(QStringLiteral("tmp")));
        QVERIFY(QFile::link(QStringLiteral(FAKEPCAP), m_root.filePath(QStringLiteral("nuk/pcap"))));
        qputenv("NUKPATH", m_root.path().toLocal8Bit() + "/");
        qputenv("NUK_TMPDIR", m_root.filePath(QStringLiteral("tmp")).toLocal8Bit());
        qputenv("NUK_BUFFER_MB", "1");  // the live capture's ring: small enough to overflow
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
        QTRY_COMPARE_WITH_TIMEOUT(childrenOf(g_ForkNumber), 0, 3000);
        QTest::qWait(1500);  // a shutdown run by mistake in a child would end us by now
        QCOMPARE(childrenOf(g_ForkNumber), 0);
        QCOMPARE(::kill(g_ForkNumber, 0), 0);  // the launcher child lives on
        RemoveView(view);
    }

    // A helper that cannot start: its line in the status bar (cut to 300 characters)
    // and, whole, in a message box.
    void helperErrorReachesStatusBarAndMessageBox()
    {
        NukPrompts& prompts = nukPrompts();
        QStringList titles, messages;
        prompts.message = [&](QWidget*, const QString& title, const QString& text) { titles << title, messages << text; };
        prompts.shutdown = [] {};

        NUK window;
        g_FileName = m_root.filePath(QString(150, QLatin1Char('d')) + QLatin1Char('/') + QString(150, QLatin1Char('e')) +
                                     QStringLiteral("/no such trace.tr"));
        nukOpMode = OpDiskFile;
        window.slotStartPlay();
        QVERIFY(window.controller()->isRunning());
        const QString expected = QStringLiteral("pcap: cannot open trace file %1: No such file or directory").arg(g_FileName);
        QTRY_COMPARE(window.statusBar()->currentMessage(), expected.left(300));
        QTRY_COMPARE(messages.value(0), expected);
        QCOMPARE(titles.value(0), QStringLiteral("Warning"));
        window.slotStopPlay();
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("System has stopped"));
        resetNukPrompts();
    }

    // The real capture helper replays a committed trace over 0.5 s; the default
    // filter takes its 12 TCP packets (and leaves 3 UDP ones).
    void replayShowsItsProgressInTheStatusBar()
    {
        const QString link = m_root.filePath(QStringLiteral("nuk/pcap"));
        QVERIFY(QFile::remove(link) && QFile::link(QStringLiteral(NUK_BUILD_DIR "/nuk/pcap"), link));
        const auto restore = qScopeGuard([&] {
            QFile::remove(link);
            QFile::link(QStringLiteral(FAKEPCAP), link);
            g_Scheduler.SetPace(1);
            resetNukPrompts();
        });
        NukPrompts& prompts = nukPrompts();
        QStringList messages;
        prompts.message = [&](QWidget*, const QString&, const QString& text) { messages << text; };
        prompts.shutdown = [] {};
        QStringList asked;
        viewui::setAskHandler([&](QWidget*, QMessageBox::Icon, const QString&, const QString& text, const QStringList&) {
            asked << text;
            return 0;
        });
        const auto noAsking = qScopeGuard([] { viewui::setAskHandler({}); });
        NUK window;
        ControlPanel* controller = window.controller();
        const CaptureStatus* status = window.captureStatus();
        auto* view = new RecordingView;
        controller->AddView(view, QStringLiteral("PacketListView"));
        const QString trace = QStringLiteral(NUK_TEST_DATA "/packets/loopback.tr");

        g_FileName = trace;
        nukOpMode = OpDiskFile;
        g_Scheduler.SetPace(4);  // two seconds
        window.slotStartPlay();
        QCOMPARE(status->modeLabel()->text(), QStringLiteral("Pace 1:4"));
        QVERIFY(!status->modeLabel()->isHidden());
        QTRY_VERIFY(!status->replayBar()->isHidden() && status->replayBar()->value() > 0 &&
                    status->replayBar()->value() < status->replayBar()->maximum());
        QTRY_COMPARE_WITH_TIMEOUT(window.statusBar()->currentMessage(), QStringLiteral("Replay finished: 12 packets"),
                                  5000);
        QCOMPARE(status->countLabel()->text(), QStringLiteral("12 packets"));
        QVERIFY(status->replayBar()->isHidden());
        // A finished replay is a stopped capture: nothing to stop before a
        // reconstruction, and the mode is no longer shown.
        QVERIFY(!controller->isRunning() && controller->isStopped() && ValidWizard);
        QVERIFY(status->modeLabel()->isHidden());
        QCOMPARE(view->packets.load(), 12);
        window.slotNewReconstructionView();
        auto* contents = qobject_cast<TestListView*>(visibleWindow(QStringLiteral("Contents View")));
        QVERIFY(contents);
        contents->slotReconView();
        QVERIFY(contents->isReconstructionBuilt());
        window.slotStopPlay();  // nothing runs: nothing to say
        QVERIFY(asked.isEmpty() && messages.isEmpty());

        // Start replays the same trace with the same settings, and again after a Stop.
        g_Scheduler.SetPace(0);
        window.slotStartPlay();
        QTRY_COMPARE_WITH_TIMEOUT(view->packets.load(), 24, 5000);
        QTRY_VERIFY(!controller->isRunning());
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("Replay finished: 12 packets"));
        g_Scheduler.SetPace(40);  // twenty seconds
        window.slotStartPlay();
        QTRY_VERIFY(view->packets.load() > 24);
        window.slotStopPlay();
        QCOMPARE(messages, QStringList{QStringLiteral("Packet Transfering Stopped.")});
        g_Scheduler.SetPace(0);
        window.slotStartPlay();
        QVERIFY(controller->isRunning());
        QTRY_COMPARE_WITH_TIMEOUT(window.statusBar()->currentMessage(), QStringLiteral("Replay finished: 12 packets"),
                                  5000);
        QCOMPARE(messages.size(), 1);
        QVERIFY(asked.isEmpty());
        QCOMPARE(g_FileName, trace);
        RemoveView(view);
        contents->close();

        // Step mode: two packets at once, then one a Step, counted at the refresh rate.
        window.slotStartStep();
        QCOMPARE(status->modeLabel()->text(), QStringLiteral("Step mode"));
        QTRY_COMPARE(status->countLabel()->text(), QStringLiteral("2 packets"));
        window.slotStepPlay();
        QTRY_COMPARE(status->countLabel()->text(), QStringLiteral("3 packets"));
        QVERIFY(!status->replayBar()->isHidden());
        window.slotStopPlay();
        QVERIFY(status->replayBar()->isHidden());
    }

    // Live on lo with a 1 MiB ring, in step mode: the reader holds the first packets,
    // the helper waits on the full pipe, and the kernel drops what the ring cannot
    // hold. The status bar says how many, in the warning colour, also after Stop.
    void liveCaptureShowsKernelDrops()
    {
        if (geteuid() != 0)
            QSKIP("live capture needs root (or capture rights on nuk/pcap): run the tests as root to cover it");
        const QString link = m_root.filePath(QStringLiteral("nuk/pcap"));
        QVERIFY(QFile::remove(link) && QFile::link(QStringLiteral(NUK_BUILD_DIR "/nuk/pcap"), link));
        const auto restore = qScopeGuard([&] {
            QFile::remove(link);
            QFile::link(QStringLiteral(FAKEPCAP), link);
            resetNukPrompts();
        });
        NukPrompts& prompts = nukPrompts();
        prompts.message = [](QWidget*, const QString&, const QString&) {};
        prompts.shutdown = [] {};
        const int receiver = ::socket(AF_INET, SOCK_DGRAM, 0), sender = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof to;
        QVERIFY(::bind(receiver, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
                ::getsockname(receiver, reinterpret_cast<sockaddr*>(&to), &length) == 0 &&
                ::connect(sender, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0);

        NUK window;
        const QLabel* loss = window.captureStatus()->lossLabel();
        expression = QStringLiteral("udp port %1").arg(ntohs(to.sin_port));
        deviceFlag = 1;
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
        ::close(receiver);
        ::close(sender);
    }

private:
    QTemporaryDir m_root;
};

QTEST_MAIN(TestCaptureProcess)
#include "tst_capture_process.moc"
