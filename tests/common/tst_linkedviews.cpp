// SPDX-License-Identifier: GPL-2.0-or-later
// One packet in every view: a packet selected in one view shows in the others, each
// selection changing once; Link Views off; views that lack the packet; following a
// connection in the TCP state diagram from each view; Go to packet and locking by
// shortcut.

#include "capture/controlpanel.h"
#include "capture/currentpacket.h"
#include "common/pixels.h"
#include "common/testmain.h"
#include "common/viewhelpers.h"
#include "packets/packetfixtures.h"
#include "views/common/viewprompts.h"
#include "views/packets/connection.h"
#include "views/packets/connectionfeed.h"
#include "views/packets/connectionlistmodel.h"
#include "views/packets/connectionviews.h"
#include "views/packets/listviews.h"
#include "views/packets/packetlistmodel.h"
#include "views/packets/testlistview.h"
#include "views/packets/wideasciiscrollview.h"
#include "views/tcpstate/stattrandiagram.h"
#include "views/tcpstate/tcpstatetracker.h"
#include "views/timeline/linescrollview.h"
#include "views/timeline/newtimeline.h"
#include "views/topology/topologycanvasview.h"
#include "views/topology/topologymodel.h"
#include "views/topology/topologyview.h"
#include "views/viewfactory.h"

#include <QLabel>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QtTest>

namespace {

const QString kConversation = QStringLiteral(NUK_TEST_DATA "/timeline/conversation.pcap");
const QString kCloses = QStringLiteral(NUK_TEST_DATA "/tcpstate/closes.pcap");

enum Source { PacketList, ConnectionPackets, Conversations, Reconstruction, TimeLine };

// The six views registered with one controller, fed a trace through it (so the
// packets carry their capture numbers); the TCP state diagram follows what the
// views ask for, as the main window makes it.
struct AllViews {
    ControlPanel controller;
    std::vector<CPacket*> packets;  // owned by the controller
    ListViews* list = open<ListViews>(ViewKind::PacketList);
    ConnectionViews* connections = open<ConnectionViews>(ViewKind::StreamLink);
    TestListView* contents = open<TestListView>(ViewKind::Reconstruction);
    NewTimeLine* timeline = open<NewTimeLine>(ViewKind::TimeLine);
    CTopologyView* map = open<CTopologyView>(ViewKind::Topology);
    StatTranDiagram* diagram = open<StatTranDiagram>(ViewKind::TcpState);
    QMetaObject::Connection glue = QObject::connect(&currentPacket(), &CurrentPacket::followRequested, diagram,
                                                    [this](const CPacket* p) { diagram->follow(*p); });

    explicit AllViews(const QString& trace)
    {
        for (const auto& frame : fixtures::readTrace(trace))
            packets.push_back(new CPacket(*frame.packet));
    }
    ~AllViews()
    {
        QObject::disconnect(glue);
        destroyAllViews();
    }
    template <class View>
    View* open(ViewKind kind)
    {
        CTimeBasedView* view = createView(kind, QStringLiteral("v"), &controller);
        controller.AddView(view, QStringLiteral("View"));
        return dynamic_cast<View*>(view);
    }
    // Packets [from, to) as the reader hands them, then a refresh tick.
    void feed(std::size_t from, std::size_t to)
    {
        viewtest::feed(controller, packets, from, to);
        controller.UpdateView();
    }
    bool shown() const
    {
        return list->model()->rowCount() == list->packetCount() && map->handoff()->pending() == 0 &&
               connections->feed()->handoff()->pending() == 0 && contents->feed()->handoff()->pending() == 0;
    }

