// SPDX-License-Identifier: GPL-2.0-or-later
#include "config/filter.h"

#include "capture/filtercompile.h"
#include "capture/settings.h"
#include "config/uihooks.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QEventLoop>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSocketNotifier>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {
const QString kWarningTitle = QStringLiteral("Invalid Address");

struct SideTexts {
    QString invalidAddress;
    QString unknownAddress;
    QString invalidPort;
};

const SideTexts& sideTexts(FilterSide side)
{
    static const SideTexts dst{QStringLiteral("Invalid Destination Address!"),
                               QStringLiteral("Unknown Destination Address!"),
                               QStringLiteral("Invalid Destination Port!")};
    static const SideTexts src{QStringLiteral("Invalid Source IP Address!"), QStringLiteral("Unknown Source IP Address!"),
                               QStringLiteral("Invalid Source Port!")};
    return side == FilterSide::Destination ? dst : src;
}

// The last choice an Ok turned into `expression`. A dialog opened while that
// expression is still in force shows this choice rather than the defaults.
struct Committed {
    FilterChoice choice;
    QString expression;
};
Committed& lastCommitted()
{
    static Committed committed;
    return committed;
}

// The width `field` needs to show `sample` whole.
int fieldWidthFor(const QLineEdit* field, const QString& sample)
{
    QStyleOptionFrame option;
    option.initFrom(field);
    option.lineWidth = field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, field);
    const QMargins margins = field->textMargins();
    const QSize text(field->fontMetrics().horizontalAdvance(sample) + margins.left() + margins.right() + 4,
                     field->fontMetrics().height());
    return field->style()->sizeFromContents(QStyle::CT_LineEdit, &option, text, field).width();
}

QStringList entryTexts(const QListWidget* list)
{
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts << list->item(row)->text();
    return texts;
}
}  // namespace

Filter::Filter(QWidget* parent, const char* name, bool modal, Qt::WindowFlags flags) : QDialog(parent, flags)
{
    setObjectName(name ? QString::fromLatin1(name) : QStringLiteral("Filter"));
    setModal(modal);
    resize(547, 300);
    setWindowTitle(QStringLiteral("NUK Filter"));

    m_tabs = new QTabWidget(this);
    m_tabs->addTab(buildProtocolTab(), QStringLiteral("Protocol && Device"));
    m_tabs->addTab(buildAddressTab(), QStringLiteral("Address"));

    m_ok = new QPushButton(QStringLiteral("Ok"), this);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_ok->setAutoDefault(false);
    m_cancel->setAutoDefault(false);
    connect(m_ok, &QPushButton::clicked, this, &Filter::commit);
    connect(m_cancel, &QPushButton::clicked, this, &Filter::clicked);

    // What a capture would use now: an earlier Ok's filter or a socket selection.
    // Read-only and scrollable, as a socket selection can be long.
    m_inForce = new QLineEdit(expression.trimmed().isEmpty() ? QStringLiteral("tcp") : expression.trimmed(), this);
    m_inForce->setReadOnly(true);
    m_inForce->setCursorPosition(0);
    m_inForce->setToolTip(m_inForce->text());

    m_checking = new QLabel(QStringLiteral("Checking the filter..."), this);
    m_checking->hide();

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(new QLabel(QStringLiteral("In force:"), this));
    buttons->addWidget(m_inForce, 1);
    buttons->addWidget(m_checking);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addLayout(buttons);

    m_lo->setChecked(deviceFlag != 0);
    const Committed& last = lastCommitted();
    if (!last.expression.isEmpty() && last.expression == expression)
        showChoice(last.choice);
}

Filter::~Filter() { stopCheck(); }

void Filter::setDisplayMode(const QString& inForce, std::function<void(const QString&)> apply)
{
    m_applyDisplay = std::move(apply);
    setWindowTitle(QStringLiteral("NUK Display Filter"));
    // A display filter starts from the defaults, not from the capture filter's choice.
    m_dstList->clear();
    m_srcList->clear();
    showChoice(FilterChoice{});
    m_lo->hide();
    m_loLabel->hide();
    m_inForce->setText(inForce);
    m_inForce->setToolTip(inForce);
    m_inForce->setCursorPosition(0);
}

void Filter::reject()
{
    stopCheck();
    QDialog::reject();
}

void Filter::stopCheck()
{
    if (m_stopCheck)
        m_stopCheck();
}

