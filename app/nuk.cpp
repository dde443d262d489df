// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/nuk.h"

#include "app/capturestatus.h"
#include "app/displayfilterbar.h"
#include "app/messagestatusbar.h"
#include "app/nukdoc.h"
#include "app/nukprompts.h"
#include "app/nukview.h"
#include "capture/currentpacket.h"
#include "capture/scheduler.h"
#include "capture/setpacedialog.h"
#include "capture/settings.h"
#include "config/filter.h"
#include "config/wizardfactory.h"
#include "views/tcpstate/stattrandiagram.h"
#include "views/viewfactory.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QProgressDialog>
#include <QStatusBar>
#include <QToolBar>
#include <QWhatsThis>

#include <algorithm>
#include <climits>

namespace {
struct ToolButton {
    const char* label;
    const char* icon;
    void (NUK::*slot)();
    const char* whatsThis;
};

const ToolButton kFileButtons[] = {
    {"select", "seldata", &NUK::slotUserWizard,
     "Click this button to launch user wizard\n\nYou can also select the User Wizard command from the "
     "DataSource menu."},
    {"start", "play", &NUK::slotStartPlay,
     "Click this button to start packet capturing\n\n You can also select the Start command from the "
     "Control menu."},
    {"step", "step1", &NUK::slotStepPlay,
     "Click this button to step packet capturing\n\n You can also select the Start in step mode command "
     "from the Control menu."},
    {"stop", "stop", &NUK::slotStopPlay,
     "Click this button to stop packet capturing\n\n You can also select the Stop command from the "
     "Control menu."},
};

const ToolButton kViewButtons[] = {
    {"Packet View", "pkview", &NUK::slotNewPacketListView,
     "Click this button to open a packet view\n\n You can also select the New PacketList View command "
     "from the Control menu."},
    {"Topology", "network", &NUK::slotNewTopologyView,
     "Click this button to open a machine distribution view\n\n You can also select the New Machine "
     "Distribution View command from the Control menu."},
    {"Time line", "timeline", &NUK::slotNewTimeLineView,
     "Click this button to open a timeline view\n\n You can also select the New TimeLine View command "
     "from the Control menu."},
    {"Contents", "contents_xpm", &NUK::slotNewReconstructionView,
     "Click this button to open a reconstruction contents view\n\n You can also select the New "
     "Reconstruction View command from the Control menu."},
    {"Stream view", "streamview", &NUK::slotNewStreamLinkView,
     "Click this button to open a streamlink view\n\n You can also select the New StreamLink View "
     "command from the Control menu."},
    {"Tcp status", "tcpstatus", &NUK::slotNewTCPStatusView,
     "Click this button to open a TCP state diagram view\n\n You can also select the New TCP State View "
     "command from the Control menu."},
};

QAction* addEntry(QMenu* menu, const QString& text, const QKeySequence& shortcut, int id, NUK* window,
                  void (NUK::*slot)())
{
    QAction* action = menu->addAction(text);
    action->setShortcut(shortcut);
    // Start, Stop and Step are pressed while watching a view, not the main window.
    if (id == ID_CONTROL_START || id == ID_CONTROL_STOP || id == ID_CONTROL_STEP)
        action->setShortcutContext(Qt::ApplicationShortcut);
    action->setData(id);
    QObject::connect(action, &QAction::triggered, window, slot);
    return action;
}

void addButtons(QToolBar* bar, NUK* window, const ToolButton* first, const ToolButton* last)
{
    for (const ToolButton* b = first; b != last; ++b) {
        QAction* action = bar->addAction(QIcon(QStringLiteral(":/icons/%1.xpm").arg(QLatin1String(b->icon))),
                                         QString::fromLatin1(b->label));
        action->setObjectName(QString::fromLatin1(b->icon));
        action->setToolTip(QString::fromLatin1(b->label));
        action->setWhatsThis(QString::fromLatin1(b->whatsThis));
        QObject::connect(action, &QAction::triggered, window, b->slot);
    }
}
}  // namespace