    // Selects the packet as a user does in `source`.
    void select(Source source, const CPacket* packet)
    {
        switch (source) {
        case PacketList:
            selectRow(list->packetList(), list->model()->rowOf(packet));
            break;
        case ConnectionPackets: {
            selectRow(connections->connectionList(), rowOfConversation(connections, packet));
            selectRow(connections->packetList(), connections->packetModel()->rowOf(packet));
            break;
        }
        case Conversations:
            selectRow(connections->connectionList(), rowOfConversation(connections, packet));
            break;
        case Reconstruction:
            selectRow(contents->connectionList(), rowOfConversation(contents, packet));
            break;
        case TimeLine: {
            LineScrollView* drawing = timeline->drawing();
            const theTimeLines r = drawing->model().record(std::size_t(drawing->model().recordOfPacket(packet->captureNumber())));
            const QPoint middle((r.x1 + r.x2) / 2, (r.y1 + r.y2) / 2);
            drawing->verticalScrollBar()->setValue(middle.y() - drawing->viewport()->height() / 2);
            drawing->horizontalScrollBar()->setValue(middle.x() - drawing->viewport()->width() / 2);
            QTest::mouseClick(drawing->viewport(), Qt::LeftButton, {}, middle - drawing->contentsOrigin());
            break;
        }
        }
    }
    static void selectRow(QTableView* table, int row)
    {
        QVERIFY(row >= 0);
        table->selectionModel()->setCurrentIndex(table->model()->index(row, 0),
                                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    static int rowOfConversation(ConnectionWindow* view, const CPacket* packet)
    {
        std::size_t index = 0;
        return view->feed()->model()->rowOf(view->feed()->table().holding(packet, &index));
    }
    static const CPacket* selectedPacket(QTableView* table, PacketListModel* model)
    {
        const QModelIndex current = table->selectionModel()->currentIndex();
        return current.isValid() && table->selectionModel()->isRowSelected(current.row(), {})
                   ? model->item(current.row()).packet()
                   : nullptr;
    }
    static bool holds(const Connection* connection, const CPacket* packet)
    {
        return connection && connection->indexOf(packet) >= 0;
    }
};

}  // namespace

class TestLinkedViews : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        currentPacket().setLinked(true);
        viewui::setNumberHandler({});
    }
    void selectionShowsInEveryView_data();
    void selectionShowsInEveryView();
    void linkingOffAndViewsWithoutThePacket();
    void followsTheConnectionFromEveryView_data();
    void followsTheConnectionFromEveryView();
    void shortcutsInEveryView_data();
    void shortcutsInEveryView();
};

void TestLinkedViews::selectionShowsInEveryView_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("index");
    // Packet 6: the server's 39 bytes of the first conversation; packet 14: a UDP reply.
    for (const auto& [name, source] : {std::pair("packet list", PacketList), std::pair("connection packets", ConnectionPackets),
                                       std::pair("time line", TimeLine)}) {
        QTest::addRow("%s, TCP", name) << int(source) << 5;
        QTest::addRow("%s, UDP", name) << int(source) << 13;
    }
}