// libpcap compiles in a child process (a long expression can take minutes there, and
// Cancel or closing the dialog ends it); the event loop keeps turning meanwhile.
// False with an empty `error` when the check was stopped.
bool Filter::checkCompiles(const QString& expression, QString* error)
{
    FilterCompileChild child;
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    if (dead) {
        child.start(dead, expression.toStdString(), PCAP_NETMASK_UNKNOWN, false);
        pcap_close(dead);  // the child has its own copy
    }
    if (child.fd() >= 0) {
        QEventLoop loop;
        QSocketNotifier ready(child.fd(), QSocketNotifier::Read);
        connect(&ready, &QSocketNotifier::activated, &loop, [&] {
            if (child.readSome() != FilterCompileChild::Outcome::Running)
                loop.quit();
        });
        m_stopCheck = [&] {
            child.cancel();
            loop.quit();
        };
        const QPointer<Filter> alive(this);
        m_ok->setEnabled(false);
        m_checking->show();
        loop.exec();
        if (!alive)
            return false;
        m_stopCheck = nullptr;
        m_ok->setEnabled(true);
        m_checking->hide();
    }
    switch (child.outcome()) {
    case FilterCompileChild::Outcome::Compiled:
        return true;
    case FilterCompileChild::Outcome::Running:
        error->clear();
        return false;
    case FilterCompileChild::Outcome::TooComplex:
        *error = QString::fromLatin1(kFilterTooComplex);
        return false;
    case FilterCompileChild::Outcome::Invalid:
    case FilterCompileChild::Outcome::Failed:
        break;
    }
    *error = child.message().empty() && !dead ? QStringLiteral("libpcap could not be initialised")
                                              : QString::fromLocal8Bit(child.message().c_str());
    return false;
}

void Filter::showChoice(const FilterChoice& choice)
{
    m_tcp->setChecked(choice.tcp);
    m_udp->setChecked(choice.udp);
    m_tcpFlag = choice.tcp ? 1 : 0;
    m_udpFlag = choice.udp ? 1 : 0;
    m_dstList->addItems(choice.destinations);
    m_srcList->addItems(choice.sources);
    m_relationship = choice.relationship;
    m_or->setChecked(choice.relationship == Relationship::Or);
    m_and->setChecked(choice.relationship == Relationship::And);
}

QWidget* Filter::buildProtocolTab()
{
    auto* tab = new QWidget;
    auto* box = new QGroupBox(QStringLiteral("Choose Protocol && Device Interface"), tab);
    m_tcp = new QCheckBox(QStringLiteral("TCP"), box);
    m_tcp->setChecked(true);
    m_udp = new QCheckBox(QStringLiteral("UDP"), box);
    m_lo = new QCheckBox(QStringLiteral("lo"), box);
    connect(m_tcp, &QCheckBox::clicked, this, &Filter::choose);
    connect(m_udp, &QCheckBox::clicked, this, &Filter::choose2);
    connect(m_lo, &QCheckBox::clicked, this, &Filter::slot_lo);

    auto* grid = new QGridLayout(box);
    grid->addWidget(m_tcp, 0, 0);
    grid->addWidget(m_udp, 1, 0);
    grid->addWidget(new QLabel(QStringLiteral("Protocol( default: TCP)"), box), 0, 1, 2, 1);
    grid->addWidget(m_lo, 2, 0);
    m_loLabel = new QLabel(QStringLiteral("Device( default: loopback device excluded)"), box);
    grid->addWidget(m_loLabel, 2, 1);
    grid->setColumnStretch(1, 1);

    auto* layout = new QVBoxLayout(tab);
    layout->addWidget(box);
    layout->addStretch();
    return tab;
}

QWidget* Filter::buildAddressTab()
{
    auto* tab = new QWidget;
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);

    auto makeSide = [&](const QString& title, QLineEdit*& address, QLineEdit*& port, QPushButton*& add,
                        QListWidget*& list) {
        auto* grid = new QGridLayout;
        // Fields and lists wide enough for the largest address and port; a longer
        // host name scrolls rather than being cut off.
        address = new QLineEdit(tab);
        address->setMinimumWidth(fieldWidthFor(address, QStringLiteral("255.255.255.255")));
        port = new QLineEdit(tab);
        port->setFixedWidth(fieldWidthFor(port, QStringLiteral("65535")));
        add = new QPushButton(QStringLiteral("Add"), tab);
        add->setAutoDefault(false);
        list = new QListWidget(tab);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setFont(fixed);
        list->setTextElideMode(Qt::ElideNone);
        const QString widest = filterEntryText(FilterSide::Destination,
                                               {QStringLiteral("255.255.255.255"), QStringLiteral("65535")});
        list->setMinimumWidth(QFontMetrics(fixed).horizontalAdvance(widest) + 2 * list->frameWidth() +
                              list->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 8);
        grid->addWidget(new QLabel(title, tab), 0, 0);
        grid->addWidget(new QLabel(QStringLiteral("Port:"), tab), 0, 1);
        grid->addWidget(address, 1, 0);
        grid->addWidget(port, 1, 1);
        grid->addWidget(add, 1, 2);
        grid->addWidget(list, 2, 0, 1, 3);
        return grid;
    };

    QGridLayout* dst = makeSide(QStringLiteral("Destination IP:"), m_dstAddress, m_dstPort, m_dstAdd, m_dstList);
    QGridLayout* src = makeSide(QStringLiteral("Source IP:"), m_srcAddress, m_srcPort, m_srcAdd, m_srcList);
    connect(m_dstAdd, &QPushButton::clicked, this, &Filter::adddst);
    connect(m_srcAdd, &QPushButton::clicked, this, &Filter::addsrc);
    // Return in a field adds its entry rather than pressing a button of the dialog.
    for (QLineEdit* field : {m_dstAddress, m_dstPort})
        connect(field, &QLineEdit::returnPressed, this, &Filter::adddst);
    for (QLineEdit* field : {m_srcAddress, m_srcPort})
        connect(field, &QLineEdit::returnPressed, this, &Filter::addsrc);

    m_del = new QPushButton(QStringLiteral("Del"), tab);
    m_del->setAutoDefault(false);
    m_or = new QRadioButton(QStringLiteral("OR"), tab);
    m_and = new QRadioButton(QStringLiteral("AND"), tab);
    auto* relationship = new QButtonGroup(tab);
    relationship->addButton(m_or);
    relationship->addButton(m_and);
    connect(m_del, &QPushButton::clicked, this, &Filter::del);
    connect(m_or, &QRadioButton::clicked, this, &Filter::choose3);
    connect(m_and, &QRadioButton::clicked, this, &Filter::choose4);

    auto* middle = new QVBoxLayout;
    middle->addStretch();
    middle->addWidget(m_del);
    middle->addWidget(m_or);
    middle->addWidget(m_and);
    middle->addStretch();

    auto* layout = new QHBoxLayout(tab);
    layout->addLayout(dst, 1);
    layout->addLayout(middle);
    layout->addLayout(src, 1);
    return tab;
}

