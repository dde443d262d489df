// SPDX-License-Identifier: GPL-2.0-or-later
// The machine distribution model as data: packets into nodes, links, counts and
// node info rows; packets in flight against the pace; the layout, its readability
// and its fit; the drawing geometry of a link. (Node info rows after a clear: tst_topologyview.)

#include "capture/settings.h"
#include "common/testmain.h"
#include "packets/packetfixtures.h"
#include "views/topology/forcelayout.h"
#include "views/topology/linkgeometry.h"
#include "views/topology/nodeinfomodel.h"
#include "views/topology/topologymodel.h"

#include <QAbstractItemModelTester>
#include <QtTest>

namespace {

constexpr std::uint32_t A = 0x0a000001, B = 0x0a000002, C = 0x0a000003;
using Sequence = QList<QPair<quint32, quint32>>;

// Packets built once and kept: the model holds pointers to them.
class Packets {
public:
    const CPacket* get(std::uint32_t src, std::uint32_t dst)
    {
        fixtures::Fields f;
        f.src = src;
        f.dst = dst;
        // 0xff0000nn: the IPv6 address ::ffff:10.0.0.nn, another host than 10.0.0.nn.
        const auto six = [](std::uint32_t a) { return fixtures::v6("00000000000000000000ffff0a0000") + fixtures::be(a & 0xff, 1); };
        if (src >> 24 == 0xff || dst >> 24 == 0xff) {
            f.src6 = six(src);
            f.dst6 = six(dst);
        }
        m_kept.push_back(fixtures::build(f));
        return m_kept.back().get();
    }

private:
    std::vector<std::unique_ptr<CPacket>> m_kept;
};

// The node info rows as "no address sent received".
QStringList rows(const NodeInfoModel& m)
{
    QStringList out;
    for (int r = 0; r < m.rowCount(); ++r)
        out << QStringLiteral("%1 %2 %3 %4").arg(m.text(r, 0), m.text(r, 1), m.text(r, 2), m.text(r, 3));
    return out;
}

QStringList nodes(const TopologyModel& m)
{
    QStringList out;
    for (const auto& n : m.nodes())
        out << QStringLiteral("%1 %2 %3 %4").arg(n->nNodeNo).arg(n->strIPAddress).arg(n->nSent).arg(n->nReceived);
    return out;
}

QStringList links(const TopologyModel& m)
{
    QStringList out;
    for (const auto& l : m.links())
        out << QStringLiteral("%1>%2 %3 %4")
                   .arg(l->pFromNode->nNodeNo)
                   .arg(l->pToNode->nNodeNo)
                   .arg(l->nPackets)
                   .arg(l->packetList.size());
    return out;
}

void placeNodes(TopologyModel& m, Packets& packets, const std::vector<QPoint>& at)
{
    for (std::size_t i = 0; i < at.size(); ++i)
        m.AddPacket(packets.get(0x0a000100 + std::uint32_t(i), 0x0a000100 + std::uint32_t(i)), 0);
    for (std::size_t i = 0; i < at.size(); ++i)
        m.nodes()[i]->SetPosition(at[i].x(), at[i].y());
}

QList<QPoint> positions(const TopologyModel& m)
{
    QList<QPoint> out;
    for (const auto& n : m.nodes())
        out << QPoint(n->nX, n->nY);
    return out;
}

// Within a pixel of truncation.
bool near(const QList<QPoint>& got, const QList<QPoint>& expected)
{
    if (got.size() != expected.size())
        return false;
    for (int i = 0; i < got.size(); ++i)
        if (std::abs(got[i].x() - expected[i].x()) > 1 || std::abs(got[i].y() - expected[i].y()) > 1)
            return false;
    return true;
}

QByteArray text(const QList<QPoint>& points)
{
    QByteArray out;
    for (const QPoint& p : points)
        out += "(" + QByteArray::number(p.x()) + "," + QByteArray::number(p.y()) + ")";
    return out;
}

}  // namespace

class TestTopologyModel : public QObject {
    Q_OBJECT
private slots:
    void init() { g_TimeDelayRatio = 1.0f; }
    void addPacketSequences_data();
    void addPacketSequences();
    void packetsInFlightFollowThePace();
    void layoutReadability_data();
    void layoutReadability();
    void layoutFitsIntoTheCanvas();
    void linkGeometry();
};

