// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/packets/listviews.h"

#include "capture/controlpanel.h"
#include "capture/cpacket.h"
#include "views/packets/detailscrollview.h"
#include "views/packets/packetlistmodel.h"

#include <QAction>
#include <QCloseEvent>
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

    // Batches of a few thousand rows: a sorted list merges each batch into place,
    // which must fit in the hand-off's time slice.
    m_handoff = new HandoffQueue<Handed>([this](std::vector<Handed>& batch) { appendBatch(batch); }, this,
                                         std::chrono::milliseconds(8), 4096);

    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this, &ListViews::slotPacketChanged);
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
    m_model->appendRows(rows.data(), rows.size(), batch.front().base);
    if (follow)
        m_list->scrollToBottom();
}

// The newest row stays in view while the list is in arrival order, unless the
// user has scrolled away from the end or picked a row to look at.
bool ListViews::followsNewest() const
{
    const QScrollBar* bar = m_list->verticalScrollBar();
    return m_model->sortColumn() == PacketListItem::ColNo && m_model->sortOrder() == Qt::AscendingOrder &&
           bar->value() >= bar->maximum() && !m_list->selectionModel()->hasSelection();
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
    m_current = m_model->item(current.row()).decode(m_model->baseTime());
    m_bytes->updateview(m_current.get());
    showPacketTree();
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
