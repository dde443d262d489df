// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/packets/connectionwindow.h"

#include "capture/controlpanel.h"
#include "capture/currentpacket.h"
#include "views/common/linkedselection.h"
#include "views/packets/connection.h"
#include "views/packets/connectionfeed.h"
#include "views/packets/connectionlistmodel.h"
#include "views/common/widestaddress.h"
#include "views/packets/connectionwidgets.h"

#include <QCloseEvent>
#include <QLabel>
#include <QStatusBar>
#include <QTableView>

#include <algorithm>

ConnectionWindow::ConnectionWindow(QWidget* parent, const char* name, const QString& caption) : QMainWindow(parent)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
    setAttribute(Qt::WA_DeleteOnClose, false);  // RemoveView destroys the view
    setWindowTitle(caption);
    m_feed = new ConnectionFeed(this);
    m_locked = new QLabel(QStringLiteral("Locked"), this);
    statusBar()->addPermanentWidget(m_locked);
    m_locked->hide();
    connect(&currentPacket(), &CurrentPacket::changed, this, &ConnectionWindow::showLinkedPacket);
}

QTableView* ConnectionWindow::makeConnectionList(QWidget* parent)
{
    m_connections = connectionwidgets::makeList(parent, m_feed->model(), 0);
    m_connections->setColumnWidth(0, 290);
    // The first IPv6 conversation (its end point texts hold colons) widens the first
    // column to the longest IPv6 end point.
    connect(m_feed->model(), &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int first, int last) {
        for (int row = first; row <= last; ++row) {
            const Connection* c = m_feed->model()->connection(row);
            if (c && c->EndPoint1().contains(QLatin1Char(':'))) {
                const QFontMetrics metrics = m_connections->fontMetrics();
                const int width =
                    metrics.horizontalAdvance(widestIPv6Address(metrics) + QStringLiteral("    <65535>           ")) + 16;
                m_connections->setColumnWidth(0, std::max(m_connections->columnWidth(0), width));
                return;
            }
        }
    });
    connect(m_connections->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ConnectionWindow::slotConnectionChanged);
    // A TCP conversation can be followed from its first packet on.
    const auto firstPacket = [this]() -> const CPacket* {
        Connection* connection = currentRowConnection(true);
        const auto lock = m_feed->lock();
        return connection && !connection->packets().empty() ? connection->packets().front().packet() : nullptr;
    };
    m_follow = linked::addFollowEntry(m_connections, firstPacket);
    connect(m_connections->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this, firstPacket] { linked::updateFollowEntry(m_follow, firstPacket()); });
    return m_connections;
}

Connection* ConnectionWindow::currentRowConnection(bool selected) const
{
    const QModelIndex current = m_connections->selectionModel()->currentIndex();
    if (!current.isValid() || (selected && !m_connections->selectionModel()->isRowSelected(current.row(), QModelIndex())))
        return nullptr;
    return m_feed->model()->connection(current.row());
}

Connection* ConnectionWindow::selectConnectionOf(const CPacket* packet, std::size_t* index)
{
    m_feed->listHandedConnections();
    Connection* connection = nullptr;
    {
        const auto lock = m_feed->lock();
        connection = m_feed->table().holding(packet, index);
    }
    const int row = connection ? m_feed->model()->rowOf(connection) : -1;
    if (row < 0)
        return nullptr;
    QItemSelectionModel* selection = m_connections->selectionModel();
    if (currentRowConnection(true) != connection) {
        m_linking = true;
        selection->setCurrentIndex(m_feed->model()->index(row, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_linking = false;
    }
    m_connections->scrollTo(m_feed->model()->index(row, 0));
    return connection;
}

void ConnectionWindow::InitiateView() { m_feed->removeRows(); }

void ConnectionWindow::AddPacket(CPacket* packet) { m_feed->addPacket(packet); }

void ConnectionWindow::clearConnections()
{
    m_current = nullptr;
    m_feed->clear();
    setLocked(false);
}

void ConnectionWindow::setLocked(bool locked)
{
    m_feed->setLocked(locked);
    m_locked->setVisible(locked);
}

void ConnectionWindow::slotLockView() { setLocked(true); }
void ConnectionWindow::slotUnlockView() { setLocked(false); }

void ConnectionWindow::closeEvent(QCloseEvent* event)
{
    event->accept();
    RemoveView(this);
}
