// The socket selection dialog with the real socket child process and a stand-in
// listing helper in a temporary NUKPATH.

#include "app/process.h"
#include "capture/settings.h"
#include "config/filterexpression.h"
#include "config/selectsockets.h"

#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

class SelectSocketsTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_root;

    void setMode(const char* mode)
    {
        QFile file(m_root.filePath(QStringLiteral("mode")));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(mode);
    }
    int runs() const
    {
        QFile file(m_root.filePath(QStringLiteral("runs")));
        return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        QVERIFY(QDir(m_root.path()).mkpath(QStringLiteral("nuk")));
        const QString helper = m_root.filePath(QStringLiteral("nuk/getSock"));
        QVERIFY(QFile::copy(QStringLiteral(FAKE_GETSOCK), helper));
        QVERIFY(QFile::setPermissions(helper, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        qputenv("NUKPATH", m_root.path().toLocal8Bit());
        qputenv("NUK_FAKE_GETSOCK_DIR", m_root.path().toLocal8Bit());
        qputenv("NUK_TMPDIR", m_root.path().toLocal8Bit());  // keeps the temporary files in here
        setMode("normal");

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
        QCOMPARE(dialog.objectName(), QStringLiteral("SelectSockets"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("NUK Current Active Sockets"));
        QCOMPARE(dialog.size(), QSize(592, 380));
        QVERIFY(dialog.isVisible());
        QVERIFY(dialog.isCollecting());

        QTreeWidgetItem* header = dialog.list()->headerItem();
        QStringList columns;
        for (int c = 0; c < header->columnCount(); ++c)
            columns << header->text(c);
        QCOMPARE(columns, QStringList({"Protocol", "Local Address", "Foreign Address", "State", "PID/Program name"}));
        QCOMPARE(dialog.list()->selectionMode(), QAbstractItemView::MultiSelection);

        auto* box = dialog.findChild<QGroupBox*>();
        QVERIFY(box);
        QCOMPARE(box->title(), QStringLiteral("Select Sockets"));
        QVERIFY(box->findChild<QLabel*>()->text().startsWith(QLatin1String("This is a list of current active sockets")));
        QVERIFY(dialog.refreshButton()->x() < dialog.okButton()->x());
        QVERIFY(dialog.okButton()->x() < dialog.cancelButton()->x());

        QTRY_COMPARE(dialog.list()->topLevelItemCount(), 3);
        const QString run = QStringLiteral("run %1").arg(runs());
        const QStringList expected[] = {
            {"TCP", "127.0.0.1:631", "0.0.0.0:0", run, "123/cupsd"},  // protocol 17 is not UDP
            {"UDP", "0.0.0.0:5353", "0.0.0.0:0", run, "456/avahi"},
            {"TCP", "10.0.0.2:40000", "93.184.216.34:443", run, "789/a-very-long-name"},
        };
        for (int row = 0; row < 3; ++row) {
            QStringList texts;
            for (int c = 0; c < 5; ++c)
                texts << dialog.list()->topLevelItem(row)->text(c);
            QCOMPARE(texts, expected[row]);
        }
        QTest::qWait(100);
        QCOMPARE(dialog.list()->topLevelItemCount(), 3);
    }

    void okWithoutSelectionTakesAllSockets()
    {
        SelectSockets dialog;
        QTRY_COMPARE(dialog.list()->topLevelItemCount(), 3);
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
        QCOMPARE(expression, QStringLiteral(" ( host 127.0.0.1 and port 631 and host 0.0.0.0 and port 0) or"
                                            " ( host 0.0.0.0 and port 5353 and host 0.0.0.0 and port 0) or"
                                            " ( host 10.0.0.2 and port 40000 and host 93.184.216.34 and port 443)"));
        QVERIFY(filterCompileError(expression).isEmpty());
        QVERIFY(!dialog.isVisible());
        QVERIFY(!dialog.isCollecting());
    }

    void okWithTwoSelectedRows()
    {
        SelectSockets dialog;
        QTRY_COMPARE(dialog.list()->topLevelItemCount(), 3);
        dialog.list()->topLevelItem(0)->setSelected(true);
        dialog.list()->topLevelItem(2)->setSelected(true);
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
        QCOMPARE(expression, QStringLiteral(" ( host 127.0.0.1 and port 631 and host 0.0.0.0 and port 0) or"
                                            " ( host 10.0.0.2 and port 40000 and host 93.184.216.34 and port 443)"));
        QVERIFY(filterCompileError(expression).isEmpty());
    }

    void okWithAnEmptyListLeavesNoExpression()
    {
        setMode("silent");
        SelectSockets dialog;
        QTest::qWait(100);
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
        QCOMPARE(expression, QString());
    }

    void cancelLeavesTheExpression()
    {
        SelectSockets dialog;
        QTRY_COMPARE(dialog.list()->topLevelItemCount(), 3);
        dialog.list()->topLevelItem(1)->setSelected(true);
        QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
        QCOMPARE(expression, QStringLiteral("untouched"));
        QVERIFY(!dialog.isVisible());
        QVERIFY(!dialog.isCollecting());
    }

    void refreshEmptiesTheListFirst()
    {
        SelectSockets dialog;
        QTRY_COMPARE(dialog.list()->topLevelItemCount(), 3);
        const int firstRun = runs();
        QTest::mouseClick(dialog.refreshButton(), Qt::LeftButton);
        QCOMPARE(dialog.list()->topLevelItemCount(), 0);
        QTRY_COMPARE(dialog.list()->topLevelItemCount(), 3);
        QCOMPARE(runs(), firstRun + 1);
        for (int row = 0; row < 3; ++row)
            QCOMPARE(dialog.list()->topLevelItem(row)->text(3), QStringLiteral("run %1").arg(firstRun + 1));
    }

    void closingEndsTheReaderAndLeavesThePipeClean()
    {
        setMode("partial");
        QPointer<SelectSockets> dialog = new SelectSockets;
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        QTRY_COMPARE(dialog->list()->topLevelItemCount(), 1);
        QTest::qWait(50);  // the cut record is in the reader's hands now
        dialog->close();
        QTRY_VERIFY(dialog.isNull());

        // The next dialog sees whole records only.
        setMode("normal");
        SelectSockets next;
        QTRY_COMPARE(next.list()->topLevelItemCount(), 3);
        QCOMPARE(next.list()->topLevelItem(2)->text(1), QStringLiteral("10.0.0.2:40000"));
    }

    void destroyedWhileCollecting()
    {
        setMode("partial");
        auto* dialog = new SelectSockets;
        QTRY_COMPARE(dialog->list()->topLevelItemCount(), 1);
        delete dialog;  // never closed: the reader is still collecting

        setMode("normal");
        SelectSockets next;
        QTRY_COMPARE(next.list()->topLevelItemCount(), 3);
        QCOMPARE(next.list()->topLevelItem(0)->text(1), QStringLiteral("127.0.0.1:631"));
    }
};

QTEST_MAIN(SelectSocketsTest)
#include "tst_selectsockets.moc"