void TestTopologyModel::addPacketSequences_data()
{
    QTest::addColumn<Sequence>("packets");
    QTest::addColumn<bool>("lockAfterFirst");
    QTest::addColumn<QList<bool>>("created");
    QTest::addColumn<QStringList>("nodes");
    QTest::addColumn<QStringList>("links");
    QTest::addColumn<QStringList>("rows");
    using P = Sequence;
    QTest::newRow("A to B") << P{{A, B}} << false << QList<bool>{true}
                            << QStringList{"0 10.0.0.1 1 0", "1 10.0.0.2 0 1"} << QStringList{"0>1 1 1"}
                            << QStringList{"0 10.0.0.1 1 0", "1 10.0.0.2 0 1"};
    QTest::newRow("reply and more") << P{{A, B}, {B, A}, {A, B}, {B, A}} << false
                                    << QList<bool>{true, true, false, false}
                                    << QStringList{"0 10.0.0.1 2 2", "1 10.0.0.2 2 2"}
                                    << QStringList{"0>1 2 2", "1>0 2 2"}
                                    << QStringList{"0 10.0.0.1 2 2", "1 10.0.0.2 2 2"};
    QTest::newRow("A to A unknown") << P{{A, A}} << false << QList<bool>{true} << QStringList{"0 10.0.0.1 1 1"}
                                    << QStringList{"0>0 1 1"} << QStringList{"0 10.0.0.1 1 1"};
    QTest::newRow("A to A known") << P{{A, B}, {A, A}, {A, A}} << false << QList<bool>{true, true, false}
                                  << QStringList{"0 10.0.0.1 3 2", "1 10.0.0.2 0 1"}
                                  << QStringList{"0>1 1 1", "0>0 2 2"}
                                  << QStringList{"0 10.0.0.1 3 2", "1 10.0.0.2 0 1"};
    const QStringList both{"0 10.0.0.1 1 0", "1 10.0.0.2 0 1", "2 ::ffff:10.0.0.1 1 1", "3 ::ffff:10.0.0.2 1 1"};
    QTest::newRow("IPv4 and IPv6 apart") << P{{A, B}, {0xff000001, 0xff000002}, {0xff000002, 0xff000001}} << false
                                         << QList<bool>{true, true, true} << both
                                         << QStringList{"0>1 1 1", "2>3 1 1", "3>2 1 1"} << both;
    QTest::newRow("locked") << P{{A, B}, {C, A}, {B, A}} << true << QList<bool>{true, false, false}
                            << QStringList{"0 10.0.0.1 1 0", "1 10.0.0.2 0 1"} << QStringList{"0>1 1 1"}
                            << QStringList{"0 10.0.0.1 1 0", "1 10.0.0.2 0 1"};
}

void TestTopologyModel::addPacketSequences()
{
    QFETCH(Sequence, packets);
    QFETCH(bool, lockAfterFirst);
    QFETCH(QList<bool>, created);
    QFETCH(QStringList, nodes);
    QFETCH(QStringList, links);
    QFETCH(QStringList, rows);
    g_TimeDelayRatio = 1000.0f;
    Packets kept;
    NodeInfoModel info;
    QAbstractItemModelTester tester(&info);
    TopologyModel model(&info);
    QList<bool> made;
    for (const auto& [src, dst] : packets) {
        made << model.AddPacket(kept.get(src, dst), 5000);
        model.bLocked = lockAfterFirst;
    }
    QCOMPARE(made, created);
    QCOMPARE(::nodes(model), nodes);
    QCOMPARE(::links(model), links);
    QCOMPARE(::rows(info), rows);
    QVERIFY(!model.bSelfPending);
    QCOMPARE(std::size_t(model.nNextNodeNo), model.nodes().size());
    // The indexes answer as the scan over all items would.
    for (const auto& n : model.nodes())
        QCOMPARE(model.findNode(n->address), n.get());
    for (const auto& l : model.links())
        QCOMPARE(model.findLink(l->pFromNode->address, l->pToNode->address), l.get());

    // Unlocked again, counting resumes from the old values.
    model.bLocked = false;
    model.AddPacket(kept.get(A, A), 5000);
    QCOMPARE(model.findNode(IpAddress::fromV4(A))->nReceived, nodes[0].section(' ', 3).toInt() + 1);
}

