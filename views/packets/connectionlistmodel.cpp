// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/packets/connectionlistmodel.h"

#include "views/packets/connection.h"

#include <algorithm>
#include <unordered_map>

QString ConnectionListItem::text(int column) const
{
    const QString& end = column == 0 ? m_connection->EndPoint1() : m_connection->EndPoint2();
    return end + QString(10, QLatin1Char(' '));
}

ConnectionListModel::ConnectionListModel(QObject* parent) : QAbstractTableModel(parent) {}

int ConnectionListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ConnectionListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant ConnectionListModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount())
        return QVariant();
    return m_rows[std::size_t(index.row())].text(index.column());
}

QVariant ConnectionListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section > 1)
        return QVariant();
    return section == 0 ? QStringLiteral("End Point 1") : QStringLiteral("End Point 2");
}

Qt::ItemFlags ConnectionListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

Connection* ConnectionListModel::connection(int row) const
{
    return row >= 0 && std::size_t(row) < m_rows.size() ? m_rows[std::size_t(row)].connection() : nullptr;
}

int ConnectionListModel::rowOf(const Connection* connection) const
{
    for (std::size_t r = 0; r < m_rows.size(); ++r)
        if (m_rows[r].connection() == connection)
            return int(r);
    return -1;
}

// Both columns end in the same ten blanks, so the end point texts alone order the rows.
bool ConnectionListModel::before(const ConnectionListItem& x, const ConnectionListItem& y) const
{
    const auto& a = m_sortColumn == 0 ? x.connection()->EndPoint1() : x.connection()->EndPoint2();
    const auto& b = m_sortColumn == 0 ? y.connection()->EndPoint1() : y.connection()->EndPoint2();
    return m_sortOrder == Qt::AscendingOrder ? a < b : b < a;
}

template <typename Reorder>
void ConnectionListModel::relayout(Reorder reorder)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList from = persistentIndexList();
    std::vector<Connection*> held;
    held.reserve(std::size_t(from.size()));
    for (const QModelIndex& idx : from)
        held.push_back(connection(idx.row()));
    reorder();
    if (!from.isEmpty()) {
        std::unordered_map<Connection*, int> rowOf;
        rowOf.reserve(m_rows.size());
        for (std::size_t r = 0; r < m_rows.size(); ++r)
            rowOf.emplace(m_rows[r].connection(), int(r));
        QModelIndexList to;
        to.reserve(from.size());
        for (qsizetype i = 0; i < from.size(); ++i)
            to.append(index(rowOf.at(held[std::size_t(i)]), from[i].column()));
        changePersistentIndexList(from, to);
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ConnectionListModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column > 1 || (column == m_sortColumn && order == m_sortOrder))
        return;
    m_sortColumn = column;
    m_sortOrder = order;
    relayout([this] {
        std::stable_sort(m_rows.begin(), m_rows.end(),
                         [this](const ConnectionListItem& x, const ConnectionListItem& y) { return before(x, y); });
    });
}

void ConnectionListModel::appendConnections(Connection* const* connections, std::size_t count)
{
    if (count == 0)
        return;
    const std::size_t first = m_rows.size();
    beginInsertRows(QModelIndex(), int(first), int(first + count - 1));
    for (std::size_t i = 0; i < count; ++i)
        m_rows.emplace_back(connections[i]);
    endInsertRows();
    relayout([this, first] {
        const auto less = [this](const ConnectionListItem& x, const ConnectionListItem& y) { return before(x, y); };
        std::stable_sort(m_rows.begin() + std::ptrdiff_t(first), m_rows.end(), less);
        std::inplace_merge(m_rows.begin(), m_rows.begin() + std::ptrdiff_t(first), m_rows.end(), less);
    });
}

void ConnectionListModel::clear()
{
    beginResetModel();
    std::vector<ConnectionListItem>().swap(m_rows);
    endResetModel();
}
