// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/topology/topologyview.h"

#include "capture/controlpanel.h"
#include "capture/cpacket.h"
#include "capture/currentpacket.h"
#include "capture/settings.h"
#include "views/common/imageexport.h"
#include "views/common/linkedselection.h"
#include "views/topology/nodeinfomodel.h"
#include "views/topology/topologycanvasview.h"
#include "views/topology/topologyitems.h"
#include "views/topology/topologylegendview.h"
#include "views/topology/topologymodel.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QStatusBar>
#include <QToolBar>
#include <QWhatsThis>

namespace {

// The tool bar's padlocks, closed and open.
QIcon padlock(bool closed)
{
    QPixmap picture(32, 32);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(90, 90, 90), 3));
    p.setBrush(Qt::NoBrush);
    QPainterPath shackle;
    shackle.moveTo(closed ? 22 : 29, closed ? 15 : 11);
    shackle.lineTo(closed ? 22 : 29, 10);
    shackle.arcTo(closed ? 10 : 17, 3, 12, 14, 0, 180);
    shackle.lineTo(closed ? 10 : 17, 15);
    p.drawPath(shackle);
    p.setPen(QPen(QColor(120, 80, 0), 1));
    p.setBrush(QColor(230, 180, 40));
    p.drawRoundedRect(QRectF(6.5, 14.5, 20, 15), 2, 2);
    p.setBrush(QColor(60, 40, 0));
    p.drawEllipse(QPointF(16.5, 21), 2, 2);
    p.drawRect(QRectF(16, 22, 1, 4));
    return QIcon(picture);
}

}  // namespace

CTopologyView::CTopologyView(QWidget* parent, const char* name) : QMainWindow(parent)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
    setAttribute(Qt::WA_DeleteOnClose, false);  // RemoveView destroys the view
    resize(600, 480);
    setWindowTitle(tr("NUK Machine Distribution View"));

    m_nodeInfo = new CTopologyLegendView(nullptr, "NodeInfo");
    m_model = std::make_unique<TopologyModel>(m_nodeInfo->nodeInfo());
    initMenuBar();
    initToolBar();
    initStatusBar();

    // Between the tool bar and the status bar, as wide as the window.
    m_canvasView = new CTopologyCanvasView(m_model.get(), this, this);
    m_canvasView->canvas()->setBackgroundBrush(topologycolours::kBackground);
    setCentralWidget(m_canvasView);

    m_layoutTimer.setSingleShot(true);
    connect(&m_layoutTimer, &QTimer::timeout, this, &CTopologyView::runLayout);
    m_handoff = new HandoffQueue<Arrival>([this](std::vector<Arrival>& batch) { applyBatch(batch); }, this,
                                          std::chrono::milliseconds(8), 2048);
    connect(&currentPacket(), &CurrentPacket::changed, this, &CTopologyView::showLinkedPacket);
    show();
}

CTopologyView::~CTopologyView()
{
    delete m_handoff;
    m_handoff = nullptr;
    delete m_canvasView;  // its items point into the model
    m_canvasView = nullptr;
    delete m_nodeInfo;  // a window of its own
}

QAction* CTopologyView::action(int id) const
{
    for (QMenu* menu : {m_operationMenu, m_viewMenu, m_windowMenu})
        for (QAction* a : menu->actions())
            if (a->data().toInt() == id)
                return a;
    return nullptr;
}

