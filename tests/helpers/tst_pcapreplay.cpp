// SPDX-License-Identifier: GPL-2.0-or-later
// Replays the committed traces through the real capture helper and a real pipe.

#include "helperrunner.h"
#include "common/processes.h"
#include "common/testmain.h"

#include "capture/recordreader.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString trace(const char* name) { return QStringLiteral(NUK_TEST_DATA "/") + QLatin1String(name); }

// The IPv4 packets of veth-eth.pcap in the link layers of other systems, and how many
// frames without IPv4 or IPv6 TCP/UDP each holds (tests/data/links/make-link-traces.py).
const struct {
    const char* file;
    const char* withoutIpv4;
} kOtherLinks[] = {
    {"links/null.pcap", "2 frames"},  {"links/loop.pcap", "1 frame"},  {"links/ppp.pcap", "2 frames"},
    {"links/chdlc.pcap", "2 frames"}, {"links/pktap.pcap", "2 frames"}, {"links/radiotap.pcap", "3 frames"},
    {"links/prism.pcap", "1 frame"},  {"links/avs.pcap", "1 frame"},
};

// A pcap (or pcapng) file of link type `linkType` with one empty frame.
QString writeTraceOfLinkType(quint32 linkType, const QString& target, bool pcapng = false)
{
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly))
        return {};
    if (pcapng) {  // little-endian section header, interface description, enhanced packet
        const quint32 blocks[] = {0x0A0D0D0A, 28, 0x1A2B3C4D, 1, ~0u, ~0u, 28, 1, 20, linkType, 0, 20,
                                  6,          36, 0,          0, 0,   4,   4,  0, 36};
        out.write(reinterpret_cast<const char*>(blocks), sizeof blocks);
        return target;
    }
    const quint32 header[] = {0xa1b2c3d4, 0x00040002, 0, 0, 65535, linkType, 1, 0, 4, 4};
    out.write(reinterpret_cast<const char*>(header), sizeof header);
    out.write("\0\0\0\0", 4);
    return target;
}

QString defaultTraceIn(const QTemporaryDir& dir)
{
    return dir.path() + QStringLiteral("/%1_NukDefaultTraceFile").arg(getuid());
}

// The same trace with an 802.1Q tag (VLAN 42) inserted after the MAC addresses of
// every frame; time stamps and addresses stay as they were.
QString writeTaggedCopy(const QString& source, const QString& target)
{
    QFile in(source);
    QFile out(target);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        return {};
    const QByteArray data = in.readAll();
    QByteArray tagged = data.left(24);  // little-endian pcap file header, Ethernet
    for (qsizetype at = 24; at + 16 <= data.size();) {
        QByteArray header = data.mid(at, 16);
        quint32 lengths[2];  // captured, original
        std::memcpy(lengths, header.constData() + 8, 8);
        const QByteArray frame = data.mid(at + 16, lengths[0]);
        at += 16 + lengths[0];
        lengths[0] += 4;
        lengths[1] += 4;
        std::memcpy(header.data() + 8, lengths, 8);
        tagged += header + frame.left(12) + QByteArray::fromHex("8100002a") + frame.mid(12);
    }
    out.write(tagged);
    return target;
}

// "port 1 or port 2 or ... or port N": libpcap's optimizer takes minutes over 3,000 terms.
QString longPortList(int terms)
{
    QStringList ports;
    for (int i = 1; i <= terms; ++i)
        ports << QStringLiteral("port %1").arg(i);
    return ports.join(QStringLiteral(" or "));
}

bool isGone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

QTemporaryDir& scratch()
{
    static QTemporaryDir dir;
    return dir;
}
}  // namespace

class TestPcapReplay : public QObject {
    Q_OBJECT
private slots:
    void matchesTshark_data();
    void matchesTshark();
    void twinsGiveTheSameRecords_data();
    void twinsGiveTheSameRecords();
    void defaultTraceFile();
    void userErrors_data();
    void userErrors();
    void closedPipeEndsQuietly();
    void stopNeverCutsARecord();
    void stopEndsALongFilterCompile_data();
    void stopEndsALongFilterCompile();
};

