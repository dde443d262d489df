// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/topology/topologycanvasview.h"

#include "views/topology/topologyitems.h"
#include "views/topology/topologymodel.h"

#include <QBitmap>
#include <QMainWindow>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>

namespace {

// The drag cursor: a four-way arrow, X bitmap bit order (least significant bit
// first), its mask the arrow grown by one pixel.
const uchar cursor_bits[] = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x80, 0x01, 0x00, 0x00, 0xc0, 0x03, 0x00, 0x00, 0xe0, 0x07, 0x00,
    0x00, 0xf0, 0x0f, 0x00, 0x00, 0xf8, 0x1f, 0x00, 0x00, 0xfc, 0x3f, 0x00,
    0x00, 0x80, 0x01, 0x00, 0x00, 0x81, 0x81, 0x00, 0x80, 0x81, 0x81, 0x01,
    0xc0, 0x81, 0x81, 0x03, 0xe0, 0x81, 0x81, 0x07, 0xf0, 0x81, 0x81, 0x0f,
    0xf8, 0xff, 0xff, 0x1f, 0xf8, 0xff, 0xff, 0x1f, 0xf0, 0x81, 0x81, 0x0f,
    0xe0, 0x81, 0x81, 0x07, 0xc0, 0x81, 0x81, 0x03, 0x80, 0x81, 0x81, 0x01,
    0x00, 0x81, 0x81, 0x00, 0x00, 0x80, 0x01, 0x00, 0x00, 0xfc, 0x3f, 0x00,
    0x00, 0xf8, 0x1f, 0x00, 0x00, 0xf0, 0x0f, 0x00, 0x00, 0xe0, 0x07, 0x00,
    0x00, 0xc0, 0x03, 0x00, 0x00, 0x80, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

const uchar cursormask_bits[] = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xc0, 0x03, 0x00,
    0x00, 0xe0, 0x07, 0x00, 0x00, 0xf0, 0x0f, 0x00, 0x00, 0xf8, 0x1f, 0x00,
    0x00, 0xfc, 0x3f, 0x00, 0x00, 0xfe, 0x7f, 0x00, 0x00, 0xfe, 0x7f, 0x00,
    0x80, 0xff, 0xff, 0x01, 0xc0, 0xc3, 0xc3, 0x03, 0xe0, 0xc3, 0xc3, 0x07,
    0xf0, 0xc3, 0xc3, 0x0f, 0xf8, 0xc3, 0xc3, 0x1f, 0xfc, 0xff, 0xff, 0x3f,
    0xfc, 0xff, 0xff, 0x3f, 0xfc, 0xff, 0xff, 0x3f, 0xfc, 0xff, 0xff, 0x3f,
    0xf8, 0xc3, 0xc3, 0x1f, 0xf0, 0xc3, 0xc3, 0x0f, 0xe0, 0xc3, 0xc3, 0x07,
    0xc0, 0xc3, 0xc3, 0x03, 0x80, 0xff, 0xff, 0x01, 0x00, 0xfe, 0x7f, 0x00,
    0x00, 0xfe, 0x7f, 0x00, 0x00, 0xfc, 0x3f, 0x00, 0x00, 0xf8, 0x1f, 0x00,
    0x00, 0xf0, 0x0f, 0x00, 0x00, 0xe0, 0x07, 0x00, 0x00, 0xc0, 0x03, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

QCursor makeDragCursor()
{
    const QBitmap picture = QBitmap::fromData(QSize(32, 32), cursor_bits, QImage::Format_MonoLSB);
    const QBitmap mask = QBitmap::fromData(QSize(32, 32), cursormask_bits, QImage::Format_MonoLSB);
    return QCursor(picture, mask, 16, 16);
}

}  // namespace

CTopologyCanvasView::CTopologyCanvasView(TopologyModel* model, QMainWindow* owner, QWidget* parent)
    : QGraphicsView(parent), m_model(model), pOwner(owner)
{
    m_canvas = new QGraphicsScene(0, 0, model->canvasWidth(), model->canvasHeight(), this);
    // Every layout moves every node: an index would be rebuilt each time.
    m_canvas->setItemIndexMethod(QGraphicsScene::NoIndex);
    setScene(m_canvas);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);  // the canvas starts at the top-left corner
    // A layout changes thousands of items at once: one rectangle around all changes
    // costs less to gather than the exact region.
    setViewportUpdateMode(QGraphicsView::BoundingRectViewportUpdate);
    setRenderHint(QPainter::Antialiasing, false);
    viewport()->setMouseTracking(true);
    savedCursor = viewport()->cursor();
    m_dragCursor = makeDragCursor();
    pPopupMenu = new QMenu(this);
    pDragTimer = new QTimer(this);
    pDragTimer->setSingleShot(true);
    connect(pDragTimer, &QTimer::timeout, this, &CTopologyCanvasView::slotDragTimeOut);
}

