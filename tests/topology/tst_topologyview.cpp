// SPDX-License-Identifier: GPL-2.0-or-later
// The machine distribution window offscreen: packets from a reader thread into
// nodes, links and node info rows, lock and clear, selection and the drag rule, a
// rendered map of six hosts.

#include "capture/settings.h"
#include "common/testmain.h"
#include "common/viewhelpers.h"
#include "packets/packetfixtures.h"
#include "views/topology/forcelayout.h"
#include "views/topology/nodeinfomodel.h"
#include "views/topology/topologycanvasview.h"
#include "views/topology/topologyitems.h"
#include "views/topology/topologylegendview.h"
#include "views/topology/topologymodel.h"
#include "views/topology/topologyview.h"

#include <QHeaderView>
#include <QPainter>
#include <QStatusBar>
#include <QTreeView>
#include <QtTest>

#include <thread>

namespace {

constexpr std::uint32_t A = 0x0a000001, B = 0x0a000002, C = 0x0a000003;

QStringList shownRows(const CTopologyLegendView& legend)
{
    QStringList out;
    for (int r = 0; r < legend.nodeInfo()->rowCount(); ++r)
        out << QStringLiteral("%1 %2 %3 %4").arg(legend.shownText(r, 0), legend.shownText(r, 1), legend.shownText(r, 2),
                                                 legend.shownText(r, 3));
    return out;
}

QPoint viewportPoint(CTopologyView& view, QPointF scenePos) { return view.canvasView()->mapFromScene(scenePos); }

}  // namespace

class TestTopologyView : public QObject {
    Q_OBJECT
private slots:
    void init() { g_TimeDelayRatio = 1.0f; }
    void packetsLockAndClear();
    void selectionAndTheDragRule();
    void renderedMapSpreadsInTwoDimensions();

private:
    const CPacket* packet(std::uint32_t src, std::uint32_t dst);
    // On a thread of its own, like the reader; then waits for the GUI thread to apply them.
    void feed(CTopologyView& view, const QList<QPair<std::uint32_t, std::uint32_t>>& pairs);
    // Two nodes placed at (100, 100) and (300, 100) with links both ways.
    void twoNodes(CTopologyView& view);
    std::vector<std::unique_ptr<CPacket>> m_packets;
};

const CPacket* TestTopologyView::packet(std::uint32_t src, std::uint32_t dst)
{
    fixtures::Fields f;
    f.src = src;
    f.dst = dst;
    m_packets.push_back(fixtures::build(f));
    return m_packets.back().get();
}

void TestTopologyView::feed(CTopologyView& view, const QList<QPair<std::uint32_t, std::uint32_t>>& pairs)
{
    std::vector<CPacket*> batch;
    for (const auto& [s, d] : pairs)
        batch.push_back(const_cast<CPacket*>(packet(s, d)));
    viewtest::feed(view, batch, 0, batch.size());
    QTRY_COMPARE(view.handoff()->pending(), std::size_t(0));
    // The layout goes on, a run every 200 ms, until the nodes rest.
    QTRY_VERIFY_WITH_TIMEOUT(!view.layoutPending(), 60000);
}

void TestTopologyView::twoNodes(CTopologyView& view)
{
    feed(view, {{A, B}, {B, A}});
    view.model().nodes()[0]->SetPosition(100, 100);
    view.model().nodes()[1]->SetPosition(300, 100);
    view.canvasView()->syncItems();
}

