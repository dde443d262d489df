// The main window: every menu entry, shortcut and tool bar button with its exact
// text, and what each command does.

#include "app/nuk.h"
#include "app/nukprompts.h"
#include "app/process.h"
#include "capture/setpacedialog.h"
#include "capture/controlpanel.h"
#include "capture/settings.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenuBar>
#include <QSlider>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
struct Entry {
    const char* text;
    QKeySequence shortcut;
    int id;  // 0: separator
};

struct Button {
    const char* label;
    QSize icon;
    const char* whatsThis;
};

QList<QAction*> menuActions(QMainWindow& w, const QString& title)
{
    for (QAction* a : w.menuBar()->actions())
        if (a->text() == title && a->menu())
            return a->menu()->actions();
    return {};
}

QAction* entry(QMainWindow& w, int id)
{
    for (QAction* top : w.menuBar()->actions())
        if (top->menu())
            for (QAction* a : top->menu()->actions())
                if (a->data().toInt() == id)
                    return a;
    return nullptr;
}
// The packet list exists: its command opens a registered window. The other views
// have not been built yet and say so in the status bar.
void expectViewOpened(NUK& w, const QString& name)
{
    if (name != QLatin1String("Packet List View")) {
        QCOMPARE(w.statusBar()->currentMessage(), name + QStringLiteral(" not available yet"));
        return;
    }
    QWidget* view = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->objectName() == name && top->isVisible())
            view = top;
    QVERIFY(view);
    QCOMPARE(view->windowTitle(), QStringLiteral("NUK Packet List View"));
    QVERIFY(m_View2MenuID.contains(dynamic_cast<CTimeBasedView*>(view)));
    view->close();
    QTRY_VERIFY(!m_View2MenuID.contains(dynamic_cast<CTimeBasedView*>(view)));
}

}  // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void windowShape();
    void menuEntries();
    void toolBars();
    void captureCommands();
    void wizardCommand();
    void paceAndAbout();
    void saveAs();
    void viewCommandsWithoutViews();
    void toolButtonsRunTheirCommands();
    void shortcutsReachTheirCommands();
    void exitAndCloseRunShutdownOnce();

private:
    QStringList m_titles, m_messages;
    QString m_aboutTitle, m_aboutText;
    QString m_saveAnswer;
    QStringList m_saveFilters;
    int m_shutdowns = 0;
    QTemporaryDir m_dir;
};

void TestMainWindow::initTestCase()
{
    QVERIFY(::pipe(nControlPipe) == 0);
    QVERIFY(::pipe(nDataPipe) == 0);
    ::fcntl(nDataPipe[1], F_SETPIPE_SZ, 1 << 20);
    std::free(NUK_Default_Trace_File);
    NUK_Default_Trace_File = strdup(QFile::encodeName(m_dir.filePath(QStringLiteral("trace"))).constData());
}

void TestMainWindow::init()
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

void TestMainWindow::cleanup() { resetNukPrompts(); }

void TestMainWindow::windowShape()
{
    NUK w;
    QCOMPARE(w.windowTitle(), QStringLiteral("NUK 1.0"));
    QVERIFY(w.isWindow() && !w.parentWidget());
    QCOMPARE(w.pos(), QPoint(50, 50));
    QCOMPARE(w.width(), 420);
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Ready."));
    QTRY_VERIFY_WITH_TIMEOUT(w.statusBar()->currentMessage().isEmpty(), 4000);  // shown for 2000 ms
    QVERIFY(w.controller());
    QVERIFY(!w.controller()->isRunning());

    QStringList bar;
    for (QAction* a : w.menuBar()->actions())
        bar << (a->isSeparator() ? QStringLiteral("—") : a->text());
    QCOMPARE(bar, (QStringList{"&File", "&Control", "&Window", "—", "&Help"}));
}

void TestMainWindow::menuEntries()
{
    NUK w;
    const QMap<QString, QList<Entry>> menus{
        {"&File",
         {{"User Wizard", QKeySequence(Qt::CTRL | Qt::Key_U), 10008},
          {nullptr, {}, 0},
          {"Save as...", QKeySequence(Qt::CTRL | Qt::Key_A), 10002},
          {nullptr, {}, 0},
          {"E&xit", QKeySequence(Qt::CTRL | Qt::Key_Q), 10005}}},
        {"&Control",
         {{"Start", QKeySequence(Qt::Key_F5), 10101},
          {"Start at Step Mode", QKeySequence(), 10110},
          {"Stop", QKeySequence(Qt::Key_F10), 10103},
          {"Step", QKeySequence(Qt::Key_F11), 10105},
          {nullptr, {}, 0},
          {"Set Display Pace ...", QKeySequence(), 10109}}},
        {"&Window",
         {{"New Packet List View", QKeySequence(), 10201},
          {"New Machine Distribution View", QKeySequence(), 10202},
          {"New Connection Packet View", QKeySequence(), 10203},
          {"New TimeLine View", QKeySequence(), 10204},
          {"New TCP Status View", QKeySequence(), 10205},
          {"New Connection Reconstruction View", QKeySequence(), 10206},
          {nullptr, {}, 0}}},
        {"&Help", {{"About...", QKeySequence(), 1002}}},
    };
    for (auto it = menus.cbegin(); it != menus.cend(); ++it) {
        const QList<QAction*> actions = menuActions(w, it.key());
        QCOMPARE(actions.size(), it.value().size());
        for (int i = 0; i < actions.size(); ++i) {
            const Entry& e = it.value()[i];
            if (!e.text) {
                QVERIFY2(actions[i]->isSeparator(), qPrintable(it.key()));
                continue;
            }
            QCOMPARE(actions[i]->text(), QString::fromLatin1(e.text));
            QCOMPARE(actions[i]->shortcut(), e.shortcut);
            QCOMPARE(actions[i]->data().toInt(), e.id);
        }
    }
}