void TestPcapReplay::matchesTshark_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("expected");  // what tshark reads from it
    QTest::addColumn<QByteArrayList>("stderrLines");  // what each line of standard error holds
    // The fragmented datagram's second part carries no UDP header and is left out; the
    // Ethernet captures begin with two ARP frames.
    const QByteArrayList skipped{"2 non-first IP fragments skipped", "2 frames without IPv4 or IPv6 TCP/UDP skipped"};
    for (const char* f : {"veth-eth.pcap", "veth-eth.pcapng", "veth-cooked.pcap", "veth-cooked2.pcap"})
        QTest::newRow(f) << trace(f) << trace(f) << skipped;
    QTest::newRow("tun-raw.pcap") << trace("tun-raw.pcap") << trace("tun-raw.pcap") << QByteArrayList{};
    // Interfaces of four link types, then a section of a fifth (tests/data/make-multi-link.sh).
    QTest::newRow("multi-link.pcapng") << trace("multi-link.pcapng") << trace("multi-link.pcapng")
                                       << QByteArrayList{"4 non-first IP fragments skipped", "5 frames without IPv4 or IPv6 TCP/UDP skipped"};
    // A damaged file is delivered up to the damage, which ends the replay as a failure.
    QTest::newRow("cut in the last packet") << trace("veth-truncated.pcap") << trace("veth-truncated.pcap")
                                            << skipped + QByteArrayList{"1 frame skipped", "is damaged"};
    QTest::newRow("garbage appended") << trace("veth-garbage.pcap") << trace("veth-garbage.pcap")
                                      << skipped + QByteArrayList{"1 frame skipped", "is damaged"};
    QTest::newRow("pcapng cut in a packet")
        << trace("multi-link-cut.pcapng") << trace("multi-link-cut.pcapng")
        << QByteArrayList{"4 frames without IPv4 or IPv6 TCP/UDP skipped", "1 frame skipped",
                          "multi-link-cut.pcapng is damaged; replay ends here: the file ends inside a block"};
    for (const auto& link : kOtherLinks)
        QTest::newRow(link.file) << trace(link.file) << trace("veth-eth.pcap")
                                 << QByteArrayList{skipped[0], QByteArray(link.withoutIpv4) + " without IPv4 or IPv6 TCP/UDP skipped"};
    // IPv6 (tests/data/ipv6/make-*): neighbour discovery and the other ICMPv6 frames are
    // skipped, and so are the later fragments of a datagram; the veth pair's packets in
    // every link type read.
    const QByteArrayList skipped6{"2 non-first IP fragments skipped", "10 frames without IPv4 or IPv6 TCP/UDP skipped"};
    for (const char* f : {"veth6-eth", "veth6-cooked", "veth6-cooked2"})
        QTest::newRow(f) << trace("ipv6/") + f + ".pcap" << trace("ipv6/") + f + ".pcap" << skipped6;
    for (const char* f : {"vlan6", "raw6", "null6", "loop6", "ppp6", "chdlc6", "pktap6", "radiotap6"})
        QTest::newRow(f) << trace("ipv6/") + f + ".pcap" << trace("ipv6/veth6-eth.pcap") << skipped6;
    QTest::newRow("lo6-http") << trace("ipv6/lo6-http.pcap") << trace("ipv6/lo6-http.pcap") << QByteArrayList{};
    QTest::newRow("tun6-raw") << trace("ipv6/tun6-raw.pcap") << trace("ipv6/tun6-raw.pcap")
                              << QByteArrayList{"1 frame without IPv4 or IPv6 TCP/UDP skipped"};
    QTest::newRow("mixed46") << trace("ipv6/mixed46.pcap") << trace("ipv6/mixed46.pcap")
                             << QByteArrayList{"3 frames without IPv4 or IPv6 TCP/UDP skipped"};
    // ESP, an unknown next header and "no next header" end the walk.
    QTest::newRow("crafted6") << trace("ipv6/crafted6.pcap") << trace("ipv6/crafted6.pcap")
                              << QByteArrayList{"3 non-first IP fragments skipped",
                                                "3 frames without IPv4 or IPv6 TCP/UDP skipped"};
}

