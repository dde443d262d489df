// nukdump on the committed loopback trace, through the real capture helper.

#include "connectionfixtures.h"
#include "views/packets/packet.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <unistd.h>

namespace {
struct Run {
    int exitCode = -1;
    QByteArray out, err;
    QList<QByteArray> lines;
};

Run run(const QStringList& args, const QString& tmpDir = {}, const QString& program = NUK_BUILD_DIR "/nuk/nukdump")
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("NUKPATH"), QStringLiteral(NUK_BUILD_DIR));
    if (!tmpDir.isEmpty())
        env.insert(QStringLiteral("NUK_TMPDIR"), tmpDir);
    p.setProcessEnvironment(env);
    p.start(program, args);
    Run r;
    if (!p.waitForFinished(60000))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    r.lines = r.out.split('\n');
    r.lines.removeAll(QByteArray());
    return r;
}

const QString kTrace = QStringLiteral(NUK_TEST_DATA "/packets/loopback.tr");
}  // namespace

class TestNukdump : public QObject {
    Q_OBJECT
private slots:
    void decodesTheTrace();
    void treeAndFilterOptions();
    void helperErrorsFailWithAMessage();
    void leavesTheCaptureOfARunningNukAlone();
    void aReaderThatGoesAwayEndsTheDump();
    void streamsAgreeWithTshark();
};

// One line a packet, keys in this order and nothing else, carrying the decodes that
// tst_packet holds against tshark.
void TestNukdump::decodesTheTrace()
{
    const Run r = run({kTrace});
    QCOMPARE(r.exitCode, 0);
    const auto frames = fixtures::readTrace(kTrace);
    QCOMPARE(r.lines.size(), qsizetype(frames.size()));
    const BaseTime base{frames[0].packet->GetTimeStamp()[0], frames[0].packet->GetTimeStamp()[1]};
    const char* keys[] = {"no", "time", "src", "dst", "protocol", "info", "hex", "data"};
    for (int n = 0; n < r.lines.size(); ++n) {
        const QJsonObject o = QJsonDocument::fromJson(r.lines[n]).object();
        QCOMPARE(o.size(), 8);
        QStringList got;
        qsizetype at = 0;
        for (const char* key : keys) {
            const qsizetype next = r.lines[n].indexOf(QByteArray("\"") + key + "\":", at);
            QVERIFY2(next >= at, key);
            at = next;
            got << o.value(QLatin1String(key)).toString();
        }
        const Packet p(*frames[std::size_t(n)].packet, n + 1, base);
        QCOMPARE(got, (QStringList{p.No(), p.time(), p.SourceIP(), p.DestIP(), p.protocol(), p.info(), p.text(), p.data()}));
    }
}

void TestNukdump::treeAndFilterOptions()
{
    Run r = run({QStringLiteral("--tree"), kTrace});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.lines.size(), 15);
    const QJsonArray tree = QJsonDocument::fromJson(r.lines[3]).object().value(QLatin1String("tree")).toArray();
    QStringList names;
    for (const QJsonValue& v : tree)
        names << v.toObject().value(QLatin1String("name")).toString();
    QCOMPARE(names, (QStringList{"Frame", "EtherNet II", "Internet Protocol", "Transmission Control Protocol", "Data:   13 bytes"}));
    QCOMPARE(tree[0].toObject().value(QLatin1String("pos")).toInt(), -1);
    QCOMPARE(tree[4].toObject().value(QLatin1String("pos")).toInt(), 132);
    QCOMPARE(tree[4].toObject().value(QLatin1String("len")).toInt(), 26);
    const QJsonArray tcp = tree[3].toObject().value(QLatin1String("children")).toArray();
    QCOMPARE(tcp[5].toObject().value(QLatin1String("name")).toString(), QStringLiteral("Flags:   00011000"));
    QCOMPARE(tcp[5].toObject().value(QLatin1String("children")).toArray().size(), 6);
    QCOMPARE(tcp.last().toObject().value(QLatin1String("name")).toString(), QStringLiteral("TCP optional:   12 bytes"));

    // Numbering and time start again at the first packet that passes the filter.
    r = run({QStringLiteral("--filter"), QStringLiteral("udp"), kTrace});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.lines.size(), 3);
    QVERIFY(r.lines[0].startsWith("{\"no\":\"00000001\",\"time\":\"0\","));
    QVERIFY(r.lines[0].contains("\"protocol\":\"UDP\""));
}

