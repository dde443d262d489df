// SPDX-License-Identifier: GPL-2.0-or-later
#include "config/userwizard.h"

#include "capture/controlpanel.h"
#include "capture/settings.h"
#include "capture/wraplabel.h"
#include "config/filter.h"
#include "config/selectsockets.h"
#include "config/uihooks.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWizardPage>

// A wizard page whose Next (or Finish) is enabled by a predicate of the wizard.
class WizardStepPage : public QWizardPage {
public:
    explicit WizardStepPage(const QString& title, std::function<bool()> complete = {})
        : m_complete(std::move(complete))
    {
        setTitle(title);
    }
    bool isComplete() const override { return m_complete ? m_complete() : true; }
    void refresh() { emit completeChanged(); }

private:
    std::function<bool()> m_complete;
};

namespace {

// The wizard is small (306 x 236): pages and boxes use tight margins.
template <typename Layout>
Layout* compact(Layout* layout, int margin = 6)
{
    layout->setContentsMargins(margin, 2, margin, 2);
    layout->setSpacing(2);
    return layout;
}

QGroupBox* instructionBox(QWidget* parent, const QString& text)
{
    auto* box = new QGroupBox(QStringLiteral("Instructions"), parent);
    auto* label = new WrapLabel(text, box);
    auto* layout = compact(new QVBoxLayout(box));
    layout->addWidget(label);
    return box;
}

// Traces are more often named .pcap than .tr; the first filter is the one in force.
const QString kTraceFileFilter = QStringLiteral("Trace files (*.tr *.pcap *.pcapng *.cap);;All files (*)");

struct ViewOrder {
    ViewKind kind;
    const char* objectName;
    const char* registryName;
};

// Finish creates the ticked views in this order.
constexpr ViewOrder kViewOrder[] = {
    {ViewKind::TimeLine, "Newtimelines", "TimeLineView"},
    {ViewKind::TcpState, "TCP State Transition Diagram", "TCPStatusView"},
    {ViewKind::Reconstruction, "Reconstruction View", "ReconstructionView"},
    {ViewKind::StreamLink, "Connection packet view", "StreamLinkView"},
    {ViewKind::PacketList, "Packet List View", "PacketListView"},
    {ViewKind::Topology, "Topology View", "TopologyView"},
};

}  // namespace

userwizard::userwizard(QWidget* parent, const char* name, bool modal, Qt::WindowFlags flags)
    : QWizard(parent, flags)
{
    setObjectName(name ? QString::fromLatin1(name) : QStringLiteral("userwizard"));
    setModal(modal);
    setWizardStyle(QWizard::ClassicStyle);
    setOption(QWizard::HaveHelpButton, false);
    setOption(QWizard::HaveNextButtonOnLastPage, true);
    resize(306, 236);
    setWindowTitle(QStringLiteral("NUK user wizard"));

    m_start = [](ControlPanel* controller) { controller->Start(); };

    // Every run starts from the default filter, as the filter page promises; a
    // filter or socket choice of an earlier run must not linger unseen.
    m_previousExpression = expression;
    m_previousDevice = deviceFlag;
    expression = QStringLiteral("tcp");
    deviceFlag = 0;

    setupPage0();
}

userwizard::~userwizard()
{
    ValidWizard = true;
}

void userwizard::setControlPanel(ControlPanel* controller)
{
    m_controller = controller;
}

// ---- pages -------------------------------------------------------------------

void userwizard::setupPage0()
{
    auto* page = new WizardStepPage(QStringLiteral("Select Data Source"), [this] { return m_source != Source::None; });
    page->setObjectName(QStringLiteral("dataSource"));
    auto* box = new QGroupBox(QStringLiteral("Select DataSource"), page);
    auto* group = new QButtonGroup(box);
    const QString texts[4] = {QStringLiteral("Disk File"), QStringLiteral("All Realtime Traffic"),
                              QStringLiteral("Current Active Sockets"), QStringLiteral("Specific Application")};
    void (userwizard::*handlers[4])() = {&userwizard::fromfile, &userwizard::realtime, &userwizard::fromsock,
                                      &userwizard::fromApp};
    auto* boxLayout = compact(new QVBoxLayout(box));
    for (int i = 0; i < 4; ++i) {
        m_sourceButtons[i] = new QRadioButton(texts[i], box);
        group->addButton(m_sourceButtons[i]);
        boxLayout->addWidget(m_sourceButtons[i]);
        connect(m_sourceButtons[i], &QRadioButton::clicked, this, handlers[i]);
    }
    auto* layout = compact(new QVBoxLayout(page), 0);
    layout->addWidget(box);
    setPage(SourcePage, page);
}

