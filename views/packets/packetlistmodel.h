// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The packet list as an item model: compact rows in arrival order, texts made in
// data() for the rows a view actually shows.
//
// Sorting keeps the rows where they are and orders a permutation instead, by keys
// that compare exactly like the column texts (the list sorts by text), except
// "Time", which sorts by the time itself; ascending "No." is arrival order and
// needs no permutation. While sorted, new rows are
// appended and then merged into place under one layout change.

#include "views/packets/packetlistitem.h"

#include <QAbstractTableModel>

#include <deque>
#include <vector>

class PacketListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit PacketListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // Appends rows in arrival order with one insertion. `base` is the time base of
    // the numbering they belong to; it is taken when the list is empty.
    void appendRows(const PacketListItem* rows, std::size_t count, BaseTime base);
    void clear();

    // The row shown at `row` (after sorting).
    const PacketListItem& item(int row) const;
    // The row (after sorting) that shows `packet`, or -1. Rows in arrival order are
    // in capture number order, so both lookups are binary searches.
    int rowOf(const CPacket* packet) const;
    BaseTime baseTime() const { return m_base; }
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

private:
    struct Key {
        std::uint64_t a = 0, b = 0, c = 0;
    };
    Key keyOf(const PacketListItem& row) const;
    bool before(std::uint32_t x, const Key& kx, std::uint32_t y, const Key& ky) const;
    bool isArrivalOrder() const { return m_sortColumn == PacketListItem::ColNo && m_sortOrder == Qt::AscendingOrder; }
    std::uint32_t arrivalIndex(int row) const { return m_order.empty() ? std::uint32_t(row) : m_order[std::size_t(row)]; }
    void mergeNewRows(std::size_t firstNew);
    void remapPersistent(const std::vector<std::uint32_t>& oldOrder);

    // Arrival order. Grown in blocks: a vector of a million rows would move them all,
    // on fresh pages, whenever it outgrew its capacity, stalling the list.
    std::deque<PacketListItem> m_rows;
    std::vector<std::uint32_t> m_order;  // display row -> arrival index; empty = arrival order
    BaseTime m_base;
    int m_sortColumn = PacketListItem::ColNo;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};
