// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The "NodeInfo" window: one row per node of a machine distribution view with its
// number, address and sent and received counts. Rows can be sorted by any column
// (click a header); until then they stay in the order the nodes appeared.

#include <QWidget>

class NodeInfoModel;
class QSortFilterProxyModel;
class QTreeView;

class CTopologyLegendView : public QWidget {
    Q_OBJECT
public:
    explicit CTopologyLegendView(QWidget* parent = nullptr, const char* name = nullptr);

    void AddNode(int nodeNo, const QString& address, int received, int sent);
    void AddNode(int nodeNo, const QString& address);
    void SendPacket(int nodeNo);
    void ReceivePacket(int nodeNo);

    NodeInfoModel* nodeInfo() const { return m_model; }
    QTreeView* listView() const { return m_list; }
    // The text shown in row `row` (in the order on screen) and `column`.
    QString shownText(int row, int column) const;

private:
    NodeInfoModel* m_model;
    QSortFilterProxyModel* m_sorted;
    QTreeView* m_list;
};
