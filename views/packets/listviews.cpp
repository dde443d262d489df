// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/packets/listviews.h"

#include "views/common/widestaddress.h"
#include "capture/controlpanel.h"
#include "capture/cpacket.h"
#include "capture/currentpacket.h"
#include "views/common/linkedselection.h"
#include "views/packets/detailscrollview.h"
#include "views/packets/packetlistmodel.h"

#include <QAction>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>

namespace {
// Rows per insertion: in arrival order all that waits (each insertion costs the table
// a pass over all rows, whatever it adds), in another order a few thousand (a sorted
// list merges each batch into place, which must stay short).
constexpr std::size_t kRowsInArrivalOrder = 1 << 22;
constexpr std::size_t kRowsWhenSorted = 4096;
// In arrival order each insertion waits kInsertionSpacing times as long as the last
// one took, within these bounds.
constexpr long long kInsertionSpacing = 4;
constexpr std::chrono::milliseconds kFastestInsertions{5};
constexpr std::chrono::milliseconds kSlowestInsertions{250};
}  // namespace

ItemFolderListItem::ItemFolderListItem(QTreeWidget* parent, const ItemFolder* folder)
    : QTreeWidgetItem(parent, QStringList(folder->folderName())), m_folder(folder)
{
    addChildren();
}

ItemFolderListItem::ItemFolderListItem(ItemFolderListItem* parent, const ItemFolder* folder)
    : QTreeWidgetItem(parent, QStringList(folder->folderName())), m_folder(folder)
{
    addChildren();
}

void ItemFolderListItem::addChildren()
{
    for (const auto& child : m_folder->children())
        new ItemFolderListItem(this, child.get());
}

ListViews::ListViews(QWidget* parent, const char* name) : QMainWindow(parent)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
    setAttribute(Qt::WA_DeleteOnClose, false);  // RemoveView destroys the view
    setWindowTitle(QStringLiteral("NUK Packet List View"));

    m_outer = new QSplitter(Qt::Vertical, this);
    // A table without grid or row header: unlike a tree view it does not lay out
    // every row again when rows are appended, and its rows all share one height.
    m_list = new QTableView(m_outer);
    m_model = new PacketListModel(this);
    m_list->setModel(m_model);
    m_list->setShowGrid(false);
    m_list->setWordWrap(false);
    m_list->verticalHeader()->hide();
    m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_list->verticalHeader()->setDefaultSectionSize(m_list->fontMetrics().height() + 4);
    m_list->horizontalHeader()->setHighlightSections(false);
    m_list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->horizontalHeader()->setSortIndicator(PacketListItem::ColNo, Qt::AscendingOrder);
    m_list->horizontalHeader()->setSortIndicatorShown(true);
    m_list->setSortingEnabled(true);
    // Widths measured once on the widest texts a column can hold (and on its title,
    // with room for the sort indicator): measuring the contents would touch every
    // row of a live list. "Info" fills the rest of the width, but never less than
    // its widest text: a narrow window scrolls rather than cutting it off.
    const QFontMetrics metrics = m_list->fontMetrics();
    const char* samples[] = {"00000000   ", "-1.23457e+06    ", "255.255.255.255   ", "255.255.255.255   ", "TCP   ",
                             "65535 > 65535     [ URG ACK PSH RST SYN FIN ]  Seq=4294967295  Ack=4294967295  Win=ffff",
                             "00000000   "};
    for (int c = 0; c < PacketListItem::ColumnCount; ++c)
        m_list->setColumnWidth(c, std::max(metrics.horizontalAdvance(QLatin1String(samples[c])) + 16,
                                           m_list->horizontalHeader()->sectionSizeHint(c)));
    m_infoWidth = m_list->columnWidth(PacketListItem::ColInfo);
    // The capture's own numbering, beside the view's, while a display filter is in force.
    m_list->horizontalHeader()->moveSection(PacketListItem::ColCapture, PacketListItem::ColNo + 1);
    m_list->setColumnHidden(PacketListItem::ColCapture, true);
    m_list->horizontalHeader()->setStretchLastSection(false);
    m_list->viewport()->installEventFilter(this);
    connect(m_list->horizontalHeader(), &QHeaderView::sectionResized, this, [this](int section) {
        if (section != PacketListItem::ColInfo)
            fitInfoColumn();
    });

    m_inner = new QSplitter(Qt::Horizontal, m_outer);
    m_tree = new QTreeWidget(m_inner);
    m_tree->setColumnCount(1);
    m_tree->setHeaderLabels(QStringList(QStringLiteral("packet detail:")));
    m_tree->setRootIsDecorated(true);
    m_tree->setSortingEnabled(false);
    m_bytes = new DetailScrollView(m_inner);
    m_inner->setSizes({250, 600});

    // The packet list keeps its height when the window is resized.
    m_outer->setStretchFactor(0, 0);
    m_outer->setStretchFactor(1, 1);
    m_outer->setSizes({200, 200});
    setCentralWidget(m_outer);

    // appendBatch sets the batch size and spaces the insertions as the list grows.
    m_handoff = new HandoffQueue<Handed>([this](std::vector<Handed>& batch) { appendBatch(batch); }, this,
                                         std::chrono::milliseconds(8), kRowsInArrivalOrder);

    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this, &ListViews::slotPacketChanged);
    connect(&::currentPacket(), &CurrentPacket::changed, this, &ListViews::showLinkedPacket);
    m_follow = linked::addFollowEntry(m_list, [this]() -> const CPacket* {
        const QModelIndex current = m_list->selectionModel()->currentIndex();
        return current.isValid() ? m_model->item(current.row()).packet() : nullptr;
    });
    connect(m_tree, &QTreeWidget::itemSelectionChanged, this, &ListViews::slotItemFolderChanged);

    initMenuBar();
    initStatusBar();
    resize(850, 440);
    show();
}

