// SPDX-License-Identifier: GPL-2.0-or-later
// The main window's commands, run from the menu, the tool bar and the keyboard;
// saving the trace (Save as); shutting down.

#include "app/capturestatus.h"
#include "app/displayfilterbar.h"
#include "app/messagestatusbar.h"
#include "app/nuk.h"
#include "common/processes.h"
#include "common/testmain.h"
#include "common/viewhelpers.h"
#include "app/nukdoc.h"
#include "app/nukprompts.h"
#include "capture/process/process.h"
#include "capture/controlpanel.h"
#include "capture/currentpacket.h"
#include "packets/packetfixtures.h"
#include "views/tcpstate/stattrandiagram.h"
#include "capture/setpacedialog.h"
#include "capture/settings.h"
#include "config/filter.h"
#include "views/packets/listviews.h"
#include "views/packets/packetlistmodel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QHeaderView>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
using viewtest::menuEntry;

QWidget* toolButton(QMainWindow& w, int id)
{
    const QMap<int, QString> labels{
        {ID_FILE_WIZARD, "select"},         {ID_CONTROL_START, "start"},      {ID_CONTROL_STEP, "step"},
        {ID_CONTROL_STOP, "stop"},          {ID_WINDOW_PACKET_LIST, "Packet View"}, {ID_WINDOW_TOPOLOGY, "Topology"},
        {ID_WINDOW_TIME_LINE, "Time line"}, {ID_WINDOW_RECONSTRUCTION, "Contents"}, {ID_WINDOW_STREAM_LINK, "Stream view"},
        {ID_WINDOW_TCP_STATUS, "Tcp status"}};
    for (QToolBar* bar : w.findChildren<QToolBar*>())
        for (QAction* a : bar->actions())
            if (labels.contains(id) && a->text() == labels[id])
                return bar->widgetForAction(a);
    return nullptr;
}

using testproc::readFile;

QByteArray writeTrace(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 7 + 3);
    testproc::writeFile(QFile::decodeName(NUK_Default_Trace_File), bytes);
    return bytes;
}