void userwizard::setupPage1()
{
    auto* page = new WizardStepPage(QStringLiteral("Open file"), [this] { return m_fileChosen; });
    page->setObjectName(QStringLiteral("openfile"));
    m_fileName = new QLineEdit(page);
    m_fileName->setReadOnly(true);
    m_fileButton = new QToolButton(page);
    m_fileButton->setText(QStringLiteral("..."));
    connect(m_fileButton, &QToolButton::clicked, this, &userwizard::getfile);

    auto* row = new QHBoxLayout;
    row->addWidget(m_fileName);
    row->addWidget(m_fileButton);
    auto* layout = compact(new QVBoxLayout(page), 0);
    layout->addLayout(row);
    layout->addWidget(instructionBox(page, QStringLiteral("This system only accepts files captured by tcpdump or "
                                                          "other similar programs. The default file extension is .tr.")));
    setPage(FilePage, page);
}

void userwizard::setupPage2()
{
    auto* page = new WizardStepPage(QStringLiteral("Set Filter"));
    page->setObjectName(QStringLiteral("setFilter"));
    m_filterButton = new QToolButton(page);
    m_filterButton->setText(QStringLiteral("Set Filter"));
    connect(m_filterButton, &QToolButton::clicked, this, &userwizard::getfilter);

    auto* layout = compact(new QVBoxLayout(page), 0);
    layout->addWidget(instructionBox(
        page, QStringLiteral("Capturing filter: You can restrict packets to be captured by specific protocol(TCP/UDP) or "
                             "by source and destination address. Only TCP packets will be captured if you omit this "
                             "step.")));
    layout->addWidget(m_filterButton, 0, Qt::AlignRight);
    setPage(FilterPage, page);
}

void userwizard::setupPage3()
{
    auto* page = new WizardStepPage(QStringLiteral("Select View"));
    page->setObjectName(QStringLiteral("pickviews"));
    auto* box = new QGroupBox(QStringLiteral("Views"), page);
    auto makeBox = [box](const QString& text, bool checked) {
        auto* check = new QCheckBox(text, box);
        check->setChecked(checked);
        return check;
    };
    m_topologyBox = makeBox(QStringLiteral("Machine Distribution "), m_topology);
    m_reconBox = makeBox(QStringLiteral("Reconstruction"), m_recon);
    m_packetListBox = makeBox(QStringLiteral("Packet list"), m_packetList);
    m_timeLineBox = makeBox(QStringLiteral("TimeLine"), m_timeLine);
    m_tcpStateBox = makeBox(QStringLiteral("TCP state diagram"), m_tcpState);
    m_connectionBox = makeBox(QStringLiteral("Connection Packet"), m_connection);
    connect(m_topologyBox, &QCheckBox::clicked, this, &userwizard::newTopology);
    connect(m_reconBox, &QCheckBox::clicked, this, &userwizard::newRecon);
    connect(m_packetListBox, &QCheckBox::clicked, this, &userwizard::newPacketList);
    connect(m_timeLineBox, &QCheckBox::clicked, this, &userwizard::newTimeLine);
    connect(m_tcpStateBox, &QCheckBox::clicked, this, &userwizard::newTCPstat);
    connect(m_connectionBox, &QCheckBox::clicked, this, &userwizard::newCon);

    auto* grid = compact(new QGridLayout(box));
    grid->addWidget(m_topologyBox, 0, 0);
    grid->addWidget(m_reconBox, 1, 0);
    grid->addWidget(m_packetListBox, 2, 0);
    grid->addWidget(m_timeLineBox, 0, 1);
    grid->addWidget(m_tcpStateBox, 1, 1);
    grid->addWidget(m_connectionBox, 2, 1);
    auto* layout = compact(new QVBoxLayout(page), 0);
    layout->addWidget(box);
    setPage(ViewPage, page);
}