ListViews::~ListViews() = default;

void ListViews::initMenuBar()
{
    QMenu* operation = menuBar()->addMenu(QStringLiteral("&Operation"));
    auto add = [&](const char* text, const QKeySequence& key, int id, void (ListViews::*slot)()) {
        QAction* a = operation->addAction(QString::fromLatin1(text));
        a->setShortcut(key);
        a->setData(id);
        connect(a, &QAction::triggered, this, slot);
    };
    add("&Clear View", QKeySequence(Qt::CTRL | Qt::Key_C), IdClear, &ListViews::slotClearView);
    operation->addSeparator();
    add("&Lock View", QKeySequence(Qt::CTRL | Qt::Key_L), IdLock, &ListViews::slotLockView);
    add("&Unlock View", QKeySequence(Qt::CTRL | Qt::Key_U), IdUnlock, &ListViews::slotUnlockView);
    operation->addSeparator();
    linked::addGoToPacket(operation, this, [this](const CPacket* packet) { showLinkedPacket(packet, nullptr); });
}

void ListViews::initStatusBar()
{
    // A locked view drops what arrives: it says so for as long as it is locked.
    m_lockedLabel = new QLabel(QStringLiteral("Locked"), statusBar());
    statusBar()->addPermanentWidget(m_lockedLabel);
    m_lockedLabel->hide();
    statusBar()->showMessage(QStringLiteral("Packet List View started ..."), 3000);
}

void ListViews::InitiateView()
{
    m_tree->clear();
    m_bytes->clear();
    m_current.reset();
    m_model->clear();
}

void ListViews::AddPacket(CPacket* packet)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_locked)
        return;
    if (++m_count == 1) {
        const std::int32_t* ts = packet->GetTimeStamp();
        m_base = BaseTime{ts[0], ts[1]};
    }
    if (packet->isIPv6())  // read here, where the packet is fresh in the cache
        m_sawIPv6.store(true, std::memory_order_relaxed);
    m_handoff->push(Handed{PacketListItem(packet, m_count), m_base});
}

void ListViews::appendBatch(std::vector<Handed>& batch)
{
    // Rows of one batch share their time base unless a clear came between; a clear
    // discards what was queued, so only the base of the first row matters.
    std::vector<PacketListItem> rows;
    rows.reserve(batch.size());
    for (const Handed& h : batch)
        rows.push_back(h.row);
    const bool follow = followsNewest();
    if (!m_wideAddresses && m_sawIPv6.load(std::memory_order_relaxed))
        widenAddressColumns();
    QElapsedTimer cost;
    cost.start();
    m_model->appendRows(rows.data(), rows.size(), batch.front().base);
    const bool arrivalOrder =
        m_model->sortColumn() == PacketListItem::ColNo && m_model->sortOrder() == Qt::AscendingOrder;
    if (arrivalOrder)
        m_list->doItemsLayout();  // now rather than at the next pass of the event loop: measured here
    if (follow)
        m_list->scrollToBottom();
    // The table's passes over all rows take longer as the list grows: in arrival
    // order the next insertion waits a few times as long as this one took, so that
    // they take at most about a fifth of the GUI thread whatever the list's length,
    // and takes all that waited meanwhile.
    const auto next = std::chrono::milliseconds(cost.nsecsElapsed() * kInsertionSpacing / 1000000);
    m_handoff->setMinInterval(arrivalOrder ? std::clamp(next, kFastestInsertions, kSlowestInsertions)
                                           : kFastestInsertions);
    m_handoff->setMaxBatch(arrivalOrder ? kRowsInArrivalOrder : kRowsWhenSorted);
}

