// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/packets/connectionviews.h"

#include "capture/currentpacket.h"
#include "views/common/linkedselection.h"

#include "views/packets/connection.h"
#include "views/packets/connectionfeed.h"
#include "views/packets/connectionwidgets.h"
#include "views/packets/packetlistmodel.h"
#include "views/packets/payloadpanes.h"

#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>

ConnectionViews::ConnectionViews(QWidget* parent, const char* name)
    : ConnectionWindow(parent, name, QStringLiteral("NUK Connection Packet View"))
{
    m_outer = new QSplitter(Qt::Vertical, this);
    makeConnectionList(m_outer);
    m_packetModel = new PacketListModel(this);
    m_packets = connectionwidgets::makeList(m_outer, m_packetModel, PacketListItem::ColNo);
    const QFontMetrics metrics = m_packets->fontMetrics();
    const char* samples[] = {"00000000   ", "0.0134567    ", "255.255.255.255   ", "255.255.255.255   ", "Protocol   "};
    for (int c = 0; c < 5; ++c)
        m_packets->setColumnWidth(c, metrics.horizontalAdvance(QLatin1String(samples[c])) + 16);
    m_packets->setColumnHidden(PacketListItem::ColCapture, true);
    m_inner = new QSplitter(Qt::Horizontal, m_outer);
    m_binary = new BinaryScrollView(m_inner);
    m_ascii = new ASCIIScrollView(m_inner);
    m_inner->setSizes({430, 170});
    m_outer->setSizes({200, 200, 200});
    setCentralWidget(m_outer);
    connect(m_packets->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ConnectionViews::slotPacketChanged);

    initMenuBar();
    statusBar()->showMessage(QStringLiteral("Packet List View started ..."), 3000);
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
    operation->addSeparator();
    linked::addGoToPacket(operation, this, [this](const CPacket* packet) { showLinkedPacket(packet, nullptr); });
}

void ConnectionViews::listPackets(Connection* connection)
{
    m_packetModel->clear();
    if (!connection)
        return;
    std::vector<PacketListItem> rows;
    {
        const auto lock = m_feed->lock();  // filing appends to the packet list
        rows.assign(connection->packets().begin(), connection->packets().end());
    }
    m_packetModel->appendRows(rows.data(), rows.size(), connection->baseTime());
}

void ConnectionViews::slotConnectionChanged()
{
    if (Connection* selected = currentRowConnection(true)) {
        m_current = selected;
        listPackets(m_current);
    }
}

void ConnectionViews::slotPacketChanged()
{
    const QModelIndex current = m_packets->selectionModel()->currentIndex();
    if (!current.isValid() || !m_packets->selectionModel()->isRowSelected(current.row(), QModelIndex()))
        return;
    const PacketListItem& row = m_packetModel->item(current.row());
    m_currentPacket = row.decode(m_packetModel->baseTime());
    m_binary->updateview(m_currentPacket.get());
    m_ascii->updateview(m_currentPacket.get());
    if (!m_linking)
        ::currentPacket().select(row.packet(), this);
}

void ConnectionViews::showLinkedPacket(const CPacket* packet, const QObject* source)
{
    std::size_t index = 0;
    if (source == this || !selectConnectionOf(packet, &index))
        return;
    // The packet list is the selected conversation's as it was when selected; a
    // packet that came later needs it listed again.
    int row = m_packetModel->rowOf(packet);
    if (row < 0) {
        listPackets(m_current);
        row = m_packetModel->rowOf(packet);
    }
    if (row < 0)
        return;
    const QModelIndex at = m_packetModel->index(row, 0);
    QItemSelectionModel* selection = m_packets->selectionModel();
    if (selection->currentIndex().row() != row || !selection->isRowSelected(row, QModelIndex())) {
        m_linking = true;
        selection->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_linking = false;
    }
    m_packets->scrollTo(at);
}

void ConnectionViews::slotRefreshView()
{
    if (Connection* current = currentRowConnection(false))
        listPackets(current);
}

bool ConnectionViews::DisplayFilterChanged(bool)
{
    if (feed()->isLocked())
        return false;
    slotClearView();
    return true;
}

void ConnectionViews::slotClearView()
{
    m_binary->updateview(nullptr);
    m_ascii->updateview(nullptr);
    m_packetModel->clear();
    m_currentPacket.reset();
    clearConnections();
}
