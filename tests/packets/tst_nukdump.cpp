// nukdump on the committed loopback trace, through the real capture helper.

#include "packetfixtures.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <unistd.h>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

class TestNukdump : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void decodesTheTraceLikeTshark();
    void treeOption();
    void filterOption();
    void helperErrorsFailWithAMessage();
    void leavesTheCaptureOfARunningNukAlone();
    void aReaderThatGoesAwayEndsTheDump();

private:
    struct Run {
        int exitCode = -1;
        QList<QByteArray> lines;
        QByteArray err;
    };
    Run run(const QStringList& args, const QString& tmpDir = QString());
    const QString m_trace = QStringLiteral(NUK_TEST_DATA "/packets/loopback.tr");
};

void TestNukdump::initTestCase()
{
    if (!QFileInfo(QStringLiteral(NUK_BUILD_DIR "/nuk/pcap")).isExecutable())
        QSKIP("the capture helper nuk/pcap is not built in this tree");
}

TestNukdump::Run TestNukdump::run(const QStringList& args, const QString& tmpDir)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("NUKPATH"), QStringLiteral(NUK_BUILD_DIR));
    if (!tmpDir.isEmpty())
        env.insert(QStringLiteral("NUK_TMPDIR"), tmpDir);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(NUK_BUILD_DIR "/nuk/nukdump"), args);
    Run r;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n'))
        if (!line.isEmpty())
            r.lines << line;
    r.err = p.readAllStandardError();
    return r;
}

void TestNukdump::decodesTheTraceLikeTshark()
{
    const Run r = run({m_trace});
    QCOMPARE(r.exitCode, 0);
    const auto tsv = fixtures::readTsv(QStringLiteral(NUK_TEST_DATA "/packets/loopback.tshark.tsv"));
    const auto frames = fixtures::readTrace(m_trace);
    QCOMPARE(r.lines.size(), qsizetype(tsv.size()));
    for (int n = 0; n < r.lines.size(); ++n) {
        const QByteArray& line = r.lines[n];
        // Keys in this order, nothing else.
        int at = 0;
        for (const char* key : {"\"no\":", "\"time\":", "\"src\":", "\"dst\":", "\"protocol\":", "\"info\":", "\"hex\":", "\"data\":"}) {
            const int next = int(line.indexOf(key, at));
            QVERIFY2(next >= at, key);
            at = next;
        }
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        QCOMPARE(o.size(), 8);
        const QStringList& t = tsv[std::size_t(n)];
        QCOMPARE(o.value(QLatin1String("no")).toString(), t[0].rightJustified(8, QLatin1Char('0')));
        QVERIFY(qAbs(o.value(QLatin1String("time")).toString().toDouble() - t[1].toDouble()) < 1e-5);
        QCOMPARE(o.value(QLatin1String("src")).toString(), t[12]);
        QCOMPARE(o.value(QLatin1String("dst")).toString(), t[13]);
        const bool tcp = t[10] == QLatin1String("6");
        QCOMPARE(o.value(QLatin1String("protocol")).toString(), QString::fromLatin1(tcp ? "TCP" : "UDP"));
        QVERIFY(o.value(QLatin1String("info")).toString().startsWith(tcp ? t[14] + " > " + t[15] : t[24] + " > " + t[25]));
        QCOMPARE(o.value(QLatin1String("hex")).toString(), QString::fromLatin1(frames[std::size_t(n)].frame.toHex()));
        const int payload = tcp ? t[23].toInt() : t[28].toInt();
        QCOMPARE(o.value(QLatin1String("data")).toString(), QString::fromLatin1(frames[std::size_t(n)].frame.right(payload).toHex()));
    }
    QCOMPARE(QJsonDocument::fromJson(r.lines[0]).object().value(QLatin1String("time")).toString(), QStringLiteral("0"));
}

void TestNukdump::treeOption()
{
    const Run r = run({QStringLiteral("--tree"), m_trace});
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
}

void TestNukdump::filterOption()
{
    const Run r = run({QStringLiteral("--filter"), QStringLiteral("udp"), m_trace});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.lines.size(), 3);
    const QJsonObject first = QJsonDocument::fromJson(r.lines[0]).object();
    QCOMPARE(first.value(QLatin1String("no")).toString(), QStringLiteral("00000001"));
    QCOMPARE(first.value(QLatin1String("time")).toString(), QStringLiteral("0"));
    QCOMPARE(first.value(QLatin1String("protocol")).toString(), QStringLiteral("UDP"));
}

void TestNukdump::helperErrorsFailWithAMessage()
{
    Run r = run({QStringLiteral("/nonexistent/trace.tr")});
    QVERIFY(r.exitCode > 0);
    QVERIFY(r.lines.isEmpty());
    QVERIFY(!r.err.isEmpty());

    r = run({QStringLiteral("--filter"), QStringLiteral("tcp and and ((("), m_trace});
    QVERIFY(r.exitCode > 0);
    QVERIFY(r.lines.isEmpty());
    QVERIFY(!r.err.isEmpty());

    r = run({});
    QCOMPARE(r.exitCode, 2);
}

// The helper keeps a copy of what it replays in the default trace file; nukdump
// must not overwrite the one of a nuk that is running (here: the one in the
// directory the helper would use).
void TestNukdump::leavesTheCaptureOfARunningNukAlone()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString name = dir.filePath(QStringLiteral("%1_NukDefaultTraceFile").arg(getuid()));
    QFile sentinel(name);
    QVERIFY(sentinel.open(QIODevice::WriteOnly));
    sentinel.write("the running capture");
    sentinel.close();
    const Run r = run({m_trace}, dir.path());
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
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("NUKPATH"), QStringLiteral(NUK_BUILD_DIR));
    env.insert(QStringLiteral("NUK_TMPDIR"), dir.path());
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("{ \"$0\" \"$1\"; echo \"status $?\" >&2; } | head -c 10"),
                                         QStringLiteral(NUK_BUILD_DIR "/nuk/nukdump"), trace});
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.readAllStandardOutput(), QByteArray("{\"no\":\"000"));
    QCOMPARE(p.readAllStandardError(), QByteArray("status 0\n"));
}

QTEST_GUILESS_MAIN(TestNukdump)
#include "tst_nukdump.moc"