void userwizard::setupPage4()
{
    auto* page = new WizardStepPage(QStringLiteral("Start Mode"));
    page->setObjectName(QStringLiteral("startmode"));
    auto* box = new QGroupBox(QStringLiteral("select mode"), page);
    m_nonStepButton = new QRadioButton(QStringLiteral("start in non-step mode"), box);
    m_stepButton = new QRadioButton(QStringLiteral("start in step mode"), box);
    m_nonStepButton->setChecked(!m_stepMode);
    m_stepButton->setChecked(m_stepMode);
    auto* group = new QButtonGroup(box);
    group->addButton(m_nonStepButton);
    group->addButton(m_stepButton);
    connect(m_nonStepButton, &QRadioButton::clicked, this, &userwizard::startIt);
    connect(m_stepButton, &QRadioButton::clicked, this, &userwizard::stepIt);

    auto* boxLayout = compact(new QVBoxLayout(box));
    boxLayout->addWidget(m_nonStepButton);
    boxLayout->addWidget(m_stepButton);
    auto* layout = compact(new QVBoxLayout(page), 0);
    layout->addWidget(box);
    setPage(StartPage, page);
}

void userwizard::setupPage5()
{
    auto* page = new WizardStepPage(QStringLiteral("Select Sockets"));
    page->setObjectName(QStringLiteral("selSock"));
    m_socketButton = new QToolButton(page);
    m_socketButton->setText(QStringLiteral("Select Sockets"));
    connect(m_socketButton, &QToolButton::clicked, this, &userwizard::getsock);

    auto* layout = compact(new QVBoxLayout(page), 0);
    layout->addWidget(instructionBox(page, QStringLiteral("Selecting sockets: You can visualize only specific "
                                                          "sockets. All sockets traffic will be captured if you omit "
                                                          "this step.")));
    layout->addWidget(m_socketButton, 0, Qt::AlignRight);
    setPage(SocketPage, page);
}

// ---- page flow ---------------------------------------------------------------

bool userwizard::takesPart(int id) const
{
    if (!page(id))
        return false;
    switch (id) {
    case FilePage:
        return m_source == Source::DiskFile;
    case SocketPage:
        return m_source == Source::ActiveSockets;
    default:
        return true;
    }
}

int userwizard::nextId() const
{
    // Pages that do not exist yet are named anyway where Next is disabled until
    // they do (no source, no file), so the wizard never offers Finish early.
    switch (currentId()) {
    case SourcePage:
        if (m_source == Source::None || m_source == Source::DiskFile)
            return FilePage;
        return FilterPage;
    case FilePage:
        return FilterPage;
    case FilterPage:
        return ViewPage;
    case ViewPage:
        return StartPage;
    case StartPage:
        return m_source == Source::ActiveSockets ? SocketPage : -1;
    default:
        return -1;
    }
}

void userwizard::refreshButtons()
{
    if (auto* current = dynamic_cast<WizardStepPage*>(currentPage()))
        current->refresh();
}

void userwizard::ensureStepPages()
{
    if (!page(FilterPage))
        setupPage2();
    if (!page(ViewPage))
        setupPage3();
    if (!page(StartPage))
        setupPage4();
}

void userwizard::chooseSource(Source source, int opMode)
{
    nukOpMode = opMode;
    m_source = source;
    switch (source) {
    case Source::DiskFile:
        if (!page(FilePage))
            setupPage1();
        break;
    case Source::ActiveSockets:
        ensureStepPages();
        if (!page(SocketPage))
            setupPage5();
        break;
    default:
        ensureStepPages();
        break;
    }
    if (QAbstractButton* button = sourceButton(source); button && !button->isChecked())
        button->setChecked(true);
    refreshButtons();
}

void userwizard::fromfile() { chooseSource(Source::DiskFile, OpDiskFile); }
void userwizard::realtime() { chooseSource(Source::Realtime, OpRealtime); }
void userwizard::fromsock() { chooseSource(Source::ActiveSockets, OpActiveSockets); }
void userwizard::fromApp() { chooseSource(Source::Application, OpApplication); }

