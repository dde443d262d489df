// A trace that is still being written (a named pipe, standard input) is read as it
// arrives: a process writes a real trace slowly and holds back the rest until the
// test has seen the first packets in nukdump's output.

#include "common/testmain.h"
#include "packets/nukdumprun.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {
const QString kTrace = QStringLiteral(NUK_TEST_DATA "/veth-eth.pcap");
// The writer stops after the first eight frames: two ARP frames and six TCP segments.
constexpr int kFramesFirst = 8;
constexpr int kRecordsFirst = 6;

// Writes the pcap trace argv[1] into argv[2] ("-": standard output) a frame at a time,
// 10 ms apart, and waits for a line on standard input after the first argv[3] frames.
const char* kSlowWriter = R"(
import struct, sys, time
data = open(sys.argv[1], "rb").read()
out = sys.stdout.buffer if sys.argv[2] == "-" else open(sys.argv[2], "wb", buffering=0)
out.write(data[:24]); out.flush()
at, n = 24, 0
while at + 16 <= len(data):
    if n == int(sys.argv[3]):
        sys.stdin.readline()
    size = 16 + struct.unpack_from("<I", data, at + 8)[0]
    out.write(data[at:at + size]); out.flush()
    at, n = at + size, n + 1
    time.sleep(0.01)
)";

void startWriter(QProcess& writer, const QString& target)
{
    writer.start(QStringLiteral("python3"), {QStringLiteral("-c"), QLatin1String(kSlowWriter), kTrace, target,
                                             QString::number(kFramesFirst)});
    writer.waitForStarted();
}

}  // namespace

class TestPcapStream : public QObject {
    Q_OBJECT
private slots:
    void nukdumpPrintsPacketsAsTheyArrive_data();
    void nukdumpPrintsPacketsAsTheyArrive();
};

void TestPcapStream::nukdumpPrintsPacketsAsTheyArrive_data()
{
    QTest::addColumn<bool>("standardInput");
    QTest::newRow("named pipe") << false;
    QTest::newRow("standard input") << true;
}

void TestPcapStream::nukdumpPrintsPacketsAsTheyArrive()
{
    QFETCH(bool, standardInput);
    QTemporaryDir tmp;
    const QString tmpDir = QStringLiteral("NUK_TMPDIR=") + tmp.path(), fifo = tmp.filePath(QStringLiteral("fifo"));
    QCOMPARE(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    const fixtures::Run whole = fixtures::runNukdump({kTrace}, {tmpDir});
    QVERIFY(whole.lines.size() > kRecordsFirst);

    QProcess writer, dump;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("NUKPATH"), QStringLiteral(NUK_BUILD_DIR));
    env.insert(QStringLiteral("NUK_TMPDIR"), tmp.path());
    dump.setProcessEnvironment(env);
    if (standardInput)
        writer.setStandardOutputProcess(&dump);
    startWriter(writer, standardInput ? QStringLiteral("-") : fifo);
    dump.start(QStringLiteral(NUK_BUILD_DIR "/nuk/nukdump"), {standardInput ? QStringLiteral("-") : fifo});
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    while (out.count('\n') < kRecordsFirst && clock.elapsed() < 10000 && dump.state() != QProcess::NotRunning)
        if (dump.waitForReadyRead(100))
            out += dump.readAllStandardOutput();
    QCOMPARE(out.count('\n'), kRecordsFirst);
    QCOMPARE(writer.state(), QProcess::Running);  // the rest is still held back
    writer.write("go\n");
    QVERIFY(writer.waitForFinished(10000));
    QVERIFY(dump.waitForFinished(10000));
    QCOMPARE(dump.exitCode(), 0);
    QCOMPARE(out + dump.readAllStandardOutput(), whole.out);
}

NUK_TEST_CLASS(TestPcapStream)
#include "tst_pcapstream.moc"
