// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/displayfilterbar.h"

#include "capture/filtercompile.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSocketNotifier>

namespace {
constexpr int kHistory = 20;
}

DisplayFilterBar::DisplayFilterBar(QWidget* parent) : QToolBar(QStringLiteral("display filter"), parent)
{
    setObjectName(QStringLiteral("display filter"));
    addWidget(new QLabel(QStringLiteral("Display filter: "), this));
    m_field = new QComboBox(this);
    m_field->setEditable(true);
    m_field->setInsertPolicy(QComboBox::NoInsert);  // the history is kept below, newest first
    m_field->setMaxCount(kHistory);
    m_field->setMinimumContentsLength(18);
    m_field->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_field->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_field->lineEdit()->setPlaceholderText(QStringLiteral("tcpdump expression"));
    m_field->setToolTip(QStringLiteral("A libpcap expression: only the packets it matches are shown"));
    addWidget(m_field);
    connect(m_field->lineEdit(), &QLineEdit::returnPressed, this, [this] { apply(m_field->currentText()); });
    connect(m_field, &QComboBox::activated, this, [this](int index) { apply(m_field->itemText(index)); });
    connect(m_field, &QComboBox::editTextChanged, this, [this] {
        if (!m_refusal.isEmpty())
            markRefused(QString());
    });
    QAction* clearAction = addAction(QStringLiteral("Clear"), this, &DisplayFilterBar::clear);
    clearAction->setObjectName(QStringLiteral("clear display filter"));
    m_progress = new QProgressBar(this);
    m_progress->setMaximumWidth(90);
    m_progress->setTextVisible(false);
    m_progress->setRange(0, 1000);
    addWidget(m_progress)->setVisible(false);
}

DisplayFilterBar::~DisplayFilterBar() { stopCheck(); }

bool DisplayFilterBar::isChecking() const { return m_child != nullptr; }

void DisplayFilterBar::stopCheck()
{
    delete m_notifier;
    m_notifier = nullptr;
    m_child.reset();  // kills a child still compiling
}

void DisplayFilterBar::clear()
{
    m_field->setEditText(QString());
    apply(QString());
}

void DisplayFilterBar::apply(const QString& text)
{
    stopCheck();  // a newer expression wins
    const QString expression = text.trimmed();
    m_field->setEditText(expression);
    if (expression.isEmpty()) {
        markRefused(QString());
        m_inForce.clear();
        emit filterChosen(nullptr);
        return;
    }
    m_checking = expression;
    m_child = std::make_unique<FilterCompileChild>();
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, kDisplaySnapLen);
    if (dead) {
        m_child->start(dead, expression.toStdString(), PCAP_NETMASK_UNKNOWN, true);
        pcap_close(dead);  // the child has its own copy
    }
    if (m_child->fd() < 0) {
        const QString why = dead ? QString::fromLocal8Bit(m_child->message().c_str())
                                 : QStringLiteral("libpcap could not be initialised");
        stopCheck();
        markRefused(why);
        return;
    }
    m_notifier = new QSocketNotifier(m_child->fd(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &DisplayFilterBar::takeVerdict);
}

void DisplayFilterBar::takeVerdict()
{
    if (!m_child || m_child->readSome() == FilterCompileChild::Outcome::Running)
        return;
    const FilterCompileChild::Outcome outcome = m_child->outcome();
    std::vector<bpf_insn> program = m_child->program();
    const QString message = outcome == FilterCompileChild::Outcome::TooComplex
                                ? QString::fromLatin1(kFilterTooComplex)
                                : QString::fromLocal8Bit(m_child->message().c_str());
    stopCheck();
    if (outcome != FilterCompileChild::Outcome::Compiled) {
        markRefused(message);
        return;
    }
    markRefused(QString());
    remember(m_checking);
    m_inForce = m_checking;
    emit filterChosen(std::make_shared<const DisplayFilter>(m_checking.toStdString(), std::move(program)));
}

void DisplayFilterBar::remember(const QString& text)
{
    const int old = m_field->findText(text);
    if (old >= 0)
        m_field->removeItem(old);
    m_field->insertItem(0, text);
    m_field->setCurrentIndex(0);
}

void DisplayFilterBar::markRefused(const QString& message)
{
    m_refusal = message;
    m_field->lineEdit()->setStyleSheet(message.isEmpty() ? QString()
                                                         : QStringLiteral("QLineEdit { background: #ffb0b0; }"));
    m_field->lineEdit()->setToolTip(message);
    if (!message.isEmpty())
        emit filterRefused(message);
}

void DisplayFilterBar::showProgress(const DisplayProgress& progress)
{
    const bool busy = progress.refeeding && progress.captured > 0;
    if (busy)
        m_progress->setValue(int(1000 * std::min<double>(1.0, double(progress.examined) / double(progress.captured))));
    for (QAction* action : actions()) {
        if (widgetForAction(action) == m_progress)
            action->setVisible(busy);
    }
}
