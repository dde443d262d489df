// Start and Stop against the real launcher child, with a stand-in capture helper
// installed in a temporary NUKPATH: no record of one capture reaches the next, and
// no helper outlives its capture.

#include "common/testmain.h"
#include "capture/process/process.h"
#include "capture/controlpanel.h"
#include "capture/scheduler.h"
#include "capture/settings.h"
#include "testviews.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <unistd.h>

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
        QTest::qWait(500);  // a shutdown run by mistake in a child would end us by now
        QCOMPARE(childrenOf(g_ForkNumber), 0);
        QCOMPARE(::kill(g_ForkNumber, 0), 0);  // the launcher child lives on
        RemoveView(view);
    }

private:
    QTemporaryDir m_root;
};

NUK_TEST_CLASS(TestCaptureProcess)
#include "tst_capture_process.moc"