void CTopologyView::initMenuBar()
{
    const auto add = [this](QMenu* menu, const QString& text, const QKeySequence& key, int id, auto slot) {
        QAction* a = menu->addAction(text);
        a->setShortcut(key);
        a->setData(id);
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    m_operationMenu = menuBar()->addMenu(tr("&Operation"));
    add(m_operationMenu, tr("&Clear View"), QKeySequence(Qt::CTRL | Qt::Key_C), IdClear, &CTopologyView::slotClearView);
    m_operationMenu->addSeparator();
    add(m_operationMenu, tr("&Lock View"), QKeySequence(Qt::CTRL | Qt::Key_L), IdLock, &CTopologyView::slotLockView);
    add(m_operationMenu, tr("&UnLock View"), QKeySequence(Qt::CTRL | Qt::Key_U), IdUnlock,
        &CTopologyView::slotUnlockView);
    add(m_operationMenu, tr("E&xit"), QKeySequence(Qt::CTRL | Qt::Key_X), IdExit, &CTopologyView::slotExit);
    m_operationMenu->addSeparator();
    add(m_operationMenu, tr("Export as Image..."), QKeySequence(), IdExport, &CTopologyView::slotExportImage);
    m_operationMenu->addSeparator();
    linked::addGoToPacket(m_operationMenu, this, [this](const CPacket* packet) { showLinkedPacket(packet, nullptr); });

    m_viewMenu = menuBar()->addMenu(tr("&View"));
    add(m_viewMenu, tr("Show IPAddress Below Nodes"), QKeySequence(), IdShowIPAddress,
        [this] { slotShowIPAddress(IdShowIPAddress); });
    add(m_viewMenu, tr("Show Statistic Info"), QKeySequence(), IdShowStatInfo,
        [this] { slotShowStatisInfo(IdShowStatInfo); });

    m_windowMenu = menuBar()->addMenu(tr("&Window"));
    add(m_windowMenu, tr("Show/Hide Node Info Window"), QKeySequence(), IdNodeInfoWindow,
        &CTopologyView::slotNodeInfoWindow);
}

void CTopologyView::initToolBar()
{
    m_toolBar = addToolBar(tr("Operations"));
    m_toolBar->setObjectName(QStringLiteral("Operations"));
    QAction* lock = m_toolBar->addAction(padlock(true), tr("LockView"), this, &CTopologyView::slotLockView);
    lock->setWhatsThis(tr("Click this button to lock this view.\n\nYou can also select the Lock command from the "
                          "Operation menu."));
    QAction* unlock = m_toolBar->addAction(padlock(false), tr("unLockView"), this, &CTopologyView::slotUnlockView);
    unlock->setWhatsThis(tr("Click this button to unlock this view.\n\nYou can also select the UnLock command from "
                            "the Operation menu."));
    m_toolBar->addAction(QWhatsThis::createAction(this));
}

void CTopologyView::initStatusBar()
{
    m_lockedLabel = new QLabel(tr("Locked"), this);
    m_lockedLabel->hide();
    statusBar()->addPermanentWidget(m_lockedLabel);
    statusBar()->showMessage(tr("Ready."), 2000);
}

void CTopologyView::AddPacket(CPacket* packet)
{
    if (!m_refusing.load(std::memory_order_acquire))
        m_handoff->push(Arrival{packet, monotonicMs()});
}

void CTopologyView::showLinkedPacket(const CPacket* packet, const QObject* source)
{
    if (source == this)
        return;
    m_handoff->drainAll();  // packets handed over but not applied yet
    const IpAddress src = packet->sourceAddress(), dst = packet->destAddress();
    const CNode* from = m_model->findNode(src);
    const CNode* to = m_model->findNode(dst);
    if (!from || !to)
        return;
    m_canvasView->markPacket(from, to, m_model->findLink(src, dst));
}

void CTopologyView::applyBatch(std::vector<Arrival>& batch)
{
    bool created = false;
    for (const Arrival& a : batch)
        created |= m_model->AddPacket(a.packet, a.tStart);
    if (created) {
        m_canvasView->addNewItems();
        scheduleLayout();
    }
    m_nodeInfo->nodeInfo()->flush();
    // A stepped packet sets off on its link now, not at the next refresh tick.
    if (g_bPureStepMode)
        m_canvasView->UpdateView();
}

// A layout moves every node and so repaints the whole canvas: a burst of new hosts
// gets one run per batch and at most one per interval, not one per packet.
void CTopologyView::scheduleLayout()
{
    const qint64 since = m_sinceLayout.isValid() ? m_sinceLayout.elapsed() : kLayoutInterval;
    if (since >= kLayoutInterval)
        runLayout();
    else if (!m_layoutTimer.isActive())
        m_layoutTimer.start(int(kLayoutInterval - since));
}

void CTopologyView::runLayout()
{
    m_layoutTimer.stop();
    m_canvasView->ReForceLayout(3);
    m_sinceLayout.start();
    // Three rounds rarely finish a layout: it goes on, a run per interval, until the
    // nodes come to rest.
    if (m_model->layoutSettling())
        m_layoutTimer.start(kLayoutInterval);
}

void CTopologyView::UpdateView() { m_canvasView->UpdateView(); }

void CTopologyView::slotLockView()
{
    m_model->bLocked = true;
    m_refusing.store(true, std::memory_order_release);
    m_lockedLabel->show();
}

void CTopologyView::slotUnlockView()
{
    m_model->bLocked = false;
    m_refusing.store(false, std::memory_order_release);
    m_lockedLabel->hide();
}

void CTopologyView::slotNodeInfoWindow() { m_nodeInfo->setVisible(m_nodeInfo->isHidden()); }

void CTopologyView::slotShowIPAddress(int nIndex)
{
    toggleLabels(m_model->bShowIPAddress, nIndex, tr("Show IPAddress Below Nodes"), tr("Hide IPAddress Below Nodes"),
                 &CTopologyCanvasView::ShowIPAddress, &CTopologyCanvasView::HideIPAddress);
}

void CTopologyView::slotShowStatisInfo(int nIndex)
{
    toggleLabels(m_model->bShowStatInfo, nIndex, tr("Show Statistic Info"), tr("Hide Statistic Info"),
                 &CTopologyCanvasView::ShowStatInfo, &CTopologyCanvasView::HideStatInfo);
}

// Switches `flag` for the view and every node, and the View menu item `nIndex` to
// offer the opposite.
void CTopologyView::toggleLabels(bool& flag, int nIndex, const QString& showText, const QString& hideText,
                                 void (CTopologyCanvasView::*show)(), void (CTopologyCanvasView::*hide)())
{
    flag = !flag;
    if (QAction* item = action(nIndex))
        item->setText(flag ? hideText : showText);
    (m_canvasView->*(flag ? show : hide))();
    m_canvasView->UpdateWindow();
}

void CTopologyView::slotExit() { close(); }

void CTopologyView::slotClearView()
{
    m_handoff->discard();  // packets that arrived before the clear
    m_layoutTimer.stop();
    m_canvasView->clearItems();
    m_model->clear();
    m_canvasView->syncItems();
    m_canvasView->UpdateWindow();
}

void CTopologyView::slotExportImage()
{
    const QSize size(m_model->canvasWidth(), m_model->canvasHeight());
    exportImage(this, size, [this](QPainter& painter) { m_canvasView->drawCanvas(painter); });
}

void CTopologyView::closeEvent(QCloseEvent* event)
{
    event->accept();
    RemoveView(this);
}

bool CTopologyView::DisplayFilterChanged(bool)
{
    if (m_model->bLocked)
        return false;
    slotClearView();
    return true;
}