void TestMainWindow::toolBars()
{
    NUK w;
    const QList<QToolBar*> bars = w.findChildren<QToolBar*>();
    QCOMPARE(bars.size(), 2);
    const QList<QList<Button>> expected{
        {{"select", {40, 40},
          "Click this button to launch user wizard\n\nYou can also select the User Wizard command from the "
          "DataSource menu."},
         {"start", {40, 40},
          "Click this button to start packet capturing\n\n You can also select the Start command from the "
          "Control menu."},
         {"step", {40, 40},
          "Click this button to step packet capturing\n\n You can also select the Start in step mode command "
          "from the Control menu."},
         {"stop", {40, 40},
          "Click this button to stop packet capturing\n\n You can also select the Stop command from the Control "
          "menu."}},
        {{"Packet View", {32, 32},
          "Click this button to open a packet view\n\n You can also select the New PacketList View command from "
          "the Control menu."},
         {"Topology", {40, 40},
          "Click this button to open a machine distribution view\n\n You can also select the New Machine "
          "Distribution View command from the Control menu."},
         {"Time line", {40, 36},
          "Click this button to open a timeline view\n\n You can also select the New TimeLine View command from "
          "the Control menu."},
         {"Contents", {40, 40},
          "Click this button to open a reconstruction contents view\n\n You can also select the New "
          "Reconstruction View command from the Control menu."},
         {"Stream view", {40, 36},
          "Click this button to open a streamlink view\n\n You can also select the New StreamLink View command "
          "from the Control menu."},
         {"Tcp status", {37, 40},
          "Click this button to open a TCP state diagram view\n\n You can also select the New TCP State View "
          "command from the Control menu."}},
    };
    for (int b = 0; b < 2; ++b) {
        QToolBar* bar = bars[b];
        QCOMPARE(bar->windowTitle(), QStringLiteral("file operations"));
        const QList<QAction*> actions = bar->actions();
        const int extra = b == 0 ? 2 : 0;  // separator and the What's This button
        QCOMPARE(actions.size(), expected[b].size() + extra);
        for (int i = 0; i < expected[b].size(); ++i) {
            const Button& e = expected[b][i];
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

void TestMainWindow::captureCommands()
{
    NUK w;
    entry(w, ID_CONTROL_STEP)->trigger();
    QVERIFY(g_bStepIt);
    g_bStepIt = false;

    g_bPureStepMode = true;
    entry(w, ID_CONTROL_START)->trigger();
    QVERIFY(w.controller()->isRunning());
    QVERIFY(!g_bPureStepMode);
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("System start running"));
    entry(w, ID_CONTROL_START)->trigger();
    QCOMPARE(m_messages.last(), QStringLiteral("System is running"));
    QCOMPARE(m_titles.last(), QStringLiteral("Warning"));

    entry(w, ID_CONTROL_STOP)->trigger();
    QVERIFY(!w.controller()->isRunning());
    QVERIFY(w.controller()->isStopped());
    QVERIFY(m_messages.last().startsWith(QStringLiteral("Packet Transfering Stopped.")));
    QCOMPARE(m_titles.last(), QString());
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("System has stopped"));

    entry(w, ID_CONTROL_START_STEP)->trigger();
    QVERIFY(w.controller()->isRunning());
    QVERIFY(g_bPureStepMode);
    QVERIFY(g_bStepIt);
    entry(w, ID_CONTROL_STOP)->trigger();
    g_bPureStepMode = false;
    g_bStepIt = false;
}

void TestMainWindow::wizardCommand()
{
    NUK w;
    QPointer<QWidget> first = w.currentWizard();
    QVERIFY(first && first->isVisible() && first->isWindow());  // shown with the window
    entry(w, ID_CONTROL_START)->trigger();
    entry(w, ID_FILE_WIZARD)->trigger();
    QCOMPARE(m_titles.last(), QStringLiteral("Warning"));
    QCOMPARE(m_messages.last(), QStringLiteral("Invalid request. Try stop running or quit existing wizard."));
    entry(w, ID_CONTROL_STOP)->trigger();
    const int shown = m_messages.size();
    entry(w, ID_FILE_WIZARD)->trigger();
    QCOMPARE(m_messages.size(), shown);  // no warning after Stop
    QVERIFY(w.currentWizard() && w.currentWizard() != first.data());
    QVERIFY(w.currentWizard()->isVisible());
}

void TestMainWindow::paceAndAbout()
{
    NUK w;
    QVERIFY(!w.paceDialog());
    entry(w, ID_CONTROL_PACE)->trigger();
    SetPaceDialog* dialog = w.paceDialog();
    QVERIFY(dialog && dialog->isVisible() && dialog->isWindow());
    dialog->paceSlider()->setValue(500);
    dialog->OK();
    QCOMPARE(g_TimeDelayRatio.load(), 500.0f);
    entry(w, ID_CONTROL_PACE)->trigger();
    QCOMPARE(w.paceDialog(), dialog);  // the same dialog, keeping its value
    QCOMPARE(dialog->paceEdit()->text(), QStringLiteral("500"));
    dialog->Cancel();

    entry(w, ID_HELP_ABOUT)->trigger();
    QCOMPARE(m_aboutTitle, QStringLiteral("About..."));
    QVERIFY(m_aboutText.startsWith(QStringLiteral("NUK Version 1.0\n")));
}

void TestMainWindow::saveAs()
{
    QFile trace(QFile::decodeName(NUK_Default_Trace_File));
    QVERIFY(trace.open(QIODevice::WriteOnly | QIODevice::Truncate));
    trace.write(QByteArray(250, 'p'));
    trace.close();

    NUK w;
    m_saveAnswer.clear();
    entry(w, ID_FILE_SAVE_AS)->trigger();
    QCOMPARE(m_saveFilters.last(), QStringLiteral("*.tr"));
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Saving aborted"));

    m_saveAnswer = m_dir.filePath(QStringLiteral("saved"));
    entry(w, ID_FILE_SAVE_AS)->trigger();
    QFile saved(m_dir.filePath(QStringLiteral("saved.tr")));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray(250, 'p'));
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Ready."));
}

