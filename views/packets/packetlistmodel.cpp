// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/packets/packetlistmodel.h"

#include "capture/cpacket.h"
#include "capture/disposal.h"

#include <algorithm>
#include <array>

namespace {

// A decimal text as a number that orders like the text: each digit becomes
// digit + 1 in base 11 over `positions` places, and places past the end stay 0,
// so a text that is a prefix of another sorts first, as in a string comparison.
std::uint64_t decimalTextKey(std::uint64_t value, int minWidth, int positions)
{
    unsigned char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<unsigned char>(value % 10);
        value /= 10;
    } while (value);
    while (n < minWidth)
        digits[n++] = 0;
    std::uint64_t key = 0;
    for (int i = 0; i < positions; ++i)
        key = key * 11 + (i < n ? std::uint64_t(digits[n - 1 - i]) + 1 : 0);
    return key;
}

// The same for a lower-case hex text of a 16-bit value (no padding).
std::uint64_t hexTextKey(std::uint16_t value)
{
    unsigned char digits[4];
    int n = 0;
    do {
        digits[n++] = static_cast<unsigned char>(value & 0xf);
        value = std::uint16_t(value >> 4);
    } while (value);
    std::uint64_t key = 0;
    for (int i = 0; i < 4; ++i)
        key = key * 17 + (i < n ? std::uint64_t(digits[n - 1 - i]) + 1 : 0);
    return key;
}

// Rank of each flag summary ("[ ACK SYN ]", ...) in text order; the summary
// depends on the low six flag bits only.
const std::array<std::uint8_t, 64>& summaryRanks()
{
    static const std::array<std::uint8_t, 64> ranks = [] {
        std::array<QString, 64> texts;
        std::array<int, 64> idx;
        for (int f = 0; f < 64; ++f) {
            texts[std::size_t(f)] = packettext::flagSummary(std::uint8_t(f));
            idx[std::size_t(f)] = f;
        }
        std::sort(idx.begin(), idx.end(), [&](int x, int y) { return texts[std::size_t(x)] < texts[std::size_t(y)]; });
        std::array<std::uint8_t, 64> r{};
        for (int i = 0; i < 64; ++i)
            r[std::size_t(idx[std::size_t(i)])] = std::uint8_t(i);
        return r;
    }();
    return ranks;
}

// An address text as three numbers that order like the text: 15 characters a
// number, each the character's rank among ".0123456789:abcdef" plus 1 in base 19,
// places past the end 0. A dotted address fits the first number.
std::array<std::uint64_t, 3> addressKey(const IpAddress& address)
{
    std::array<std::uint64_t, 3> words;
    char text[IpAddress::TextSize];
    address.text(text);
    const char* c = text;
    for (int w = 0; w < 3; ++w) {
        std::uint64_t key = 0;
        for (int i = 0; i < 15; ++i) {
            int rank = 0;
            if (*c) {
                rank = *c == '.' ? 1 : *c <= '9' ? *c - '0' + 2 : *c == ':' ? 12 : std::min(*c - 'a' + 13, 18);
                ++c;
            }
            key = key * 19 + std::uint64_t(rank);
        }
        words[std::size_t(w)] = key;
    }
    return words;
}

}  // namespace

PacketListModel::PacketListModel(QObject* parent) : QAbstractTableModel(parent) {}

int PacketListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int PacketListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : PacketListItem::ColumnCount;
}

QVariant PacketListModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount())
        return QVariant();
    return item(index.row()).text(index.column(), m_base);
}

QVariant PacketListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    return PacketListItem::columnTitle(section);
}

Qt::ItemFlags PacketListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    // NeverHasChildren lets a tree view lay out a million rows without asking each one.
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

const PacketListItem& PacketListModel::item(int row) const { return m_rows[arrivalIndex(row)]; }

