// The main window: every menu entry, shortcut and tool bar button with its exact
// text, and what each command does.

#include "app/nuk.h"
#include "app/nukprompts.h"
#include "capture/process/process.h"
#include "capture/setpacedialog.h"
#include "capture/controlpanel.h"
#include "capture/settings.h"

#include <QApplication>
#include <QMenuBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {
struct Button {
    const char* label;
    QSize icon;
    int id;
    const char* whatsThis;
};

const QList<QList<Button>> kToolBars{
    {{"select", {40, 40}, ID_FILE_WIZARD,
      "Click this button to launch user wizard\n\nYou can also select the User Wizard command from the "
      "DataSource menu."},
     {"start", {40, 40}, ID_CONTROL_START,
      "Click this button to start packet capturing\n\n You can also select the Start command from the "
      "Control menu."},
     {"step", {40, 40}, ID_CONTROL_STEP,
      "Click this button to step packet capturing\n\n You can also select the Start in step mode command "
      "from the Control menu."},
     {"stop", {40, 40}, ID_CONTROL_STOP,
      "Click this button to stop packet capturing\n\n You can also select the Stop command from the Control "
      "menu."}},
    {{"Packet View", {32, 32}, ID_WINDOW_PACKET_LIST,
      "Click this button to open a packet view\n\n You can also select the New PacketList View command from "
      "the Control menu."},
     {"Topology", {40, 40}, ID_WINDOW_TOPOLOGY,
      "Click this button to open a machine distribution view\n\n You can also select the New Machine "
      "Distribution View command from the Control menu."},
     {"Time line", {40, 36}, ID_WINDOW_TIME_LINE,
      "Click this button to open a timeline view\n\n You can also select the New TimeLine View command from "
      "the Control menu."},
     {"Contents", {40, 40}, ID_WINDOW_RECONSTRUCTION,
      "Click this button to open a reconstruction contents view\n\n You can also select the New "
      "Reconstruction View command from the Control menu."},
     {"Stream view", {40, 36}, ID_WINDOW_STREAM_LINK,
      "Click this button to open a streamlink view\n\n You can also select the New StreamLink View command "
      "from the Control menu."},
     {"Tcp status", {37, 40}, ID_WINDOW_TCP_STATUS,
      "Click this button to open a TCP state diagram view\n\n You can also select the New TCP State View "
      "command from the Control menu."}},
};

QAction* entry(QMainWindow& w, int id)
{
    for (QAction* top : w.menuBar()->actions())
        if (top->menu())
            for (QAction* a : top->menu()->actions())
                if (a->data().toInt() == id)
                    return a;
    return nullptr;
}
QToolButton* toolButton(QMainWindow& w, int id)
{
    const QList<QToolBar*> bars = w.findChildren<QToolBar*>();
    for (int b = 0; b < kToolBars.size(); ++b)
        for (int i = 0; i < kToolBars[b].size(); ++i)
            if (kToolBars[b][i].id == id)
                return qobject_cast<QToolButton*>(bars[b]->widgetForAction(bars[b]->actions()[i]));
    return nullptr;
}