void TestMainWindow::viewCommandsWithoutViews()
{
    NUK w;
    const QList<QPair<int, QString>> views{
        {ID_WINDOW_PACKET_LIST, "Packet List View"},
        {ID_WINDOW_TOPOLOGY, "Machine Distribution View"},
        {ID_WINDOW_STREAM_LINK, "Connection Packet View"},
        {ID_WINDOW_TIME_LINE, "Time lines"},
        {ID_WINDOW_TCP_STATUS, "TCP State Transition View"},
        {ID_WINDOW_RECONSTRUCTION, "Contents View"},
    };
    for (const auto& [id, name] : views) {
        entry(w, id)->trigger();
        expectViewOpened(w, name);
    }
}

void TestMainWindow::toolButtonsRunTheirCommands()
{
    NUK w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QList<QToolBar*> bars = w.findChildren<QToolBar*>();
    const auto click = [&](const QString& label) {
        for (QToolBar* bar : bars)
            for (QAction* a : bar->actions())
                if (a->text() == label) {
                    auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(a));
                    QVERIFY(button);
                    QTest::mouseClick(button, Qt::LeftButton);
                    return;
                }
        QFAIL(qPrintable(label));
    };
    click(QStringLiteral("start"));
    QVERIFY(w.controller()->isRunning());
    click(QStringLiteral("select"));
    QCOMPARE(m_messages.last(), QStringLiteral("Invalid request. Try stop running or quit existing wizard."));
    click(QStringLiteral("step"));
    QVERIFY(g_bStepIt);
    click(QStringLiteral("stop"));
    QVERIFY(!w.controller()->isRunning());
    const QList<QPair<QString, QString>> views{
        {"Packet View", "Packet List View"},       {"Topology", "Machine Distribution View"},
        {"Time line", "Time lines"},               {"Contents", "Contents View"},
        {"Stream view", "Connection Packet View"}, {"Tcp status", "TCP State Transition View"},
    };
    for (const auto& [label, name] : views) {
        click(label);
        expectViewOpened(w, name);
    }
}

void TestMainWindow::shortcutsReachTheirCommands()
{
    NUK w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_F11);
    QVERIFY(g_bStepIt);
    QTest::keyClick(&w, Qt::Key_F5);
    QVERIFY(w.controller()->isRunning());
    QTest::keyClick(&w, Qt::Key_U, Qt::ControlModifier);
    QCOMPARE(m_messages.last(), QStringLiteral("Invalid request. Try stop running or quit existing wizard."));
    QTest::keyClick(&w, Qt::Key_F10);
    QVERIFY(!w.controller()->isRunning());
    m_saveAnswer.clear();
    QTest::keyClick(&w, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Saving aborted"));
    QTest::keyClick(&w, Qt::Key_Q, Qt::ControlModifier);
    QCOMPARE(m_shutdowns, 1);
}

void TestMainWindow::exitAndCloseRunShutdownOnce()
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

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