int PacketListModel::rowOf(const CPacket* packet) const
{
    const std::uint32_t number = packet ? packet->captureNumber() : 0;
    if (number == 0)
        return -1;
    const auto at = std::lower_bound(m_rows.begin(), m_rows.end(), number, [](const PacketListItem& row, std::uint32_t n) {
        return row.packet()->captureNumber() < n;
    });
    if (at == m_rows.end() || at->packet() != packet)
        return -1;
    const auto arrival = std::uint32_t(at - m_rows.begin());
    if (m_order.empty())
        return int(arrival);
    const Key key = keyOf(*at);
    const auto pos = std::lower_bound(m_order.begin(), m_order.end(), arrival, [&](std::uint32_t idx, std::uint32_t) {
        return before(idx, keyOf(m_rows[idx]), arrival, key);
    });
    return pos != m_order.end() && *pos == arrival ? int(pos - m_order.begin()) : -1;
}

PacketListModel::Key PacketListModel::keyOf(const PacketListItem& row) const
{
    const CPacket& p = *row.packet();
    Key k;
    switch (m_sortColumn) {
    case PacketListItem::ColNo:
        k.a = decimalTextKey(row.number(), 8, 10);
        break;
    case PacketListItem::ColCapture:
        k.a = decimalTextKey(p.captureNumber(), 8, 10);
        break;
    case PacketListItem::ColTime: {
        // By value: the texts are in general notation, where "3.7e-05" sorts after
        // "0.925". Offset by 2^63 so that unsigned order is signed order.
        const std::int32_t* ts = p.GetTimeStamp();
        const std::int64_t micros = (std::int64_t(ts[0]) - m_base.sec) * 1000000 + (std::int64_t(ts[1]) - m_base.usec);
        k.a = std::uint64_t(micros) ^ (std::uint64_t(1) << 63);
        break;
    }
    case PacketListItem::ColSource:
        std::tie(k.a, k.b, k.c) = std::tuple_cat(addressKey(p.sourceAddress()));
        break;
    case PacketListItem::ColDest:
        std::tie(k.a, k.b, k.c) = std::tuple_cat(addressKey(p.destAddress()));
        break;
    case PacketListItem::ColProtocol:
        k.a = p.upperProtocol() == 6 ? 0 : 1;
        break;
    case PacketListItem::ColInfo: {
        // "sport > dport     " and for TCP "[ flags ]  Seq=n  Ack=n  Win=h": the
        // separators all start below any digit, so comparing the parts in turn
        // orders like the whole text; the UDP text is a prefix of TCP ones.
        const bool tcp = p.isTcp();
        const std::uint16_t sport = tcp ? p.GetSrcPort() : p.GetUDPSrcPort();
        const std::uint16_t dport = tcp ? p.GetDstPort() : p.GetUDPDstPort();
        k.a = (decimalTextKey(sport, 1, 5) * 161051 + decimalTextKey(dport, 1, 5)) * 65 +
              (tcp ? 1u + summaryRanks()[p.GetTCPFlags() & 0x3f] : 0u);
        if (tcp) {
            k.b = decimalTextKey(p.GetSequenceNo(), 1, 10);
            k.c = decimalTextKey(p.GetAcknowlegetNo(), 1, 10) * 83521 + hexTextKey(p.GetWindownSize());
        }
        break;
    }
    }
    return k;
}

// Display order of two rows by their keys; equal texts keep arrival order.
bool PacketListModel::before(std::uint32_t x, const Key& kx, std::uint32_t y, const Key& ky) const
{
    auto tx = std::tie(kx.a, kx.b, kx.c);
    auto ty = std::tie(ky.a, ky.b, ky.c);
    if (tx != ty)
        return m_sortOrder == Qt::AscendingOrder ? tx < ty : ty < tx;
    return x < y;
}

void PacketListModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= PacketListItem::ColumnCount)
        return;
    // Rows never change and new ones are merged into place, so the order is always
    // current; table views ask twice for the same sort when sorted programmatically.
    if (column == m_sortColumn && order == m_sortOrder)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<std::uint32_t> oldOrder;
    oldOrder.swap(m_order);
    m_sortColumn = column;
    m_sortOrder = order;
    if (!isArrivalOrder() && !m_rows.empty()) {
        struct Entry {
            Key key;
            std::uint32_t index;
        };
        std::vector<Entry> entries(m_rows.size());
        for (std::size_t i = 0; i < m_rows.size(); ++i)
            entries[i] = {keyOf(m_rows[i]), std::uint32_t(i)};
        std::sort(entries.begin(), entries.end(),
                  [this](const Entry& x, const Entry& y) { return before(x.index, x.key, y.index, y.key); });
        m_order.resize(entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i)
            m_order[i] = entries[i].index;
    }
    remapPersistent(oldOrder);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

