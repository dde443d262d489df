// SPDX-License-Identifier: GPL-2.0-or-later
// nukdump on the committed loopback trace, through the real capture helper.

#include "capture/recordbuilder.h"
#include "common/processes.h"
#include "common/testmain.h"
#include "connectionfixtures.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <unistd.h>

using testproc::Run;

namespace {
Run run(const QStringList& args) { return testproc::runNukdump(args); }

const QString kTrace = QStringLiteral(NUK_TEST_DATA "/packets/loopback.tr");

// A NUKPATH whose capture helper copies the "trace" (a ready record stream) into
// the packet pipe; with "linger" as the filter it then marks the private directory
// and waits to be stopped, as a live capture would.
struct FakeHelperRoot : testproc::FakeNukPath {
    FakeHelperRoot()
    {
        const QString script = root.filePath(QStringLiteral("nuk/pcap"));
        testproc::writeFile(script, "#!/bin/bash\n"
                                    "cat -- \"$1\" >&\"$2\"\n"
                                    "[ \"$5\" = linger ] || exit 0\n"
                                    ": > \"$NUK_TMPDIR/ready\"\n"
                                    "exec sleep 30\n");
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString stream(const QByteArray& records)
    {
        const QString path = root.filePath(QStringLiteral("stream.tr"));
        testproc::writeFile(path, records);
        return path;
    }
};

QByteArray goodRecord(int payload)
{
    RecordBuilder r;
    r.header(1000, 0, 1).at(record::Ethernet + 12, {0x08, 0x00}).at(record::Ip, {0x45, 0, 0, 20 + 20 + payload});
    r.fixed[record::Ip + 9] = 6;
    r.fixed[record::Tcp + 12] = 0x50;
    r.payload = QByteArray(payload, 'p');
    return r.bytes();
}

// The line's keys, in order of appearance.
QStringList keysOf(const QByteArray& line)
{
    QStringList keys;
    const QJsonObject o = QJsonDocument::fromJson(line).object();
    for (const QString& k : o.keys())
        keys << k;
    std::sort(keys.begin(), keys.end(), [&](const QString& x, const QString& y) {
        return line.indexOf("\"" + x.toUtf8() + "\":") < line.indexOf("\"" + y.toUtf8() + "\":");
    });
    return keys;
}

QString privateDirIn(const QString& dir)
{
    const QStringList found = QDir(dir).entryList({QStringLiteral("nukdump.*")}, QDir::Dirs | QDir::NoDotAndDotDot);
    return found.isEmpty() ? QString() : dir + QLatin1Char('/') + found.first();
}
}  // namespace

class TestNukdump : public QObject {
    Q_OBJECT
private slots:
    void decodesTheTrace();
    void otherViews_data();
    void otherViews();
    void damagedRecordsAreReportedOnStandardError_data();
    void damagedRecordsAreReportedOnStandardError();
    void aDamagedTraceFailsAfterItsPackets();
    void anInterruptedDumpRemovesItsDirectory_data();
    void anInterruptedDumpRemovesItsDirectory();
    void streamsAgreeWithTshark();
    void mixedTraceInEveryMode();
    void displayFilterAgreesWithTcpdump_data();
    void displayFilterAgreesWithTcpdump();
};

// One line a packet, keys in this order and nothing else; the frame's bytes, and
// number, addresses and protocol as tshark reads them (the decodes: tst_packet).
// The helper keeps a copy of what it replays in the default trace file; nukdump
// must not overwrite the one of a nuk that is running (here: the one in the
// directory the helper would use).
void TestNukdump::decodesTheTrace()
{
    QTemporaryDir dir;
    const QString sentinel = dir.filePath(QStringLiteral("%1_NukDefaultTraceFile").arg(getuid()));
    QVERIFY(testproc::writeFile(sentinel, "the running capture"));
    const Run r = testproc::runNukdump({kTrace}, {QStringLiteral("NUK_TMPDIR=") + dir.path()});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(testproc::readFile(sentinel), QByteArray("the running capture"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot).size(), 1);
    const auto frames = fixtures::readTrace(kTrace);
    const auto tsv = fixtures::readTsv(QStringLiteral(NUK_TEST_DATA "/packets/loopback.tshark.tsv"));
    QCOMPARE(r.lines.size(), qsizetype(tsv.size()));
    for (int n = 0; n < r.lines.size(); ++n) {
        QCOMPARE(keysOf(r.lines[n]), (QStringList{"no", "time", "src", "dst", "protocol", "info", "hex", "data"}));
        const QJsonObject o = QJsonDocument::fromJson(r.lines[n]).object();
        const QStringList& t = tsv[std::size_t(n)];
        QCOMPARE((QStringList{o["no"].toString(), o["src"].toString(), o["dst"].toString(), o["protocol"].toString()}),
                 (QStringList{t[0].rightJustified(8, QLatin1Char('0')), t[12], t[13], t[10] == "6" ? "TCP" : "UDP"}));
        QCOMPARE(o["hex"].toString().toLatin1(), frames[std::size_t(n)].frame.toHex());
    }
}

// The other views' lines, values as tshark reads the traces: the time line's first
// (TCP) and last (UDP) record; the TCP state of the filtered connection, and without
// a filter of the first one only.
void TestNukdump::otherViews_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("line");
    const QString timeline = NUK_TEST_DATA "/timeline/conversation.pcap", closes = NUK_TEST_DATA "/tcpstate/closes.pcap";
    QTest::newRow("timeline, TCP") << QStringList{"--timeline", timeline} << 29 << 0
        << QByteArray("{\"no\":1,\"from\":\"10.99.0.1  <40001> \",\"to\":\"10.99.0.2  <80> \",\"x1\":50,\"y1\":60,"
                      "\"x2\":300,\"y2\":130,\"angle\":-74.35775377387148,\"tcp\":true,\"v1\":201738701,\"v2\":0,"
                      "\"bytes\":0,\"syn\":true,\"fin\":false}");
    QTest::newRow("timeline, UDP") << QStringList{"--timeline", timeline} << 29 << 28
        << QByteArray("{\"no\":29,\"from\":\"10.99.0.2  <6000> \",\"to\":\"10.99.0.1  <6001> \",\"x1\":1550,"
                      "\"y1\":2020,\"x2\":1800,\"y2\":2090,\"angle\":-74.35775377387148,\"tcp\":false,\"v1\":142,"
                      "\"bytes\":100}");
    QTest::newRow("tcpstate, filtered") << QStringList{"--tcpstate", "--filter", "port 7002", closes} << 11 << 7
        << QByteArray("{\"no\":8,\"step\":11,\"flags\":\"ACK,FIN\",\"sticky\":[\"server closed first\"]}");
    QTest::newRow("tcpstate, first connection") << QStringList{"--tcpstate", closes} << 11 << 10
        << QByteArray("{\"no\":11,\"step\":14,\"flags\":\"ACK\",\"sticky\":[]}");
}