// Each other view shows the packet, each selection changes once (no echo), and the
// time line draws its arrow marked.
void TestLinkedViews::selectionShowsInEveryView()
{
    QFETCH(int, source);
    QFETCH(int, index);
    AllViews v(kConversation);
    v.feed(0, v.packets.size());
    QTRY_VERIFY(v.shown());
    const CPacket* packet = v.packets[std::size_t(index)];
    QSignalSpy listChanges(v.list->packetList()->selectionModel(), &QItemSelectionModel::selectionChanged);
    QSignalSpy conversationChanges(v.connections->connectionList()->selectionModel(), &QItemSelectionModel::selectionChanged);
    QSignalSpy packetChanges(v.connections->packetList()->selectionModel(), &QItemSelectionModel::selectionChanged);
    QSignalSpy contentsChanges(v.contents->connectionList()->selectionModel(), &QItemSelectionModel::selectionChanged);
    QSignalSpy hub(&currentPacket(), &CurrentPacket::changed);

    v.select(Source(source), packet);
    QCOMPARE(currentPacket().packet(), packet);
    QCOMPARE(hub.size(), 1);
    QCOMPARE(AllViews::selectedPacket(v.list->packetList(), v.list->model()), packet);
    QCOMPARE(AllViews::selectedPacket(v.connections->packetList(), v.connections->packetModel()), packet);
    QVERIFY(AllViews::holds(v.connections->currentConnection(), packet));
    QVERIFY(AllViews::holds(v.contents->currentConnection(), packet));
    QCOMPARE(v.timeline->drawing()->markedPacket(), packet->captureNumber());
    for (const QSignalSpy* spy : {&listChanges, &conversationChanges, &packetChanges, &contentsChanges})
        QCOMPARE(spy->size(), 1);
    // The host map: the two hosts and the link the packet went along.
    const auto& marked = v.map->canvasView()->markedItems();
    QCOMPARE(marked.size(), std::size_t(3));
    QVERIFY(v.map->model().findNode(packet->sourceAddress())->bSelected);
    QVERIFY(v.map->model().findNode(packet->destAddress())->bSelected);
    QVERIFY(v.map->model().findLink(packet->sourceAddress(), packet->destAddress())->bSelected);
    // The reconstruction's live pane: the packet's first bytes in its top rows.
    if (packet->payloadLength() > 0) {
        std::uint64_t before = 0;
        for (const auto& row : v.contents->currentConnection()->packets())
            if (row.packet()->captureNumber() < packet->captureNumber())
                before += row.packet()->payloadLength();
        const int top = v.contents->livePane()->verticalScrollBar()->value();
        QCOMPARE(top, std::min<int>(int(before / 58) * 15, v.contents->livePane()->verticalScrollBar()->maximum()));
    }

    // The marked arrow in the marking colour, three pixels wide, where it is drawn.
    LineScrollView* drawing = v.timeline->drawing();
    const theTimeLines r = drawing->model().record(std::size_t(drawing->model().recordOfPacket(packet->captureNumber())));
    const QPoint middle = QPoint((r.x1 + r.x2) / 2, (r.y1 + r.y2) / 2) - drawing->contentsOrigin();
    const QImage image = drawing->viewport()->grab().toImage();
    QVERIFY(pixels::hasInk(image, QRect(middle - QPoint(4, 4), QSize(9, 9)), LineScrollView::kMarkedColour));
    // Only that arrow: the one before it stays black.
    const theTimeLines previous = drawing->model().record(std::size_t(drawing->model().recordOfPacket(packet->captureNumber())) - 1);
    const QPoint previousMiddle = QPoint((previous.x1 + previous.x2) / 2, (previous.y1 + previous.y2) / 2) - drawing->contentsOrigin();
    QVERIFY(!pixels::hasInk(image, QRect(previousMiddle - QPoint(4, 4), QSize(9, 9)), LineScrollView::kMarkedColour));
}

// With Link Views off nothing follows; a view that lacks the packet (cleared, or
// opened after it came) keeps its selection.
void TestLinkedViews::linkingOffAndViewsWithoutThePacket()
{
    AllViews v(kConversation);
    v.feed(0, v.packets.size());
    QTRY_VERIFY(v.shown());
    currentPacket().setLinked(false);
    v.select(PacketList, v.packets[2]);
    QCOMPARE(v.timeline->drawing()->markedPacket(), 0u);
    QVERIFY(!v.connections->connectionList()->selectionModel()->hasSelection());
    QVERIFY(v.map->canvasView()->markedItems().empty());

    currentPacket().setLinked(true);
    v.timeline->slotClearView();
    auto* late = v.open<ListViews>(ViewKind::PacketList);
    v.select(ConnectionPackets, v.packets[3]);
    QCOMPARE(AllViews::selectedPacket(v.list->packetList(), v.list->model()), v.packets[3]);
    QCOMPARE(v.timeline->drawing()->markedPacket(), 0u);
    QVERIFY(!late->packetList()->selectionModel()->hasSelection());
}

void TestLinkedViews::followsTheConnectionFromEveryView_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("port");
    QTest::newRow("packet list, simultaneous close") << int(PacketList) << 7004;
    QTest::newRow("conversation list, server closes first") << int(Conversations) << 7002;
    QTest::newRow("reconstruction, FIN-ACK close") << int(Reconstruction) << 7003;
    QTest::newRow("time line, reset") << int(TimeLine) << 7006;
}