// Moves persistent indexes (selection, current row) to where their rows went.
void PacketListModel::remapPersistent(const std::vector<std::uint32_t>& oldOrder)
{
    const QModelIndexList from = persistentIndexList();
    if (from.isEmpty())
        return;
    std::vector<std::uint32_t> newRowOf;
    if (!m_order.empty()) {
        newRowOf.resize(m_rows.size());
        for (std::size_t row = 0; row < m_order.size(); ++row)
            newRowOf[m_order[row]] = std::uint32_t(row);
    }
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& idx : from) {
        const std::uint32_t arrival = oldOrder.empty() ? std::uint32_t(idx.row()) : oldOrder[std::size_t(idx.row())];
        const int row = newRowOf.empty() ? int(arrival) : int(newRowOf[arrival]);
        to.append(index(row, idx.column()));
    }
    changePersistentIndexList(from, to);
}

void PacketListModel::appendRows(const PacketListItem* rows, std::size_t count, BaseTime base)
{
    if (count == 0)
        return;
    if (m_rows.empty())
        m_base = base;
    const std::size_t first = m_rows.size();
    beginInsertRows(QModelIndex(), int(first), int(first + count - 1));
    m_rows.insert(m_rows.end(), rows, rows + count);
    if (!m_order.empty())
        for (std::size_t i = first; i < m_rows.size(); ++i)
            m_order.push_back(std::uint32_t(i));
    endInsertRows();
    if (!isArrivalOrder())
        mergeNewRows(first);
}

// The rows from `firstNew` on sit at the end; put them in their sorted places.
void PacketListModel::mergeNewRows(std::size_t firstNew)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<std::uint32_t> oldOrder = m_order;
    if (oldOrder.empty()) {  // sorted, but there were no rows yet
        oldOrder.resize(m_rows.size());
        for (std::size_t i = 0; i < oldOrder.size(); ++i)
            oldOrder[i] = std::uint32_t(i);
    }
    struct Entry {
        Key key;
        std::uint32_t index;
    };
    std::vector<Entry> fresh;
    fresh.reserve(m_rows.size() - firstNew);
    for (std::size_t i = firstNew; i < m_rows.size(); ++i)
        fresh.push_back({keyOf(m_rows[i]), std::uint32_t(i)});
    std::sort(fresh.begin(), fresh.end(),
              [this](const Entry& x, const Entry& y) { return before(x.index, x.key, y.index, y.key); });

    // Existing sorted rows are oldOrder[0, firstNew); find each new row's place by
    // binary search there, so only O(k log n) keys of old rows are computed.
    const std::uint32_t* sorted = oldOrder.data();
    std::vector<std::uint32_t> merged;
    merged.reserve(m_rows.size());
    std::size_t taken = 0;
    for (const Entry& e : fresh) {
        const std::uint32_t* pos = std::upper_bound(sorted + taken, sorted + firstNew, e, [this](const Entry& v, std::uint32_t idx) {
            return before(v.index, v.key, idx, keyOf(m_rows[idx]));
        });
        const std::size_t upto = std::size_t(pos - sorted);
        merged.insert(merged.end(), sorted + taken, sorted + upto);
        taken = upto;
        merged.push_back(e.index);
    }
    merged.insert(merged.end(), sorted + taken, sorted + firstNew);
    m_order.swap(merged);
    remapPersistent(oldOrder);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void PacketListModel::clear()
{
    beginResetModel();
    disposeInBackground(std::move(m_rows), std::move(m_order));
    m_rows.clear();
    m_order.clear();
    endResetModel();
}
