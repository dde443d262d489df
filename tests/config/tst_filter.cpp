// The capture filter dialog: what a user can enter, the expression its Ok writes,
// and, checked against a real loopback trace with libpcap's own filter, the
// packets that expression selects.

#include "capture/settings.h"
#include "config/filter.h"
#include "config/filterexpression.h"
#include "config/uihooks.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>
#include <pcap/pcap.h>

#include <functional>

namespace {

// One packet of the trace, reduced to what the filters look at.
struct TracePacket {
    int protocol = 0;
    QString src, dst;
    int sport = -1, dport = -1;
};
using PacketTest = std::function<bool(const TracePacket&)>;

const char* kTrace = NUK_TEST_DATA "/config/filter.pcap";

QVector<TracePacket> readTrace()
{
    QVector<TracePacket> packets;
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* handle = pcap_open_offline(kTrace, error);
    if (!handle)
        return packets;
    pcap_pkthdr* header;
    const u_char* data;
    while (pcap_next_ex(handle, &header, &data) == 1) {
        TracePacket p;
        if (header->caplen >= 34 && data[12] == 0x08 && data[13] == 0x00) {
            const u_char* ip = data + 14;
            const unsigned ihl = (ip[0] & 0x0f) * 4u;
            p.protocol = ip[9];
            char text[INET_ADDRSTRLEN];
            p.src = QString::fromLatin1(inet_ntop(AF_INET, ip + 12, text, sizeof text));
            p.dst = QString::fromLatin1(inet_ntop(AF_INET, ip + 16, text, sizeof text));
            if ((p.protocol == 6 || p.protocol == 17) && header->caplen >= 14 + ihl + 4) {
                p.sport = (ip[ihl] << 8) | ip[ihl + 1];
                p.dport = (ip[ihl + 2] << 8) | ip[ihl + 3];
            }
        }
        packets << p;
    }
    pcap_close(handle);
    return packets;
}

// Indices of the trace packets that libpcap's filter for `expression` accepts.
QVector<int> selectedByPcap(const QString& expression)
{
    QVector<int> selected;
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* handle = pcap_open_offline(kTrace, error);
    if (!handle)
        return selected;
    bpf_program program;
    if (pcap_compile(handle, &program, expression.toUtf8().constData(), 1, PCAP_NETMASK_UNKNOWN) == 0) {
        pcap_pkthdr* header;
        const u_char* data;
        for (int index = 0; pcap_next_ex(handle, &header, &data) == 1; ++index)
            if (pcap_offline_filter(&program, header, data))
                selected << index;
        pcap_freecode(&program);
    }
    pcap_close(handle);
    return selected;
}

QVector<int> selectedByMeaning(const QVector<TracePacket>& packets, const PacketTest& test)
{
    QVector<int> selected;
    for (int index = 0; index < packets.size(); ++index)
        if (test(packets[index]))
            selected << index;
    return selected;
}

bool isTcp(const TracePacket& p) { return p.protocol == 6; }
bool isUdp(const TracePacket& p) { return p.protocol == 17; }

// A dialog state the table rows describe: boxes, entries added through the
// fields and their Add buttons, the relationship buttons clicked in order.
struct DialogState {
    bool tcp = true;
    bool udp = false;
    QList<QPair<QString, QString>> destinations;
    QList<QPair<QString, QString>> sources;
    QStringList relationshipClicks;  // "OR", "AND"
};

struct Warning {
    QString title, text;
};

}  // namespace

Q_DECLARE_METATYPE(DialogState)
Q_DECLARE_METATYPE(PacketTest)

class FilterTest : public QObject {
    Q_OBJECT

    QList<Warning> m_warnings;
    QVector<TracePacket> m_packets;

    // Near the left edge: check boxes and radio buttons take clicks on their
    // indicator and text only, not on the whole stretched width.
    static void click(QAbstractButton* button)
    {
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
    }

    void setBox(QCheckBox* box, bool checked)
    {
        if (box->isChecked() != checked)
            click(box);
    }

    void addEntry(QLineEdit* address, QLineEdit* port, QPushButton* add, const QString& a, const QString& p)
    {
        address->setText(a);
        port->setText(p);
        QTest::mouseClick(add, Qt::LeftButton);
    }

