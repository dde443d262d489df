// `cmake --install` into a temporary prefix, then the installed programs at work
// without NUKPATH: nukdump replays a committed trace, and the nukrit launcher
// starts nuk with a trace argument whose replay is started by the main window's
// Start (pressed by a test plugin), bypassing the wizard.

#include <QDir>
#include "common/testmain.h"
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <unistd.h>

namespace {
const QString kTrace = QStringLiteral(NUK_TEST_DATA "/veth-eth.pcap");

QProcessEnvironment withoutNukPath(const QString& tmpDir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("NUKPATH"));
    env.insert(QStringLiteral("NUK_TMPDIR"), tmpDir);
    return env;
}

struct Output {
    int status = -1;
    QByteArray out, err;
};

Output run(const QString& program, const QStringList& args, const QProcessEnvironment& env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    Output o;
    if (p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit)
        o.status = p.exitCode();
    o.out = p.readAllStandardOutput();
    o.err = p.readAllStandardError();
    return o;
}
}  // namespace

class TestInstall : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void layout();
    void nukdumpWorksWithoutNukPath();
    void launcherReplaysTheTraceArgument();

private:
    QTemporaryDir m_prefix;
    QTemporaryDir m_tmp;
    QString path(const char* relative) const { return m_prefix.filePath(QLatin1String(relative)); }
};

void TestInstall::initTestCase()
{
    const Output o = run(QStringLiteral("cmake"), {"--install", NUK_BUILD_DIR, "--prefix", m_prefix.path()},
                         QProcessEnvironment::systemEnvironment());
    QVERIFY2(o.status == 0, o.err.constData());
}

void TestInstall::layout()
{
    for (const char* program : {"lib/nukrit/nuk/nuk", "lib/nukrit/nuk/pcap", "lib/nukrit/nuk/getSock",
                                "lib/nukrit/nuk/nukdump", "bin/nukrit", "bin/nukdump"})
        QVERIFY2(QFileInfo(path(program)).isExecutable(), program);
    QFile desktop(path("share/applications/nukrit.desktop"));
    QVERIFY(desktop.open(QIODevice::ReadOnly) && desktop.readAll().contains("\nExec=nukrit %f\n"));
}

// The installed nukdump finds the installed helper by itself and prints what the
// one of the build tree prints.
void TestInstall::nukdumpWorksWithoutNukPath()
{
    const Output installed = run(path("bin/nukdump"), {kTrace}, withoutNukPath(m_tmp.path()));
    QVERIFY2(installed.status == 0, installed.err.constData());
    QProcessEnvironment env = withoutNukPath(m_tmp.path());
    env.insert(QStringLiteral("NUKPATH"), QStringLiteral(NUK_BUILD_DIR));
    const Output built = run(QStringLiteral(NUK_BUILD_DIR "/nuk/nukdump"), {kTrace}, env);
    QCOMPARE(installed.out.count('\n'), 22);
    QCOMPARE(installed.out, built.out);
}

// The replay writes the helper's copy of what it delivered (the default trace file):
// the trace's TCP packets, since a capture without a filter takes TCP.
void TestInstall::launcherReplaysTheTraceArgument()
{
    QProcessEnvironment env = withoutNukPath(m_tmp.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_PLUGIN_PATH"), QStringLiteral(NUK_TEST_PLUGINS));
    env.insert(QStringLiteral("QT_QPA_GENERIC_PLUGINS"), QStringLiteral("nukpress:Start"));
    QProcess nukrit;
    nukrit.setProcessEnvironment(env);
    nukrit.start(path("bin/nukrit"), {kTrace});
    QVERIFY(nukrit.waitForStarted());

    const QString copy = m_tmp.filePath(QStringLiteral("%1_NukDefaultTraceFile").arg(getuid()));
    const QByteArray tcp = run(path("bin/nukdump"), {"--filter", "tcp", kTrace}, withoutNukPath(m_tmp.path())).out;
    QVERIFY(tcp.count('\n') > 10);
    QTRY_COMPARE_WITH_TIMEOUT(run(path("bin/nukdump"), {copy}, withoutNukPath(m_tmp.path())).out, tcp, 20000);

    // SIGTERM runs the shutdown: the temporary files go with it.
    QCOMPARE(::kill(pid_t(nukrit.processId()), SIGTERM), 0);
    QVERIFY(nukrit.waitForFinished(10000));
    QCOMPARE(nukrit.exitCode(), 0);
    QVERIFY(!QFile::exists(copy));
}

NUK_TEST_CLASS(TestInstall)
#include "tst_install.moc"
