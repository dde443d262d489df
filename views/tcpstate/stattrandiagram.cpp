// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/tcpstate/stattrandiagram.h"

#include "capture/controlpanel.h"
#include "capture/cpacket.h"
#include "capture/currentpacket.h"
#include "views/common/linkedselection.h"
#include "views/common/imageexport.h"
#include "views/tcpstate/diagrampainter.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QPointer>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace {

// The drawing surface: the diagram's fixed 800 x 830 picture.
class DiagramCanvas : public QWidget {
public:
    explicit DiagramCanvas(StatTranDiagram* view) : QWidget(view), m_view(view)
    {
        setFixedSize(tcpdiagram::kSize);
        setAutoFillBackground(true);
        QPalette pal = palette();
        pal.setColor(QPalette::Window, Qt::white);
        setPalette(pal);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        m_view->drawView(&painter, m_view->snapshot());
    }

private:
    StatTranDiagram* m_view;
};

}  // namespace

StatTranDiagram::StatTranDiagram(QWidget* parent, const char* name) : QMainWindow(parent)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
    setAttribute(Qt::WA_DeleteOnClose, false);  // RemoveView destroys the view
    setWindowTitle(QStringLiteral("NUK TCP State Transition Diagram View"));
    m_canvas = new DiagramCanvas(this);
    setCentralWidget(m_canvas);
    initMenuBar();
    initStatusBar();
    // The picture keeps its 800 x 830; the menu and status bars come on top of it.
    setGeometry(0, 0, tcpdiagram::kWidth, tcpdiagram::kHeight);
    resize(sizeHint());
    InitiateView();
    show();
}

StatTranDiagram::~StatTranDiagram() = default;

void StatTranDiagram::initMenuBar()
{
    QMenu* options = menuBar()->addMenu(QStringLiteral("&Options"));
    auto add = [&](const char* text, int id) {
        QAction* a = options->addAction(QString::fromLatin1(text));
        a->setData(id);
        connect(a, &QAction::triggered, this, [this, id] { doMenuItem(id); });
        return a;
    };
    add("&Reset", IdReset);
    m_lockAction = add("&Lock", IdLock);
    m_lockAction->setCheckable(true);
    connect(options->addAction(QStringLiteral("Export as Image...")), &QAction::triggered, this,
            &StatTranDiagram::exportAsImage);
    // The diagram shows no packets of its own: going to one shows it in the other views.
    linked::addGoToPacket(options, this, [](const CPacket*) {});
    options->addSeparator();
    add("Quit", IdQuit);
}

void StatTranDiagram::initStatusBar()
{
    m_connection = new QLabel(statusBar());
    statusBar()->addWidget(m_connection);
    m_lockedLabel = new QLabel(QStringLiteral("Locked"), statusBar());
    statusBar()->addPermanentWidget(m_lockedLabel);
    m_lockedLabel->hide();
}

void StatTranDiagram::InitiateView()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tracker.initiate();
    }
    m_lockAction->setChecked(false);
    showStatus();
    m_canvas->update();
}

void StatTranDiagram::AddPacket(CPacket* packet)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // follow() has run this one already.
    if (packet->captureNumber() != 0 && packet->captureNumber() <= m_followedUpTo)
        return;
    m_tracker.addPacket(*packet);
}

void StatTranDiagram::follow(const CPacket& chosen)
{
    const bool tcp = chosen.isTcp();
    const IpAddress a = chosen.sourceAddress(), b = chosen.destAddress();
    const std::uint16_t pa = chosen.GetSrcPort(), pb = chosen.GetDstPort();
    const auto sameConnection = [&](const CPacket& p) {
        if (!p.isTcp())
            return false;
        const IpAddress s = p.sourceAddress(), d = p.destAddress();
        const std::uint16_t ps = p.GetSrcPort(), pd = p.GetDstPort();
        return (s == a && d == b && ps == pa && pd == pb) || (s == b && d == a && ps == pb && pd == pa);
    };
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tracker.chooseNext();
        std::vector<CPacket*> packets;
        if (tcp)
            m_followedUpTo = std::max(m_followedUpTo, currentPacket().packetsWhere(sameConnection, packets));
        if (packets.empty())
            m_tracker.addPacket(chosen);  // not one of the capture's (nothing to look back on)
        for (const CPacket* p : packets)
            m_tracker.addPacket(*p);
    }
    m_lockAction->setChecked(false);
    showStatus();
    m_canvas->update();
}

void StatTranDiagram::UpdateView()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_tracker.isDirty())
            return;
        m_tracker.resetFlags();
    }
    showStatus();
    m_canvas->update();
}

StatTranDiagram::Snapshot StatTranDiagram::snapshot() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return {m_tracker.step(), m_tracker.sticky(), m_tracker.isDirty(), m_tracker.isLocked(),
            m_tracker.connectionText(), m_tracker.packetsTaken()};
}

// The step, the flags and the packet count come from one look at the tracker: a count
// read later than the step could belong to a packet this paint does not show, and
// fixView would then clear dirty for a picture never painted.
void StatTranDiagram::drawView(QPainter* painter, const Snapshot& state)
{
    tcpdiagram::paint(*painter, state.step, state.sticky);
    const std::uint64_t taken = state.packetsTaken;
    QTimer::singleShot(500, this, [this, taken] { fixView(taken); });
}

void StatTranDiagram::fixView(std::uint64_t packetsTakenWhenPainted)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tracker.fixView(packetsTakenWhenPainted);
}

void StatTranDiagram::doMenuItem(int id)
{
    switch (id) {
    case IdReset: {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tracker.reset();
        break;
    }
    case IdLock: {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tracker.setLocked(!m_tracker.isLocked());
        m_lockAction->setChecked(m_tracker.isLocked());
        break;
    }
    case IdQuit:
        // Closing destroys the view; not while its menu is still handling the click.
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    default:
        return;
    }
    showStatus();
    m_canvas->update();
}

void StatTranDiagram::showStatus()
{
    const Snapshot s = snapshot();
    m_connection->setText(s.connection.isEmpty() ? QStringLiteral("Waiting for a connection to open") : s.connection);
    m_lockedLabel->setVisible(s.locked);
}

void StatTranDiagram::exportAsImage()
{
    const Snapshot s = snapshot();
    exportImage(this, tcpdiagram::kSize, [s](QPainter& painter) {
        painter.fillRect(QRect(QPoint(0, 0), tcpdiagram::kSize), Qt::white);
        tcpdiagram::paint(painter, s.step, s.sticky);
    });
}

void StatTranDiagram::closeEvent(QCloseEvent* event)
{
    event->accept();
    RemoveView(this);
}

bool StatTranDiagram::DisplayFilterChanged(bool)
{
    if (snapshot().locked)
        return false;
    doMenuItem(IdReset);
    return true;
}
