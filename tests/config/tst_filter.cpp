// SPDX-License-Identifier: GPL-2.0-or-later
// The capture filter dialog: what a user can enter, the expression its Ok writes,
// and, checked against a real loopback trace with libpcap's own filter, the
// packets that expression selects (the same filter a live capture on lo runs).

#include "capture/settings.h"
#include "common/processes.h"
#include "common/testmain.h"
#include "config/filter.h"
#include "config/filterexpression.h"
#include "config/uihooks.h"
#include "tracepackets.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>
#include <unistd.h>

namespace {

bool isTcp(const TracePacket& p) { return p.protocol == 6; }
bool isUdp(const TracePacket& p) { return p.protocol == 17; }
using Entries = QList<QPair<QString, QString>>;  // address, port

// A dialog state the table rows describe: boxes, entries added through the
// fields and their Add buttons, the relationship buttons clicked in order.
struct DialogState {
    DialogState(bool tcp = true, bool udp = false, Entries dst = {}, Entries src = {}, QStringList clicks = {})
        : tcp(tcp), udp(udp), destinations(dst), sources(src), relationshipClicks(clicks)
    {
    }
    bool tcp, udp;
    Entries destinations, sources;
    QStringList relationshipClicks;  // "OR", "AND"
};

}  // namespace

Q_DECLARE_METATYPE(DialogState)
Q_DECLARE_METATYPE(PacketTest)

class FilterTest : public QObject {
    Q_OBJECT

    QStringList m_warnings;  // "title|text"
    QVector<TracePacket> m_packets;

    // Near the left edge: check boxes and radio buttons take clicks on their
    // indicator and text only, not on the whole stretched width.
    static void click(QAbstractButton* button)
    {
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
    }

    static void addEntry(Filter& dialog, bool destination, const QString& address, const QString& port)
    {
        (destination ? dialog.dstAddressField() : dialog.srcAddressField())->setText(address);
        (destination ? dialog.dstPortField() : dialog.srcPortField())->setText(port);
        QTest::mouseClick(destination ? dialog.dstAddButton() : dialog.srcAddButton(), Qt::LeftButton);
    }

    static void apply(Filter& dialog, const DialogState& state)
    {
        dialog.tabs()->setCurrentIndex(0);
        if (dialog.tcpBox()->isChecked() != state.tcp)
            click(dialog.tcpBox());
        if (dialog.udpBox()->isChecked() != state.udp)
            click(dialog.udpBox());
        dialog.tabs()->setCurrentIndex(1);
        for (const auto& [a, p] : state.destinations)
            addEntry(dialog, true, a, p);
        for (const auto& [a, p] : state.sources)
            addEntry(dialog, false, a, p);
        for (const QString& name : state.relationshipClicks)
            click(name == QLatin1String("OR") ? dialog.orButton() : dialog.andButton());
    }

private slots:
    void initTestCase()
    {
        m_packets = readTrace(NUK_TEST_DATA "/config/filter.pcap");
        QVERIFY2(m_packets.size() > 60, "the committed trace could not be read");
        // The trace tells a grouped expression from one that joins an entry's own
        // address and port with "or".
        QVERIFY(selected(m_packets, " tcp and (( dst host 127.0.0.5 and dst port 80) or ( dst port 22))") !=
                selected(m_packets, " tcp and  dst port 22 or  dst host 127.0.0.5 or  dst port 80"));
    }
    void init()
    {
        m_warnings.clear();
        nukui::setWarningHandler([this](QWidget*, const QString& title, const QString& text) {
            m_warnings << title + QLatin1Char('|') + text;
        });
        expression = QStringLiteral("untouched");
        deviceFlag = 0;
    }
    void cleanup() { nukui::setWarningHandler({}); }

    void addressAndPortChecks()
    {
        for (const char* good : {"10.0.0.1", "192.168.0.1", "0.0.0.0", "255.255.255.255"})
            QVERIFY2(checkIp(QString::fromLatin1(good)) == 0 && checkAddr(QString::fromLatin1(good)), good);
        for (const char* bad : {"1.2.3.4.5", "1.2.3", "1.2.3.256", "1..3.4", "1.2.3.x", "1.2.3.+4", "1.2. 3.4"})
            QVERIFY2(checkIp(QString::fromLatin1(bad)) != 0 && !checkAddr(QString::fromLatin1(bad)), bad);
        for (const char* bad : {"0", "65536", "http", "8o", "-1", "+80", "", "999999"})
            QVERIFY2(!checkPort(QString::fromLatin1(bad)), bad);
        for (const char* good : {"1", "80", "65535"})
            QVERIFY2(checkPort(QString::fromLatin1(good)), good);
    }

