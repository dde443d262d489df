// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/topology/topologylegendview.h"

#include "views/topology/nodeinfomodel.h"

#include <QHeaderView>
#include <QSortFilterProxyModel>
#include <QStyle>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

CTopologyLegendView::CTopologyLegendView(QWidget* parent, const char* name) : QWidget(parent)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
    setWindowTitle(tr("NodeInfo"));
    m_model = new NodeInfoModel(this);
    m_sorted = new QSortFilterProxyModel(this);
    m_sorted->setSourceModel(m_model);
    m_sorted->setSortRole(NodeInfoModel::SortRole);
    m_sorted->setDynamicSortFilter(true);
    m_list = new QTreeView(this);
    m_list->setModel(m_sorted);
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    // No column sorted at first: rows in the order the nodes appeared.
    m_list->header()->setSortIndicator(-1, Qt::AscendingOrder);
    m_list->setSortingEnabled(true);
    QHeaderView* header = m_list->header();
    header->resizeSections(QHeaderView::ResizeToContents);  // the titles, read in full
    // The longest address fits too.
    const int address = m_list->fontMetrics().horizontalAdvance(QStringLiteral("255.255.255.255")) +
                        2 * m_list->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header) + 8;
    header->resizeSection(NodeInfoModel::ColAddress, std::max(header->sectionSize(NodeInfoModel::ColAddress), address));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_list);
    // Wide enough for every column beside the vertical scroll bar.
    const int columns = header->length() + 2 * m_list->frameWidth() +
                        m_list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_list);
    resize(std::max(400, columns), 150);
}

void CTopologyLegendView::AddNode(int nodeNo, const QString& address, int received, int sent)
{
    m_model->AddNode(nodeNo, address, received, sent);
}

void CTopologyLegendView::AddNode(int nodeNo, const QString& address) { m_model->AddNode(nodeNo, address); }

void CTopologyLegendView::SendPacket(int nodeNo)
{
    m_model->SendPacket(nodeNo);
    m_model->flush();
}

void CTopologyLegendView::ReceivePacket(int nodeNo)
{
    m_model->ReceivePacket(nodeNo);
    m_model->flush();
}

QString CTopologyLegendView::shownText(int row, int column) const
{
    return m_sorted->index(row, column).data().toString();
}