void TestPcapReplay::matchesTshark()
{
    QFETCH(QString, file);
    QFETCH(QString, expected);
    QFETCH(QByteArrayList, stderrLines);
    QTemporaryDir dir;
    // Asked for, the replay also tells how far it has come and how many records it made.
    qputenv("NUK_PROGRESS", "1");
    const ReplayResult r = replayTrace(file, QStringLiteral("tcp or udp"), dir.path());
    qunsetenv("NUK_PROGRESS");
    const bool damaged = !stderrLines.isEmpty() && stderrLines.last().contains("is damaged");
    QCOMPARE(r.status, damaged ? 1 : 0);
    QVERIFY(r.records.size() >= 5);
    const QString diff = compareWithExpected(r, expected + QStringLiteral(".expected"));
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
    QByteArrayList others;  // the lines besides the progress reports
    for (const QByteArray& line : r.stderrText.split('\n'))
        if (!line.isEmpty() && !line.startsWith("pcap: replay "))
            others << line;
    for (const QByteArray& line : stderrLines)
        QVERIFY2(r.stderrText.contains(line), r.stderrText.constData());
    QCOMPARE(others.size(), stderrLines.size());
    const QByteArray start = "pcap: replay progress 0 ";
    const QByteArray size = ' ' + QByteArray::number(QFileInfo(file).size()) + '\n';
    QVERIFY2(r.stderrText.startsWith(start) && r.stderrText.indexOf(size) > start.size(), r.stderrText.constData());
    if (damaged) {  // the reason comes last, for the GUI's message box; no success is reported
        QVERIFY2(others.last().contains(stderrLines.last()), r.stderrText.constData());
        QVERIFY2(!r.stderrText.contains("pcap: replay finished"), r.stderrText.constData());
        return;
    }
    QVERIFY2(r.stderrText.contains("pcap: replay finished " + QByteArray::number(qulonglong(r.records.size())) + '\n'),
             r.stderrText.constData());
}

void TestPcapReplay::twinsGiveTheSameRecords_data()
{
    QTest::addColumn<QString>("twin");
    QTest::addColumn<bool>("sameCapture");  // same file in another format: time and link header too
    QTest::addColumn<bool>("zeroAddresses");  // no Ethernet addresses on the link
    QTest::newRow("pcapng") << trace("veth-eth.pcapng") << true << false;
    // The port filter must see a tagged frame without its tag.
    QTest::newRow("802.1Q") << writeTaggedCopy(trace("veth-eth.pcap"), scratch().filePath("tagged.pcap")) << true
                            << false;
    QTest::newRow("cooked v1") << trace("veth-cooked.pcap") << false << true;
    QTest::newRow("cooked v2") << trace("veth-cooked2.pcap") << false << true;
    // PKTAP's TCP frames are the Ethernet ones; its UDP ones came through a tunnel.
    for (const auto& link : kOtherLinks)
        QTest::newRow(link.file) << trace(link.file) << false << (QLatin1String(link.file) != "links/pktap.pcap");
}

void TestPcapReplay::twinsGiveTheSameRecords()
{
    QFETCH(QString, twin);
    QFETCH(bool, sameCapture);
    QFETCH(bool, zeroAddresses);
    QTemporaryDir dir;
    // A port filter runs as a filter program on each frame's Ethernet view.
    const QString filter = QStringLiteral("tcp port 5000 or udp port 6001");
    const ReplayResult eth = replayTrace(trace("veth-eth.pcap"), filter, dir.path());
    const ReplayResult other = replayTrace(twin, filter, dir.path());
    QCOMPARE(other.status, 0);
    QVERIFY(eth.records.size() > 10);
    QCOMPARE(other.records.size(), eth.records.size());
    for (std::size_t i = 0; i < eth.records.size(); ++i) {
        QCOMPARE(recordBytes(other.records[i], sameCapture), recordBytes(eth.records[i], sameCapture));
        // Without Ethernet addresses: zero MACs and the IPv4 type.
        if (zeroAddresses)
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(other.records[i].GetEthernetHeader()), 14),
                     QByteArray::fromHex("0000000000000000000000000800"));
    }
}