    void refusedInput_data()
    {
        QTest::addColumn<bool>("destination");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("message");
        QTest::newRow("five parts") << true << "1.2.3.4.5" << "" << "Invalid Destination Address!";
        QTest::newRow("two ::") << true << "fd00::1::2" << "" << "Invalid Destination Address!";
        QTest::newRow("nine IPv6 groups") << false << "1:2:3:4:5:6:7:8:9" << "" << "Invalid Source IP Address!";
        QTest::newRow("unknown host") << true << "nuk-no-such-host.invalid" << "" << "Unknown Destination Address!";
        QTest::newRow("port 0") << true << "10.0.0.1" << "0" << "Invalid Destination Port!";
        QTest::newRow("source port") << false << "" << "70000" << "Invalid Source Port!";
    }
    void refusedInput()
    {
        QFETCH(bool, destination);
        QFETCH(QString, address);
        QFETCH(QString, port);
        QFETCH(QString, message);
        Filter dialog;
        addEntry(dialog, destination, address, port);
        QCOMPARE(m_warnings, QStringList("Invalid Address|" + message));
        QCOMPARE(dialog.dstList()->count() + dialog.srcList()->count(), 0);
        QVERIFY((destination ? dialog.dstAddressField() : dialog.srcAddressField())->text().isEmpty());
        if (message.contains(QLatin1String("Port")))  // the port stays for correcting
            QCOMPARE((destination ? dialog.dstPortField() : dialog.srcPortField())->text(), port);
    }

