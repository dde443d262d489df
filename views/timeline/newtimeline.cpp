// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/timeline/newtimeline.h"

#include "capture/cpacket.h"
#include "capture/currentpacket.h"
#include "views/common/linkedselection.h"

#include "capture/controlpanel.h"
#include "views/common/imageexport.h"
#include "views/timeline/linescrollview.h"
#include "views/timeline/timelinefilter.h"

#include <QAction>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QScrollBar>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QWhatsThis>

#include <climits>

NewTimeLine::NewTimeLine(QWidget* parent, const char* name) : QMainWindow(parent)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
    setAttribute(Qt::WA_DeleteOnClose, false);  // RemoveView destroys the view
    setWindowTitle(QStringLiteral("NUK Time Line View"));
    // The drawing fills the window below the bars.
    m_pLineView = new LineScrollView(this, "LineScrollView");
    setCentralWidget(m_pLineView);
    initMenuBar();
    initToolBar();
    initStatusBar();
    // A click on an arrow makes its packet current; a right click offers to follow it.
    m_follow = linked::addFollowEntry(m_pLineView, [this] { return currentPacket().packetNumbered(m_pLineView->markedPacket()); });
    connect(m_pLineView, &LineScrollView::arrowChosen, this, [this](std::uint32_t capture) {
        const CPacket* packet = currentPacket().packetNumbered(capture);
        linked::updateFollowEntry(m_follow, packet);
        currentPacket().select(packet, this);
    });
    connect(&currentPacket(), &CurrentPacket::changed, this, &NewTimeLine::showLinkedPacket);
    resize(810, 650);
    move(400, 100);
}

NewTimeLine::~NewTimeLine() = default;

void NewTimeLine::initMenuBar()
{
    m_pOperationMenu = menuBar()->addMenu(QStringLiteral("&Operation"));
    auto add = [&](const char* text, const QKeySequence& key, int id, void (NewTimeLine::*slot)()) {
        QAction* a = m_pOperationMenu->addAction(QString::fromLatin1(text));
        a->setShortcut(key);
        a->setData(id);
        connect(a, &QAction::triggered, this, slot);
    };
    add("&Clear View", QKeySequence(Qt::CTRL | Qt::Key_C), IdClear, &NewTimeLine::slotClearView);
    m_pOperationMenu->addSeparator();
    add("&Lock View", QKeySequence(Qt::CTRL | Qt::Key_L), IdLock, &NewTimeLine::slotLockView);
    add("&Unlock View", QKeySequence(Qt::CTRL | Qt::Key_U), IdUnlock, &NewTimeLine::slotUnlockView);
    add("Set &Filter", QKeySequence(Qt::CTRL | Qt::Key_F), IdFilter, &NewTimeLine::slotSetFilter);
    linked::addGoToPacket(m_pOperationMenu, this, [this](const CPacket* packet) { showLinkedPacket(packet, nullptr); });
    add("Export as Image...", QKeySequence(), IdExport, &NewTimeLine::slotExportImage);
    add("E&xit", QKeySequence(Qt::CTRL | Qt::Key_X), IdExit, &NewTimeLine::slotExit);
}

void NewTimeLine::initToolBar()
{
    m_pToolBar = addToolBar(QStringLiteral("Operations"));
    m_pToolBar->setObjectName(QStringLiteral("Operations"));
    m_pToolBar->setIconSize(QSize(24, 24));
    QAction* lock = m_pToolBar->addAction(QIcon(QStringLiteral(":/timeline/lock.xpm")), QStringLiteral("LockView"),
                                          this, &NewTimeLine::slotLockView);
    lock->setWhatsThis(QStringLiteral(
        "Click this button to lock this view.\n\nYou can also select the Lock command from the Operation menu."));
    QAction* unlock = m_pToolBar->addAction(QIcon(QStringLiteral(":/timeline/unlock.xpm")),
                                            QStringLiteral("unLockView"), this, &NewTimeLine::slotUnlockView);
    unlock->setWhatsThis(QStringLiteral(
        "Click this button to unlock this view.\n\nYou can also select the UnLock command from the Operation menu."));
    m_pToolBar->addAction(QWhatsThis::createAction(m_pToolBar));
}

void NewTimeLine::initStatusBar()
{
    m_pLockedLabel = new QLabel(QStringLiteral("Locked"), this);
    m_pLockedLabel->hide();
    statusBar()->addPermanentWidget(m_pLockedLabel);
    m_pFullLabel = new QLabel(QStringLiteral("Time line full: Clear View to go on"), this);
    m_pFullLabel->hide();
    statusBar()->addPermanentWidget(m_pFullLabel);
    statusBar()->showMessage(QStringLiteral("Time Line View started ..."), 2000);
}