void TestTopologyView::packetsLockAndClear()
{
    CTopologyView view;
    QGraphicsScene* scene = view.canvasView()->canvas();
    feed(view, {{A, B}, {B, A}, {A, B}, {A, A}});
    int nodes = 0, links = 0;
    for (QGraphicsItem* item : scene->items()) {
        nodes += qgraphicsitem_cast<CNodeItem*>(item) != nullptr;
        links += qgraphicsitem_cast<CLinkItem*>(item) != nullptr;
    }
    QCOMPARE(nodes, 2);
    QCOMPARE(links, 3);
    // The layout ran and the items follow their nodes.
    for (int i = 0; i < 2; ++i) {
        const CNode& n = *view.model().nodes()[std::size_t(i)];
        QCOMPARE(view.canvasView()->nodeItem(i)->pos(), QPointF(n.nX, n.nY));
        QVERIFY(n.nX >= 99 && n.nX <= 501 && n.nY >= 99 && n.nY <= 381);
    }
    CTopologyLegendView& info = *view.nodeInfoWindow();
    QCOMPARE(shownRows(info), (QStringList{"0 10.0.0.1 3 2", "1 10.0.0.2 1 2"}));
    view.action(CTopologyView::IdNodeInfoWindow)->trigger();  // every column in view, the last one included
    QTRY_VERIFY(info.listView()->header()->length() <= info.listView()->viewport()->width());

    // Locked: packets leave no trace; unlocked, counting goes on.
    view.action(CTopologyView::IdLock)->trigger();
    feed(view, {{C, A}, {A, B}});
    QCOMPARE(shownRows(info), (QStringList{"0 10.0.0.1 3 2", "1 10.0.0.2 1 2"}));
    // Arrived while locked is refused even when Unlock comes before the batch is applied.
    const CPacket* lateCA = packet(C, A);
    std::thread([&] { view.AddPacket(const_cast<CPacket*>(lateCA)); }).join();
    view.action(CTopologyView::IdUnlock)->trigger();
    feed(view, {{A, B}});
    QCOMPARE(shownRows(info), (QStringList{"0 10.0.0.1 4 2", "1 10.0.0.2 1 3"}));

    // Ctrl+C clears: the canvas empties, numbering restarts, the old rows stay and
    // the new nodes count on rows of their own; the lock flag keeps its value.
    view.action(CTopologyView::IdLock)->trigger();
    view.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&view));
    QTest::keyClick(view.canvasView()->viewport(), Qt::Key_C, Qt::ControlModifier);
    QVERIFY(scene->items().isEmpty());
    QVERIFY(view.model().bLocked);
    view.action(CTopologyView::IdUnlock)->trigger();
    feed(view, {{C, A}, {C, A}});
    QCOMPARE(view.model().nodes()[0]->GetNodeName(), QStringLiteral("Node No.0"));
    QCOMPARE(shownRows(info), (QStringList{"0 10.0.0.1 4 2", "1 10.0.0.2 1 3", "0 10.0.0.3 2 0", "1 10.0.0.1 0 2"}));
    QCOMPARE(scene->items().size(), 3);
}