NUK::NUK(const QString& traceFile) : QMainWindow(nullptr)
{
    setWindowTitle(QStringLiteral("NUK 1.0"));
    initMenuBar();
    initToolBar();
    initStatusBar();

    m_pDoc = new NUKDoc(this);
    m_pView = new NUKView(this);
    connect(m_pDoc, &NUKDoc::documentChanged, m_pView, &NUKView::slotDocumentChanged);
    setCentralWidget(m_pView);

    move(50, 50);
    resize(420, 50);

    m_pControlPanel = std::make_unique<ControlPanel>(this);
    connect(&currentPacket(), &CurrentPacket::followRequested, this, &NUK::slotFollowInTcpStateDiagram);
    openWizard(traceFile);
}

NUK::~NUK()
{
    delete m_pDisplayFilterDialog.data();
    for (const QPointer<QWidget>& wizard : m_wizards)
        delete wizard.data();
    delete m_pPaceDialog.data();
    // Views keep pointers to the controller's packets: they go before it does.
    destroyAllViews();
    m_pControlPanel.reset();
}

SetPaceDialog* NUK::paceDialog() const { return m_pPaceDialog; }

void NUK::initMenuBar()
{
    m_pFileMenu = menuBar()->addMenu(QStringLiteral("&File"));
    addEntry(m_pFileMenu, QStringLiteral("User Wizard"), QKeySequence(Qt::CTRL | Qt::Key_U), ID_FILE_WIZARD, this,
             &NUK::slotUserWizard);
    m_pFileMenu->addSeparator();
    addEntry(m_pFileMenu, QStringLiteral("Save as..."), QKeySequence(Qt::CTRL | Qt::Key_A), ID_FILE_SAVE_AS, this,
             &NUK::slotFileSaveAs);
    addEntry(m_pFileMenu, QStringLiteral("Save Displayed As..."), QKeySequence(), ID_FILE_SAVE_DISPLAYED, this,
             &NUK::slotFileSaveDisplayedAs);
    m_pFileMenu->addSeparator();
    addEntry(m_pFileMenu, QStringLiteral("E&xit"), QKeySequence(Qt::CTRL | Qt::Key_Q), ID_FILE_QUIT, this,
             &NUK::slotFileQuit);

    m_pControlMenu = menuBar()->addMenu(QStringLiteral("&Control"));
    addEntry(m_pControlMenu, QStringLiteral("Start"), QKeySequence(Qt::Key_F5), ID_CONTROL_START, this,
             &NUK::slotStartPlay);
    addEntry(m_pControlMenu, QStringLiteral("Start at Step Mode"), QKeySequence(), ID_CONTROL_START_STEP, this,
             &NUK::slotStartStep);
    addEntry(m_pControlMenu, QStringLiteral("Stop"), QKeySequence(Qt::Key_F10), ID_CONTROL_STOP, this,
             &NUK::slotStopPlay);
    addEntry(m_pControlMenu, QStringLiteral("Step"), QKeySequence(Qt::Key_F11), ID_CONTROL_STEP, this,
             &NUK::slotStepPlay);
    m_pControlMenu->addSeparator();
    addEntry(m_pControlMenu, QStringLiteral("Set Display Pace ..."), QKeySequence(), ID_CONTROL_PACE, this,
             &NUK::slotSetDisplayPace);
    addEntry(m_pControlMenu, QStringLiteral("Display Filter..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F),
             ID_CONTROL_DISPLAY_FILTER, this, &NUK::slotDisplayFilter);

    m_pWindowMenu = menuBar()->addMenu(QStringLiteral("&Window"));
    addEntry(m_pWindowMenu, QStringLiteral("New Packet List View"), QKeySequence(), ID_WINDOW_PACKET_LIST, this,
             &NUK::slotNewPacketListView);
    addEntry(m_pWindowMenu, QStringLiteral("New Machine Distribution View"), QKeySequence(), ID_WINDOW_TOPOLOGY,
             this, &NUK::slotNewTopologyView);
    addEntry(m_pWindowMenu, QStringLiteral("New Connection Packet View"), QKeySequence(), ID_WINDOW_STREAM_LINK,
             this, &NUK::slotNewStreamLinkView);
    addEntry(m_pWindowMenu, QStringLiteral("New TimeLine View"), QKeySequence(), ID_WINDOW_TIME_LINE, this,
             &NUK::slotNewTimeLineView);
    addEntry(m_pWindowMenu, QStringLiteral("New TCP Status View"), QKeySequence(), ID_WINDOW_TCP_STATUS, this,
             &NUK::slotNewTCPStatusView);
    addEntry(m_pWindowMenu, QStringLiteral("New Connection Reconstruction View"), QKeySequence(),
             ID_WINDOW_RECONSTRUCTION, this, &NUK::slotNewReconstructionView);
    m_pWindowMenu->addSeparator();
    QAction* link = m_pWindowMenu->addAction(QStringLiteral("Link Views"));
    link->setData(ID_WINDOW_LINK_VIEWS);
    link->setCheckable(true);
    link->setChecked(currentPacket().isLinked());
    connect(link, &QAction::toggled, this, &NUK::slotLinkViews);

    menuBar()->addSeparator();
    m_pHelpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
    addEntry(m_pHelpMenu, QStringLiteral("About..."), QKeySequence(), ID_HELP_ABOUT, this, &NUK::slotHelpAbout);
}

void NUK::initToolBar()
{
    m_pFileToolbar = addToolBar(QStringLiteral("file operations"));
    m_pFileToolbar->setObjectName(QStringLiteral("file operations"));
    m_pFileToolbar->setIconSize(QSize(40, 40));
    addButtons(m_pFileToolbar, this, std::begin(kFileButtons), std::end(kFileButtons));
    m_pFileToolbar->addSeparator();
    m_pFileToolbar->addAction(QWhatsThis::createAction(m_pFileToolbar));

    // At 420 pixels the two bars do not fit side by side: the second gets a row of its
    // own rather than hiding half its buttons behind an extension arrow.
    addToolBarBreak();
    m_pViewToolbar = addToolBar(QStringLiteral("file operations"));
    m_pViewToolbar->setObjectName(QStringLiteral("file operations"));
    m_pViewToolbar->setIconSize(QSize(40, 40));
    addButtons(m_pViewToolbar, this, std::begin(kViewButtons), std::end(kViewButtons));
    addToolBarBreak();
    m_pDisplayFilterBar = new DisplayFilterBar(this);
    addToolBar(m_pDisplayFilterBar);
    connect(m_pDisplayFilterBar, &DisplayFilterBar::filterChosen, this,
            [this](std::shared_ptr<const DisplayFilter> filter) { m_pControlPanel->setDisplayFilter(std::move(filter)); });
    connect(m_pDisplayFilterBar, &DisplayFilterBar::filterRefused, this, [this](const QString& message) {
        statusBar()->showMessage(QStringLiteral("Display filter refused: ") + message);
    });
}

void NUK::initStatusBar()
{
    // The window is narrow: a message wraps rather than hide behind the permanent widgets.
    setStatusBar(new MessageStatusBar(this));
    m_pCaptureStatus = new CaptureStatus(statusBar());
    m_pDisplayStatus = new QLabel(statusBar());
    m_pDisplayStatus->setObjectName(QStringLiteral("display filter status"));
    m_pDisplayStatus->setWordWrap(true);
    statusBar()->addPermanentWidget(m_pDisplayStatus);
    m_pDisplayStatus->hide();
    statusBar()->showMessage(QStringLiteral("Ready."), 2000);
}

void NUK::showMessage(const QString& title, const QString& text) { nukPrompts().message(this, title, text); }

void NUK::showStatus(const QString& text) { statusBar()->showMessage(text); }

void NUK::showProgress(const CaptureProgress& progress) { m_pCaptureStatus->show(progress); }

void NUK::showDisplayProgress(const DisplayProgress& progress)
{
    m_pDisplayFilterBar->showProgress(progress);
    if (progress.text.empty()) {
        m_pDisplayStatus->hide();
        return;
    }
    const QString expression = QString::fromStdString(progress.text);
    m_pDisplayStatus->setText(
        progress.matched == 0 && !progress.refeeding
            ? QStringLiteral("Display filter: %1 \u2014 no packet matches (0 of %2)").arg(expression).arg(progress.captured)
            : QStringLiteral("Display filter: %1 \u2014 %2 of %3 packets")
                  .arg(expression)
                  .arg(progress.matched)
                  .arg(progress.captured));
    m_pDisplayStatus->show();
}

QWidget* NUK::displayFilterDialog() const { return m_pDisplayFilterDialog; }

void NUK::slotDisplayFilter()
{
    if (m_pDisplayFilterDialog) {
        m_pDisplayFilterDialog->raise();
        m_pDisplayFilterDialog->activateWindow();
        return;
    }
    auto* dialog = new Filter;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setDisplayMode(m_pDisplayFilterBar->inForce(),
                           [bar = QPointer<DisplayFilterBar>(m_pDisplayFilterBar)](const QString& text) {
                               if (bar)
                                   bar->apply(text);
                           });
    m_pDisplayFilterDialog = dialog;
    dialog->show();
}

void NUK::slotFileSaveDisplayedAs()
{
    statusBar()->showMessage(QStringLiteral("Saving the displayed packets..."));
    const QString name = nukPrompts().saveFileName(this, QString(), QString(), QStringLiteral("*.pcap"));
    if (name.isEmpty()) {
        statusBar()->showMessage(QStringLiteral("Saving aborted"), 2000);
        return;
    }
    const auto filter = m_pControlPanel->displayFilter();
    const std::vector<CPacket*> packets = m_pControlPanel->capturedPackets();
    // A million packets take a second or two to write: the window stays responsive
    // meanwhile (the dialog's updates run the event loop), and Cancel removes the file.
    QProgressDialog progress(QStringLiteral("Saving the displayed packets..."), QStringLiteral("Cancel"), 0,
                             int(std::min<std::size_t>(packets.size(), INT_MAX)), this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    std::string error;
    const long long written =
        writeDisplayedTrace(QFile::encodeName(name).toStdString(), packets, filter.get(), error, [&](std::size_t done) {
            progress.setValue(int(std::min<std::size_t>(done, INT_MAX)));
            return !progress.wasCanceled();
        });
    progress.reset();
    if (written < 0 && error.empty()) {
        statusBar()->showMessage(QStringLiteral("Saving aborted"), 2000);
        return;
    }
    if (written < 0) {
        showMessage(QStringLiteral("Warning"), QString::fromLocal8Bit(error.c_str()));
        statusBar()->showMessage(QStringLiteral("Ready."));
        return;
    }
    statusBar()->showMessage(QStringLiteral("%1 packets saved in %2").arg(written).arg(name));
}

bool NUK::openWizard(const QString& traceFile)
{
    QWidget* wizard = createUserWizard(m_pControlPanel.get(), createView, traceFile);
    if (!wizard)
        return false;
    m_pWizard = wizard;
    m_wizards.append(wizard);
    wizard->show();
    return true;
}

void NUK::slotUserWizard()
{
    if (!ValidWizard) {
        showMessage(QStringLiteral("Warning"), QStringLiteral("Invalid request. Try stop running or quit existing wizard."));
        return;
    }
    if (!openWizard(QString()))
        statusBar()->showMessage(QStringLiteral("User Wizard not available yet"), 2000);
}

void NUK::slotFileSaveAs()
{
    statusBar()->showMessage(QStringLiteral("Saving file under new filename..."));
    const QString name = nukPrompts().saveFileName(this, QString(), QString(), QStringLiteral("*.tr"));
    if (name.isEmpty()) {
        // Left up for its 2000 ms rather than replaced at once by "Ready.".
        statusBar()->showMessage(QStringLiteral("Saving aborted"), 2000);
        return;
    }
    if (!m_pDoc->saveAs(name) && !m_pDoc->refusal().isEmpty())
        showMessage(QStringLiteral("Warning"), m_pDoc->refusal());
    statusBar()->showMessage(QStringLiteral("Ready."));
}

void NUK::shutDown()
{
    if (m_bShutDown)
        return;
    m_bShutDown = true;
    nukPrompts().shutdown();
}

void NUK::slotFileQuit()
{
    statusBar()->showMessage(QStringLiteral("Exiting application..."));
    shutDown();
    QCoreApplication::quit();
}

void NUK::closeEvent(QCloseEvent* event)
{
    shutDown();
    event->accept();
    // Views and wizards are windows of their own: closing this one still ends the program.
    QCoreApplication::quit();
}

void NUK::slotStartPlay()
{
    g_bPureStepMode = false;
    m_pControlPanel->Start();
}

void NUK::slotStartStep()
{
    g_bStepIt = true;
    g_bPureStepMode = true;
    m_pControlPanel->Start();
}

void NUK::slotStopPlay() { m_pControlPanel->Stop(); }

void NUK::slotStepPlay() { g_Scheduler.step(); }

void NUK::slotSetDisplayPace()
{
    if (!m_pPaceDialog)
        m_pPaceDialog = new SetPaceDialog;
    m_pPaceDialog->show();
    m_pPaceDialog->raise();
}

void NUK::openView(ViewKind kind, const QString& objectName, const QString& typeName)
{
    CTimeBasedView* view = createView(kind, objectName, m_pControlPanel.get());
    if (!view) {
        statusBar()->showMessage(objectName + QStringLiteral(" not available yet"), 2000);
        return;
    }
    m_pControlPanel->AddView(view, typeName);
}

void NUK::slotNewPacketListView()
{
    openView(ViewKind::PacketList, QStringLiteral("Packet List View"), QStringLiteral("PacketListView"));
}

void NUK::slotNewTopologyView()
{
    openView(ViewKind::Topology, QStringLiteral("Machine Distribution View"),
             QStringLiteral("MachineDistributionView"));
}

void NUK::slotNewStreamLinkView()
{
    openView(ViewKind::StreamLink, QStringLiteral("Connection Packet View"), QStringLiteral("StreamLinkView"));
}

void NUK::slotNewTimeLineView()
{
    openView(ViewKind::TimeLine, QStringLiteral("Time lines"), QStringLiteral("NewTimeLineView"));
}

void NUK::slotNewTCPStatusView()
{
    openView(ViewKind::TcpState, QStringLiteral("TCP State Transition View"), QStringLiteral("TCPStateDiagramView"));
}

void NUK::slotNewReconstructionView()
{
    openView(ViewKind::Reconstruction, QStringLiteral("Contents View"), QStringLiteral("ReconstructionView"));
}

void NUK::slotLinkViews(bool linked) { currentPacket().setLinked(linked); }

void NUK::slotFollowInTcpStateDiagram(const CPacket* packet)
{
    const auto openDiagram = [] {
        for (auto it = m_View2MenuID.cbegin(); it != m_View2MenuID.cend(); ++it)
            if (auto* diagram = dynamic_cast<StatTranDiagram*>(it.key()))
                return diagram;
        return static_cast<StatTranDiagram*>(nullptr);
    };
    StatTranDiagram* diagram = openDiagram();
    if (!diagram) {
        slotNewTCPStatusView();
        diagram = openDiagram();
    }
    if (!diagram || !packet)
        return;
    diagram->follow(*packet);
    diagram->show();
    diagram->raise();
}

void NUK::slotHelpAbout()
{
    nukPrompts().about(this, QStringLiteral("About..."),
                       QStringLiteral("NUK Version " NUK_VERSION "\n"
                                      "Watches TCP and UDP traffic over IPv4, live or from tcpdump traces.\n"
                                      "Built with Qt and libpcap by the Nukrit developers."));
}
