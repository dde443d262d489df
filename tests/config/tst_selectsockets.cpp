// SPDX-License-Identifier: GPL-2.0-or-later
// The socket selection dialog with the real socket child process and a stand-in
// listing helper in a temporary NUKPATH.

#include "capture/process/process.h"
#include "common/processes.h"
#include "common/testmain.h"
#include "capture/settings.h"
#include "config/filterexpression.h"
#include "config/selectsockets.h"
#include "helpers/helperrunner.h"

#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <csignal>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
QStringList rowTexts(QTreeWidgetItem* item)
{
    QStringList texts;
    for (int c = 0; c < item->columnCount(); ++c)
        texts << item->text(c);
    return texts;
}

// A peer 0.0.0.0:0 and a local 0.0.0.0 are on no packet: they add no term.
const QString kSocket[] = {
    QStringLiteral(" ( host 127.0.0.1 and port 631)"),
    QStringLiteral(" ( port 5353)"),
    QStringLiteral(" ( host 10.0.0.2 and port 40000 and host 93.184.216.34 and port 443)"),
    QStringLiteral(" ( host ::1 and port 8080)"),
    QStringLiteral(" ( host fd00:1234:5678:9abc:def0:1234:5678:9abc and port 40001 and host 2001:db8::80 and port 443)"),
};
}  // namespace

class SelectSocketsTest : public QObject {
    Q_OBJECT
    testproc::FakeNukPath m_fake;
    QTemporaryDir& m_root = m_fake.root;

    void setMode(const char* mode)
    {
        QVERIFY(testproc::writeFile(m_root.filePath(QStringLiteral("mode")), mode));
    }
    int runs() const
    {
        return testproc::readFile(m_root.filePath(QStringLiteral("runs"))).trimmed().toInt();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_fake.install("getSock", FAKE_GETSOCK));
        qputenv("NUKPATH", m_root.path().toLocal8Bit());
        qputenv("NUK_FAKE_GETSOCK_DIR", m_root.path().toLocal8Bit());
        qputenv("NUK_TMPDIR", m_root.path().toLocal8Bit());  // keeps the temporary files in here
        // The real launcher and socket children, with the real socket pipe.
        QCOMPARE(startNukProcesses(), 0);
        QVERIFY(g_SockFork > 0);
    }

    void cleanupTestCase()
    {
        // Helpers first (a "partial" one waits to be killed), then the children.
        if (g_SockFork > 0) {
            kill(g_SockFork, SIGUSR2);
            QTest::qWait(100);
            kill(g_SockFork, SIGKILL);
            waitpid(g_SockFork, nullptr, 0);
            g_SockFork = 0;
        }
        if (g_ForkNumber > 0) {
            kill(g_ForkNumber, SIGKILL);
            waitpid(g_ForkNumber, nullptr, 0);
        }
    }

    void init()
    {
        setMode("normal");
        expression = QStringLiteral("untouched");
    }

    void listsTheHelpersSockets()
    {
        SelectSockets dialog;
        QVERIFY(dialog.isVisible() && dialog.isCollecting());
        QTRY_COMPARE(dialog.list()->topLevelItemCount(), 5);
        const QString run = QStringLiteral("run %1").arg(runs());
        QCOMPARE(rowTexts(dialog.list()->topLevelItem(0)),
                 QStringList({"TCP", "127.0.0.1:631", "0.0.0.0:0", run, "123/cupsd"}));  // 17 is not UDP
        QCOMPARE(rowTexts(dialog.list()->topLevelItem(1)),
                 QStringList({"UDP", "0.0.0.0:5353", "0.0.0.0:0", run, "456/avahi"}));
        QCOMPARE(rowTexts(dialog.list()->topLevelItem(2)),
                 QStringList({"TCP", "10.0.0.2:40000", "93.184.216.34:443", run, "789/a-very-long-name"}));
        QTest::qWait(100);
        QCOMPARE(dialog.list()->topLevelItemCount(), 5);
    }

    void buttonsWriteTheExpression_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("written");
        QTest::newRow("ok, none selected: all") << QByteArray("normal") << QList<int>() << true
                                                << kSocket[0] + " or" + kSocket[1] + " or" + kSocket[2] + " or" +
                                                       kSocket[3] + " or" + kSocket[4];
        QTest::newRow("ok, two selected") << QByteArray("normal") << QList<int>{0, 2} << true
                                          << kSocket[0] + " or" + kSocket[2];
        QTest::newRow("ok, IPv4 and IPv6") << QByteArray("normal") << QList<int>{1, 3, 4} << true
                                           << kSocket[1] + " or" + kSocket[3] + " or" + kSocket[4];
        QTest::newRow("ok, empty list") << QByteArray("silent") << QList<int>() << true << QString();
        QTest::newRow("cancel") << QByteArray("normal") << QList<int>{1} << false << QStringLiteral("untouched");
    }
    void buttonsWriteTheExpression()
    {
        QFETCH(QByteArray, mode);
        QFETCH(QList<int>, selected);
        QFETCH(bool, ok);
        QFETCH(QString, written);
        setMode(mode.constData());
        SelectSockets dialog;
        if (mode == "normal")
            QTRY_COMPARE(dialog.list()->topLevelItemCount(), 5);
        else
            QTest::qWait(100);
        for (int row : selected)
            dialog.list()->topLevelItem(row)->setSelected(true);
        QTest::mouseClick(ok ? dialog.okButton() : dialog.cancelButton(), Qt::LeftButton);
        QCOMPARE(expression, written);
        if (ok && !written.isEmpty())
            QVERIFY(filterCompileError(expression).isEmpty());
        QVERIFY(!dialog.isVisible());
        QVERIFY(!dialog.isCollecting());
    }

    void closingOrDeletingEndsTheReaderAndLeavesThePipeClean()
    {
        for (const bool closeFirst : {true, false}) {
            setMode("partial");
            QPointer<SelectSockets> dialog = new SelectSockets;
            dialog->setAttribute(Qt::WA_DeleteOnClose);
            QTRY_COMPARE(dialog->list()->topLevelItemCount(), 1);
            QTest::qWait(50);  // the cut record is in the reader's hands now
            if (closeFirst)
                dialog->close();
            else
                delete dialog.data();  // never closed: the reader is still collecting
            QTRY_VERIFY(dialog.isNull());

            // The next dialog sees whole records only.
            setMode("normal");
            SelectSockets next;
            QTRY_COMPARE(next.list()->topLevelItemCount(), 5);
            QCOMPARE(next.list()->topLevelItem(0)->text(1), QStringLiteral("127.0.0.1:631"));
            QCOMPARE(next.list()->topLevelItem(2)->text(1), QStringLiteral("10.0.0.2:40000"));
        }
    }
};

NUK_TEST_CLASS(SelectSocketsTest)
#include "tst_selectsockets.moc"