void TestTopologyModel::packetsInFlightFollowThePace()
{
    Packets kept;
    TopologyModel model;
    g_TimeDelayRatio = 1000.0f;
    model.AddPacket(kept.get(A, B), 10'000);
    CLink* link = model.links()[0].get();
    QCOMPARE(link->travelTime(), qint64(1000));
    model.expirePackets(11'000);  // age 1000: still on its way
    QCOMPARE(link->packetList.size(), std::size_t(1));
    model.expirePackets(11'001);
    QVERIFY(link->packetList.empty());

    // Pace 0: a packet lives only in its own millisecond, and a burst on one link
    // never keeps more than that millisecond's packets, even if nothing is drawn.
    g_TimeDelayRatio = 0.0f;
    QCOMPARE(link->travelTime(), qint64(0));
    for (qint64 t = 20'000; t < 30'000; ++t)
        for (int i = 0; i < 3; ++i)
            model.AddPacket(kept.get(A, B), t);
    QCOMPARE(link->packetList.size(), std::size_t(3));
    QCOMPARE(link->nPackets, qint64(30'001));
    model.expirePackets(30'000);
    QVERIFY(link->packetList.empty());
}

// Packets between hosts 10.0.1.x and 10.0.1.y for each pair (x, y) and its reply,
// laid out as the view does it: a run after every packet that created something,
// then runs until the nodes rest.
using Pairs = QList<QPair<int, int>>;

void layOut(TopologyModel& model, Packets& packets, const Pairs& pairs)
{
    for (const auto& [x, y] : pairs)
        for (const auto& [s, d] : {qMakePair(x, y), qMakePair(y, x)})
            if (model.AddPacket(packets.get(0x0a000100 + std::uint32_t(s), 0x0a000100 + std::uint32_t(d)), 0))
                model.ReForceLayout(3, 2.0f);
    for (int run = 0; run < 100 && model.layoutSettling(); ++run)
        model.ReForceLayout(3, 2.0f);
}

void TestTopologyModel::layoutReadability_data()
{
    QTest::addColumn<Pairs>("pairs");
    QTest::addColumn<bool>("grows");
    QTest::addColumn<double>("throughShare");  // of the lines, at most
    QTest::newRow("6 hosts") << Pairs{{0, 1}, {0, 2}, {0, 3}, {1, 4}, {2, 5}, {4, 5}} << false << 0.0;
    // A network of 50: three servers that talk to each other, every client to one
    // of them and every fourth client to a second one too.
    Pairs lan{{0, 1}, {1, 2}};
    for (int client = 3; client < 50; ++client) {
        lan.append({client, client % 3});
        if (client % 4 == 0)
            lan.append({client, (client + 1) % 3});
    }
    QTest::newRow("50 hosts") << lan << true << 0.05;
    // Ten hosts with 19 partners each: the canvas grows, keeping its proportions;
    // a ring of 19 around each leaves some lines grazing a neighbour.
    Pairs stars;
    for (int host = 10; host < 200; ++host)
        stars.append({host, host % 10});
    QTest::newRow("200 hosts") << stars << true << 0.15;
}

void TestTopologyModel::layoutReadability()
{
    QFETCH(Pairs, pairs);
    Packets kept;
    TopologyModel model, again;
    layOut(model, kept, pairs);
    QFETCH(bool, grows);
    const int width = model.canvasWidth(), height = model.canvasHeight();
    QCOMPARE(width > 600 && height > 480, grows);
    QVERIFY(std::abs(double(width - 200) / (height - 200) - 400.0 / 280) < 0.01);  // proportions kept
    QVERIFY((width - 200) * (height - 200) >= int(model.nodes().size()) * 60 * 60);  // 3 diameters a node
    // In two dimensions, hardly a node on another or a line through a node.
    QFETCH(double, throughShare);
    const LayoutQuality quality = layoutQuality(model.nodes(), model.links());
    QVERIFY2(quality.closeShare() < 0.001 && quality.linesThroughNodes <= throughShare * double(quality.lines),
             QByteArray::number(quality.closePairs) + " close pairs, " + QByteArray::number(quality.linesThroughNodes) +
                 " of " + QByteArray::number(quality.lines) + " lines through nodes");
    for (const QPoint& p : positions(model))
        QVERIFY2(p.x() >= 99 && p.x() <= width - 99 && p.y() >= 99 && p.y() <= height - 99, text({p}));
    // The same packets give the same picture.
    layOut(again, kept, pairs);
    QCOMPARE(positions(again), positions(model));
    // Clearing gives back the canvas grown for the nodes.
    model.clear();
    QCOMPARE(QSize(model.canvasWidth(), model.canvasHeight()), QSize(600, 480));
}

void TestTopologyModel::layoutFitsIntoTheCanvas()
{
    Packets kept;
    // Two linked nodes whose x and y differ end in opposite corners 100 pixels
    // inside the canvas, keeping their order.
    TopologyModel pair;
    placeNodes(pair, kept, {{400, 100}, {150, 300}});
    pair.AddPacket(kept.get(0x0a000100, 0x0a000101), 0);
    pair.ReForceLayout(3, 2.0f);
    QVERIFY2(near(positions(pair), {{500, 100}, {100, 380}}), text(positions(pair)));
    // With an IPv6 node the margins left and right are 160 pixels: room for the half of
    // a long address label that reaches past the node.
    TopologyModel six;
    six.AddPacket(kept.get(0xff000001, 0xff000002), 0);
    six.nodes()[0]->SetPosition(400, 100);
    six.nodes()[1]->SetPosition(150, 300);
    six.ReForceLayout(3, 2.0f);
    QVERIFY2(near(positions(six), {{440, 100}, {160, 380}}), text(positions(six)));
    // Nodes on one spot are pushed apart and land on the canvas.
    TopologyModel same;
    placeNodes(same, kept, {{200, 200}, {200, 200}, {200, 200}});
    same.ReForceLayout(3, 2.0f);
    const QList<QPoint> at = positions(same);
    QVERIFY2(at[0] != at[1] && at[1] != at[2] && at[0] != at[2], text(at));
    for (const QPoint& p : at)
        QVERIFY2(p.x() >= 99 && p.x() <= 501 && p.y() >= 99 && p.y() <= 381, text(at));

    // An axis of no extent: one node stays inside the canvas on its middle line.
    TopologyModel model;
    placeNodes(model, kept, {{70, 20}});
    model.ReForceLayout(3, 2.0f);
    QCOMPARE(positions(model), (QList<QPoint>{{300, 240}}));
}

void TestTopologyModel::linkGeometry()
{
    Packets kept;
    TopologyModel model;
    placeNodes(model, kept, {{100, 100}, {300, 100}, {400, 400}, {120, 100}});
    CNode* a = model.nodes()[0].get();
    CNode* b = model.nodes()[1].get();
    CLink ab, ba, diagonal, touching, self;
    ab.SetLink(a, b);
    ba.SetLink(b, a);
    diagonal.SetLink(model.nodes()[2].get(), a);
    touching.SetLink(a, model.nodes()[3].get());
    self.SetLink(a, a);

    // Horizontal: clipped at both rims (radius 10), band 6 to each side.
    LinkGeometry g = ::linkGeometry(ab);
    QVERIFY(g.drawn);
    QCOMPARE((QList<int>{g.x1, g.y1, g.x2, g.y2, g.len, g.ox, g.oy}), (QList<int>{120, 110, 300, 110, 180, 0, 6}));
    // Both directions share the line; the left node's packets travel rightward.
    const LinkGeometry back = ::linkGeometry(ba);
    QCOMPARE((QList<int>{back.x1, back.x2, back.ox, back.oy}), (QList<int>{120, 300, 0, 6}));
    QVERIFY(travelsRightward(back, a->address) && !travelsRightward(back, b->address));

    // Pace 1000: half-way after 500 ms, the trail from the sender's end to the
    // oldest packet, the notch's tip 4 pixels ahead; leftward on the other side.
    QCOMPARE(g.position(true, 500, 1000), QPoint(210, 110));
    QCOMPARE(g.trail(true, 500, 1000),
             (std::array<QPoint, 4>{QPoint(120, 104), QPoint(210, 104), QPoint(210, 108), QPoint(120, 108)}));
    QCOMPARE(g.notch(true, 500, 1000), (std::array<QPoint, 3>{QPoint(210, 104), QPoint(210, 108), QPoint(214, 104)}));
    QCOMPARE(g.position(false, 250, 1000), QPoint(255, 110));
    QCOMPARE(g.position(true, 0, 0), QPoint(300, 110));  // pace 0: arrived

    // Diagonal: clipped by (r + 1) along y, the band's perpendicular truncated.
    g = ::linkGeometry(diagonal);
    QCOMPARE((QList<int>{g.x1, g.y1, g.x2, g.y2, g.len, g.ox, g.oy}), (QList<int>{117, 117, 403, 403, 404, 4, 4}));
    QCOMPARE(g.left, static_cast<const CNode*>(a));

    // Circles touching, a self-link, no ends: nothing to draw.
    QVERIFY(!::linkGeometry(touching).drawn && !::linkGeometry(self).drawn && !::linkGeometry(CLink()).drawn);
}

NUK_TEST_CLASS(TestTopologyModel)
#include "tst_topologymodel.moc"