void Filter::clicked()
{
    close();
}

void Filter::del()
{
    for (QListWidget* list : {m_dstList, m_srcList}) {
        const QList<QListWidgetItem*> selected = list->selectedItems();
        if (!selected.isEmpty())
            delete selected.first();
    }
}

void Filter::adddst() { addEntry(FilterSide::Destination); }
void Filter::addsrc() { addEntry(FilterSide::Source); }

void Filter::addEntry(FilterSide side)
{
    const bool dst = side == FilterSide::Destination;
    QLineEdit* addressField = dst ? m_dstAddress : m_srcAddress;
    QLineEdit* portField = dst ? m_dstPort : m_srcPort;
    QListWidget* list = dst ? m_dstList : m_srcList;
    const SideTexts& texts = sideTexts(side);

    const QString address = addressField->text().trimmed();
    const QString port = portField->text().trimmed();
    FilterEntry entry;
    bool worthAdding = false;

    if (!address.isEmpty()) {
        QString refusal;
        const bool ipv6 = address.contains(QLatin1Char(':'));
        if (ipv6) {
            if (!checkIp6(address))
                refusal = texts.invalidAddress;
        } else if (!address.at(0).isDigit()) {
            if (!checkHost(address))
                refusal = texts.unknownAddress;
        } else if (checkIp(address) != 0) {
            refusal = texts.invalidAddress;
        } else if (!checkAddr(address)) {
            refusal = texts.unknownAddress;
        }
        addressField->clear();
        if (!refusal.isEmpty()) {
            nukui::warning(this, kWarningTitle, refusal);
            return;
        }
        entry.address = ipv6 ? canonicalIp6(address) : address.at(0).isDigit() ? canonicalIp(address) : address;
        worthAdding = true;
    }

    if (!port.isEmpty()) {
        if (!checkPort(port)) {
            nukui::warning(this, kWarningTitle, texts.invalidPort);
            return;
        }
        portField->clear();
        entry.port = QString::number(port.toInt());
        worthAdding = true;
    }

    if (worthAdding)
        list->addItem(filterEntryText(side, entry));
}

void Filter::commit()
{
    FilterChoice choice;
    choice.tcp = m_tcp->isChecked();
    choice.udp = m_udp->isChecked();
    choice.destinations = entryTexts(m_dstList);
    choice.sources = entryTexts(m_srcList);
    choice.relationship = m_relationship;

    QString built;
    if (buildFilterExpression(choice, &built) == BuildResult::MissingRelationship) {
        nukui::warning(this, kWarningTitle, QStringLiteral("You must choose the\n\t relationship!"));
        return;
    }
    QString error;
    if (!checkCompiles(built, &error)) {
        if (!error.isEmpty())
            nukui::warning(this, kWarningTitle, error);
        return;
    }
    m_tcpFlag = choice.tcp ? 1 : 0;
    m_udpFlag = choice.udp ? 1 : 0;
    if (m_applyDisplay) {
        const auto apply = m_applyDisplay;  // may close this dialog
        accept();
        apply(built.trimmed());
        return;
    }
    expression = built;
    deviceFlag = m_lo->isChecked() ? 1 : 0;
    lastCommitted() = Committed{choice, built};
    accept();
}

void Filter::choose() { m_tcpFlag = m_tcp->isChecked() ? 1 : 0; }
void Filter::choose2() { m_udpFlag = m_udp->isChecked() ? 1 : 0; }
void Filter::choose3() { m_relationship = Relationship::Or; }
void Filter::choose4() { m_relationship = Relationship::And; }

void Filter::slot_lo()
{
    // Takes effect at once; Cancel does not undo it.
    deviceFlag = m_lo->isChecked() ? 1 : 0;
}
