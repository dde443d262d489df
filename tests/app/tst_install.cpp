// SPDX-License-Identifier: GPL-2.0-or-later
// `cmake --install` into a temporary prefix, then the installed programs at work
// without NUKPATH: nukdump replays a committed trace, and the nukrit launcher
// starts nuk with a trace argument whose replay is started by the main window's
// Start (pressed by a test plugin), bypassing the wizard. Then what a user reads:
// --help, --version and the manual pages, and the Debian package as lintian sees it.

#include <QDir>
#include "common/processes.h"
#include "common/testmain.h"
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
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

using Output = testproc::Run;
constexpr auto run = &testproc::runProgram;
}  // namespace

class TestInstall : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void layout();
    void nukdumpWorksWithoutNukPath();
    void launcherReplaysTheTraceArgument();
    void commandLineHelp_data();
    void commandLineHelp();
    void manualPages_data();
    void manualPages();
    void packageIsLintianClean();

private:
    QTemporaryDir m_prefix;
    QTemporaryDir m_tmp;
    QString path(const char* relative) const { return m_prefix.filePath(QLatin1String(relative)); }
};

void TestInstall::initTestCase()
{
    const Output o = run(QStringLiteral("cmake"), {"--install", NUK_BUILD_DIR, "--prefix", m_prefix.path()},
                         QProcessEnvironment::systemEnvironment());
    QVERIFY2(o.exitCode == 0, o.err.constData());
}

void TestInstall::layout()
{
    for (const char* program : {"lib/nukrit/nuk/nuk", "lib/nukrit/nuk/pcap", "lib/nukrit/nuk/getSock",
                                "lib/nukrit/nuk/nukdump", "bin/nukrit", "bin/nukdump"})
        QVERIFY2(QFileInfo(path(program)).isExecutable(), program);
    QVERIFY(testproc::readFile(path("share/applications/nukrit.desktop")).contains("\nExec=nukrit %f\n"));
}

// The installed nukdump finds the installed helper by itself and prints what the
// one of the build tree prints.
void TestInstall::nukdumpWorksWithoutNukPath()
{
    const Output installed = run(path("bin/nukdump"), {kTrace}, withoutNukPath(m_tmp.path()));
    QVERIFY2(installed.exitCode == 0, installed.err.constData());
    const Output built = testproc::runNukdump({kTrace}, {"NUK_TMPDIR=" + m_tmp.path()});
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

void TestInstall::commandLineHelp_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("expected");  // regular expression on the output (stderr when failing)
    const QString modes = QStringLiteral("(?s).*--filter EXPR.*--tree .*--streams .*--timeline .*--tcpstate .*--hosts ");
    QTest::newRow("nukdump --help") << "bin/nukdump" << QStringList{"--help"} << 0 << "^usage: nukdump " + modes;
    QTest::newRow("nukdump --version") << "bin/nukdump" << QStringList{"--tree", "--version"} << 0
                                       << QStringLiteral("^nukdump \\(Nukrit\\) " NUK_VERSION "\n$");
    QTest::newRow("nukdump, unknown option") << "bin/nukdump" << QStringList{"--trees", "x.pcap"} << 2
                                             << QStringLiteral("Try 'nukdump --help'");
    QTest::newRow("nukrit --help") << "bin/nukrit" << QStringList{"--help"} << 0
                                   << QStringLiteral("^usage: nukrit \\[TRACE\\](?s).*--version ");
    QTest::newRow("nukrit --version") << "bin/nukrit" << QStringList{"--version"} << 0
                                      << QStringLiteral("^nukrit \\(Nukrit\\) " NUK_VERSION "\n$");
    QTest::newRow("nukrit, unknown option") << "bin/nukrit" << QStringList{"-h"} << 2
                                            << QStringLiteral("unknown option -h\nusage: nukrit ");
    QTest::newRow("nukrit, two traces") << "bin/nukrit" << QStringList{"a.pcap", "b.pcap"} << 2
                                        << QStringLiteral("^usage: nukrit ");
}

void TestInstall::commandLineHelp()
{
    QFETCH(QString, program);
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, expected);
    const Output o = run(path(program.toLatin1().constData()), args, withoutNukPath(m_tmp.path()));
    QCOMPARE(o.exitCode, status);
    const QString text = QString::fromLocal8Bit(status == 0 ? o.out : o.err);
    QVERIFY2(text.contains(QRegularExpression(expected)), qPrintable(text));
    for (const QString& line : text.split(QLatin1Char('\n')))
        QVERIFY2(line.size() <= 80 || line.startsWith(QLatin1String("usage: ")), qPrintable(line));
}

