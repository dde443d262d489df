// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/packets/testlistview.h"

#include "capture/cpacket.h"
#include "views/common/linkedselection.h"

#include "capture/controlpanel.h"
#include "views/common/viewprompts.h"
#include "views/packets/connection.h"
#include "views/packets/connectionfeed.h"
#include "views/packets/connectionlistmodel.h"
#include "views/packets/connectionwidgets.h"
#include "views/packets/wideasciiscrollview.h"

#include <QMenuBar>
#include <QSplitter>
#include <QTableView>

TestListView::TestListView(ControlPanel* controller, QWidget* parent, const char* name)
    : ConnectionWindow(parent, name, QStringLiteral("NUK Connection Reconstruction View")), m_controller(controller)
{
    m_outer = new QSplitter(Qt::Vertical, this);
    makeConnectionList(m_outer);
    m_live = new WideASCIIScrollView(false, false, m_outer);
    // The connection list keeps its height when the window is resized.
    m_outer->setStretchFactor(0, 0);
    m_outer->setStretchFactor(1, 1);
    m_outer->setSizes({150, 250});
    setCentralWidget(m_outer);

    initMenuBar();
    resize(600, 420);
    show();
}

TestListView::~TestListView() = default;

void TestListView::initMenuBar()
{
    using connectionwidgets::addItem;
    QMenu* operation = menuBar()->addMenu(QStringLiteral("&Operation"));
    connect(addItem(operation, "&Reconstruct View", QKeySequence(Qt::CTRL | Qt::Key_R), IdRecon), &QAction::triggered,
            this, &TestListView::slotReconView);
    connect(addItem(operation, "u&Pdate View", QKeySequence(Qt::CTRL | Qt::Key_P), IdUpdate), &QAction::triggered, this,
            &TestListView::slotRefreshView);
    connect(addItem(operation, "&Clear View", QKeySequence(Qt::CTRL | Qt::Key_C), IdClear), &QAction::triggered, this,
            &TestListView::slotClearView);
    operation->addSeparator();
    connect(addItem(operation, "&Lock View", QKeySequence(Qt::CTRL | Qt::Key_L), IdLock), &QAction::triggered, this,
            &TestListView::slotLockView);
    connect(addItem(operation, "&Unlock View", QKeySequence(Qt::CTRL | Qt::Key_U), IdUnlock), &QAction::triggered, this,
            &TestListView::slotUnlockView);
    operation->addSeparator();
    linked::addGoToPacket(operation, this, [this](const CPacket* packet) { showLinkedPacket(packet, nullptr); });
}

void TestListView::showConnection(Connection* connection, bool sortedToo)
{
    m_current = connection;
    const auto lock = m_feed->lock();  // filing appends to the packet list
    m_live->updateview(connection);
    if (sortedToo) {
        m_backward->updateSortedView(connection);
        m_forward->updateSortedView(connection);
    }
}

void TestListView::slotConnectionChanged()
{
    if (Connection* selected = currentRowConnection(true)) {
        // The reconstruction panes follow only while no packets flow into the lists.
        const bool stopped = m_controller && !m_controller->isRunning();
        showConnection(selected, stopped && m_reconBuilt);
    }
}

// The live pane shows the conversation's payloads in arrival order: the packet's
// bytes start after those of the packets before it.
void TestListView::showLinkedPacket(const CPacket* packet, const QObject* source)
{
    std::size_t index = 0;
    if (source == this || !selectConnectionOf(packet, &index))
        return;
    std::uint64_t offset = 0;
    {
        const auto lock = m_feed->lock();
        const auto& packets = m_current->packets();
        for (std::size_t i = 0; i < index && i < packets.size(); ++i)
            offset += packets[i].packet()->payloadLength();
    }
    // A packet that came after the pane was filled: show the conversation again.
    if (offset + packet->payloadLength() > m_live->text().size())
        showConnection(m_current, false);
    m_live->scrollToByte(offset);
}

void TestListView::slotReconView()
{
    if (m_controller)
        showStop(m_controller, this).exec();
}

void showStop::exec()
{
    // Only while packets still flow: after a Stop or a finished replay there is
    // nothing to stop.
    if (m_controller->isRunning()) {
        const int pressed = viewui::ask(m_view, QMessageBox::Information, QStringLiteral("NUK"),
                                        QStringLiteral("You need to stop packet transfer before viewing details."),
                                        {QStringLiteral("Stop")});
        if (pressed != 0)
            return;
        m_controller->Stop();
    }
    m_view->addNewRecon();
}

void TestListView::addNewRecon()
{
    if (!m_reconBuilt && !m_backward && !m_forward) {
        m_panes = new QSplitter(Qt::Horizontal, m_outer);
        m_backward = new WideASCIIScrollView(true, false, m_panes);
        m_forward = new WideASCIIScrollView(true, true, m_panes);
        // Side by side, each pane wide enough for a whole row of 58 characters.
        const int pane = m_backward->rowFittingWidth();
        resize(std::max(width(), 2 * pane + m_panes->handleWidth()), 620);
        m_outer->setSizes({150, 250, 200});
        m_panes->setSizes({pane, pane});
        m_panes->show();
    }
    {
        const auto lock = m_feed->lock();
        for (const auto& connection : m_feed->table().connections())
            connection->SortLstPackets();
    }
    m_reconBuilt = true;
    slotRefreshView();
}

void TestListView::slotRefreshView()
{
    if (Connection* current = currentRowConnection(false))
        showConnection(current, m_reconBuilt);
}

bool TestListView::DisplayFilterChanged(bool)
{
    if (feed()->isLocked())
        return false;
    slotClearView();
    return true;
}

void TestListView::slotClearView()
{
    m_live->clearLstText();
    if (m_backward)
        m_backward->clearLstText();
    if (m_forward)
        m_forward->clearLstText();
    clearConnections();
}
