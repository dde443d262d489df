// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The rows of the node info window: one per node, with its number, address and the
// packets it sent and received.
//
// Counts reach a row through an index from node number to the row of the node that
// carries the number now. After a clear the old rows stay, and the new nodes (whose
// numbers start again at 0) count on their own new rows.
//
// Count changes are announced in one dataChanged per flush(), so a burst of packets
// costs one signal per batch, not one per packet.

#include "views/topology/topologymodel.h"

#include <QAbstractTableModel>
#include <QHash>

#include <cstdint>
#include <vector>

class NodeInfoModel : public QAbstractTableModel, public NodeInfoSink {
    Q_OBJECT
public:
    enum Column { ColNo, ColAddress, ColSent, ColReceived, ColumnCount };
    // Numbers to sort by: counts and node numbers as numbers, addresses by value.
    static constexpr int SortRole = Qt::UserRole;

    struct Row {
        int nodeNo;
        QString address;
        QByteArray numeric;  // family, then the address's bytes
        int sent;
        int received;
    };

    explicit NodeInfoModel(QObject* parent = nullptr);

    void AddNode(int nodeNo, const QString& address, int received, int sent) override;
    void AddNode(int nodeNo, const QString& address) { AddNode(nodeNo, address, 0, 0); }
    void SendPacket(int nodeNo) override;
    void ReceivePacket(int nodeNo) override;
    // Announces the counts changed since the last flush.
    void flush();

    const Row& row(int r) const { return m_rows[std::size_t(r)]; }
    QString text(int row, int column) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    void count(int nodeNo, int Row::*column);
    void touch(int row);

    std::vector<Row> m_rows;
    QHash<int, int> m_current;  // node number → row
    int m_dirtyFirst = -1, m_dirtyLast = -1;
};