void TestTopologyView::selectionAndTheDragRule()
{
    CTopologyView view;
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    twoNodes(view);
    CTopologyCanvasView* canvas = view.canvasView();
    QWidget* port = canvas->viewport();
    CNode* first = view.model().nodes()[0].get();

    // A press on a node names and selects it; released before the drag timer has
    // fired (no event loop runs in between), it stays.
    QTest::mousePress(port, Qt::LeftButton, {}, viewportPoint(view, {110, 110}));
    QCOMPARE(view.statusBar()->currentMessage(), QStringLiteral("Node No.0"));
    QVERIFY(first->bSelected && canvas->isDragPending());
    QCOMPARE(canvas->selectedItem(), canvas->nodeItem(0));
    QTest::mouseRelease(port, Qt::LeftButton, {}, viewportPoint(view, {400, 300}));
    QVERIFY(!canvas->isDragPending() && !canvas->isDragging());
    QCOMPARE(QPoint(first->nX, first->nY), QPoint(100, 100));
    const auto circleTop = [&] { return port->grab().toImage().pixelColor(viewportPoint(view, {110, 101})); };
    QTRY_COMPARE(circleTop(), QColor(128, 128, 233));

    // A press on a link names it and moves the selection; empty canvas clears it.
    QTest::mousePress(port, Qt::LeftButton, {}, viewportPoint(view, {200, 106}));
    QCOMPARE(view.statusBar()->currentMessage(), QStringLiteral("Link from Node No.1 to Node No. 0"));
    QVERIFY(!first->bSelected);
    QVERIFY(qgraphicsitem_cast<CLinkItem*>(canvas->selectedItem()));
    QTest::mouseRelease(port, Qt::LeftButton, {}, viewportPoint(view, {200, 106}));
    QTest::mousePress(port, Qt::LeftButton, {}, viewportPoint(view, {50, 400}));
    QVERIFY(!canvas->selectedItem());
    canvas->UpdateWindow();
    QTRY_COMPARE(circleTop(), QColor(Qt::black));
    QTest::mouseRelease(port, Qt::LeftButton, {}, viewportPoint(view, {50, 400}));

    // Held over 150 ms: the drag cursor; released at (3, 700) the corner goes to
    // (5, 700) and the canvas grows to 700 × 800.
    QTest::mousePress(port, Qt::LeftButton, {}, viewportPoint(view, {110, 110}));
    QTRY_VERIFY(canvas->isDragging());
    QCOMPARE(port->cursor().shape(), Qt::BitmapCursor);
    QTest::mouseRelease(port, Qt::LeftButton, {}, viewportPoint(view, {3, 700}));
    QVERIFY(!canvas->isDragging());
    QCOMPARE(port->cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(QPoint(first->nX, first->nY), QPoint(5, 700));
    QCOMPARE(canvas->nodeItem(0)->pos(), QPointF(5, 700));
    QCOMPARE(canvas->canvas()->sceneRect(), QRectF(0, 0, 700, 800));
    QCOMPARE(view.model().canvasWidth(), 700);
    // Inside the canvas it does not grow.
    QTest::mousePress(port, Qt::LeftButton, {}, viewportPoint(view, {300 + 10, 110}));
    QTRY_VERIFY(canvas->isDragging());
    QTest::mouseRelease(port, Qt::LeftButton, {}, viewportPoint(view, {640, 20}));
    QCOMPARE(QPoint(view.model().nodes()[1]->nX, view.model().nodes()[1]->nY), QPoint(640, 20));
    QCOMPARE(canvas->canvas()->sceneRect(), QRectF(0, 0, 700, 800));
}

// Six hosts laid out by the view until they rest: drawn where the model has them,
// spread over both axes of the canvas, no two circles touching, no line through a
// circle.
void TestTopologyView::renderedMapSpreadsInTwoDimensions()
{
    CTopologyView view;
    QList<QPair<std::uint32_t, std::uint32_t>> pairs;
    const std::pair<std::uint32_t, std::uint32_t> links[] = {{0, 1}, {0, 2}, {0, 3}, {1, 4}, {2, 5}, {4, 5}};
    for (const auto& [x, y] : links)
        pairs << qMakePair(A + x, A + y) << qMakePair(A + y, A + x);
    feed(view, pairs);
    const TopologyModel& model = view.model();
    QImage image(model.canvasWidth(), model.canvasHeight(), QImage::Format_RGB32);
    QPainter painter(&image);
    view.canvasView()->drawCanvas(painter);
    painter.end();
    int minX = 600, maxX = 0, minY = 480, maxY = 0;
    for (const auto& node : model.nodes()) {
        QCOMPARE(QColor(image.pixel(node->centreX(), node->nY + 1)), QColor(Qt::black));  // its rim
        minX = std::min(minX, node->nX);
        maxX = std::max(maxX, node->nX);
        minY = std::min(minY, node->nY);
        maxY = std::max(maxY, node->nY);
    }
    QVERIFY(maxX - minX >= 390 && maxY - minY >= 270);
    const LayoutQuality quality = layoutQuality(model.nodes(), model.links());
    QCOMPARE(quality.closePairs + quality.linesThroughNodes, std::size_t(0));
}

NUK_TEST_CLASS(TestTopologyView)
#include "tst_topologyview.moc"
