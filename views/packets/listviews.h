// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The Packet List View: every packet it receives as a row, and the selected
// packet's field tree and bytes, the selected field's bytes in red.
//
// AddPacket runs on the capture controller's reader thread: under the view's mutex
// it checks the lock, numbers the packet and hands the row to the GUI thread
// through a HandoffQueue, which appends rows in batches. Rows keep only a pointer
// and a number; texts are made for the rows on screen and the field tree for the
// selected packet.

#include "capture/handoff.h"
#include "capture/timebasedview.h"
#include "views/packets/packetlistitem.h"

#include <QMainWindow>
#include <QTreeWidgetItem>

#include <atomic>
#include <memory>
#include <mutex>

class DetailScrollView;
class ItemFolder;
class PacketListModel;
class QAction;
class QLabel;
class QSplitter;
class QTableView;
class QTreeWidget;

// A row of the detail tree: one field of the decoded packet, with its children.
class ItemFolderListItem : public QTreeWidgetItem {
public:
    ItemFolderListItem(QTreeWidget* parent, const ItemFolder* folder);
    ItemFolderListItem(ItemFolderListItem* parent, const ItemFolder* folder);
    const ItemFolder* folder() const { return m_folder; }

private:
    void addChildren();
    const ItemFolder* m_folder;
};

class ListViews : public QMainWindow, public CTimeBasedView {
    Q_OBJECT
public:
    enum MenuId { IdLock = 10000, IdClear = 10003, IdUnlock = 10004 };

    explicit ListViews(QWidget* parent = nullptr, const char* name = nullptr);
    ~ListViews() override;

    void InitiateView() override;
    void UpdateView() override {}
    void AddPacket(CPacket* packet) override;  // reader thread
    bool DisplayFilterChanged(bool inForce) override;

    QTableView* packetList() const { return m_list; }
    PacketListModel* model() const { return m_model; }
    QTreeWidget* detailTree() const { return m_tree; }
    DetailScrollView* bytePane() const { return m_bytes; }
    QSplitter* outerSplitter() const { return m_outer; }
    QSplitter* innerSplitter() const { return m_inner; }
    const Packet* currentPacket() const { return m_current.get(); }
    HandoffBase* handoff() const { return m_handoff; }
    bool isLocked() const;
    int packetCount() const;
    QLabel* lockedLabel() const { return m_lockedLabel; }
    QAction* followEntry() const { return m_follow; }

public slots:
    void slotPacketChanged();
    void slotItemFolderChanged();
    void slotClearView();
    void slotLockView();
    void slotUnlockView();
    // Selects the row of the program's current packet, if this view holds it.
    void showLinkedPacket(const CPacket* packet, const QObject* source);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Handed {
        PacketListItem row;
        BaseTime base;
    };
    void initMenuBar();
    void initStatusBar();
    void showPacketTree();
    void appendBatch(std::vector<Handed>& batch);
    bool followsNewest() const;
    void setLocked(bool locked);
    void widenAddressColumns();
    void fitInfoColumn();

    QTableView* m_list = nullptr;
    PacketListModel* m_model = nullptr;
    QTreeWidget* m_tree = nullptr;
    DetailScrollView* m_bytes = nullptr;
    QLabel* m_lockedLabel = nullptr;
    QAction* m_follow = nullptr;
    bool m_linking = false;  // selecting the current packet: not a choice of the user's
    int m_infoWidth = 0;  // what the widest "Info" text needs
    bool m_wideAddresses = false;  // the address columns hold IPv6 addresses
    std::atomic<bool> m_sawIPv6{false};  // an IPv6 packet came (reader thread)
    QSplitter* m_outer = nullptr;
    QSplitter* m_inner = nullptr;
    HandoffQueue<Handed>* m_handoff = nullptr;
    std::unique_ptr<Packet> m_current;  // decoded from the selected row

    // Shared with AddPacket on the reader thread.
    mutable std::mutex m_mutex;
    bool m_locked = false;
    std::uint32_t m_count = 0;
    BaseTime m_base;
};