// The diagram takes the connection's packets captured so far, then goes on with
// the rest as they come: it ends where a tracker given just that connection ends.
void TestLinkedViews::followsTheConnectionFromEveryView()
{
    QFETCH(int, source);
    QFETCH(int, port);
    AllViews v(kCloses);
    std::vector<const CPacket*> own;
    for (const CPacket* p : v.packets)
        if (p->GetSrcPort() == port || p->GetDstPort() == port)
            own.push_back(p);
    // Up to a packet of the server's in the middle of the connection.
    const auto middle = std::find_if(v.packets.begin(), v.packets.end(), [&](const CPacket* p) {
        return p == own[own.size() / 2];
    });
    v.feed(0, std::size_t(middle - v.packets.begin()) + 1);
    QTRY_VERIFY(v.shown());
    QVERIFY(v.diagram->connectionLabel()->text().endsWith(QLatin1String(":7001")));

    v.select(Source(source), own[own.size() / 2]);
    QAction* follow = source == PacketList       ? v.list->followEntry()
                      : source == Conversations  ? v.connections->followEntry()
                      : source == Reconstruction ? v.contents->followEntry()
                                                 : v.timeline->followEntry();
    QVERIFY(follow->isEnabled());
    follow->trigger();
    v.feed(std::size_t(middle - v.packets.begin()) + 1, v.packets.size());

    TcpStateTracker expected;
    for (const CPacket* p : own)
        expected.addPacket(*p);
    QCOMPARE(v.diagram->snapshot().step, expected.step());
    QCOMPARE(v.diagram->connectionLabel()->text(), expected.connectionText());
}

void TestLinkedViews::shortcutsInEveryView_data()
{
    QTest::addColumn<int>("view");  // in the order AllViews opens them
    int view = 0;
    for (const char* name : {"packet list", "connection packets", "reconstruction", "time line", "host map", "tcp state"})
        QTest::newRow(name) << view++;
}

// Ctrl+G asks for a number in the capture; the packet becomes current everywhere.
// Ctrl+L and Ctrl+U lock and unlock a view (but the TCP state diagram), "Locked"
// showing in its status bar meanwhile. Each reaches the menu from the focus widget.
void TestLinkedViews::shortcutsInEveryView()
{
    QFETCH(int, view);
    AllViews v(kConversation);
    v.feed(0, v.packets.size());
    QTRY_VERIFY(v.shown());
    int asked = 0;
    viewui::setNumberHandler([&](QWidget*, const QString&, const QString&, int min, int max, int* value) {
        ++asked;
        *value = 16;
        return min == 1 && max == int(v.packets.size());
    });
    QWidget* window = QList<QWidget*>{v.list, v.connections, v.contents, v.timeline, v.map, v.diagram}[view];
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    const auto press = [window](Qt::Key key) {
        QTest::keyClick(window->focusWidget() ? window->focusWidget() : window, key, Qt::ControlModifier);
    };
    press(Qt::Key_G);
    QCOMPARE(asked, 1);
    QCOMPARE(currentPacket().packet(), v.packets[15]);
    QCOMPARE(AllViews::selectedPacket(v.list->packetList(), v.list->model()), v.packets[15]);
    QCOMPARE(v.timeline->drawing()->markedPacket(), 16u);
    QVERIFY(AllViews::holds(v.contents->currentConnection(), v.packets[15]));
    if (window == v.diagram)
        return;
    QLabel* locked = nullptr;
    for (QLabel* label : window->findChildren<QLabel*>())
        if (label->text() == QLatin1String("Locked"))
            locked = label;
    QVERIFY(locked && locked->isHidden());
    press(Qt::Key_L);
    QVERIFY(locked->isVisible());
    press(Qt::Key_U);
    QVERIFY(locked->isHidden());
}

NUK_TEST_CLASS(TestLinkedViews)
#include "tst_linkedviews.moc"