void TestNukdump::otherViews()
{
    QFETCH(QStringList, args);
    QFETCH(int, count);
    QFETCH(int, index);
    QFETCH(QByteArray, line);
    const Run r = run(args);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.lines.size(), count);
    QCOMPARE(r.lines[index], line);
}

// Standard output stays JSON lines; what the record reader found wrong goes to
// standard error and fails the run.
void TestNukdump::damagedRecordsAreReportedOnStandardError_data()
{
    QTest::addColumn<QByteArray>("tail");
    QTest::addColumn<QByteArray>("complaint");
    RecordBuilder corrupt;
    QTest::newRow("corrupt") << corrupt.bytes(packetlen + 70000).left(16) << QByteArray("1 corrupt packet record skipped");
    QTest::newRow("cut by the helper's end") << goodRecord(40).left(100)
                                             << QByteArray("last packet record was cut short after 100 bytes");
}

void TestNukdump::damagedRecordsAreReportedOnStandardError()
{
    QFETCH(QByteArray, tail);
    QFETCH(QByteArray, complaint);
    FakeHelperRoot fake;
    const Run r = testproc::runNukdump({fake.stream(goodRecord(5) + goodRecord(0) + tail)}, {"NUKPATH=" + fake.path()});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.lines.size(), 2);
    for (const QByteArray& line : r.lines)
        QVERIFY2(QJsonDocument::fromJson(line).isObject(), line.constData());
    QVERIFY2(r.err.contains(complaint), r.err.constData());
}

// A replay ended early by damage gives what came before it, and still fails.
void TestNukdump::aDamagedTraceFailsAfterItsPackets()
{
    const Run cut = run({QStringLiteral(NUK_TEST_DATA "/multi-link-cut.pcapng")});
    QCOMPARE(cut.exitCode, 1);
    QVERIFY(!cut.lines.isEmpty());
    QVERIFY2(cut.err.contains("is damaged; replay ends here"), cut.err.constData());
}

// Interrupted from the terminal, killed, or its reader gone: the helper is stopped
// and the private directory goes with it.
void TestNukdump::anInterruptedDumpRemovesItsDirectory_data()
{
    QTest::addColumn<int>("signo");
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("reader gone") << SIGPIPE;
}

