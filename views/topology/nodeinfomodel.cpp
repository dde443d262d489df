// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/topology/nodeinfomodel.h"

#include "capture/ipaddress.h"

NodeInfoModel::NodeInfoModel(QObject* parent) : QAbstractTableModel(parent) {}

void NodeInfoModel::AddNode(int nodeNo, const QString& address, int received, int sent)
{
    // Sorted by value: IPv4 before IPv6, each numerically.
    const IpAddress value = IpAddress::fromText(address.toLatin1().constData());
    QByteArray numeric(1, char(value.family()));
    numeric.append(reinterpret_cast<const char*>(value.bytes().data()), 16);
    const int r = int(m_rows.size());
    beginInsertRows(QModelIndex(), r, r);
    m_rows.push_back(Row{nodeNo, address, numeric, sent, received});
    m_current.insert(nodeNo, r);
    endInsertRows();
}

void NodeInfoModel::touch(int row)
{
    if (m_dirtyFirst < 0 || row < m_dirtyFirst)
        m_dirtyFirst = row;
    if (row > m_dirtyLast)
        m_dirtyLast = row;
}

void NodeInfoModel::count(int nodeNo, int Row::*column)
{
    const auto it = m_current.constFind(nodeNo);
    if (it == m_current.constEnd())
        return;
    ++(m_rows[std::size_t(*it)].*column);
    touch(*it);
}

void NodeInfoModel::SendPacket(int nodeNo) { count(nodeNo, &Row::sent); }

void NodeInfoModel::ReceivePacket(int nodeNo) { count(nodeNo, &Row::received); }

void NodeInfoModel::flush()
{
    if (m_dirtyFirst < 0)
        return;
    const int first = m_dirtyFirst, last = m_dirtyLast;
    m_dirtyFirst = m_dirtyLast = -1;
    emit dataChanged(index(first, ColSent), index(last, ColReceived), {Qt::DisplayRole, SortRole});
}

QString NodeInfoModel::text(int row, int column) const
{
    const Row& r = m_rows[std::size_t(row)];
    switch (column) {
    case ColNo: return QString::number(r.nodeNo);
    case ColAddress: return r.address;
    case ColSent: return QString::number(r.sent);
    case ColReceived: return QString::number(r.received);
    default: return QString();
    }
}

int NodeInfoModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(m_rows.size()); }

int NodeInfoModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant NodeInfoModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_rows.size()))
        return QVariant();
    if (role == Qt::DisplayRole)
        return text(index.row(), index.column());
    if (role == SortRole) {
        const Row& r = m_rows[std::size_t(index.row())];
        switch (index.column()) {
        case ColNo: return r.nodeNo;
        case ColAddress: return r.numeric;
        case ColSent: return r.sent;
        case ColReceived: return r.received;
        }
    }
    return QVariant();
}

QVariant NodeInfoModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char* const titles[] = {"Node No.", "IP Address", "No. of Packet sent", "No. of Packet received"};
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < ColumnCount)
        return QString::fromLatin1(titles[section]);
    return QVariant();
}