CTopologyCanvasView::~CTopologyCanvasView()
{
    // The items point into the model, which may go first.
    clearItems();
}

void CTopologyCanvasView::ReForceLayout(int nIterations)
{
    m_model->ReForceLayout(nIterations, fLinkLength);
    syncItems();
}

void CTopologyCanvasView::ShowIPAddress()
{
    m_model->setAllShowIPAddress(true);
    syncItems();
}

void CTopologyCanvasView::HideIPAddress()
{
    m_model->setAllShowIPAddress(false);
    syncItems();
}

void CTopologyCanvasView::ShowStatInfo()
{
    m_model->setAllShowStatInfo(true);
    syncItems();
}

void CTopologyCanvasView::HideStatInfo()
{
    m_model->setAllShowStatInfo(false);
    syncItems();
}

void CTopologyCanvasView::UpdateView()
{
    // Expiry happens here, so packets on links that are never drawn still leave.
    // Links with packets in flight move them on; links whose last painting showed
    // packets now gone erase them. The scene repaints only what lies on screen.
    m_model->expirePackets(monotonicMs());
    for (CLinkItem* item : m_linkItems)
        if (!item->link()->packetList.empty() || item->drewPackets())
            item->update();
    for (CNodeItem* item : m_nodeItems) {
        CNode* node = item->node();
        if (!node->bCountsChanged)
            continue;
        node->bCountsChanged = false;
        if (node->bShowStatInfo)
            item->sync();
    }
}

void CTopologyCanvasView::UpdateWindow() { viewport()->update(); }

void CTopologyCanvasView::addNewItems()
{
    const auto& nodes = m_model->nodes();
    for (std::size_t i = m_nodeItems.size(); i < nodes.size(); ++i) {
        m_nodeItems.push_back(new CNodeItem(nodes[i].get()));
        m_canvas->addItem(m_nodeItems.back());
    }
    const auto& links = m_model->links();
    for (std::size_t i = m_linkItems.size(); i < links.size(); ++i) {
        m_linkItems.push_back(new CLinkItem(links[i].get()));
        m_canvas->addItem(m_linkItems.back());
    }
}

void CTopologyCanvasView::syncItems()
{
    // The layout grows the canvas for many nodes; clearing returns it.
    if (m_canvas->sceneRect() != QRectF(0, 0, m_model->canvasWidth(), m_model->canvasHeight()))
        m_canvas->setSceneRect(0, 0, m_model->canvasWidth(), m_model->canvasHeight());
    for (CNodeItem* item : m_nodeItems)
        item->sync();
    for (CLinkItem* item : m_linkItems)
        item->sync();
}

void CTopologyCanvasView::unmark()
{
    for (QGraphicsItem* item : m_marked)
        setSelectedFlag(item, false);
    m_marked.clear();
}

void CTopologyCanvasView::markPacket(const CNode* from, const CNode* to, const CLink* link)
{
    unmark();
    if (pSelected)
        setSelectedFlag(pSelected, false);
    pSelected = nullptr;
    for (CNodeItem* item : m_nodeItems)
        if (item->node() == from || item->node() == to)
            m_marked.push_back(item);
    for (CLinkItem* item : m_linkItems)
        if (item->link() == link)
            m_marked.push_back(item);
    for (QGraphicsItem* item : m_marked)
        setSelectedFlag(item, true);
    if (!m_marked.empty())
        ensureVisible(m_marked.front());
    UpdateWindow();
}

void CTopologyCanvasView::clearItems()
{
    m_marked.clear();
    pSelected = nullptr;
    pDragNode = nullptr;
    bDragPending = false;
    m_nodeItems.clear();
    m_linkItems.clear();
    m_canvas->clear();
}

QPoint CTopologyCanvasView::contentsPos(const QPoint& viewportPos) const { return mapToScene(viewportPos).toPoint(); }

void CTopologyCanvasView::mousePressEvent(QMouseEvent* event)
{
    contentsMousePressEvent(contentsPos(event->position().toPoint()), event->button());
}

void CTopologyCanvasView::mouseReleaseEvent(QMouseEvent* event)
{
    contentsMouseReleaseEvent(contentsPos(event->position().toPoint()), event->button());
}

// Moves and double clicks do nothing here (the scene's own handling would).
void CTopologyCanvasView::mouseMoveEvent(QMouseEvent*) {}
void CTopologyCanvasView::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

void CTopologyCanvasView::setSelectedFlag(QGraphicsItem* item, bool selected)
{
    if (auto* node = qgraphicsitem_cast<CNodeItem*>(item))
        node->node()->bSelected = selected;
    else if (auto* link = qgraphicsitem_cast<CLinkItem*>(item))
        link->link()->bSelected = selected;
}

CNode* CTopologyCanvasView::selectedNode() const
{
    auto* item = qgraphicsitem_cast<CNodeItem*>(pSelected);
    return item ? item->node() : nullptr;
}