QWidget* visibleWindow(const QString& objectName)
{
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->objectName() == objectName && top->isVisible())
            return top;
    return nullptr;
}
}  // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(::pipe(nControlPipe) == 0);
        QVERIFY(::pipe(nDataPipe) == 0);
        ::fcntl(nDataPipe[1], F_SETPIPE_SZ, 1 << 20);
        std::free(NUK_Default_Trace_File);
        NUK_Default_Trace_File = strdup(QFile::encodeName(m_dir.filePath(QStringLiteral("trace"))).constData());
    }

    void init()
    {
        m_titles.clear();
        m_messages.clear();
        m_shutdowns = 0;
        NukPrompts& p = nukPrompts();
        p.message = [this](QWidget*, const QString& title, const QString& text) {
            m_titles << title;
            m_messages << text;
        };
        p.about = [this](QWidget*, const QString& title, const QString&) { m_titles << title; };
        p.saveFileName = [this](QWidget*, const QString&, const QString&, const QString&) { return m_saveAnswer; };
        p.shutdown = [this] { ++m_shutdowns; };
        ValidWizard = true;
        g_bStepIt = false;
        g_bPureStepMode = false;
        expression.clear();
        g_FileName.clear();
        nukOpMode = OpRealtime;
    }

    void cleanup() { resetNukPrompts(); }

    void commands_data()
    {
        QTest::addColumn<int>("way");
        QTest::addColumn<int>("commands");  // how many commands this way offers
        QTest::newRow("menu") << 0 << 17;
        QTest::newRow("tool bar") << 1 << 10;
        QTest::newRow("keys") << 2 << 7;
    }

    void commands()
    {
        QFETCH(int, way);
        QFETCH(int, commands);
        QVERIFY(testproc::writeFile(QFile::decodeName(NUK_Default_Trace_File), QByteArray(250, 'p')));
        NUK w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QSet<int> ran;
        // Runs a command the chosen way; false when that way has no such command.
        const auto run = [&](int id) {
            QAction* entry = menuEntry(w, id);
            if (!entry)
                return false;
            if (way == 0) {
                entry->trigger();
            } else if (way == 1) {
                QWidget* button = toolButton(w, id);
                if (!button)
                    return false;
                QTest::mouseClick(button, Qt::LeftButton);
            } else {
                if (entry->shortcut().isEmpty())
                    return false;
                QTest::keySequence(&w, entry->shortcut());
            }
            ran << id;
            return true;
        };

        QVERIFY(run(ID_CONTROL_STEP));
        QVERIFY(g_bStepIt && !w.controller()->isRunning());  // Step starts nothing
        g_bStepIt = false;
        g_bPureStepMode = true;
        QVERIFY(run(ID_CONTROL_START));
        QVERIFY(w.controller()->isRunning() && !g_bPureStepMode);
        QVERIFY(run(ID_CONTROL_START));
        QCOMPARE(m_messages.last(), QStringLiteral("System is running"));
        QVERIFY(run(ID_FILE_WIZARD));  // warns while a capture started by Start runs
        QCOMPARE(m_messages.last(), QStringLiteral("Invalid request. Try stop running or quit existing wizard."));
        QVERIFY(run(ID_CONTROL_STOP));
        QVERIFY(!w.controller()->isRunning() && w.controller()->isStopped());
        QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("System has stopped"));

        if (run(ID_CONTROL_START_STEP)) {
            QVERIFY(w.controller()->isRunning() && g_bPureStepMode && g_bStepIt);
            run(ID_CONTROL_STOP);
        }
        m_saveAnswer.clear();
        if (run(ID_FILE_SAVE_AS)) {
            QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Saving aborted"));
            m_saveAnswer = m_dir.filePath(QStringLiteral("saved"));
            run(ID_FILE_SAVE_AS);
            QCOMPARE(QFileInfo(m_dir.filePath(QStringLiteral("saved.tr"))).size(), 250);
            QFile::remove(m_dir.filePath(QStringLiteral("saved.tr")));
        }
        m_saveAnswer.clear();
        if (run(ID_FILE_SAVE_DISPLAYED))
            QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Saving aborted"));
        if (run(ID_CONTROL_DISPLAY_FILTER)) {
            QTRY_VERIFY(w.displayFilterDialog() && w.displayFilterDialog()->isVisible());
            QCOMPARE(w.displayFilterDialog()->windowTitle(), QStringLiteral("NUK Display Filter"));
            w.displayFilterDialog()->close();
        }
        if (run(ID_CONTROL_PACE)) {
            // The slider and the field set the pace on OK; Cancel and a wrong number do not keep it.
            SetPaceDialog* pace = w.paceDialog();
            QVERIFY(pace && pace->isVisible() && pace->isWindow());
            g_TimeDelayRatio = 1.0f;
            pace->paceSlider()->setValue(500);
            QCOMPARE(pace->paceEdit()->text(), QStringLiteral("500"));
            pace->OK();
            QCOMPARE(g_TimeDelayRatio.load(), 500.0f);
            QVERIFY(pace->isHidden());
            pace->paceSlider()->setValue(40);
            pace->Cancel();
            QCOMPARE(g_TimeDelayRatio.load(), 500.0f);
            pace->paceEdit()->setText(QStringLiteral("fast"));
            pace->OK();
            QCOMPARE(g_TimeDelayRatio.load(), 0.0f);
            // Typed: digits within the slider's range only; the slider follows; Return is OK.
            pace->show();
            pace->paceEdit()->setFocus();
            pace->paceEdit()->selectAll();
            QTest::keyClicks(pace->paceEdit(), QStringLiteral("1x00"));
            QCOMPARE(pace->paceEdit()->text(), QStringLiteral("100"));
            QCOMPARE(pace->paceSlider()->value(), 100);
            QTest::keyClick(pace->paceEdit(), Qt::Key_Return);
            QCOMPARE(g_TimeDelayRatio.load(), 100.0f);
            QVERIFY(pace->isHidden());
            g_TimeDelayRatio = 1.0f;
        }
        if (run(ID_HELP_ABOUT))
            QCOMPARE(m_titles.last(), QStringLiteral("About..."));
        // Each new-view command opens its registered view; closing it unregisters it.
        const QList<QPair<int, QString>> views{
            {ID_WINDOW_PACKET_LIST, "Packet List View"},       {ID_WINDOW_TOPOLOGY, "Machine Distribution View"},
            {ID_WINDOW_STREAM_LINK, "Connection Packet View"}, {ID_WINDOW_TIME_LINE, "Time lines"},
            {ID_WINDOW_TCP_STATUS, "TCP State Transition View"}, {ID_WINDOW_RECONSTRUCTION, "Contents View"},
        };
        for (const auto& [id, name] : views) {
            if (!run(id))
                continue;
            QWidget* view = visibleWindow(name);
            QVERIFY2(view && view->windowTitle().startsWith(QLatin1String("NUK ")), qPrintable(name));
            QVERIFY(m_View2MenuID.contains(dynamic_cast<CTimeBasedView*>(view)));
            view->close();
            QTRY_VERIFY(!m_View2MenuID.contains(dynamic_cast<CTimeBasedView*>(view)));
        }
        if (run(ID_FILE_QUIT))
            QCOMPARE(m_shutdowns, 1);
        QCOMPARE(ran.size(), commands);
    }

    // "Link Views" turns linking off and on; following a connection opens the TCP
    // state diagram once and then reuses it.
    void linkViewsAndFollow()
    {
        NUK w;
        QAction* link = menuEntry(w, ID_WINDOW_LINK_VIEWS);
        QVERIFY(link && link->isCheckable() && link->isChecked() && currentPacket().isLinked());
        link->trigger();
        QVERIFY(!currentPacket().isLinked());
        link->trigger();
        QVERIFY(currentPacket().isLinked());

        const auto packet = fixtures::build(fixtures::Fields());
        const auto diagrams = [] {
            QList<StatTranDiagram*> found;
            for (auto it = m_View2MenuID.cbegin(); it != m_View2MenuID.cend(); ++it)
                if (auto* d = dynamic_cast<StatTranDiagram*>(it.key()))
                    found << d;
            return found;
        };
        QVERIFY(diagrams().isEmpty());
        for (int i = 0; i < 2; ++i) {
            currentPacket().follow(packet.get());
            QCOMPARE(diagrams().size(), 1);
            QVERIFY(diagrams().first()->isVisible());
            QCOMPARE(diagrams().first()->connectionLabel()->text(), QStringLiteral("10.0.0.1:1234 \u2194 192.168.1.2:80"));
        }
    }

    // The display filter over two packet lists, one locked: a wrong expression turns
    // red and changes nothing; a right one (typed, or built in the filter dialog)
    // shows what tcpdump selects, with the capture's numbers beside; Save Displayed
    // As writes what tcpdump reads back; Clear shows everything again.
    void displayFilter()
    {
        const QString trace = QStringLiteral(NUK_TEST_DATA "/config/filter.pcap");
        const auto captured = fixtures::readTrace(trace);
        const int all = int(captured.size());
        const auto selected = [&](const QString& expression) {
            const QString file = m_dir.filePath(QStringLiteral("selected.pcap"));
            const testproc::Run t = testproc::runProgram(
                QStringLiteral("tcpdump"), {"-nn", "-r", trace, "-w", file, "(tcp or udp) and (" + expression + ")"});
            return t.exitCode == 0 ? fixtures::readTrace(file) : std::vector<fixtures::TracePacket>();
        };
        NUK w;
        w.slotNewPacketListView();
        w.slotNewPacketListView();
        QList<ListViews*> lists;
        for (auto it = m_View2MenuID.cbegin(); it != m_View2MenuID.cend(); ++it)
            lists << dynamic_cast<ListViews*>(it.key());
        QCOMPARE(lists.size(), 2);
        for (const auto& p : captured)
            w.controller()->AddPacket(new CPacket(*p.packet));
        for (ListViews* list : lists)
            QTRY_COMPARE(list->model()->rowCount(), all);
        lists[1]->slotLockView();
        DisplayFilterBar* bar = w.displayFilterBar();
        QTableView* table = lists[0]->packetList();
        QVERIFY(table->isColumnHidden(PacketListItem::ColCapture) && w.displayFilterStatus()->isHidden());

        bar->apply(QStringLiteral("portt 80"));
        QTRY_VERIFY(!bar->isChecking());
        QVERIFY(bar->refusal().contains(QLatin1String("syntax error")));
        QVERIFY(bar->field()->lineEdit()->styleSheet().contains(QLatin1String("#ffb0b0")));
        QVERIFY(!w.controller()->displayFilter() && w.displayFilterStatus()->isHidden());
        QCOMPARE(lists[0]->model()->rowCount(), all);

        for (const QString& expression : {QStringLiteral("port 80"), QStringLiteral("tcp[tcpflags] & tcp-syn != 0")}) {
            const auto expected = selected(expression);
            QVERIFY(!expected.empty());
            bar->apply(expression);
            QTRY_VERIFY(w.controller()->displayFilter() && !w.controller()->displayProgress().refeeding);
            QTRY_COMPARE(lists[0]->model()->rowCount(), int(expected.size()));
            QVERIFY(bar->refusal().isEmpty() && bar->field()->itemText(0) == expression);
            QVERIFY(!table->isColumnHidden(PacketListItem::ColCapture));
            QCOMPARE(table->horizontalHeader()->visualIndex(PacketListItem::ColCapture), 1);
            for (int row = 0; row < lists[0]->model()->rowCount(); ++row) {
                const PacketListItem& item = lists[0]->model()->item(row);
                QCOMPARE(item.number(), std::uint32_t(row + 1));
                QCOMPARE(captured[item.packet()->captureNumber() - 1].frame, expected[std::size_t(row)].frame);
            }
            QTRY_COMPARE(w.displayFilterStatus()->text(),
                         QStringLiteral("Display filter: %1 — %2 of %3 packets").arg(expression).arg(expected.size()).arg(all));
            QCOMPARE(lists[1]->model()->rowCount(), all);  // locked

            m_saveAnswer = m_dir.filePath(QStringLiteral("shown.pcap"));
            menuEntry(w, ID_FILE_SAVE_DISPLAYED)->trigger();
            const testproc::Run back = testproc::runProgram(QStringLiteral("tcpdump"), {"-nn", "-r", m_saveAnswer});
            QCOMPARE(back.lines.size(), qsizetype(expected.size()));
            QCOMPARE(QFileInfo(m_saveAnswer).permissions() & 0x0077, QFile::Permissions());
        }
        bar->apply(QStringLiteral("port 9"));
        QTRY_COMPARE(w.displayFilterStatus()->text(),
                     QStringLiteral("Display filter: port 9 — no packet matches (0 of %1)").arg(all));
        QTRY_COMPARE(lists[0]->model()->rowCount(), 0);

        // Built in the filter dialog: only UDP. The capture's own filter stays as it was.
        const QString captureFilter = expression;
        menuEntry(w, ID_CONTROL_DISPLAY_FILTER)->trigger();
        auto* dialog = qobject_cast<Filter*>(w.displayFilterDialog());
        QVERIFY(dialog && dialog->inForceField()->text() == QStringLiteral("port 9") && dialog->loBox()->isHidden());
        dialog->tcpBox()->setChecked(false);
        dialog->udpBox()->setChecked(true);
        dialog->okButton()->click();
        QTRY_COMPARE(bar->inForce(), QStringLiteral("udp"));
        QTRY_COMPARE(lists[0]->model()->rowCount(), int(selected(QStringLiteral("udp")).size()));
        QCOMPARE(expression, captureFilter);

        bar->clear();
        QTRY_COMPARE(lists[0]->model()->rowCount(), all);
        QVERIFY(table->isColumnHidden(PacketListItem::ColCapture) && w.displayFilterStatus()->isHidden());
        QCOMPARE(lists[1]->model()->rowCount(), all);
    }

    // With the count, the replay bar and the pace shown, a status message is not cut
    // off: one too long for the room beside them gets a band of its own above them.
    void statusMessagesAreNotCut()
    {
        NUK w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* bar = qobject_cast<MessageStatusBar*>(w.statusBar());
        QVERIFY(bar);
        CaptureProgress progress;
        progress.running = progress.replay = true;
        progress.delivered = 20066;
        progress.share = 0.5;
        w.showProgress(progress);
        const int oneLine = bar->height();
        const QLabel* count = w.captureStatus()->countLabel();
        for (const QString& text : {QStringLiteral("System start running"), QStringLiteral("Replay finished: 20066 packets"),
                                    QStringLiteral("pcap: cannot open the trace file /home/user/traces/a rather long name.tr: "
                                                   "No such file or directory")}) {
            w.showStatus(text);
            QCoreApplication::processEvents();
            const QRect room = bar->messageRect();
            const QRect needed = bar->fontMetrics().boundingRect(QRect(0, 0, room.width(), 1000), Qt::TextWordWrap, text);
            QVERIFY2(needed.width() <= room.width() && needed.height() <= room.height(), qPrintable(text));
            // Beside the widgets or above them, never under them.
            QVERIFY(room.right() < count->x() || room.bottom() < count->y());
            QVERIFY(bar->rect().contains(room) && count->isVisible());
        }
        QVERIFY(bar->hasMessageBand() && bar->height() > oneLine);
        bar->clearMessage();
        QCoreApplication::processEvents();
        QVERIFY(!bar->hasMessageBand());
        QTRY_COMPARE(bar->height(), oneLine);
    }

    // In pieces of a hundred bytes, owner-only, what the trace held when the copy
    // began (the helper goes on writing); ".tr" appended where it is missing. Only
    // the user's own trace file is copied.
    void saveAs()
    {
        const QByteArray trace = writeTrace(250);
        NUKDoc doc;
        std::vector<std::size_t> pieces;
        doc.setPieceObserver([&](std::size_t n) {
            pieces.push_back(n);
            testproc::writeFile(QFile::decodeName(NUK_Default_Trace_File), QByteArray(500, 'x'), QIODevice::Append);
        });
        QVERIFY(doc.saveAs(m_dir.filePath(QStringLiteral("pieces"))));
        QCOMPARE(pieces, (std::vector<std::size_t>{100, 100, 50}));
        QCOMPARE(readFile(m_dir.filePath(QStringLiteral("pieces.tr"))), trace);
        struct stat info;
        QCOMPARE(::stat(QFile::encodeName(m_dir.filePath(QStringLiteral("pieces.tr"))).constData(), &info), 0);
        QCOMPARE(int(info.st_mode & 0777), 0600);

        doc.setPieceObserver({});
        const QPair<const char*, const char*> names[] = {
            {"trace.tr", "trace.tr"}, {"trace.TR", "trace.TR.tr"}, {"trace.pcap", "trace.pcap.tr"}};
        for (const auto& [given, written] : names) {
            const QByteArray data = writeTrace(30 + int(std::strlen(given)));
            QVERIFY(doc.saveAs(m_dir.filePath(given)));
            QCOMPARE(readFile(m_dir.filePath(written)), data);
            QCOMPARE(g_SaveFileName, m_dir.filePath(written));
        }

        // A link or another user's file at the trace's name is not copied.
        QVERIFY(!doc.saveAs(QString()));
        writeTrace(10);
        QVERIFY(!doc.saveAs(m_dir.filePath(QStringLiteral("no/such/dir/x"))));
        const QString real = QFile::decodeName(NUK_Default_Trace_File);
        QVERIFY(QFile::rename(real, real + QStringLiteral(".real")));
        QVERIFY(QFile::link(real + QStringLiteral(".real"), real));
        QVERIFY(!doc.saveAs(m_dir.filePath(QStringLiteral("via link"))));
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("via link.tr"))));
        QFile::remove(real);
        QVERIFY(!doc.saveAs(m_dir.filePath(QStringLiteral("missing"))));  // no trace at all
        if (geteuid() != 0)
            QSKIP("only root can give the trace file to another user");
        writeTrace(10);
        QVERIFY(::chmod(NUK_Default_Trace_File, 0666) == 0 && ::chown(NUK_Default_Trace_File, 65534, 65534) == 0);
        QVERIFY(!doc.saveAs(m_dir.filePath(QStringLiteral("foreign"))));
        QCOMPARE(doc.refusal(), real + QStringLiteral(" is not a trace file of yours; nothing saved"));
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("foreign.tr"))));
        QFile::remove(real);
    }

private:
    QStringList m_titles, m_messages;
    QString m_saveAnswer;
    int m_shutdowns = 0;
    QTemporaryDir m_dir;
};

NUK_TEST_CLASS(TestMainWindow)
#include "tst_mainwindow.moc"