void TestInstall::manualPages_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("nukrit") << QStringLiteral("nukrit");
    QTest::newRow("nukdump") << QStringLiteral("nukdump");
}

// Each page renders without a warning, shows the project's version and names
// every option the program's --help lists.
void TestInstall::manualPages()
{
    QFETCH(QString, name);
    if (QStandardPaths::findExecutable(QStringLiteral("man")).isEmpty())
        QSKIP("man is not installed");
    const QString page = m_prefix.filePath(QStringLiteral("share/man/man1/%1.1.gz").arg(name));
    QVERIFY2(QFileInfo::exists(page), qPrintable(page));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MANWIDTH"), QStringLiteral("80"));
    const Output shown = run(QStringLiteral("man"), {"--warnings", "-E", "UTF-8", "-l", page}, env);
    QCOMPARE(shown.exitCode, 0);
    QVERIFY2(shown.err.isEmpty(), shown.err.constData());
    const Output strict = run(QStringLiteral("sh"), {"-c", "gzip -dc \"$1\" | groff -man -ww -z", "sh", page}, env);
    QCOMPARE(strict.exitCode, 0);
    QVERIFY2(strict.err.isEmpty(), strict.err.constData());

    const QString text = QString::fromUtf8(shown.out).replace(QChar(0x2010), QLatin1Char('-'));
    QVERIFY(text.contains(QStringLiteral("Nukrit " NUK_VERSION)));
    const QString help = QString::fromLocal8Bit(run(path(("bin/" + name).toLatin1().constData()), {"--help"},
                                                    withoutNukPath(m_tmp.path())).out);
    const QRegularExpression option(QStringLiteral("^  (--[a-z]+)"), QRegularExpression::MultilineOption);
    int options = 0;
    for (const QRegularExpressionMatch& m : option.globalMatch(help)) {
        ++options;
        QVERIFY2(text.contains(m.captured(1)), qPrintable(m.captured(1)));
    }
    QVERIFY(options >= 2);
}

// The package that `cpack -G DEB` makes of this tree: lintian finds no error and
// no warning in it, and it carries the project's version and the manual pages.
void TestInstall::packageIsLintianClean()
{
    if (QStandardPaths::findExecutable(QStringLiteral("lintian")).isEmpty())
        QSKIP("lintian is not installed (apt-get install lintian)");
    if (QStandardPaths::findExecutable(QStringLiteral("dpkg-deb")).isEmpty())
        QSKIP("dpkg-deb is not installed");
    QTemporaryDir out;
    const QString cpack = QFileInfo(QStandardPaths::findExecutable(QStringLiteral("cmake"))).dir().filePath(QStringLiteral("cpack"));
    const Output made = run(cpack, {"-G", "DEB", "--config", NUK_BUILD_DIR "/CPackConfig.cmake", "-B", out.path()},
                            QProcessEnvironment::systemEnvironment());
    QVERIFY2(made.exitCode == 0, made.out.constData());
    const QStringList debs = QDir(out.path()).entryList({QStringLiteral("*.deb")}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    const QString deb = out.filePath(debs.first());

    const Output version = run(QStringLiteral("dpkg-deb"), {"-f", deb, "Version"}, QProcessEnvironment::systemEnvironment());
    QCOMPARE(version.out.trimmed(), QByteArray(NUK_VERSION));
    const Output contents = run(QStringLiteral("dpkg-deb"), {"-c", deb}, QProcessEnvironment::systemEnvironment());
    for (const char* file : {"./usr/share/man/man1/nukrit.1.gz", "./usr/share/man/man1/nukdump.1.gz",
                             "./usr/share/doc/nukrit/copyright", "./usr/share/doc/nukrit/changelog.gz"})
        QVERIFY2(contents.out.contains(file), file);

    const Output lint = run(QStringLiteral("lintian"), {"--no-tag-display-limit", deb},
                            QProcessEnvironment::systemEnvironment());
    QStringList complaints;
    for (const QByteArray& line : lint.out.split('\n')) {
        if (line.startsWith("E: ") || line.startsWith("W: "))
            complaints << QString::fromLocal8Bit(line);
    }
    QVERIFY2(complaints.isEmpty(), qPrintable(complaints.join(QLatin1Char('\n'))));
    QVERIFY2(lint.exitCode == 0, lint.err.constData());
}

NUK_TEST_CLASS(TestInstall)
#include "tst_install.moc"
