#include "views/packets/connectionviews.h"

#include "capture/controlpanel.h"
#include "views/packets/connection.h"
#include "views/packets/connectionfeed.h"
#include "views/packets/connectionlistmodel.h"
#include "views/packets/connectionwidgets.h"
#include "views/packets/packetlistmodel.h"
#include "views/packets/payloadpanes.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>

ConnectionViews::ConnectionViews(QWidget* parent, const char* name) : QMainWindow(parent)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
    setAttribute(Qt::WA_DeleteOnClose, false);  // RemoveView destroys the view
    setWindowTitle(QStringLiteral("NUK Connection Packet View"));
    m_feed = new ConnectionFeed(this);

    m_outer = new QSplitter(Qt::Vertical, this);
    m_connections = connectionwidgets::makeList(m_outer, m_feed->model(), 0);
    m_connections->setColumnWidth(0, 290);
    m_packetModel = new PacketListModel(this);
    m_packets = connectionwidgets::makeList(m_outer, m_packetModel, PacketListItem::ColNo);
    const QFontMetrics metrics = m_packets->fontMetrics();
    const char* samples[] = {"00000000   ", "0.0134567    ", "255.255.255.255   ", "255.255.255.255   ", "Protocol   "};
    for (int c = 0; c < 5; ++c)
        m_packets->setColumnWidth(c, metrics.horizontalAdvance(QLatin1String(samples[c])) + 16);
    m_inner = new QSplitter(Qt::Horizontal, m_outer);
    m_binary = new BinaryScrollView(m_inner);
    m_ascii = new ASCIIScrollView(m_inner);
    m_inner->setSizes({430, 170});
    m_outer->setSizes({200, 200, 200});
    setCentralWidget(m_outer);

    connect(m_connections->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ConnectionViews::slotConnectionChanged);
    connect(m_packets->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ConnectionViews::slotPacketChanged);

    initMenuBar();
    initStatusBar();
    resize(600, 640);
    show();
}

ConnectionViews::~ConnectionViews() = default;

void ConnectionViews::initMenuBar()
{
    using connectionwidgets::addItem;
    QMenu* operation = menuBar()->addMenu(QStringLiteral("&Operation"));
    connect(addItem(operation, "&Clear View", QKeySequence(Qt::CTRL | Qt::Key_C), IdClear), &QAction::triggered, this,
            &ConnectionViews::slotClearView);
    connect(addItem(operation, "&Update View", QKeySequence(Qt::CTRL | Qt::Key_R), IdUpdate), &QAction::triggered, this,
            &ConnectionViews::slotRefreshView);
    operation->addSeparator();
    connect(addItem(operation, "&Lock View", QKeySequence(Qt::CTRL | Qt::Key_L), IdLock), &QAction::triggered, this,
            &ConnectionViews::slotLockView);
    connect(addItem(operation, "&Unlock View", QKeySequence(Qt::CTRL | Qt::Key_U), IdUnlock), &QAction::triggered, this,
            &ConnectionViews::slotUnlockView);
}

void ConnectionViews::initStatusBar()
{
    m_locked = connectionwidgets::addLockedLabel(this);
    statusBar()->showMessage(QStringLiteral("Packet List View started ..."), 3000);
}

void ConnectionViews::InitiateView() { m_feed->removeRows(); }

void ConnectionViews::AddPacket(CPacket* packet) { m_feed->addPacket(packet); }

void ConnectionViews::listPackets(Connection* connection)
{
    m_packetModel->clear();
    if (!connection)
        return;
    std::vector<PacketListItem> rows;
    {
        const auto lock = m_feed->lock();  // filing appends to the packet list
        rows = connection->packets();
    }
    m_packetModel->appendRows(rows.data(), rows.size(), connection->baseTime());
}

void ConnectionViews::slotConnectionChanged()
{
    const QModelIndex current = m_connections->selectionModel()->currentIndex();
    if (!current.isValid() || !m_connections->selectionModel()->isRowSelected(current.row(), QModelIndex()))
        return;
    m_current = m_feed->model()->connection(current.row());
    listPackets(m_current);
}

void ConnectionViews::slotPacketChanged()
{
    const QModelIndex current = m_packets->selectionModel()->currentIndex();
    if (!current.isValid() || !m_packets->selectionModel()->isRowSelected(current.row(), QModelIndex()))
        return;
    m_currentPacket = m_packetModel->item(current.row()).decode(m_packetModel->baseTime());
    m_binary->updateview(m_currentPacket.get());
    m_ascii->updateview(m_currentPacket.get());
}

void ConnectionViews::slotRefreshView()
{
    const QModelIndex current = m_connections->selectionModel()->currentIndex();
    if (current.isValid())
        listPackets(m_feed->model()->connection(current.row()));
}

void ConnectionViews::slotClearView()
{
    m_binary->updateview(nullptr);
    m_ascii->updateview(nullptr);
    m_packetModel->clear();
    m_currentPacket.reset();
    m_current = nullptr;
    m_feed->clear();
    setLocked(false);
}

void ConnectionViews::setLocked(bool locked)
{
    m_feed->setLocked(locked);
    m_locked->setVisible(locked);
}

void ConnectionViews::slotLockView() { setLocked(true); }
void ConnectionViews::slotUnlockView() { setLocked(false); }

void ConnectionViews::closeEvent(QCloseEvent* event)
{
    event->accept();
    RemoveView(this);
}