void TestNukdump::anInterruptedDumpRemovesItsDirectory()
{
    QFETCH(int, signo);
    FakeHelperRoot fake;
    QTemporaryDir tmp;
    QProcess p;
    p.setProcessEnvironment(testproc::nukEnvironment({"TMPDIR=" + tmp.path()}, fake.path()));
    QByteArray records;
    for (int i = 0; i < 200; ++i)  // more JSON than stdio buffers: a gone reader is noticed
        records += goodRecord(i % 50);
    const QStringList args{QStringLiteral(NUK_BUILD_DIR "/nuk/nukdump"), QStringLiteral("--filter"),
                           QStringLiteral("linger"), fake.stream(records)};
    if (signo == SIGPIPE) {
        p.start(QStringLiteral("/bin/sh"), QStringList{QStringLiteral("-c"),
                QStringLiteral("{ \"$0\" \"$@\"; echo \"status $?\" >&2; } | head -c 10")} + args);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.readAllStandardError(), QByteArray("status 0\n"));
    } else {
        p.start(args[0], args.mid(1));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(privateDirIn(tmp.path()) + QStringLiteral("/ready")), 10000);
        const pid_t dump = pid_t(p.processId());
        QVERIFY2(dump > 0, "nukdump ended before it was interrupted");  // never kill(0): that is our own group
        QCOMPARE(::kill(dump, signo), 0);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);  // the signal is raised again
    }
    QCOMPARE(privateDirIn(tmp.path()), QString());
}

// One line per conversation in creation order, keys in a fixed order; each TCP
// direction reassembled as tshark reassembles it, on real loss and reordering and
// on wrapping sequence numbers; a port pair used again is a second conversation.
void TestNukdump::streamsAgreeWithTshark()
{
    const QString dir = QStringLiteral(NUK_TEST_DATA "/connections/");
    for (const char* name : {"lossy", "wrapped", "reused", "../ipv6/mixed46", "../ipv6/lo6-http", "../ipv6/veth6-eth"}) {
        const QString trace = dir + name + (QString::fromLatin1(name).contains(QLatin1String("ipv6")) ? ".pcap" : ".tr");
        const Run r = run({QStringLiteral("--streams"), trace});
        QCOMPARE(r.exitCode, 0);
        auto followed = fixtures::readFollow(dir + QString::fromLatin1(name).section(QLatin1Char('/'), -1) + ".follow.tsv");
        QCOMPARE(r.lines.size(), qsizetype(followed.size()));
        for (const QByteArray& line : r.lines) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            QCOMPARE(keysOf(line), (QStringList{"ep1", "ep2", "packets", "live", "forward", "backward"}));
            // tshark may name a UDP conversation's ends the other way round (after a
            // datagram it reassembled from fragments).
            const auto f = std::find_if(followed.begin(), followed.end(), [&](const fixtures::Followed& x) {
                const QString a = fixtures::endPoint(x.node0), b = fixtures::endPoint(x.node1);
                const QString ep1 = o.value(QLatin1String("ep1")).toString(), ep2 = o.value(QLatin1String("ep2")).toString();
                return (a == ep1 && b == ep2) || (x.protocol == QLatin1String("udp") && a == ep2 && b == ep1);
            });
            QVERIFY(f != followed.end());
            const bool tcp = f->protocol == QLatin1String("tcp");
            QCOMPARE(o.value(QLatin1String("forward")).toString().toLatin1(), tcp ? f->bytes0.toHex() : QByteArray());
            QCOMPARE(o.value(QLatin1String("backward")).toString().toLatin1(), tcp ? f->bytes1.toHex() : QByteArray());
            QVERIFY(o.value(QLatin1String("live")).toString().size() >= 2 * (f->bytes0.size() + f->bytes1.size()));
            QVERIFY(o.value(QLatin1String("packets")).toInt() > 0);
            followed.erase(f);  // the next conversation on the same ends is tshark's next stream
        }
    }
    const Run udp = run({QStringLiteral("--streams"), QStringLiteral("--filter"), QStringLiteral("udp"), dir + "lossy.tr"});
    QCOMPARE(udp.lines.size(), 1);
    QVERIFY(udp.lines[0].contains("\"packets\":4,\"live\":\"70696e67206f6e65"));  // "ping one"
}

