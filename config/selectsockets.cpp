// SPDX-License-Identifier: GPL-2.0-or-later
#include "config/selectsockets.h"

#include "capture/process/helpercontrol.h"
#include "capture/settings.h"
#include "capture/wraplabel.h"
#include "config/sockettext.h"
#include "config/sockreader.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {
enum Column { ProtocolColumn, LocalColumn, ForeignColumn, StateColumn, ProgramColumn };
}  // namespace

SelectSockets::SelectSockets(QWidget* parent, const char* name) : QWidget(parent, Qt::Window)
{
    setObjectName(name ? QString::fromLatin1(name) : QStringLiteral("SelectSockets"));
    resize(592, 380);
    setWindowTitle(QStringLiteral("NUK Current Active Sockets"));

    auto* splitter = new QSplitter(Qt::Vertical, this);
    m_list = new QTreeWidget(splitter);
    m_list->setHeaderLabels({QStringLiteral("Protocol"), QStringLiteral("Local Address"),
                             QStringLiteral("Foreign Address"), QStringLiteral("State"),
                             QStringLiteral("PID/Program name")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::MultiSelection);
    m_list->setAllColumnsShowFocus(true);
    // Columns start at these widths and grow to their widest text, the header's
    // included: a socket list is short, so rows are measured as they come.
    m_list->header()->setStretchLastSection(false);
    const int widths[] = {60, 140, 140, 90, 160};
    for (int c = ProtocolColumn; c <= ProgramColumn; ++c)
        m_list->setColumnWidth(c, std::max(widths[c], m_list->header()->sectionSizeHint(c)));

    auto* box = new QGroupBox(QStringLiteral("Select Sockets"), splitter);
    auto* text = new WrapLabel(
        QStringLiteral("This is a list of current active sockets on your system. Non-owned process info is not "
                       "shown. You will have to be root to see it all. Note that the list will change with time. "
                       "Clicking OK without selection will set NUK to visualize all these sockets."),
        box);
    m_refresh = new QPushButton(QStringLiteral("Refresh"), box);
    m_ok = new QPushButton(QStringLiteral("OK"), box);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), box);
    connect(m_refresh, &QPushButton::clicked, this, &SelectSockets::slotRefresh);
    connect(m_ok, &QPushButton::clicked, this, &SelectSockets::OK);
    connect(m_cancel, &QPushButton::clicked, this, &SelectSockets::Cancel);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_refresh);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    auto* boxLayout = new QVBoxLayout(box);
    boxLayout->addWidget(text);
    boxLayout->addLayout(buttons);

    splitter->setSizes({250, 130});
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter);

    m_arrivals = new HandoffQueue<SockInfo>(
        [this](std::vector<SockInfo>& batch) {
            for (const SockInfo& info : batch)
                addConnection(&info);
        },
        this);

    show();
    m_reader = std::make_unique<SockReader>(helpercontrol::socketPipe(), [this](const SockInfo& info) { m_arrivals->push(info); });
    m_reader->setCollecting(true);
    helpercontrol::startSocketListing();
}

SelectSockets::~SelectSockets()
{
    // A dialog destroyed without being closed still stops its listing; then the
    // reader is joined before the queue it pushes into goes away.
    stopCollecting();
    m_reader.reset();
}

bool SelectSockets::isCollecting() const
{
    return m_reader->collecting();
}

void SelectSockets::addConnection(const SockInfo* info)
{
    new QTreeWidgetItem(m_list, socketRow(*info).columns());
    const int row = m_list->topLevelItemCount() - 1;
    for (int c = ProtocolColumn; c <= ProgramColumn; ++c) {
        const int needed = m_list->sizeHintForIndex(m_list->model()->index(row, c)).width();
        if (needed > m_list->columnWidth(c))
            m_list->setColumnWidth(c, needed);
    }
}

void SelectSockets::CleanPipe()
{
    // Records already handed over belong to the listing being discarded too.
    m_reader->drain([this] { m_arrivals->discard(); });
}

void SelectSockets::stopthread()
{
    helpercontrol::stopSocketListing();
    CleanPipe();
}

void SelectSockets::stopCollecting()
{
    if (m_reader->collecting()) {
        m_reader->setCollecting(false);
        stopthread();
    }
}

void SelectSockets::slotRefresh()
{
    helpercontrol::stopSocketListing();
    CleanPipe();
    m_list->clear();
    helpercontrol::startSocketListing();
}

void SelectSockets::GenExpression()
{
    QList<QPair<QString, QString>> chosen;
    QList<QPair<QString, QString>> all;
    for (int row = 0; row < m_list->topLevelItemCount(); ++row) {
        const QTreeWidgetItem* item = m_list->topLevelItem(row);
        const QPair<QString, QString> ends(item->text(LocalColumn), item->text(ForeignColumn));
        all << ends;
        if (item->isSelected())
            chosen << ends;
    }
    expression = socketExpression(chosen.isEmpty() ? all : chosen);
}

void SelectSockets::OK()
{
    GenExpression();
    stopCollecting();
    close();
}

void SelectSockets::Cancel()
{
    stopCollecting();
    close();
}

void SelectSockets::closeEvent(QCloseEvent* event)
{
    helpercontrol::stopSocketListing();
    m_reader->setCollecting(false);
    CleanPipe();
    event->accept();
}
