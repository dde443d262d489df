// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/timeline/timelinefilter.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>

TimeLineFilter::TimeLineFilter(QWidget* parent, const char* name, bool modal) : QDialog(parent)
{
    setObjectName(QString::fromLatin1(name ? name : "TimeLineFilter"));
    setModal(modal);
    resize(465, 282);
    setWindowTitle(tr("Time Line Host Filter"));
    // The fixed geometry below is laid out for 12-pixel text; a 12-point font on a
    // 96 dpi screen would be cut off in the 70- and 80-pixel labels.
    QFont small = font();
    small.setPixelSize(12);
    setFont(small);

    m_hostList = new QTreeWidget(this);
    m_hostList->setObjectName(QStringLiteral("hostList"));
    m_hostList->setGeometry(20, 20, 300, 150);
    m_hostList->setHeaderLabels({tr("IP Address"), tr("Port Number")});
    m_hostList->setColumnWidth(0, 200);
    m_hostList->setColumnWidth(1, 115);
    m_hostList->setRootIsDecorated(false);
    // Rows stay in the order they were added: it is the order of the lines.

    const auto label = [this](const char* name, const QString& text, QRect geometry) {
        auto* l = new QLabel(text, this);
        l->setObjectName(QString::fromLatin1(name));
        l->setGeometry(geometry);
    };
    label("TextLabel1", tr("IP address"), QRect(20, 190, 70, 31));
    label("TextLabel1_2", tr("Port Number"), QRect(20, 230, 80, 31));

    const auto edit = [this](const char* name, QRect geometry) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        e->setGeometry(geometry);
        return e;
    };
    m_txtIPAddr = edit("txtIPAddr", QRect(110, 190, 210, 30));
    m_txtPortNum = edit("txtPortNum", QRect(110, 230, 210, 30));

    const auto button = [this](const char* name, const QString& text, QRect geometry) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(geometry);
        b->setAutoDefault(false);
        return b;
    };
    connect(button("addOne", tr("Add"), QRect(340, 30, 111, 41)), &QPushButton::clicked, this,
            &TimeLineFilter::addOneHost);
    connect(button("delOne", tr("Delete"), QRect(340, 90, 111, 40)), &QPushButton::clicked, this,
            &TimeLineFilter::delOneHost);
    connect(button("commit", tr("Ok"), QRect(340, 170, 111, 41)), &QPushButton::clicked, this, &QDialog::accept);
    connect(button("cancel", tr("Cancel"), QRect(340, 220, 111, 41)), &QPushButton::clicked, this, &QDialog::reject);
}

void TimeLineFilter::addOneHost()
{
    new QTreeWidgetItem(m_hostList, {m_txtIPAddr->text(), m_txtPortNum->text()});
    fitAddressColumn();
    m_txtIPAddr->clear();
    m_txtPortNum->clear();
}

void TimeLineFilter::delOneHost()
{
    delete m_hostList->currentItem();
}

std::vector<HostTimeLine> TimeLineFilter::GetHostAddr() const
{
    std::vector<HostTimeLine> hosts;
    for (int i = 0; i < m_hostList->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = m_hostList->topLevelItem(i);
        hosts.emplace_back(row->text(0), row->text(1));
    }
    return hosts;
}

void TimeLineFilter::setHostAddr(const std::vector<HostTimeLine>& hosts)
{
    m_hostList->clear();
    for (const HostTimeLine& host : hosts) {
        // A label is host + "  <" + port + "> ": the port is the part after the last "  <".
        const QString& label = host.getHost();
        const qsizetype open = label.lastIndexOf(QLatin1String("  <"));
        const QString address = open < 0 ? label : label.left(open);
        QString port = open < 0 ? QString() : label.mid(open + 3);
        port.chop(port.endsWith(QLatin1String("> ")) ? 2 : 0);
        new QTreeWidgetItem(m_hostList, {address, port});
    }
    fitAddressColumn();
}

// An IPv6 address may not fit the first column: it widens (the list scrolls sideways).
void TimeLineFilter::fitAddressColumn()
{
    int widest = 0;
    for (int i = 0; i < m_hostList->topLevelItemCount(); ++i)
        widest = std::max(widest, m_hostList->fontMetrics().horizontalAdvance(m_hostList->topLevelItem(i)->text(0)));
    m_hostList->setColumnWidth(0, std::max(m_hostList->columnWidth(0), widest + 20));
}
