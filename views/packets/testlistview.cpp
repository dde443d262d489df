#include "views/packets/testlistview.h"

#include "capture/controlpanel.h"
#include "views/common/viewprompts.h"
#include "views/packets/connection.h"
#include "views/packets/connectionfeed.h"
#include "views/packets/connectionlistmodel.h"
#include "views/packets/connectionwidgets.h"
#include "views/packets/wideasciiscrollview.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>

TestListView::TestListView(ControlPanel* controller, QWidget* parent, const char* name)
    : QMainWindow(parent), m_controller(controller)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
    setAttribute(Qt::WA_DeleteOnClose, false);  // RemoveView destroys the view
    setWindowTitle(QStringLiteral("NUK Connection Reconstruction View"));
    m_feed = new ConnectionFeed(this);

    m_outer = new QSplitter(Qt::Vertical, this);
    m_connections = connectionwidgets::makeList(m_outer, m_feed->model(), 0);
    m_connections->setColumnWidth(0, 290);
    m_live = new WideASCIIScrollView(false, false, m_outer);
    // The connection list keeps its height when the window is resized.
    m_outer->setStretchFactor(0, 0);
    m_outer->setStretchFactor(1, 1);
    m_outer->setSizes({150, 250});
    setCentralWidget(m_outer);

    connect(m_connections->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TestListView::slotConnectionChanged);

    initMenuBar();
    m_locked = connectionwidgets::addLockedLabel(this);
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
}

void TestListView::InitiateView() { m_feed->removeRows(); }

void TestListView::AddPacket(CPacket* packet) { m_feed->addPacket(packet); }

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
    const QModelIndex current = m_connections->selectionModel()->currentIndex();
    if (!current.isValid() || !m_connections->selectionModel()->isRowSelected(current.row(), QModelIndex()))
        return;
    const bool stopped = m_controller && m_controller->isStopped();
    showConnection(m_feed->model()->connection(current.row()), stopped && m_reconBuilt);
}

void TestListView::slotReconView()
{
    if (m_controller)
        showStop(m_controller, this).exec();
}

void showStop::exec()
{
    if (!m_controller->isStopped()) {
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
        resize(600, 620);
        m_panes = new QSplitter(Qt::Horizontal, m_outer);
        m_backward = new WideASCIIScrollView(true, false, m_panes);
        m_forward = new WideASCIIScrollView(true, true, m_panes);
        m_outer->setSizes({150, 250, 200});
        m_panes->setSizes({300, 300});
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
    const QModelIndex current = m_connections->selectionModel()->currentIndex();
    if (current.isValid())
        showConnection(m_feed->model()->connection(current.row()), m_reconBuilt);
}

void TestListView::slotClearView()
{
    m_live->clearLstText();
    if (m_backward)
        m_backward->clearLstText();
    if (m_forward)
        m_forward->clearLstText();
    m_current = nullptr;
    m_feed->clear();
    setLocked(false);
}

void TestListView::setLocked(bool locked)
{
    m_feed->setLocked(locked);
    m_locked->setVisible(locked);
}

void TestListView::slotLockView() { setLocked(true); }
void TestListView::slotUnlockView() { setLocked(false); }

void TestListView::closeEvent(QCloseEvent* event)
{
    event->accept();
    RemoveView(this);
}