void CTopologyCanvasView::contentsMousePressEvent(QPoint pos, Qt::MouseButton button)
{
    const QList<QGraphicsItem*> hits = m_canvas->items(QPointF(pos));
    QGraphicsItem* first = hits.isEmpty() ? nullptr : hits.first();
    if (button == Qt::LeftButton && first) {
        if (auto* node = qgraphicsitem_cast<CNodeItem*>(first)) {
            pOwner->statusBar()->showMessage(node->node()->GetNodeName());
            bDragPending = true;
            pDragTimer->start(150);
            pDragNode = node->node();
        } else if (auto* link = qgraphicsitem_cast<CLinkItem*>(first)) {
            pOwner->statusBar()->showMessage(link->link()->GetLinkName());
        }
    }
    QGraphicsItem* previous = pSelected;
    const bool wasMarked = !m_marked.empty();
    unmark();
    if (pSelected)
        setSelectedFlag(pSelected, false);
    pSelected = first;
    if (first)
        setSelectedFlag(first, true);
    if ((first && first != previous) || wasMarked)
        UpdateWindow();
}

void CTopologyCanvasView::slotDragTimeOut()
{
    if (!bDragPending)
        return;
    bDragging = true;
    viewport()->setCursor(m_dragCursor);
}

void CTopologyCanvasView::resizeCanvas(int width, int height)
{
    m_model->resizeCanvas(width, height);
    m_canvas->setSceneRect(0, 0, width, height);
}

void CTopologyCanvasView::contentsMouseReleaseEvent(QPoint pos, Qt::MouseButton button)
{
    bDragPending = false;
    if (button == Qt::LeftButton && bDragging) {
        bDragging = false;
        viewport()->setCursor(savedCursor);
        if (pDragNode) {
            const int x = std::max(5, pos.x());
            const int y = std::max(5, pos.y());
            const int width = m_model->canvasWidth(), height = m_model->canvasHeight();
            if (x > width || y > height)
                resizeCanvas(std::max(width, x) + 100, std::max(height, y) + 100);
            pDragNode->SetPosition(x, y);
            syncItems();
            UpdateWindow();
        }
    }
    if (button == Qt::RightButton) {
        const QList<QGraphicsItem*> hits = m_canvas->items(QPointF(pos));
        auto* node = hits.isEmpty() ? nullptr : qgraphicsitem_cast<CNodeItem*>(hits.first());
        if (!node)
            return;
        pPopupMenu->clear();
        pPopupMenu->addAction(node->node()->GetNodeName(), this, &CTopologyCanvasView::slotDoNothing);
        pPopupMenu->addSeparator();
        pPopupMenu->addAction(QStringLiteral("Zoom In"), this, &CTopologyCanvasView::slotRightHandEnlarge);
        pPopupMenu->addAction(QStringLiteral("Zoom Out"), this, &CTopologyCanvasView::slotRightHandShrink);
        pPopupMenu->addSeparator();
        pPopupMenu->addAction(QStringLiteral("Show/Hide IP Address"), this, &CTopologyCanvasView::slotRightHandIPAddress);
        pPopupMenu->addAction(QStringLiteral("Show/Hide Node Info"), this, &CTopologyCanvasView::slotRightHandNodeInfo);
        pPopupMenu->exec(viewport()->mapToGlobal(mapFromScene(QPointF(pos))));
    }
}

void CTopologyCanvasView::slotRightHandEnlarge()
{
    if (CNode* node = selectedNode()) {
        node->fZoom = std::min(kMaxZoom, node->fZoom * 2);
        syncItems();
        UpdateWindow();
    }
}

void CTopologyCanvasView::slotRightHandShrink()
{
    if (CNode* node = selectedNode()) {
        node->fZoom = std::max(kMinZoom, node->fZoom / 2);
        syncItems();
        UpdateWindow();
    }
}

void CTopologyCanvasView::slotRightHandIPAddress()
{
    if (CNode* node = selectedNode()) {
        node->bShowIPAddress = !node->bShowIPAddress;
        syncItems();
        UpdateWindow();
    }
}

void CTopologyCanvasView::slotRightHandNodeInfo()
{
    if (CNode* node = selectedNode()) {
        node->bShowStatInfo = !node->bShowStatInfo;
        syncItems();
        UpdateWindow();
    }
}

void CTopologyCanvasView::drawBackground(QPainter* painter, const QRectF& rect)
{
    // The canvas in its colour, the rest of the viewport in the widget's.
    painter->fillRect(rect, palette().color(QPalette::Window));
    painter->fillRect(rect & sceneRect(), m_canvas->backgroundBrush());
}

void CTopologyCanvasView::drawCanvas(QPainter& painter)
{
    const QRectF all = m_canvas->sceneRect();
    m_canvas->render(&painter, QRectF(QPointF(0, 0), all.size()), all);
}