void TestNukdump::helperErrorsFailWithAMessage()
{
    for (const QStringList& args : {QStringList{"/nonexistent/trace.tr"}, QStringList{"--filter", "tcp and and (((", kTrace}}) {
        const Run r = run(args);
        QVERIFY(r.exitCode > 0);
        QVERIFY(r.lines.isEmpty());
        QVERIFY(!r.err.isEmpty());
    }
    QCOMPARE(run({}).exitCode, 2);
}

// The helper keeps a copy of what it replays in the default trace file; nukdump
// must not overwrite the one of a nuk that is running (here: the one in the
// directory the helper would use).
void TestNukdump::leavesTheCaptureOfARunningNukAlone()
{
    QTemporaryDir dir;
    QFile sentinel(dir.filePath(QStringLiteral("%1_NukDefaultTraceFile").arg(getuid())));
    QVERIFY(sentinel.open(QIODevice::WriteOnly) && sentinel.write("the running capture") > 0);
    sentinel.close();
    const Run r = run({kTrace}, dir.path());
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.lines.size(), 15);
    QVERIFY(sentinel.open(QIODevice::ReadOnly));
    QCOMPARE(sentinel.readAll(), QByteArray("the running capture"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot).size(), 1);
}

// Megabytes of output into a reader that stops after ten bytes: the dump ends
// quietly with status 0 (the helper stopped, the private directory removed).
void TestNukdump::aReaderThatGoesAwayEndsTheDump()
{
    QTemporaryDir dir;
    const QString trace = dir.filePath(QStringLiteral("big.tr"));
    QCOMPARE(QProcess::execute(QStringLiteral("python3"), {QStringLiteral(NUK_SOURCE_DIR "/bench/pipeline/gen_trace.py"), trace,
                                                          QStringLiteral("3000")}),
             0);
    const Run r = run({QStringLiteral("-c"), QStringLiteral("{ \"$0\" \"$1\"; echo \"status $?\" >&2; } | head -c 10"),
                       QStringLiteral(NUK_BUILD_DIR "/nuk/nukdump"), trace},
                      dir.path(), QStringLiteral("/bin/sh"));
    QCOMPARE(r.out, QByteArray("{\"no\":\"000"));
    QCOMPARE(r.err, QByteArray("status 0\n"));
}

// One line per conversation in creation order, keys in a fixed order; each TCP
// direction reassembled as tshark reassembles it, on real loss and reordering and
// on wrapping sequence numbers.
void TestNukdump::streamsAgreeWithTshark()
{
    const QString dir = QStringLiteral(NUK_TEST_DATA "/connections/");
    for (const char* name : {"lossy", "wrapped"}) {
        const Run r = run({QStringLiteral("--streams"), dir + name + ".tr"});
        QCOMPARE(r.exitCode, 0);
        const auto followed = fixtures::readFollow(dir + name + ".follow.tsv");
        QCOMPARE(r.lines.size(), qsizetype(followed.size()));
        for (const QByteArray& line : r.lines) {
            QVERIFY(line.startsWith("{\"ep1\":\""));
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            QCOMPARE(o.keys().size(), 6);
            qsizetype at = 0;
            for (const char* key : {"ep1", "ep2", "packets", "live", "forward", "backward"}) {
                const qsizetype next = line.indexOf(QByteArray("\"") + key + "\":", at);
                QVERIFY2(next >= at, key);
                at = next;
            }
            const auto f = std::find_if(followed.begin(), followed.end(), [&](const fixtures::Followed& x) {
                return fixtures::endPoint(x.node0) == o.value(QLatin1String("ep1")).toString() &&
                       fixtures::endPoint(x.node1) == o.value(QLatin1String("ep2")).toString();
            });
            QVERIFY(f != followed.end());
            const bool tcp = f->protocol == QLatin1String("tcp");
            QCOMPARE(o.value(QLatin1String("forward")).toString().toLatin1(), tcp ? f->bytes0.toHex() : QByteArray());
            QCOMPARE(o.value(QLatin1String("backward")).toString().toLatin1(), tcp ? f->bytes1.toHex() : QByteArray());
            QVERIFY(o.value(QLatin1String("live")).toString().size() >= 2 * (f->bytes0.size() + f->bytes1.size()));
            QVERIFY(o.value(QLatin1String("packets")).toInt() > 0);
        }
    }
    const Run udp = run({QStringLiteral("--streams"), QStringLiteral("--filter"), QStringLiteral("udp"), dir + "lossy.tr"});
    QCOMPARE(udp.lines.size(), 1);
    QVERIFY(udp.lines[0].contains("\"packets\":4,\"live\":\"70696e67206f6e65"));  // "ping one"
}

QTEST_GUILESS_MAIN(TestNukdump)
#include "tst_nukdump.moc"