    void apply(Filter& dialog, const DialogState& state)
    {
        dialog.tabs()->setCurrentIndex(0);
        setBox(dialog.tcpBox(), state.tcp);
        setBox(dialog.udpBox(), state.udp);
        dialog.tabs()->setCurrentIndex(1);
        for (const auto& [a, p] : state.destinations)
            addEntry(dialog.dstAddressField(), dialog.dstPortField(), dialog.dstAddButton(), a, p);
        for (const auto& [a, p] : state.sources)
            addEntry(dialog.srcAddressField(), dialog.srcPortField(), dialog.srcAddButton(), a, p);
        for (const QString& name : state.relationshipClicks)
            click(name == QLatin1String("OR") ? dialog.orButton() : dialog.andButton());
    }

private slots:
    void initTestCase()
    {
        m_packets = readTrace();
        QVERIFY2(m_packets.size() > 60, "the committed trace could not be read");
        // The trace tells a grouped expression from one that joins an entry's own
        // address and port with "or".
        QVERIFY(selectedByPcap(" tcp and (( dst host 127.0.0.5 and dst port 80) or ( dst port 22))") !=
                selectedByPcap(" tcp and  dst port 22 or  dst host 127.0.0.5 or  dst port 80"));
    }
    void init()
    {
        m_warnings.clear();
        nukui::setWarningHandler([this](QWidget*, const QString& title, const QString& text) {
            m_warnings << Warning{title, text};
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

    void entriesOfTheLists()
    {
        Filter dialog;
        addEntry(dialog.dstAddressField(), dialog.dstPortField(), dialog.dstAddButton(), "10.1.2.3", "80");
        addEntry(dialog.dstAddressField(), dialog.dstPortField(), dialog.dstAddButton(), "", "22");
        addEntry(dialog.srcAddressField(), dialog.srcPortField(), dialog.srcAddButton(), "", "53");
        addEntry(dialog.srcAddressField(), dialog.srcPortField(), dialog.srcAddButton(), "010.0.0.1", "");
        addEntry(dialog.dstAddressField(), dialog.dstPortField(), dialog.dstAddButton(), "", "");  // adds nothing
        QVERIFY(m_warnings.isEmpty());
        QCOMPARE(dialog.dstList()->count(), 2);
        QCOMPARE(dialog.dstList()->item(0)->text(), QStringLiteral("DST:10.1.2.3        PORT:80"));
        QCOMPARE(dialog.dstList()->item(1)->text(), QStringLiteral("DST:*               PORT:22"));
        QCOMPARE(dialog.srcList()->item(0)->text(), QStringLiteral("SRC:*              PORT:53"));
        QCOMPARE(dialog.srcList()->item(1)->text(), QStringLiteral("SRC:10.0.0.1        PORT:* "));
        QVERIFY(dialog.dstAddressField()->text().isEmpty() && dialog.dstPortField()->text().isEmpty());

        // Del removes the selected entry of each list.
        dialog.dstList()->setCurrentRow(0);
        dialog.srcList()->setCurrentRow(1);
        QTest::mouseClick(dialog.delButton(), Qt::LeftButton);
        QCOMPARE(dialog.dstList()->count(), 1);
        QCOMPARE(dialog.dstList()->item(0)->text().left(5), QStringLiteral("DST:*"));
        QCOMPARE(dialog.srcList()->count(), 1);
        QCOMPARE(dialog.srcList()->item(0)->text().left(5), QStringLiteral("SRC:*"));
    }

    void refusedInput_data()
    {
        QTest::addColumn<bool>("destination");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("message");
        QTest::newRow("five parts") << true << "1.2.3.4.5" << "" << "Invalid Destination Address!";
        QTest::newRow("source invalid") << false << "1.2.3.999" << "" << "Invalid Source IP Address!";
        QTest::newRow("unknown host") << true << "nuk-no-such-host.invalid" << "" << "Unknown Destination Address!";
        QTest::newRow("unknown source host") << false << "nuk-no-such-host.invalid" << "" << "Unknown Source IP Address!";
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
        QLineEdit* addressField = destination ? dialog.dstAddressField() : dialog.srcAddressField();
        QLineEdit* portField = destination ? dialog.dstPortField() : dialog.srcPortField();
        addEntry(addressField, portField, destination ? dialog.dstAddButton() : dialog.srcAddButton(), address, port);
        QCOMPARE(m_warnings.size(), 1);
        QCOMPARE(m_warnings[0].title, QStringLiteral("Invalid Address"));
        QCOMPARE(m_warnings[0].text, message);
        QCOMPARE(dialog.dstList()->count() + dialog.srcList()->count(), 0);
        QVERIFY(addressField->text().isEmpty());
        if (message.contains(QLatin1String("Port")))
            QCOMPARE(portField->text(), port);  // the port stays for correcting
    }

    void expressionsAndTheirPackets_data()
    {
        QTest::addColumn<DialogState>("state");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<PacketTest>("meaning");

        DialogState s;
        QTest::newRow("tcp") << s << " tcp" << PacketTest(isTcp);
        s.tcp = false;
        QTest::newRow("no box") << s << " tcp" << PacketTest(isTcp);
        s.udp = true;
        QTest::newRow("udp") << s << " udp" << PacketTest(isUdp);
        s.tcp = true;
        QTest::newRow("tcp and udp") << s << " tcp or udp"
                                     << PacketTest([](const TracePacket& p) { return isTcp(p) || isUdp(p); });

        s = DialogState();
        s.destinations = {{"127.0.0.5", "80"}, {"", "22"}};
        QTest::newRow("host and port, or port")
            << s << " tcp and (( dst host 127.0.0.5 and dst port 80) or ( dst port 22))"
            << PacketTest([](const TracePacket& p) {
                   return isTcp(p) && ((p.dst == "127.0.0.5" && p.dport == 80) || p.dport == 22);
               });

        s = DialogState();
        s.tcp = true;
        s.udp = true;
        s.destinations = {{"127.0.0.5", ""}};
        QTest::newRow("both protocols to a host")
            << s << " (tcp or udp) and (( dst host 127.0.0.5))"
            << PacketTest([](const TracePacket& p) { return (isTcp(p) || isUdp(p)) && p.dst == "127.0.0.5"; });

        s = DialogState();
        s.destinations = {{"127.0.0.5", ""}};
        s.sources = {{"127.0.0.9", "1024"}};
        s.relationshipClicks = {"OR"};
        QTest::newRow("either list")
            << s << " tcp and ((( dst host 127.0.0.5)) or (( src host 127.0.0.9 and src port 1024)))"
            << PacketTest([](const TracePacket& p) {
                   return isTcp(p) && (p.dst == "127.0.0.5" || (p.src == "127.0.0.9" && p.sport == 1024));
               });

        s.relationshipClicks = {"OR", "AND"};
        QTest::newRow("both lists")
            << s << " tcp and ((( dst host 127.0.0.5)) and (( src host 127.0.0.9 and src port 1024)))"
            << PacketTest([](const TracePacket& p) {
                   return isTcp(p) && p.dst == "127.0.0.5" && p.src == "127.0.0.9" && p.sport == 1024;
               });

        s.relationshipClicks = {"AND", "OR"};
        QTest::newRow("last click counts")
            << s << " tcp and ((( dst host 127.0.0.5)) or (( src host 127.0.0.9 and src port 1024)))"
            << PacketTest([](const TracePacket& p) {
                   return isTcp(p) && (p.dst == "127.0.0.5" || (p.src == "127.0.0.9" && p.sport == 1024));
               });

        s = DialogState();
        s.tcp = false;
        s.udp = true;
        s.sources = {{"", "1024"}};
        QTest::newRow("udp source port") << s << " udp and (( src port 1024))"
                                         << PacketTest([](const TracePacket& p) { return isUdp(p) && p.sport == 1024; });

        s = DialogState();
        s.destinations = {{"127.0.0.7", "80"}, {"127.0.0.9", ""}};
        s.sources = {{"", "1024"}};
        s.relationshipClicks = {"OR"};
        QTest::newRow("two hosts or a source port")
            << s
            << " tcp and ((( dst host 127.0.0.7 and dst port 80) or ( dst host 127.0.0.9)) or (( src port 1024)))"
            << PacketTest([](const TracePacket& p) {
                   return isTcp(p) && ((p.dst == "127.0.0.7" && p.dport == 80) || p.dst == "127.0.0.9" || p.sport == 1024);
               });

        s = DialogState();
        s.destinations = {{"localhost", ""}};
        QTest::newRow("host name") << s << " tcp and (( dst host localhost))"
                                   << PacketTest([](const TracePacket& p) { return isTcp(p) && p.dst == "127.0.0.1"; });
    }
    void expressionsAndTheirPackets()
    {
        QFETCH(DialogState, state);
        QFETCH(QString, expected);
        QFETCH(PacketTest, meaning);

        Filter dialog;
        dialog.show();
        apply(dialog, state);
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
        QVERIFY2(m_warnings.isEmpty(), qPrintable(m_warnings.value(0).text));
        QCOMPARE(expression, expected);
        QVERIFY(!dialog.isVisible());

        const QVector<int> wanted = selectedByMeaning(m_packets, meaning);
        QVERIFY(!wanted.isEmpty() && wanted.size() < m_packets.size());
        QCOMPARE(selectedByPcap(expression), wanted);
    }

    void liveLoopbackCaptureHonoursTheFilter()
    {
        if (geteuid() != 0)
            QSKIP("live capture on lo needs root");
        Filter dialog;
        dialog.show();
        DialogState s;
        s.tcp = false;
        s.udp = true;
        s.destinations = {{"127.0.0.5", "47001"}, {"127.0.0.7", ""}};
        apply(dialog, s);
        click(dialog.loBox());
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
        QCOMPARE(deviceFlag, 1);

        char error[PCAP_ERRBUF_SIZE];
        pcap_t* handle = pcap_create("lo", error);
        QVERIFY2(handle, error);
        pcap_set_snaplen(handle, 256);
        pcap_set_immediate_mode(handle, 1);
        QVERIFY2(pcap_activate(handle) >= 0, pcap_geterr(handle));
        bpf_program program;
        QCOMPARE(pcap_compile(handle, &program, expression.toUtf8().constData(), 1, PCAP_NETMASK_UNKNOWN), 0);
        QCOMPARE(pcap_setfilter(handle, &program), 0);
        pcap_freecode(&program);
        QCOMPARE(pcap_setnonblock(handle, 1, error), 0);

        // Only the first and the last datagram match.
        const QPair<const char*, int> sends[] = {
            {"127.0.0.5", 47001}, {"127.0.0.5", 47002}, {"127.0.0.9", 47001}, {"127.0.0.7", 47003}};
        const int sock = socket(AF_INET, SOCK_DGRAM, 0);
        for (const auto& [host, port] : sends) {
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(quint16(port));
            inet_pton(AF_INET, host, &to.sin_addr);
            sendto(sock, "x", 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        }
        ::close(sock);

        QStringList seen;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 1000) {
            pcap_pkthdr* header;
            const u_char* data;
            const int r = pcap_next_ex(handle, &header, &data);
            if (r == 1 && header->caplen >= 14 + 20 + 4) {
                char text[INET_ADDRSTRLEN];
                seen << QStringLiteral("%1:%2").arg(inet_ntop(AF_INET, data + 30, text, sizeof text)).arg((data[36] << 8) | data[37]);
            } else if (r == 0) {
                QTest::qWait(20);
            }
        }
        pcap_close(handle);
        QCOMPARE(seen, QStringList({"127.0.0.5:47001", "127.0.0.7:47003"}));
    }

    void missingRelationshipKeepsDialogOpen()
    {
        Filter dialog;
        dialog.show();
        DialogState s;
        s.destinations = {{"127.0.0.5", ""}};
        s.sources = {{"", "53"}};
        apply(dialog, s);
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
        QCOMPARE(m_warnings.size(), 1);
        QCOMPARE(m_warnings[0].title, QStringLiteral("Invalid Address"));
        QCOMPARE(m_warnings[0].text, QStringLiteral("You must choose the\n\t relationship!"));
        QVERIFY(dialog.isVisible());
        QCOMPARE(expression, QStringLiteral("untouched"));

        // Choosing one then finishes.
        click(dialog.andButton());
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
        QCOMPARE(expression, QStringLiteral(" tcp and ((( dst host 127.0.0.5)) and (( src port 53)))"));
        QVERIFY(!dialog.isVisible());
    }

    void expressionThatDoesNotCompileKeepsDialogOpen()
    {
        Filter dialog;
        dialog.show();
        // An entry the fields would refuse, as if the list held it.
        dialog.dstList()->addItem(QStringLiteral("DST:999.1.1.1       PORT:* "));
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
        QCOMPARE(m_warnings.size(), 1);
        QCOMPARE(m_warnings[0].title, QStringLiteral("Invalid Address"));
        QCOMPARE(m_warnings[0].text, filterCompileError(QStringLiteral(" tcp and (( dst host 999.1.1.1))")));
        QVERIFY(m_warnings[0].text.contains(QLatin1String("999.1.1.1")));
        QVERIFY(dialog.isVisible());
        QCOMPARE(expression, QStringLiteral("untouched"));
    }

    void loopbackChoice()
    {
        {
            Filter dialog;
            dialog.show();
            click(dialog.loBox());
            QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
            QCOMPARE(deviceFlag, 1);  // set at once, Cancel does not undo it
            QCOMPARE(expression, QStringLiteral("untouched"));
            QVERIFY(!dialog.isVisible());
        }
        {
            Filter dialog;
            dialog.show();
            QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
            QCOMPARE(deviceFlag, 0);  // Ok writes the box
            QCOMPARE(expression, QStringLiteral(" tcp"));
        }
    }
};

QTEST_MAIN(FilterTest)
#include "tst_filter.moc"