QRadioButton* userwizard::sourceButton(Source source) const
{
    switch (source) {
    case Source::DiskFile: return m_sourceButtons[0];
    case Source::Realtime: return m_sourceButtons[1];
    case Source::ActiveSockets: return m_sourceButtons[2];
    case Source::Application: return m_sourceButtons[3];
    case Source::None: break;
    }
    return nullptr;
}

QCheckBox* userwizard::viewBox(ViewKind kind) const
{
    switch (kind) {
    case ViewKind::Topology: return m_topologyBox;
    case ViewKind::Reconstruction: return m_reconBox;
    case ViewKind::PacketList: return m_packetListBox;
    case ViewKind::TimeLine: return m_timeLineBox;
    case ViewKind::TcpState: return m_tcpStateBox;
    case ViewKind::StreamLink: return m_connectionBox;
    }
    return nullptr;
}

// ---- file, filter, sockets -----------------------------------------------------

void userwizard::getfile()
{
    const QString name = nukui::getOpenFileName(this, QString(), QString(), kTraceFileFilter);
    if (name.isEmpty()) {
        m_fileChosen = false;
        refreshButtons();
        return;
    }
    acceptFileName(name);
}

void userwizard::acceptFileName(const QString& fileName)
{
    g_FileName = fileName;
    m_fileName->setText(fileName);
    if (!page(FilterPage) && !page(ViewPage))
        ensureStepPages();
    m_fileChosen = true;
    refreshButtons();
}

void userwizard::preselectTraceFile(const QString& fileName)
{
    fromfile();
    acceptFileName(fileName);
}

void userwizard::getfilter()
{
    auto* dialog = new Filter;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    m_filterDialog = dialog;
}

void userwizard::getsock()
{
    // Two dialogs would read the one socket pipe against each other.
    if (m_sockDialog)
        m_sockDialog->close();
    m_sockDialog = new SelectSockets;
    m_sockDialog->setAttribute(Qt::WA_DeleteOnClose);
}

// ---- views and start mode ------------------------------------------------------

void userwizard::newTopology() { m_topology = m_topologyBox->isChecked(); }
void userwizard::newCon() { m_connection = m_connectionBox->isChecked(); }
void userwizard::newTimeLine() { m_timeLine = m_timeLineBox->isChecked(); }
void userwizard::newRecon() { m_recon = m_reconBox->isChecked(); }
void userwizard::newPacketList() { m_packetList = m_packetListBox->isChecked(); }
void userwizard::newTCPstat() { m_tcpState = m_tcpStateBox->isChecked(); }
void userwizard::startIt() { m_stepMode = false; }
void userwizard::stepIt() { m_stepMode = true; }

void userwizard::accept()
{
    finish();
    QWizard::accept();
}

void userwizard::reject()
{
    // Given up: a Start outside the wizard repeats the last capture's filter.
    if (!m_finished) {
        expression = m_previousExpression;
        deviceFlag = m_previousDevice;
    }
    QWizard::reject();
}

void userwizard::finish()
{
    if (m_finished)
        return;
    m_finished = true;

    const bool ticked[] = {m_timeLine, m_tcpState, m_recon, m_connection, m_packetList, m_topology};
    if (m_controller && m_createView) {
        for (std::size_t i = 0; i < std::size(kViewOrder); ++i) {
            if (!ticked[i])
                continue;
            const ViewOrder& order = kViewOrder[i];
            CTimeBasedView* view = m_createView(order.kind, QString::fromLatin1(order.objectName), m_controller);
            if (!view)
                continue;  // not built yet
            if (auto* window = dynamic_cast<QWidget*>(view)) {
                window->setObjectName(QString::fromLatin1(order.objectName));
                window->show();
            }
            m_controller->AddView(view, QString::fromLatin1(order.registryName));
            if (order.kind == ViewKind::Reconstruction)
                m_reconView = view;
        }
    }

    g_bPureStepMode = m_stepMode;
    if (m_controller)
        m_start(m_controller);
    ValidWizard = true;
}