// IPv4 and IPv6 in one trace: every mode takes every TCP and UDP packet with the
// keys it has for IPv4, addresses as compressed text; the hosts and their counts
// as tshark reads them (the capture helper's tshark reading beside the trace).
void TestNukdump::mixedTraceInEveryMode()
{
    const QString trace = NUK_TEST_DATA "/ipv6/mixed46.pcap";
    const auto tsv = fixtures::readTsv(trace + ".expected");  // time, source, destination, ...
    const QString v6 = QStringLiteral("fd00:1234:5678:9abc:def0:1234:5678:9abc");
    const Run list = run({trace});
    QCOMPARE(list.lines.size(), qsizetype(tsv.size()));
    for (std::size_t n = 0; n < tsv.size(); ++n) {
        const QJsonObject o = QJsonDocument::fromJson(list.lines[qsizetype(n)]).object();
        QCOMPARE(keysOf(list.lines[qsizetype(n)]), (QStringList{"no", "time", "src", "dst", "protocol", "info", "hex", "data"}));
        QCOMPARE((QStringList{o["src"].toString(), o["dst"].toString()}), (QStringList{tsv[n][1], tsv[n][2]}));
    }
    const Run tree = run({QStringLiteral("--tree"), trace});
    QCOMPARE(tree.lines.size(), qsizetype(tsv.size()));
    QVERIFY(tree.lines.last().contains("Internet Protocol Version 6"));
    const Run timeline = run({QStringLiteral("--timeline"), trace});
    QCOMPARE(timeline.lines.size(), qsizetype(tsv.size()));
    QCOMPARE(keysOf(timeline.lines.last()), keysOf(run({QStringLiteral("--timeline"), NUK_TEST_DATA "/timeline/conversation.pcap"}).lines.last()));
    QVERIFY(timeline.lines.last().contains(("\"from\":\"fd00:1234:5678:9abc::b  <53> \",\"to\":\"" + v6 + "  <5353> \"").toLatin1()));
    const Run state = run({QStringLiteral("--tcpstate"), QStringLiteral("--filter"), QStringLiteral("ip6 and tcp"), trace});
    QCOMPARE(state.lines.size(), 10);  // the same exchange as over IPv4, the same steps
    QCOMPARE(state.lines, run({QStringLiteral("--tcpstate"), QStringLiteral("--filter"), QStringLiteral("ip and tcp"), trace}).lines);
    // Hosts: packets sent and received per address, as tshark counts them.
    QMap<QString, QPair<int, int>> counts;
    for (const QStringList& t : tsv) {
        ++counts[t[1]].first;
        ++counts[t[2]].second;
    }
    const Run hosts = run({QStringLiteral("--hosts"), trace});
    int nodes = 0;
    for (const QByteArray& line : hosts.lines) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (!o.contains(QLatin1String("address")))
            continue;
        ++nodes;
        const auto want = counts.value(o["address"].toString());
        QCOMPARE((QPair<int, int>(o["sent"].toInt(), o["received"].toInt())), want);
    }
    QCOMPARE(nodes, counts.size());
}

// --display after the capture filter selects the packets tcpdump selects with both,
// in the same order; a wrong expression fails with libpcap's message.
void TestNukdump::displayFilterAgreesWithTcpdump_data()
{
    QTest::addColumn<QString>("trace");
    QTest::addColumn<QString>("capture");
    QTest::addColumn<QString>("display");
    const QString data = QStringLiteral(NUK_TEST_DATA "/");
    const QStringList traces{"packets/loopback.tr", "connections/lossy.tr", "topology/hosts7.pcap", "config/filter.pcap",
                               "ipv6/mixed46.pcap"};
    const QStringList displays{"ip6", "port 80", "tcp[tcpflags] & tcp-syn != 0", "len > 100", "host 127.0.0.1",
                               "udp", "net 10.0.0.0/8", "ip[8] < 64 and greater 70"};
    for (const QString& trace : traces)
        for (const QString& display : displays)
            QTest::addRow("%s: %s", qPrintable(trace), qPrintable(display)) << data + trace << "tcp or udp" << display;
    QTest::newRow("capture and display") << data + traces[3] << "tcp" << "src host 127.0.0.1 and port 80";
}

void TestNukdump::displayFilterAgreesWithTcpdump()
{
    QFETCH(QString, trace);
    QFETCH(QString, capture);
    QFETCH(QString, display);
    const Run r = run({"--filter", capture, "--display", display, trace});
    QCOMPARE(r.exitCode, 0);
    QTemporaryDir dir;
    const QString selected = dir.filePath(QStringLiteral("selected.pcap"));
    const Run t = testproc::runProgram(QStringLiteral("tcpdump"),
                                       {"-nn", "-r", trace, "-w", selected, "(" + capture + ") and (" + display + ")"});
    QCOMPARE(t.exitCode, 0);
    const auto expected = fixtures::readTrace(selected);
    QCOMPARE(r.lines.size(), qsizetype(expected.size()));
    for (int n = 0; n < r.lines.size(); ++n) {
        const QByteArray hex = QJsonDocument::fromJson(r.lines[n]).object()["hex"].toString().toLatin1();
        QVERIFY2(expected[std::size_t(n)].frame.toHex().startsWith(hex), qPrintable(QString::number(n)));
    }
    if (QTest::currentDataTag() == QByteArray("capture and display")) {
        const Run wrong = run({"--display", "portt 80", trace});
        QCOMPARE(wrong.exitCode, 1);
        QVERIFY(wrong.lines.isEmpty() && wrong.err.contains("syntax error"));
    }
}

NUK_TEST_CLASS(TestNukdump)
#include "tst_nukdump.moc"
