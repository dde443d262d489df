// Save as: the name rule, the pieces, and a trace that grows during the copy.

#include "app/nukdoc.h"
#include "capture/process/process.h"
#include "capture/settings.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QByteArray contents(const QString& name)
{
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
}  // namespace

class TestNukDoc : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QByteArray writeTrace(int size)
    {
        QByteArray bytes(size, '\0');
        for (int i = 0; i < size; ++i)
            bytes[i] = char(i * 7 + 3);
        QFile f(QFile::decodeName(NUK_Default_Trace_File));
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(bytes);
        return bytes;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        std::free(NUK_Default_Trace_File);
        NUK_Default_Trace_File = strdup(QFile::encodeName(m_dir.filePath(QStringLiteral("default trace"))).constData());
    }

    void copiesInPiecesOfHundred()
    {
        const QByteArray trace = writeTrace(250);
        NUKDoc doc;
        std::vector<std::size_t> pieces;
        doc.setPieceObserver([&](std::size_t n) { pieces.push_back(n); });
        const QString target = m_dir.filePath(QStringLiteral("pieces.tr"));
        QVERIFY(doc.saveAs(target));
        QCOMPARE(pieces, (std::vector<std::size_t>{100, 100, 50}));
        QCOMPARE(contents(target), trace);
        struct stat info;
        QCOMPARE(::stat(QFile::encodeName(target).constData(), &info), 0);
        QCOMPARE(int(info.st_mode & 0777), 0600);
    }

    void appendsExtensionOnlyWhenMissing()
    {
        const QPair<const char*, const char*> names[] = {
            {"trace", "trace.tr"}, {"trace.tr", "trace.tr"}, {"trace.TR", "trace.TR.tr"}, {"trace.pcap", "trace.pcap.tr"}};
        for (const auto& [given, written] : names) {
            const QByteArray trace = writeTrace(30 + int(std::strlen(given)));
            NUKDoc doc;
            QVERIFY(doc.saveAs(m_dir.filePath(given)));
            QCOMPARE(contents(m_dir.filePath(written)), trace);
            QCOMPARE(g_SaveFileName, m_dir.filePath(written));
        }
    }

    void copiesOnlyWhatWasThereAtStart()
    {
        const QByteArray trace = writeTrace(250);
        NUKDoc doc;
        // The helper goes on writing while the copy runs.
        doc.setPieceObserver([](std::size_t) {
            QFile f(QFile::decodeName(NUK_Default_Trace_File));
            f.open(QIODevice::Append);
            f.write(QByteArray(500, 'x'));
        });
        const QString target = m_dir.filePath(QStringLiteral("growing.tr"));
        QVERIFY(doc.saveAs(target));
        QCOMPARE(contents(target), trace);
    }

    void failuresSaveNothing()
    {
        NUKDoc doc;
        QVERIFY(!doc.saveAs(QString()));
        writeTrace(10);
        QVERIFY(!doc.saveAs(m_dir.filePath(QStringLiteral("no/such/dir/x"))));

        // A link planted at the trace's name is not followed.
        const QString real = QFile::decodeName(NUK_Default_Trace_File);
        QVERIFY(QFile::rename(real, real + QStringLiteral(".real")));
        QVERIFY(QFile::link(real + QStringLiteral(".real"), real));
        QVERIFY(!doc.saveAs(m_dir.filePath(QStringLiteral("via link"))));
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("via link.tr"))));
        QFile::remove(real);
        QVERIFY(!doc.saveAs(m_dir.filePath(QStringLiteral("missing"))));  // no trace at all
        QVERIFY(doc.refusal().isEmpty());

        // Another user's file, even a readable one, is not the user's trace.
        if (geteuid() == 0) {
            writeTrace(10);
            QVERIFY(::chmod(NUK_Default_Trace_File, 0666) == 0 && ::chown(NUK_Default_Trace_File, 65534, 65534) == 0);
            QVERIFY(!doc.saveAs(m_dir.filePath(QStringLiteral("foreign"))));
            QCOMPARE(doc.refusal(), real + QStringLiteral(" is not a trace file of yours; nothing saved"));
            QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("foreign.tr"))));
            QFile::remove(real);
        }
    }
};

QTEST_MAIN(TestNukDoc)
#include "tst_nukdoc.moc"
