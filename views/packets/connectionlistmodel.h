// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The connection list: one row per connection, "End Point 1" and "End Point 2".
// Rows are kept sorted by the clicked column's text, ascending by End Point 1 at
// first; a batch of new rows is merged into place under one layout change, and
// the selection follows its row.

#include <QAbstractTableModel>

#include <vector>

class Connection;

// A row: the connection (not owned) and its two texts, each end point followed by
// ten blanks.
class ConnectionListItem {
public:
    explicit ConnectionListItem(Connection* connection) : m_connection(connection) {}
    Connection* connection() const { return m_connection; }
    QString text(int column) const;

private:
    Connection* m_connection;
};

class ConnectionListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ConnectionListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    void appendConnections(Connection* const* connections, std::size_t count);
    void clear();
    Connection* connection(int row) const;
    int rowOf(const Connection* connection) const;  // -1 when it has no row
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

private:
    bool before(const ConnectionListItem& x, const ConnectionListItem& y) const;
    // Reorders m_rows (and the persistent indexes) with `reorder`, under one layout change.
    template <typename Reorder>
    void relayout(Reorder reorder);

    std::vector<ConnectionListItem> m_rows;  // display order
    int m_sortColumn = 0;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};
