// SPDX-License-Identifier: GPL-2.0-or-later
// The TCP state diagram window: Lock and Reset, the picture lit by a real
// connection at a few box centres, the repaint cycle.

#include "common/pixels.h"
#include "packets/packetfixtures.h"
#include "common/testmain.h"
#include "common/viewhelpers.h"
#include "views/tcpstate/diagrampainter.h"
#include "views/tcpstate/stattrandiagram.h"
#include "views/viewfactory.h"

#include <QLabel>
#include <QtTest>


using namespace tcpdiagram;

namespace {

// Inside the box, left of its name.
QColor shadeAt(const QImage& image, Box box) { return image.pixelColor(boxCorner(box) + QPoint(5, 15)); }

// The shades of the boxes: common, server's and client's, current and passed.
const QColor kCommonNow(221, 255, 0), kCommonPassed(221, 255, 142), kServerNow(255, 255, 0),
    kServerPassed(255, 249, 177), kClientNow(0, 255, 0), kClientPassed(196, 255, 191);

}  // namespace

class TestStatTranDiagram : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // The connection of the trace in which the server closes first.
        m_frames = fixtures::readTrace(QStringLiteral(NUK_TEST_DATA "/tcpstate/closes.pcap"));
        std::erase_if(m_frames, [](const auto& f) { return f.packet->GetDstPort() != 7002 && f.packet->GetSrcPort() != 7002; });
        QCOMPARE(m_frames.size(), std::size_t(11));
    }
    void init()
    {
        m_view.reset(static_cast<StatTranDiagram*>(createView(ViewKind::TcpState, QStringLiteral("TCP State Transition View"), nullptr)));
    }
    void cleanup() { m_view.reset(); }

    void replayLightsTheDiagram();
    void midStreamPacketsLeaveItWaiting();

private:
    // As the reader thread does, then a refresh tick; gives the picture.
    QImage feed(std::size_t from, std::size_t to)
    {
        viewtest::feed(*m_view, m_frames, from, to);
        m_view->UpdateView();
        return m_view->canvas()->grab().toImage();
    }

    std::vector<fixtures::TracePacket> m_frames;
    std::unique_ptr<StatTranDiagram> m_view;
};

void TestStatTranDiagram::replayLightsTheDiagram()
{
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    QImage image = m_view->canvas()->grab().toImage();
    QCOMPARE(shadeAt(image, Closed), kCommonNow);

    image = feed(0, 3);
    QCOMPARE(m_view->snapshot().step, 5);
    QCOMPARE(shadeAt(image, Closed), kCommonPassed);
    QCOMPARE(shadeAt(image, Listen), kServerPassed);
    QCOMPARE(shadeAt(image, SynSent), kClientPassed);
    QCOMPARE(shadeAt(image, Established), kCommonNow);
    QCOMPARE(m_view->connectionLabel()->text(),
             QStringLiteral("10.0.1.2:%1 \u2194 10.0.2.2:7002").arg(m_frames[0].packet->GetSrcPort()));
    // 500 ms after the paint nothing is pending any more.
    QVERIFY(m_view->snapshot().dirty);
    QTRY_VERIFY_WITH_TIMEOUT(!m_view->snapshot().dirty, 3000);

    image = feed(4, 9);
    QCOMPARE(m_view->snapshot().step, 12);
    QCOMPARE(shadeAt(image, FinWait2), kServerNow);
    QCOMPARE(shadeAt(image, CloseWait), kClientNow);
    // Transition 11 (ESTABLISHED -> FIN_WAIT_1) in the server's orange where it
    // crosses y = 417, transition 9 (ESTABLISHED -> CLOSEWAIT) in the client's green.
    QVERIFY(pixels::hasInk(image, QRect(290, 417, 21, 1), QColor(255, 123, 41)));
    QVERIFY(pixels::hasInk(image, QRect(470, 345, 71, 1), QColor(5, 155, 0)));

    image = feed(9, m_frames.size());
    QCOMPARE(m_view->snapshot().step, 14);
    QCOMPARE(shadeAt(image, LastAck), kClientNow);
    QCOMPARE(shadeAt(image, TimeWait), kServerNow);
}

// A capture that begins inside a connection: the diagram waits for the next one to
// open instead of fixing this one at CLOSED.
void TestStatTranDiagram::midStreamPacketsLeaveItWaiting()
{
    const QString waiting = QStringLiteral("Waiting for a connection to open");
    QCOMPARE(m_view->connectionLabel()->text(), waiting);
    feed(1, m_frames.size());
    QCOMPARE(m_view->snapshot().step, 0);
    QCOMPARE(m_view->connectionLabel()->text(), waiting);
    feed(0, 1);  // its SYN again
    QCOMPARE(m_view->snapshot().step, 1);
    QVERIFY(m_view->connectionLabel()->text().endsWith(QLatin1String(":7002")));
}

NUK_TEST_CLASS(TestStatTranDiagram)
#include "tst_stattrandiagram.moc"
