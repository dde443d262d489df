// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The scrolling canvas of the machine distribution window: the scene with one item
// per node and link, the layout that places the nodes, the periodic refresh that
// moves the packets, and the mouse: selecting with the item's name in the status
// bar, dragging a node (150 ms after the press, our own drag cursor, the node jumps
// on release), and the right-button menu that zooms or labels one node.

#include <QCursor>
#include <QGraphicsView>

#include <vector>

class CLink;
class CLinkItem;
class CNode;
class CNodeItem;
class QMainWindow;
class QMenu;
class QTimer;
class TopologyModel;

class CTopologyCanvasView : public QGraphicsView {
    Q_OBJECT
public:
    // `owner` is the window whose status bar shows the names.
    CTopologyCanvasView(TopologyModel* model, QMainWindow* owner, QWidget* parent = nullptr);
    ~CTopologyCanvasView() override;

    // Runs the layout, then moves the items to the nodes' new places; the canvas
    // grows with the layout when the nodes need more room.
    void ReForceLayout(int nIterations);
    void ShowIPAddress();
    void HideIPAddress();
    void ShowStatInfo();
    void HideStatInfo();
    // The periodic refresh: packets expire, and links with packets in flight (and
    // nodes whose counts are shown and changed) are repainted where they are visible.
    void UpdateView();
    // Repaints the whole visible canvas.
    void UpdateWindow();

    // Items for the nodes and links the model created since the last call.
    void addNewItems();
    // Every item takes its model object's position and size again.
    void syncItems();
    // Selects the nodes and the link of one packet, as clicks on them do (null ones
    // are left out); what was selected before is no longer.
    void markPacket(const CNode* from, const CNode* to, const CLink* link);
    // What markPacket selected (clicks select one item, in selectedItem()).
    const std::vector<QGraphicsItem*>& markedItems() const { return m_marked; }
    // Removes every item; the selection and the drag node are forgotten.
    void clearItems();

    // Mouse handling in canvas coordinates.
    void contentsMousePressEvent(QPoint pos, Qt::MouseButton button);
    void contentsMouseReleaseEvent(QPoint pos, Qt::MouseButton button);

    QGraphicsScene* canvas() const { return m_canvas; }
    QGraphicsItem* selectedItem() const { return pSelected; }
    CNode* dragNode() const { return pDragNode; }
    bool isDragPending() const { return bDragPending; }
    bool isDragging() const { return bDragging; }
    QMenu* popupMenu() const { return pPopupMenu; }
    const QCursor& dragCursor() const { return m_dragCursor; }
    CNodeItem* nodeItem(int index) const { return m_nodeItems[std::size_t(index)]; }
    CLinkItem* linkItem(int index) const { return m_linkItems[std::size_t(index)]; }
    // The whole canvas, as the export draws it.
    void drawCanvas(QPainter& painter);

    // Per-node zoom stops here: doubling without end would overflow the geometry.
    static constexpr float kMaxZoom = 64.0f;
    static constexpr float kMinZoom = 1.0f / 64.0f;

public slots:
    void slotDragTimeOut();
    void slotRightHandEnlarge();
    void slotRightHandShrink();
    void slotRightHandIPAddress();
    void slotRightHandNodeInfo();
    void slotDoNothing() {}

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void drawBackground(QPainter* painter, const QRectF& rect) override;

private:
    void setSelectedFlag(QGraphicsItem* item, bool selected);
    void unmark();
    CNode* selectedNode() const;
    void resizeCanvas(int width, int height);
    QPoint contentsPos(const QPoint& viewportPos) const;

    TopologyModel* m_model;
    QGraphicsScene* m_canvas;
    float fLinkLength = 2.0f;  // the room between nodes, in node diameters
    QGraphicsItem* pSelected = nullptr;
    QMenu* pPopupMenu;
    bool bDragPending = false;
    bool bDragging = false;
    QTimer* pDragTimer;
    CNode* pDragNode = nullptr;
    QCursor savedCursor;
    QMainWindow* pOwner;
    QCursor m_dragCursor;
    std::vector<CNodeItem*> m_nodeItems;  // in the model's order
    std::vector<CLinkItem*> m_linkItems;
    std::vector<QGraphicsItem*> m_marked;
};
