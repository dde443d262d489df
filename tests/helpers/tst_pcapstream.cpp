// A trace that is still being written (a named pipe, standard input) is read as it
// arrives: a process writes a real trace slowly and holds back the rest until the
// test has seen the first packets in a view and in nukdump's output. The wizard's
// file dialog offers the pipe.

#include "helperrunner.h"

#include "capture/process/process.h"
#include "capture/controlpanel.h"
#include "capture/settings.h"
#include "capture/testviews.h"
#include "config/uihooks.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

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

QProcessEnvironment nukEnvironment(const QString& tmpDir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("NUKPATH"), QStringLiteral(NUK_BUILD_DIR));
    env.insert(QStringLiteral("NUK_TMPDIR"), tmpDir);
    return env;
}

QByteArray nukdumpOf(const QString& trace, const QString& tmpDir)
{
    QProcess dump;
    dump.setProcessEnvironment(nukEnvironment(tmpDir));
    dump.start(QStringLiteral(NUK_BUILD_DIR "/nuk/nukdump"), {trace});
    dump.waitForFinished(30000);
    return dump.readAllStandardOutput();
}

// Processes whose parent is `parent`.
int childrenOf(pid_t parent)
{
    int found = 0;
    DIR* proc = ::opendir("/proc");
    while (const dirent* e = ::readdir(proc)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(QLatin1String(e->d_name)));
        if (std::atoi(e->d_name) <= 0 || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        found += text.mid(text.lastIndexOf(')') + 2).split(' ').value(1).toInt() == parent;
    }
    ::closedir(proc);
    return found;
}
}  // namespace

class TestPcapStream : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase() { runShutdownSteps(); }
    void aViewSeesPacketsAsTheyArrive();
    void nukdumpPrintsPacketsAsTheyArrive_data();
    void nukdumpPrintsPacketsAsTheyArrive();
    void theFileDialogOffersThePipe();

private:
    QTemporaryDir m_dir;
    QString m_fifo;
};

void TestPcapStream::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_fifo = m_dir.filePath(QStringLiteral("fifo"));
    QCOMPARE(::mkfifo(m_fifo.toLocal8Bit().constData(), 0600), 0);
    qputenv("NUKPATH", NUK_BUILD_DIR);
    qputenv("NUK_TMPDIR", m_dir.path().toLocal8Bit());
    QCOMPARE(startNukProcesses(), 0);
}

// Through the launcher child and the capture controller, as "Disk File" runs it.
// Stop ends the capture while the writer still holds the rest, and the default
// trace file (what Save as copies) already has the packets that arrived.
void TestPcapStream::aViewSeesPacketsAsTheyArrive()
{
    RecordingUi ui;
    ControlPanel controller(&ui);
    auto* view = new RecordingView;
    controller.AddView(view, QStringLiteral("RecordingView"));
    g_FileName = m_fifo;
    nukOpMode = OpDiskFile;
    expression = QStringLiteral("tcp or udp");

    // A helper still waiting for a writer to open the pipe stops too.
    controller.Start();
    QTRY_COMPARE(childrenOf(g_ForkNumber), 1);
    controller.Stop();
    QTRY_COMPARE(childrenOf(g_ForkNumber), 0);

    g_FileName = m_fifo;  // a stopped replay asks for its file again
    controller.Start();
    QProcess writer;
    startWriter(writer, m_fifo);
    QTRY_COMPARE_WITH_TIMEOUT(view->packets.load(), kRecordsFirst, 10000);
    QCOMPARE(writer.state(), QProcess::Running);
    const QString saved = m_dir.filePath(QStringLiteral("%1_NukDefaultTraceFile").arg(getuid()));
    QTemporaryDir elsewhere;
    QTRY_COMPARE(replayTrace(saved, QStringLiteral("tcp or udp"), elsewhere.path()).records.size(),
                 std::size_t(kRecordsFirst));
    controller.Stop();
    QTRY_COMPARE(childrenOf(g_ForkNumber), 0);
    QCOMPARE(view->packets.load(), kRecordsFirst);
    writer.write("go\n");  // into a pipe nobody reads any more
    QVERIFY(writer.waitForFinished(10000));
    RemoveView(view);
}

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
    const QByteArray whole = nukdumpOf(kTrace, tmp.path());
    QVERIFY(whole.count('\n') > kRecordsFirst);

    QProcess writer, dump;
    dump.setProcessEnvironment(nukEnvironment(tmp.path()));
    if (standardInput)
        writer.setStandardOutputProcess(&dump);
    startWriter(writer, standardInput ? QStringLiteral("-") : m_fifo);
    dump.start(QStringLiteral(NUK_BUILD_DIR "/nuk/nukdump"), {standardInput ? QStringLiteral("-") : m_fifo});
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    while (out.count('\n') < kRecordsFirst && clock.elapsed() < 10000 && dump.state() != QProcess::NotRunning)
        if (dump.waitForReadyRead(100))
            out += dump.readAllStandardOutput();
    QCOMPARE(out.count('\n'), kRecordsFirst);
    QCOMPARE(writer.state(), QProcess::Running);
    writer.write("go\n");
    QVERIFY(writer.waitForFinished(10000));
    QVERIFY(dump.waitForFinished(10000));
    QCOMPARE(dump.exitCode(), 0);
    QCOMPARE(out + dump.readAllStandardOutput(), whole);
}

// Typed in the wizard's open-file dialog, the pipe's name enables Open (once the
// dialog has listed the directory) and is what the dialog answers.
void TestPcapStream::theFileDialogOffersThePipe()
{
    bool opened = false;
    QTimer typist;
    connect(&typist, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        dialog->selectNameFilter(QStringLiteral("All files (*)"));
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        name->clear();  // typed again: the dialog judges it anew once the directory is listed
        name->setText(QStringLiteral("fifo"));
        QPushButton* open = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open);
        if (open->isEnabled() || typist.property("tries").toInt() > 100) {
            opened = open->isEnabled();
            typist.stop();
            opened ? open->click() : dialog->reject();
        }
        typist.setProperty("tries", typist.property("tries").toInt() + 1);
    });
    typist.start(50);
    const QString chosen = nukui::getOpenFileName(nullptr, QString(), m_dir.path(),
                                                  QStringLiteral("*.tr;;All files (*)"));
    QVERIFY(opened);
    QCOMPARE(chosen, m_fifo);
}

QTEST_MAIN(TestPcapStream)
#include "tst_pcapstream.moc"