void NewTimeLine::InitiateView()
{
    m_pLineView->myInitiate();
    m_pFullLabel->hide();
    show();
}

void NewTimeLine::UpdateView()
{
    m_pLineView->myUpdate();
    m_pFullLabel->setVisible(m_pLineView->model().isFull());
}

void NewTimeLine::AddPacket(CPacket* packet)
{
    if (m_bLocked.load())
        return;
    m_pLineView->myAdd(packet);
}

void NewTimeLine::showLinkedPacket(const CPacket* packet, const QObject* source)
{
    if (source == this || !m_pLineView->showPacket(packet->captureNumber()))
        return;
    linked::updateFollowEntry(m_follow, packet);
}

void NewTimeLine::setLocked(bool locked)
{
    m_bLocked = locked;
    m_pLockedLabel->setVisible(locked);
}

void NewTimeLine::slotLockView() { setLocked(true); }

void NewTimeLine::slotUnlockView() { setLocked(false); }

void NewTimeLine::slotClearView()
{
    setLocked(false);
    m_pLineView->myInitiate();
    m_pFullLabel->hide();
    linked::updateFollowEntry(m_follow, nullptr);
}

void NewTimeLine::slotSetFilter()
{
    TimeLineFilter filter(nullptr, "TimeLineFilter", true);
    filter.setHostAddr(m_pLineView->model().hostList());
    // Cancel leaves the filter in force; Ok redraws what was taken with the new one.
    if (filter.exec() == QDialog::Accepted)
        m_pLineView->setHostList(filter.GetHostAddr());
    filter.close();
}

bool NewTimeLine::askExportRange(int records, int& first, int& last)
{
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("exportRange"));
    dialog.setWindowTitle(QStringLiteral("Export as Image"));
    auto* layout = new QFormLayout(&dialog);
    layout->addRow(new QLabel(QStringLiteral("The time line holds %1 arrows; a picture of all of them would be "
                                             "very large.\nExport those of the packets numbered:")
                                  .arg(records)));
    const auto spin = [&](const char* name, int value) {
        auto* s = new QSpinBox(&dialog);
        s->setObjectName(QString::fromLatin1(name));
        s->setRange(first, last);
        s->setValue(value);
        return s;
    };
    // By default the packets from the top of the view on.
    const QPoint origin = m_pLineView->contentsOrigin();
    const TimeLineFrame visible = m_pLineView->model().frame(origin.y(), origin.y(), 0, 0);
    const int from = visible.records.empty() ? first : visible.records.front().number;
    QSpinBox* fromBox = spin("firstPacket", from);
    QSpinBox* toBox = spin("lastPacket", int(std::min<qint64>(last, qint64(from) + kExportRangeAbove - 1)));
    layout->addRow(QStringLiteral("from"), fromBox);
    layout->addRow(QStringLiteral("to"), toBox);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    first = std::min(fromBox->value(), toBox->value());
    last = std::max(fromBox->value(), toBox->value());
    return true;
}

void NewTimeLine::slotExportImage()
{
    TimeLineModel& model = m_pLineView->model();
    const QSize contents = model.grow();
    TimeLineFrame frame;
    const std::size_t records = model.recordCount();
    int first = records ? model.record(0).number : 1, last = records ? model.record(records - 1).number : 0;
    if (records > std::size_t(kExportRangeAbove) && !askExportRange(int(records), first, last))
        return;
    // Only the lines the exported arrows use: a thousand end points must not make a
    // picture 250,000 pixels wide for a handful of arrows.
    frame = records ? model.rangeFrame(first, last) : model.frame(0, contents.height(), 0, contents.width());
    // Pixels, not points: an SVG's 72 dpi must not shrink the texts.
    QFont font = m_pLineView->viewport()->font();
    font.setPixelSize(QFontInfo(font).pixelSize());
    exportImage(this, frame.contents, [&](QPainter& painter) {
        painter.setFont(font);
        LineScrollView::drawView(&painter, frame, QRect(QPoint(0, 0), frame.contents), QPoint(0, 0));
    });
}

void NewTimeLine::slotExit()
{
    // Not from inside the menu's own signal: closing destroys the window and its menu.
    QTimer::singleShot(0, this, &QWidget::close);
}

void NewTimeLine::closeEvent(QCloseEvent* event)
{
    event->accept();
    hide();
    RemoveView(this);
}

bool NewTimeLine::DisplayFilterChanged(bool)
{
    if (isLocked())
        return false;
    slotClearView();
    return true;
}