    void expressionsAndTheirPackets_data()
    {
        QTest::addColumn<DialogState>("state");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<PacketTest>("meaning");
        QTest::addColumn<QString>("trace");  // empty: the loopback trace
        const auto row = [](const char* name, const DialogState& state, const QString& expected, PacketTest meaning,
                            const QString& trace = {}) { QTest::newRow(name) << state << expected << meaning << trace; };
        row("tcp", {}, " tcp", isTcp);
        row("no box", {false}, " tcp", isTcp);
        row("udp", {false, true}, " udp", isUdp);
        row("tcp and udp", {true, true}, " tcp or udp", [](const TracePacket& p) { return isTcp(p) || isUdp(p); });
        row("host and port, or port", {true, false, {{"127.0.0.5", "80"}, {"", "22"}}},
            " tcp and (( dst host 127.0.0.5 and dst port 80) or ( dst port 22))", [](const TracePacket& p) {
                return isTcp(p) && ((p.dst == "127.0.0.5" && p.dport == 80) || p.dport == 22);
            });
        row("both protocols to a host", {true, true, {{"127.0.0.5", ""}}}, " (tcp or udp) and (( dst host 127.0.0.5))",
            [](const TracePacket& p) { return (isTcp(p) || isUdp(p)) && p.dst == "127.0.0.5"; });
        const Entries host5{{"127.0.0.5", ""}}, host9{{"127.0.0.9", "1024"}};
        const PacketTest either = [](const TracePacket& p) {
            return isTcp(p) && (p.dst == "127.0.0.5" || (p.src == "127.0.0.9" && p.sport == 1024));
        };
        const char* eitherText = " tcp and ((( dst host 127.0.0.5)) or (( src host 127.0.0.9 and src port 1024)))";
        row("either list", {true, false, host5, host9, {"OR"}}, eitherText, either);
        row("both lists", {true, false, host5, host9, {"OR", "AND"}},
            " tcp and ((( dst host 127.0.0.5)) and (( src host 127.0.0.9 and src port 1024)))",
            [](const TracePacket& p) {
                return isTcp(p) && p.dst == "127.0.0.5" && p.src == "127.0.0.9" && p.sport == 1024;
            });
        row("last click counts", {true, false, host5, host9, {"AND", "OR"}}, eitherText, either);
        row("udp source port", {false, true, {}, {{"", "1024"}}}, " udp and (( src port 1024))",
            [](const TracePacket& p) { return isUdp(p) && p.sport == 1024; });
        row("two hosts or a source port", {true, false, {{"127.0.0.7", "80"}, {"127.0.0.9", ""}}, {{"", "1024"}}, {"OR"}},
            " tcp and ((( dst host 127.0.0.7 and dst port 80) or ( dst host 127.0.0.9)) or (( src port 1024)))",
            [](const TracePacket& p) {
                return isTcp(p) && ((p.dst == "127.0.0.7" && p.dport == 80) || p.dst == "127.0.0.9" || p.sport == 1024);
            });
        row("host name", {true, false, {{"localhost", ""}}}, " tcp and (( dst host localhost))",
            [](const TracePacket& p) { return isTcp(p) && p.dst == "127.0.0.1"; });
        // IPv6 addresses, checked against the mixed IPv4/IPv6 trace: compressed as
        // inet_ntop writes them, an IPv4-mapped one taken as the IPv4 address it is.
        const QString mixed = QStringLiteral(NUK_TEST_DATA "/ipv6/mixed46.pcap");
        const QString longAddress = QStringLiteral("fd00:1234:5678:9abc:def0:1234:5678:9abc");
        row("long address", {true, false, {{longAddress, ""}}}, " tcp and (( dst host " + longAddress + "))",
            [=](const TracePacket& p) { return isTcp(p) && p.dst == longAddress; }, mixed);
        row("compressed", {true, false, {{"FD00:1234:5678:9ABC:0:0:0:B", "80"}}},
            " tcp and (( dst host fd00:1234:5678:9abc::b and dst port 80))",
            [](const TracePacket& p) { return isTcp(p) && p.dst == "fd00:1234:5678:9abc::b" && p.dport == 80; }, mixed);
        row("mapped", {true, false, {{"::ffff:10.78.0.2", ""}}}, " tcp and (( dst host 10.78.0.2))",
            [](const TracePacket& p) { return isTcp(p) && p.dst == "10.78.0.2"; }, mixed);
    }
    void expressionsAndTheirPackets()
    {
        QFETCH(DialogState, state);
        QFETCH(QString, expected);
        QFETCH(PacketTest, meaning);
        QFETCH(QString, trace);
        const QVector<TracePacket> packets = trace.isEmpty() ? m_packets : readTrace(trace.toLocal8Bit().constData());
        Filter dialog;
        dialog.show();
        apply(dialog, state);
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
        QCOMPARE(m_warnings, QStringList());
        QCOMPARE(expression, expected);
        const QVector<int> wanted = selected(packets, {}, meaning);
        QVERIFY(!wanted.isEmpty() && wanted.size() < packets.size());
        QCOMPARE(selected(packets, expression), wanted);
    }

    // The compile runs in a child while the dialog's event loop keeps turning; Cancel
    // ends it. Past the limits the dialog says so and stays open.
    void longExpressionKeepsTheDialogResponsive_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("cancelled while it compiles") << true;
        QTest::newRow("past the limits") << false;
    }
    void longExpressionKeepsTheDialogResponsive()
    {
        QFETCH(bool, cancel);
        Filter dialog;
        dialog.show();
        for (int port = 1; port <= 2000; ++port)
            dialog.dstList()->addItem(filterEntryText(FilterSide::Destination, {QString(), QString::number(port)}));
        int ticks = 0;
        bool sawCheck = false;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&] {
            ++ticks;
            sawCheck = sawCheck || (!testproc::childrenOf(::getpid()).isEmpty() && dialog.checkingLabel()->isVisible() && !dialog.okButton()->isEnabled());
            if (cancel && ticks == 20)
                QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
        });
        ticker.start(10);
        if (!cancel)
            qputenv("NUK_FILTER_CPU_SECONDS", "1");
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);  // returns once the check is over
        qunsetenv("NUK_FILTER_CPU_SECONDS");
        QVERIFY(sawCheck);
        QVERIFY(testproc::childrenOf(::getpid()).isEmpty());
        QCOMPARE(expression, QStringLiteral("untouched"));
        QCOMPARE(m_warnings, cancel ? QStringList() : QStringList("Invalid Address|filter expression too complex"));
        QCOMPARE(dialog.isVisible(), !cancel);
        QVERIFY(dialog.okButton()->isEnabled() || cancel);
    }
};

NUK_TEST_CLASS(FilterTest)
#include "tst_filter.moc"