// The copy the helper keeps (owner-only) replays to the same records, and it is
// never written through a link planted in its place.
void TestPcapReplay::defaultTraceFile()
{
    QTemporaryDir dir;
    const QString saved = dir.path() + QStringLiteral("/saved.tr");
    // The saved copy replays to the same records, IPv6 ones (the mixed trace) too.
    for (const char* source : {"veth-cooked.pcap", "ipv6/mixed46.pcap"}) {
        const ReplayResult first = replayTrace(trace(source), QStringLiteral("tcp or udp"), dir.path());
        QVERIFY(!first.records.empty());
        struct stat st;
        QCOMPARE(::stat(defaultTraceIn(dir).toLocal8Bit().constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
        QFile::remove(saved);
        QVERIFY(QFile::rename(defaultTraceIn(dir), saved));
        const ReplayResult again = replayTrace(saved, QStringLiteral("tcp or udp"), dir.path());
        QCOMPARE(again.records.size(), first.records.size());
        for (std::size_t i = 0; i < first.records.size(); ++i) {
            QCOMPARE(recordBytes(again.records[i]), recordBytes(first.records[i]));
            QCOMPARE(again.fixed[i], first.fixed[i]);
        }
    }

    // A link, a FIFO or another user's file planted at the name is refused with its
    // reason, the capture still runs, and what the link points to is left alone.
    const QByteArray before = testproc::readFile(saved);
    const QByteArray refusal = defaultTraceIn(dir).toLocal8Bit() + " is not a regular file owned by you; not used";
    for (const char* planted : {"link", "fifo", "foreign"}) {
        QFile::remove(defaultTraceIn(dir));
        const QByteArray name = defaultTraceIn(dir).toLocal8Bit();
        if (planted == std::string("link")) {
            QVERIFY(QFile::link(saved, defaultTraceIn(dir)));
        } else if (planted == std::string("fifo")) {
            QCOMPARE(::mkfifo(name.constData(), 0666), 0);
        } else {
            if (geteuid() != 0)
                break;  // only root can give a file away
            QFile foreign(defaultTraceIn(dir));
            QVERIFY(foreign.open(QIODevice::WriteOnly));
            QVERIFY(::fchmod(foreign.handle(), 0666) == 0 && ::fchown(foreign.handle(), 65534, 65534) == 0);
        }
        const ReplayResult r = replayTrace(trace("veth-eth.pcap"), QStringLiteral("tcp"), dir.path());
        QCOMPARE(r.status, 0);
        QVERIFY(!r.records.empty());
        QVERIFY2(r.stderrText.contains(refusal), r.stderrText.constData());
    }
    QCOMPARE(testproc::readFile(saved), before);
    QCOMPARE(QFileInfo(defaultTraceIn(dir)).size(), 0);
    if (geteuid() != 0)
        QSKIP("only root can plant another user's file (the link and the FIFO were refused)");
}

void TestPcapReplay::userErrors_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("no such file") << QStringLiteral("/nonexistent/x.tr") << QStringLiteral("tcp") << 1
                                  << QByteArray("No such file or directory");
    QTest::newRow("not a trace") << QStringLiteral(NUK_TEST_DATA "/make-traces.sh") << QStringLiteral("tcp") << 1
                                 << QByteArray("is not a trace file");
    QTest::newRow("bad filter") << trace("veth-eth.pcap") << QStringLiteral("tcp port 80 and and") << 2
                                << QByteArray("\"tcp port 80 and and\"");
    QTest::newRow("unknown filter word") << trace("veth-eth.pcap") << QStringLiteral("hostt 1.2.3.4") << 2
                                         << QByteArray("hostt 1.2.3.4");
    QTest::newRow("USB link type") << writeTraceOfLinkType(189, scratch().filePath("usb.pcap")) << QStringLiteral("tcp")
                                   << 1 << QByteArray("has link type USB_LINUX, which is not supported (Ethernet, ");
    QTest::newRow("USB link type, pcapng") << writeTraceOfLinkType(189, scratch().filePath("usb.pcapng"), true)
                                           << QStringLiteral("tcp") << 1
                                           << QByteArray("usb.pcapng has no frames of a supported link type (USB_LINUX)\n");
    // Past the compile's CPU limit (one second here).
    QTest::newRow("filter past the limits") << trace("veth-eth.pcap") << longPortList(3000) << 2
                                            << QByteArray("pcap: filter expression too complex: \"port 1 or port 2 ");
}

void TestPcapReplay::userErrors()
{
    QFETCH(QString, file);
    QFETCH(QString, filter);
    QFETCH(int, status);
    QFETCH(QByteArray, message);
    QTemporaryDir dir;
    qputenv("NUK_FILTER_CPU_SECONDS", "1");
    const ReplayResult r = replayTrace(file, filter, dir.path());
    qunsetenv("NUK_FILTER_CPU_SECONDS");
    QCOMPARE(r.status, status);
    QVERIFY(r.records.empty());
    QVERIFY2(r.stderrText.contains(message), r.stderrText.constData());
    QCOMPARE(r.stderrText.count('\n'), 1);  // one clear line
    // The previous capture's trace file is left for Save as.
    QVERIFY(!QFile::exists(defaultTraceIn(dir)));
}

void TestPcapReplay::closedPipeEndsQuietly()
{
    QTemporaryDir dir;
    HelperRunner helper(QStringLiteral("pcap"), pcapArgs(trace("veth-eth.pcap"), QStringLiteral("tcp")), dir.path());
    QVERIFY(helper.start());
    helper.closeReadEnd();  // the reader is gone before the first record
    QCOMPARE(helper.wait(), 0);
    QVERIFY2(!helper.stderrText().contains("cannot write"), helper.stderrText().constData());
}

void TestPcapReplay::stopNeverCutsARecord()
{
    // Far more than the pipe holds, so the helper is blocked in a write when it is stopped.
    QTemporaryDir dir;
    const QString big = dir.path() + QStringLiteral("/big.pcap");
    QCOMPARE(QProcess::execute(QStringLiteral("python3"), {QStringLiteral(NUK_SOURCE_DIR "/bench/pipeline/gen_trace.py"), big,
                                                          QStringLiteral("20000")}),
             0);
    for (int round = 0; round < 3; ++round) {
        HelperRunner helper(QStringLiteral("pcap"), pcapArgs(big, QStringLiteral("tcp or udp")), dir.path());
        QVERIFY(helper.start());
        // Stopped once it writes (its handlers are in place then), however busy the machine.
        QVERIFY(helper.waitForOutput(10000));
        QTest::qWait(50 * round);
        QCOMPARE(::kill(helper.pid(), SIGTERM), 0);
        // The write in progress returns part done; the reader comes back a moment later.
        QTest::qWait(100);
        const QByteArray bytes = helper.readAll();
        QCOMPARE(helper.wait(), 0);
        RecordFramer framer;
        framer.feed(reinterpret_cast<const unsigned char*>(bytes.constData()), std::size_t(bytes.size()));
        RawPacket raw;
        int records = 0;
        for (RecordFramer::Result r; (r = framer.next(raw)) != RecordFramer::Result::NeedMore; ++records)
            QCOMPARE(r, RecordFramer::Result::Record);
        QVERIFY2(framer.buffered() == 0, qPrintable(QStringLiteral("%1 bytes end inside a record").arg(bytes.size())));
        QVERIFY(records > 100);
        QVERIFY(records < 20000);  // it did stop early
    }
}

void TestPcapReplay::stopEndsALongFilterCompile_data()
{
    QTest::addColumn<bool>("throughNukdump");
    QTest::addColumn<int>("signo");
    QTest::newRow("nukdump, SIGTERM") << true << SIGTERM;
    QTest::newRow("nukdump, SIGINT") << true << SIGINT;
    QTest::newRow("helper, SIGTERM") << false << SIGTERM;
}

// While the filter compiles, a stop ends nukdump, the helper and the compiling child
// within a second, and nukdump's private directory is gone.
void TestPcapReplay::stopEndsALongFilterCompile()
{
    QFETCH(bool, throughNukdump);
    QFETCH(int, signo);
    QTemporaryDir dir;
    QProcess process;
    // nukdump's private directory goes to TMPDIR
    process.setProcessEnvironment(testproc::nukEnvironment({"TMPDIR=" + dir.path(), "NUK_TMPDIR=" + dir.path()}));
    const QStringList filter{QStringLiteral("--filter"), longPortList(3000)};
    if (throughNukdump)
        process.start(QStringLiteral(NUK_BUILD_DIR "/nuk/nukdump"), filter + QStringList{trace("veth-eth.pcap")});
    else
        process.start(QStringLiteral(NUK_BUILD_DIR "/nuk/pcap"), pcapArgs(trace("veth-eth.pcap"), filter[1]).replaceInStrings("%fd", "1"));
    QVERIFY(process.waitForStarted());
    // The compiling child is the grandchild under nukdump, else the helper's child.
    const pid_t top = pid_t(process.processId());
    QList<pid_t> tree{top};
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            tree = {top};
            for (int depth = throughNukdump ? 2 : 1; depth > 0 && tree.size() < 3; --depth) {
                const QList<pid_t> below = testproc::childrenOf(tree.last());
                if (below.size() != 1)
                    return false;
                tree << below.first();
            }
            return tree.size() == (throughNukdump ? 3 : 2);
        }(),
        20000);
    QCOMPARE(::kill(top, signo), 0);
    QVERIFY(process.waitForFinished(1000));
    if (throughNukdump) {
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);  // it dies of the signal, as asked
        QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    } else {
        QCOMPARE(process.exitCode(), 0);
    }
    for (pid_t pid : tree)
        QTRY_VERIFY_WITH_TIMEOUT(isGone(pid), 1000);
}

NUK_TEST_CLASS(TestPcapReplay)
#include "tst_pcapreplay.moc"