// The newest row stays in view while the list is in arrival order, unless the
// user has scrolled away from the end or picked a row to look at.
bool ListViews::followsNewest() const
{
    const QScrollBar* bar = m_list->verticalScrollBar();
    return m_model->sortColumn() == PacketListItem::ColNo && m_model->sortOrder() == Qt::AscendingOrder &&
           bar->value() >= bar->maximum() && !m_list->selectionModel()->hasSelection();
}

// The first IPv6 row: the address columns take the longest IPv6 address.
void ListViews::widenAddressColumns()
{
    m_wideAddresses = true;
    const QFontMetrics metrics = m_list->fontMetrics();
    const int width = metrics.horizontalAdvance(widestIPv6Address(metrics) + QStringLiteral("   ")) + 16;
    for (const int c : {int(PacketListItem::ColSource), int(PacketListItem::ColDest)})
        m_list->setColumnWidth(c, std::max(m_list->columnWidth(c), width));
    fitInfoColumn();
}

void ListViews::fitInfoColumn()
{
    int others = 0;
    for (int c = 0; c < PacketListItem::ColumnCount; ++c) {
        if (c != PacketListItem::ColInfo && !m_list->isColumnHidden(c))
            others += m_list->columnWidth(c);
    }
    m_list->setColumnWidth(PacketListItem::ColInfo, std::max(m_infoWidth, m_list->viewport()->width() - others));
}

bool ListViews::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_list->viewport() && event->type() == QEvent::Resize)
        fitInfoColumn();
    return QMainWindow::eventFilter(watched, event);
}

bool ListViews::isLocked() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_locked;
}

int ListViews::packetCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_count);
}

void ListViews::slotPacketChanged()
{
    const QModelIndex current = m_list->selectionModel()->currentIndex();
    if (!current.isValid())
        return;
    if (!m_list->selectionModel()->isRowSelected(current.row(), QModelIndex())) {
        m_bytes->clear();
        return;
    }
    m_tree->clear();
    const PacketListItem& row = m_model->item(current.row());
    m_current = row.decode(m_model->baseTime());
    m_bytes->updateview(m_current.get());
    showPacketTree();
    linked::updateFollowEntry(m_follow, row.packet());
    if (!m_linking)
        ::currentPacket().select(row.packet(), this);
}

void ListViews::showLinkedPacket(const CPacket* packet, const QObject* source)
{
    if (source == this)
        return;
    m_handoff->drainAll();  // rows handed over but not shown yet
    const int row = m_model->rowOf(packet);
    if (row < 0)
        return;
    const QModelIndex index = m_model->index(row, 0);
    if (m_list->selectionModel()->currentIndex().row() != row || !m_list->selectionModel()->isRowSelected(row, QModelIndex())) {
        m_linking = true;
        m_list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_linking = false;
    }
    m_list->scrollTo(index);
}

void ListViews::showPacketTree()
{
    for (ItemFolder* f = m_current->firstItemFolder(); f; f = m_current->nextItemFolder())
        (new ItemFolderListItem(m_tree, f))->setExpanded(true);
}

void ListViews::slotItemFolderChanged()
{
    auto* item = dynamic_cast<ItemFolderListItem*>(m_tree->currentItem());
    if (!item || !item->isSelected() || !m_current)
        return;
    m_bytes->updateview(m_current.get(), item->folder());
}

bool ListViews::DisplayFilterChanged(bool inForce)
{
    m_list->setColumnHidden(PacketListItem::ColCapture, !inForce);
    fitInfoColumn();
    if (isLocked())
        return false;
    slotClearView();
    return true;
}

void ListViews::slotClearView()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_handoff->discard();
        m_count = 0;
    }
    setLocked(false);
    m_tree->clear();
    m_bytes->clear();
    m_model->clear();
    m_current.reset();
}

void ListViews::slotLockView() { setLocked(true); }

void ListViews::slotUnlockView() { setLocked(false); }

void ListViews::setLocked(bool locked)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_locked = locked;
    }
    m_lockedLabel->setVisible(locked);
}

void ListViews::closeEvent(QCloseEvent* event)
{
    event->accept();
    RemoveView(this);
}