// The views that exist open a registered window with their caption. The others
// have not been built yet and say so in the status bar.
void expectViewOpened(NUK& w, const QString& name)
{
    const QMap<QString, QString> captions{
        {"Packet List View", "NUK Packet List View"},
        {"Time lines", "NUK Time Line View"},
        {"TCP State Transition View", "NUK TCP State Transition Diagram View"},
        {"Machine Distribution View", "NUK Machine Distribution View"},
        {"Connection Packet View", "NUK Connection Packet View"},
        {"Contents View", "NUK Connection Reconstruction View"},
    };
    if (!captions.contains(name)) {
        QCOMPARE(w.statusBar()->currentMessage(), name + QStringLiteral(" not available yet"));
        return;
    }
    QWidget* view = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->objectName() == name && top->isVisible())
            view = top;
    QVERIFY(view);
    QCOMPARE(view->windowTitle(), captions.value(name));
    QVERIFY(m_View2MenuID.contains(dynamic_cast<CTimeBasedView*>(view)));
    view->close();
    QTRY_VERIFY(!m_View2MenuID.contains(dynamic_cast<CTimeBasedView*>(view)));
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
        p.about = [this](QWidget*, const QString& title, const QString& text) {
            m_aboutTitle = title;
            m_aboutText = text;
        };
        p.saveFileName = [this](QWidget*, const QString&, const QString&, const QString& filter) {
            m_saveFilters << filter;
            return m_saveAnswer;
        };
        p.shutdown = [this] { ++m_shutdowns; };
        ValidWizard = true;
        g_bStepIt = false;
        g_bPureStepMode = false;
        expression.clear();
        g_FileName.clear();
        nukOpMode = OpRealtime;
    }

    void cleanup() { resetNukPrompts(); }

    void windowAndMenus()
    {
        NUK w;
        QCOMPARE(w.windowTitle(), QStringLiteral("NUK 1.0"));
        QVERIFY(w.isWindow() && !w.parentWidget());
        QCOMPARE(w.pos(), QPoint(50, 50));
        QCOMPARE(w.width(), 420);
        QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Ready."));
        QTRY_VERIFY_WITH_TIMEOUT(w.statusBar()->currentMessage().isEmpty(), 4000);  // shown for 2000 ms
        QVERIFY(w.controller() && !w.controller()->isRunning());

        // Menus and their entries: text, shortcut, command id.
        QStringList menus;
        for (QAction* top : w.menuBar()->actions()) {
            menus << (top->isSeparator() ? QStringLiteral("—") : top->text());
            if (top->menu())
                for (QAction* a : top->menu()->actions())
                    menus << (a->isSeparator() ? QStringLiteral("  —")
                                               : QStringLiteral("  %1 [%2] %3")
                                                     .arg(a->text(), a->shortcut().toString())
                                                     .arg(a->data().toInt()));
        }
        QCOMPARE(menus, QStringList({"&File",
                                     "  User Wizard [Ctrl+U] 10008",
                                     "  —",
                                     "  Save as... [Ctrl+A] 10002",
                                     "  —",
                                     "  E&xit [Ctrl+Q] 10005",
                                     "&Control",
                                     "  Start [F5] 10101",
                                     "  Start at Step Mode [] 10110",
                                     "  Stop [F10] 10103",
                                     "  Step [F11] 10105",
                                     "  —",
                                     "  Set Display Pace ... [] 10109",
                                     "&Window",
                                     "  New Packet List View [] 10201",
                                     "  New Machine Distribution View [] 10202",
                                     "  New Connection Packet View [] 10203",
                                     "  New TimeLine View [] 10204",
                                     "  New TCP Status View [] 10205",
                                     "  New Connection Reconstruction View [] 10206",
                                     "  —",
                                     "—",
                                     "&Help",
                                     "  About... [] 1002"}));
    }


    void toolBars()
    {
        NUK w;
        const QList<QToolBar*> bars = w.findChildren<QToolBar*>();
        QCOMPARE(bars.size(), 2);
        for (int b = 0; b < 2; ++b) {
            QToolBar* bar = bars[b];
            QCOMPARE(bar->windowTitle(), QStringLiteral("file operations"));
            const QList<QAction*> actions = bar->actions();
            const int extra = b == 0 ? 2 : 0;  // separator and the What's This button
            QCOMPARE(actions.size(), kToolBars[b].size() + extra);
            for (int i = 0; i < kToolBars[b].size(); ++i) {
                const Button& e = kToolBars[b][i];
                QCOMPARE(actions[i]->text(), QString::fromLatin1(e.label));
                QCOMPARE(actions[i]->toolTip(), QString::fromLatin1(e.label));
                QCOMPARE(actions[i]->whatsThis(), QString::fromLatin1(e.whatsThis));
                QCOMPARE(actions[i]->icon().availableSizes(), QList<QSize>{e.icon});
                QVERIFY(!actions[i]->icon().pixmap(e.icon).isNull());
            }
            if (b == 0) {
                QVERIFY(actions[4]->isSeparator());
                QVERIFY(bar->widgetForAction(actions[5]));  // the toolkit's What's This button
                QVERIFY(!actions[5]->icon().isNull());
            }
        }
    }

    void commands_data()
    {
        QTest::addColumn<int>("way");
        QTest::newRow("menu") << 0;
        QTest::newRow("tool bar") << 1;
        QTest::newRow("keys") << 2;
    }

    void commands()
    {
        QFETCH(int, way);
        QFile trace(QFile::decodeName(NUK_Default_Trace_File));
        QVERIFY(trace.open(QIODevice::WriteOnly | QIODevice::Truncate));
        trace.write(QByteArray(250, 'p'));
        trace.close();
        NUK w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        // Runs a command the chosen way; false when that way has no such command.
        const auto run = [&](int id) {
            if (way == 0) {
                entry(w, id)->trigger();
            } else if (way == 1) {
                QToolButton* button = toolButton(w, id);
                if (!button)
                    return false;
                QTest::mouseClick(button, Qt::LeftButton);
            } else {
                const QKeySequence keys = entry(w, id)->shortcut();
                if (keys.isEmpty())
                    return false;
                QTest::keySequence(&w, keys);
            }
            return true;
        };

        QVERIFY(run(ID_CONTROL_STEP));
        QVERIFY(g_bStepIt && !w.controller()->isRunning());  // Step starts nothing
        g_bStepIt = false;
        g_bPureStepMode = true;
        QVERIFY(run(ID_CONTROL_START));
        QVERIFY(w.controller()->isRunning());
        QVERIFY(!g_bPureStepMode);
        QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("System start running"));
        QVERIFY(run(ID_CONTROL_START));
        QCOMPARE(m_titles.last(), QStringLiteral("Warning"));
        QCOMPARE(m_messages.last(), QStringLiteral("System is running"));
        QVERIFY(run(ID_FILE_WIZARD));  // warns while a capture started by Start runs
        QCOMPARE(m_messages.last(), QStringLiteral("Invalid request. Try stop running or quit existing wizard."));
        QVERIFY(run(ID_CONTROL_STOP));
        QVERIFY(!w.controller()->isRunning() && w.controller()->isStopped());
        QVERIFY(m_messages.last().startsWith(QStringLiteral("Packet Transfering Stopped.")));
        QCOMPARE(m_titles.last(), QString());
        QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("System has stopped"));

        if (run(ID_CONTROL_START_STEP)) {
            QVERIFY(w.controller()->isRunning() && g_bPureStepMode && g_bStepIt);
            run(ID_CONTROL_STOP);
        }
        m_saveAnswer.clear();
        if (run(ID_FILE_SAVE_AS)) {
            QCOMPARE(m_saveFilters.last(), QStringLiteral("*.tr"));
            QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Saving aborted"));
            m_saveAnswer = m_dir.filePath(QStringLiteral("saved"));
            run(ID_FILE_SAVE_AS);
            QCOMPARE(QFileInfo(m_dir.filePath(QStringLiteral("saved.tr"))).size(), 250);
            QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Ready."));
            QFile::remove(m_dir.filePath(QStringLiteral("saved.tr")));
        }
        if (run(ID_CONTROL_PACE)) {
            QVERIFY(w.paceDialog() && w.paceDialog()->isVisible() && w.paceDialog()->isWindow());
            w.paceDialog()->Cancel();
        }
        if (run(ID_HELP_ABOUT)) {
            QCOMPARE(m_aboutTitle, QStringLiteral("About..."));
            QVERIFY(m_aboutText.startsWith(QStringLiteral("NUK Version 1.0\n")));
        }
        const QList<QPair<int, QString>> views{
            {ID_WINDOW_PACKET_LIST, "Packet List View"},   {ID_WINDOW_TOPOLOGY, "Machine Distribution View"},
            {ID_WINDOW_STREAM_LINK, "Connection Packet View"}, {ID_WINDOW_TIME_LINE, "Time lines"},
            {ID_WINDOW_TCP_STATUS, "TCP State Transition View"}, {ID_WINDOW_RECONSTRUCTION, "Contents View"},
        };
        for (const auto& [id, name] : views)
            if (run(id))
                expectViewOpened(w, name);
        if (run(ID_FILE_QUIT))
            QCOMPARE(m_shutdowns, 1);
    }

    // F5, F10 and F11 reach the main window from the program's other windows.
    void startStopAndStepFromOtherWindows()
    {
        NUK w;
        w.show();
        entry(w, ID_WINDOW_PACKET_LIST)->trigger();
        QWidget* view = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->objectName() == QLatin1String("Packet List View"))
                view = top;
        QVERIFY(view && w.currentWizard());
        for (QWidget* window : {view, w.currentWizard()}) {
            window->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(window));
            g_bStepIt = false;
            QTest::keyClick(window, Qt::Key_F11);
            QVERIFY(g_bStepIt);
            QTest::keyClick(window, Qt::Key_F5);
            QVERIFY(w.controller()->isRunning());
            QTest::keyClick(window, Qt::Key_F10);
            QVERIFY(!w.controller()->isRunning());
        }
        view->close();
    }

    void wizardCommand()
    {
        NUK w;
        QPointer<QWidget> first = w.currentWizard();
        QVERIFY(first && first->isVisible() && first->isWindow());  // shown with the window
        entry(w, ID_CONTROL_START)->trigger();
        entry(w, ID_FILE_WIZARD)->trigger();
        QCOMPARE(m_titles.last(), QStringLiteral("Warning"));
        entry(w, ID_CONTROL_STOP)->trigger();
        const int shown = m_messages.size();
        entry(w, ID_FILE_WIZARD)->trigger();
        QCOMPARE(m_messages.size(), shown);  // no warning after Stop
        QVERIFY(w.currentWizard() && w.currentWizard() != first.data());
        QVERIFY(w.currentWizard()->isVisible());
    }

    // A FIFO planted at the trace's name neither hangs Save as nor is copied: the
    // user is told and nothing is written. (Should an open wait on it, the writer
    // below lets it go, so that the test fails instead of hanging.)
    void saveAsRefusesAPlantedFifo()
    {
        const QString trace = QFile::decodeName(NUK_Default_Trace_File);
        QFile::remove(trace);
        QCOMPARE(::mkfifo(NUK_Default_Trace_File, 0666), 0);
        std::atomic<bool> done{false};
        std::thread writer([&] {
            for (int i = 0; i < 300 && !done; ++i, QThread::msleep(10))
                if (const int fd = ::open(NUK_Default_Trace_File, O_WRONLY | O_NONBLOCK); fd >= 0)
                    return void(::close(fd));
        });
        NUK w;
        m_saveAnswer = m_dir.filePath(QStringLiteral("from fifo"));
        w.slotFileSaveAs();
        done = true;
        writer.join();
        QCOMPARE(m_titles.value(0), QStringLiteral("Warning"));
        QCOMPARE(m_messages.value(0), trace + QStringLiteral(" is not a trace file of yours; nothing saved"));
        QVERIFY(!QFile::exists(m_saveAnswer + QStringLiteral(".tr")));
        QFile::remove(trace);
    }

    void exitAndCloseRunShutdownOnce()
    {
        {
            NUK w;
            entry(w, ID_FILE_QUIT)->trigger();
            QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Exiting application..."));
            QCOMPARE(m_shutdowns, 1);
            w.close();  // the window goes away after Exit: no second shutdown
            QCOMPARE(m_shutdowns, 1);
        }
        {
            NUK w;
            w.show();
            QVERIFY(w.close());
            QCOMPARE(m_shutdowns, 2);
        }
    }

private:
    QStringList m_titles, m_messages;
    QString m_aboutTitle, m_aboutText;
    QString m_saveAnswer;
    QStringList m_saveFilters;
    int m_shutdowns = 0;
    QTemporaryDir m_dir;
};

// Every command, run from the menu, the tool bar or the keyboard, does its job.
QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
