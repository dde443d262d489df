// nukdump --hosts on a real trace of seven hosts, through the real capture helper,
// against tshark's reading of the same trace.

#include "packets/nukdumprun.h"
#include "common/testmain.h"
#include "packets/packetfixtures.h"

#include <QtTest>

namespace {

const QString kTrace = QStringLiteral(NUK_TEST_DATA "/topology/hosts7.pcap");

QList<QByteArray> hostsDump(const QStringList& args)
{
    const fixtures::Run r = fixtures::runNukdump(QStringList{"--hosts"} + args);
    return r.exitCode == 0 ? r.lines : QList<QByteArray>{"nukdump failed: " + r.err};
}

// Hosts numbered in order of first appearance (source before destination), each
// direction a link numbered likewise, counted from tshark's source and destination
// columns of the frames whose IP protocol is one of `protocols`.
QList<QByteArray> expectedFromTshark(const QStringList& protocols)
{
    QStringList hosts;
    QList<int> sent, received;
    QList<QPair<int, int>> links;
    QList<int> packets;
    const auto number = [&](const QString& address) {
        if (!hosts.contains(address)) {
            hosts << address;
            sent << 0;
            received << 0;
        }
        return int(hosts.indexOf(address));
    };
    for (const QStringList& row : fixtures::readTsv(QStringLiteral(NUK_TEST_DATA "/topology/hosts7.tshark.tsv"))) {
        if (!protocols.contains(row[2]))
            continue;
        const int from = number(row[0]);
        const int to = number(row[1]);
        ++sent[from];
        ++received[to];
        const QPair<int, int> link(from, to);
        if (!links.contains(link)) {
            links << link;
            packets << 0;
        }
        ++packets[links.indexOf(link)];
    }
    QList<QByteArray> lines;
    for (int i = 0; i < hosts.size(); ++i)
        lines << QStringLiteral("{\"node\":%1,\"address\":\"%2\",\"sent\":%3,\"received\":%4}")
                     .arg(i).arg(hosts[i]).arg(sent[i]).arg(received[i]).toUtf8();
    for (int i = 0; i < links.size(); ++i)
        lines << QStringLiteral("{\"link\":\"Link from Node No.%1 to Node No. %2\",\"from\":%1,\"to\":%2,\"packets\":%3}")
                     .arg(links[i].first).arg(links[i].second).arg(packets[i]).toUtf8();
    return lines;
}

}  // namespace

class TestHostsDump : public QObject {
    Q_OBJECT
private slots:
    void agreesWithTshark()
    {
        const QList<QByteArray> all = expectedFromTshark({"6", "17"});
        int nodes = 0;
        for (const QByteArray& line : all)
            nodes += line.startsWith("{\"node\"");
        QCOMPARE(nodes, 7);
        QCOMPARE(hostsDump({kTrace}), all);
        QCOMPARE(hostsDump({QStringLiteral("--filter"), QStringLiteral("udp"), kTrace}), expectedFromTshark({"17"}));
    }
};

NUK_TEST_CLASS(TestHostsDump)
#include "tst_hostsdump.moc"
