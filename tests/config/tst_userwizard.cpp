// The user wizard: pages, page flows for the four sources, the file dialog, and
// what Finish creates, registers and starts.

#include "capture/controlpanel.h"
#include "capture/settings.h"
#include "capture/timebasedview.h"
#include "config/filter.h"
#include "config/uihooks.h"
#include "config/userwizard.h"
#include "config/wizardfactory.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QToolButton>
#include <QtTest>

namespace {

class TestView : public QWidget, public CTimeBasedView {
public:
    int initiated = 0;
    void InitiateView() override { ++initiated; }
};

struct Created {
    ViewKind kind;
    QString objectName;
    ControlPanel* controller;
    CTimeBasedView* view;
};

QStringList texts(const QList<QAbstractButton*>& buttons)
{
    QStringList result;
    for (QAbstractButton* b : buttons)
        result << b->text();
    return result;
}

}  // namespace

class UserWizardTest : public QObject {
    Q_OBJECT

    QList<Created> m_created;
    QList<bool> m_stepModeAtStart;
    QList<ViewKind> m_missing;  // kinds the test factory has not "built"
    QString m_fileAnswer;
    int m_fileDialogs = 0;

    void prepare(userwizard& wizard, ControlPanel* controller)
    {
        wizard.setControlPanel(controller);
        wizard.setViewCreator([this](ViewKind kind, const QString& name, ControlPanel* c) -> CTimeBasedView* {
            if (m_missing.contains(kind))
                return nullptr;
            auto* view = new TestView;
            m_created << Created{kind, name, c, view};
            return view;
        });
        wizard.setStarter([this](ControlPanel*) { m_stepModeAtStart << g_bPureStepMode.load(); });
        wizard.show();
    }

    static void click(QAbstractButton* button)
    {
        QVERIFY(button);
        QVERIFY(button->isVisible());
        // Near the left edge: check boxes and radio buttons take clicks on their
        // indicator and text only, not on the whole stretched width.
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
    }

    static bool offers(const userwizard& wizard, QWizard::WizardButton which)
    {
        QAbstractButton* b = wizard.button(which);
        return b->isVisible() && b->isEnabled();
    }

    // Presses Next until the wizard stops offering it; returns the pages seen.
    static QList<int> walkForward(userwizard& wizard)
    {
        QList<int> seen{wizard.currentId()};
        while (offers(wizard, QWizard::NextButton) && seen.size() < 10) {
            QTest::mouseClick(wizard.button(QWizard::NextButton), Qt::LeftButton);
            seen << wizard.currentId();
        }
        return seen;
    }

private slots:
    void init()
    {
        m_created.clear();
        m_stepModeAtStart.clear();
        m_missing.clear();
        m_fileAnswer.clear();
        m_fileDialogs = 0;
        nukui::setOpenFileHandler([this](QWidget*, const QString& caption, const QString& dir, const QString& filter) {
            ++m_fileDialogs;
            if (!caption.isEmpty() || !dir.isEmpty() || filter != QLatin1String("*.tr"))
                return QStringLiteral("wrong-arguments");
            return m_fileAnswer;
        });
        g_FileName = QStringLiteral("earlier.tr");
        nukOpMode = -1;
        g_bPureStepMode = false;
        ValidWizard = false;
    }
    void cleanup()
    {
        for (const Created& c : m_created)
            RemoveView(c.view);
        nukui::setOpenFileHandler({});
    }

    void startsWithTheDataSourcePageOnly()
    {
        userwizard wizard;
        wizard.show();
        QCOMPARE(wizard.objectName(), QStringLiteral("userwizard"));
        QCOMPARE(wizard.windowTitle(), QStringLiteral("NUK user wizard"));
        // 306 x 236, unless the font needs more.
        QCOMPARE(wizard.size(), QSize(306, 236).expandedTo(wizard.minimumSizeHint()));
        QVERIFY(!wizard.button(QWizard::HelpButton)->isVisible());
        QCOMPARE(wizard.pageIds(), QList<int>({userwizard::SourcePage}));
        QCOMPARE(wizard.currentPage()->title(), QStringLiteral("Select Data Source"));
        QCOMPARE(wizard.currentPage()->objectName(), QStringLiteral("dataSource"));
        auto* box = wizard.currentPage()->findChild<QGroupBox*>();
        QCOMPARE(box->title(), QStringLiteral("Select DataSource"));
        const QList<QRadioButton*> radios = box->findChildren<QRadioButton*>();
        QCOMPARE(texts({radios.begin(), radios.end()}),
                 QStringList({"Disk File", "All Realtime Traffic", "Current Active Sockets", "Specific Application"}));
        for (QRadioButton* r : radios)
            QVERIFY(!r->isChecked());
        QVERIFY(!offers(wizard, QWizard::NextButton));
        QVERIFY(!offers(wizard, QWizard::FinishButton));
    }

    void sourcesSetTheOperationMode()
    {
        userwizard wizard;
        wizard.show();
        const QPair<userwizard::Source, int> modes[] = {{userwizard::Source::DiskFile, 0},
                                                        {userwizard::Source::Realtime, 1},
                                                        {userwizard::Source::ActiveSockets, 2},
                                                        {userwizard::Source::Application, 3}};
        for (const auto& [source, mode] : modes) {
            click(wizard.sourceButton(source));
            QCOMPARE(nukOpMode, mode);
            QCOMPARE(wizard.source(), source);
            QVERIFY(offers(wizard, QWizard::NextButton));
        }
    }

    void diskFileFlow()
    {
        ControlPanel controller;
        userwizard wizard;
        prepare(wizard, &controller);
        click(wizard.sourceButton(userwizard::Source::DiskFile));
        QCOMPARE(wizard.pageIds(), QList<int>({userwizard::SourcePage, userwizard::FilePage}));
        click(wizard.button(QWizard::NextButton));
        QCOMPARE(wizard.currentId(), int(userwizard::FilePage));
        QCOMPARE(wizard.currentPage()->title(), QStringLiteral("Open file"));
        QVERIFY(!offers(wizard, QWizard::NextButton));
        QVERIFY(!offers(wizard, QWizard::FinishButton));

        // A cancelled file dialog: still no way on, the earlier name kept.
        click(wizard.fileButton());
        QCOMPARE(m_fileDialogs, 1);
        QVERIFY(!offers(wizard, QWizard::NextButton));
        QCOMPARE(g_FileName, QStringLiteral("earlier.tr"));
        QCOMPARE(wizard.pageIds().size(), 2);

        m_fileAnswer = QStringLiteral("/data/x.tr");
        click(wizard.fileButton());
        QCOMPARE(g_FileName, m_fileAnswer);
        QCOMPARE(wizard.fileNameField()->text(), m_fileAnswer);
        QVERIFY(offers(wizard, QWizard::NextButton));
        QCOMPARE(walkForward(wizard), QList<int>({userwizard::FilePage, userwizard::FilterPage, userwizard::ViewPage,
                                                  userwizard::StartPage}));
        QCOMPARE(wizard.currentPage()->title(), QStringLiteral("Start Mode"));
        QVERIFY(offers(wizard, QWizard::FinishButton));

        // A second cancelled dialog (after Back) takes the way on away again.
        click(wizard.button(QWizard::BackButton));
        click(wizard.button(QWizard::BackButton));
        click(wizard.button(QWizard::BackButton));
        QCOMPARE(wizard.currentId(), int(userwizard::FilePage));
        m_fileAnswer.clear();
        click(wizard.fileButton());
        QVERIFY(!offers(wizard, QWizard::NextButton));
        QCOMPARE(g_FileName, QStringLiteral("/data/x.tr"));
    }

    void diskFileThenRealtimeThenDiskFile()
    {
        ControlPanel controller;
        userwizard wizard;
        prepare(wizard, &controller);
        click(wizard.sourceButton(userwizard::Source::DiskFile));
        click(wizard.sourceButton(userwizard::Source::Realtime));
        QCOMPARE(walkForward(wizard), QList<int>({userwizard::SourcePage, userwizard::FilterPage,
                                                  userwizard::ViewPage, userwizard::StartPage}));
        QVERIFY(offers(wizard, QWizard::FinishButton));
        while (wizard.currentId() != userwizard::SourcePage)
            click(wizard.button(QWizard::BackButton));

        click(wizard.sourceButton(userwizard::Source::DiskFile));
        QCOMPARE(nukOpMode, 0);
        click(wizard.button(QWizard::NextButton));
        QCOMPARE(wizard.currentId(), int(userwizard::FilePage));
        m_fileAnswer = QStringLiteral("/data/y.tr");
        click(wizard.fileButton());
        const QList<int> seen = walkForward(wizard);
        QCOMPARE(seen, QList<int>({userwizard::FilePage, userwizard::FilterPage, userwizard::ViewPage,
                                   userwizard::StartPage}));
        QCOMPARE(wizard.visitedIds(), QList<int>({userwizard::SourcePage, userwizard::FilePage, userwizard::FilterPage,
                                                  userwizard::ViewPage, userwizard::StartPage}));
        QCOMPARE(wizard.pageIds(), QList<int>({0, 1, 2, 3, 4}));
        QVERIFY(offers(wizard, QWizard::FinishButton));
    }

    void realtimeAndApplicationFlows_data()
    {
        QTest::addColumn<int>("source");
        QTest::addColumn<int>("mode");
        QTest::newRow("realtime") << int(userwizard::Source::Realtime) << 1;
        QTest::newRow("application") << int(userwizard::Source::Application) << 3;
    }
    void realtimeAndApplicationFlows()
    {
        QFETCH(int, source);
        QFETCH(int, mode);
        ControlPanel controller;
        userwizard wizard;
        prepare(wizard, &controller);
        click(wizard.sourceButton(userwizard::Source(source)));
        QCOMPARE(nukOpMode, mode);
        QCOMPARE(g_FileName, QStringLiteral("earlier.tr"));  // not cleared by another source
        QList<int> seen = walkForward(wizard);
        QCOMPARE(seen, QList<int>({userwizard::SourcePage, userwizard::FilterPage, userwizard::ViewPage,
                                   userwizard::StartPage}));
        QVERIFY(!offers(wizard, QWizard::NextButton));
        QVERIFY(offers(wizard, QWizard::FinishButton));
        click(wizard.button(QWizard::FinishButton));
        QCOMPARE(m_stepModeAtStart.size(), 1);
        QVERIFY(!wizard.isVisible());
    }

    void activeSocketsFinishOnTheSocketPage()
    {
        ControlPanel controller;
        userwizard wizard;
        prepare(wizard, &controller);
        click(wizard.sourceButton(userwizard::Source::ActiveSockets));
        QCOMPARE(nukOpMode, 2);
        QList<int> seen{wizard.currentId()};
        while (offers(wizard, QWizard::NextButton)) {
            QVERIFY2(!offers(wizard, QWizard::FinishButton), "Finish offered before the socket page");
            click(wizard.button(QWizard::NextButton));
            seen << wizard.currentId();
        }
        QCOMPARE(seen, QList<int>({userwizard::SourcePage, userwizard::FilterPage, userwizard::ViewPage,
                                   userwizard::StartPage, userwizard::SocketPage}));
        QCOMPARE(wizard.currentPage()->title(), QStringLiteral("Select Sockets"));
        QVERIFY(offers(wizard, QWizard::FinishButton));  // without pressing "Select Sockets"
        QCOMPARE(wizard.socketButton()->text(), QStringLiteral("Select Sockets"));

        // Back to a realtime source: the start mode page finishes again.
        while (wizard.currentId() != userwizard::SourcePage)
            click(wizard.button(QWizard::BackButton));
        click(wizard.sourceButton(userwizard::Source::Realtime));
        QCOMPARE(walkForward(wizard).last(), int(userwizard::StartPage));
        QVERIFY(offers(wizard, QWizard::FinishButton));
    }

    void viewBoxesInTwoColumns()
    {
        userwizard wizard;
        wizard.show();
        click(wizard.sourceButton(userwizard::Source::Realtime));
        const QPair<ViewKind, QString> boxes[] = {{ViewKind::Topology, "Machine Distribution "},
                                                  {ViewKind::Reconstruction, "Reconstruction"},
                                                  {ViewKind::PacketList, "Packet list"},
                                                  {ViewKind::TimeLine, "TimeLine"},
                                                  {ViewKind::TcpState, "TCP state diagram"},
                                                  {ViewKind::StreamLink, "Connection Packet"}};
        auto* grid = qobject_cast<QGridLayout*>(wizard.viewBox(ViewKind::Topology)->parentWidget()->layout());
        QVERIFY(grid);
        for (int i = 0; i < 6; ++i) {
            QCheckBox* box = wizard.viewBox(boxes[i].first);
            QCOMPARE(box->text(), boxes[i].second);
            QCOMPARE(box->isChecked(), boxes[i].first == ViewKind::PacketList);
            int row, column, rowSpan, columnSpan;
            grid->getItemPosition(grid->indexOf(box), &row, &column, &rowSpan, &columnSpan);
            QCOMPARE(QPoint(column, row), QPoint(i / 3, i % 3));
        }
    }

    void defaultFinishCreatesThePacketList()
    {
        ControlPanel controller;
        const int before = m_TypeName2TotalNum.value(QStringLiteral("PacketListView"));
        userwizard wizard;
        prepare(wizard, &controller);
        click(wizard.sourceButton(userwizard::Source::Realtime));
        walkForward(wizard);
        click(wizard.button(QWizard::FinishButton));
        QCOMPARE(m_created.size(), 1);
        QCOMPARE(m_created[0].kind, ViewKind::PacketList);
        QCOMPARE(m_created[0].objectName, QStringLiteral("Packet List View"));
        QCOMPARE(m_TypeName2TotalNum.value(QStringLiteral("PacketListView")), before + 1);
        QVERIFY(m_View2MenuID.contains(m_created[0].view));
        QCOMPARE(static_cast<TestView*>(m_created[0].view)->initiated, 1);
        QVERIFY(static_cast<TestView*>(m_created[0].view)->isVisible());
        QVERIFY(ValidWizard);
        QCOMPARE(m_stepModeAtStart, QList<bool>({false}));
    }

    void finishCreatesTheTickedViewsInOrder()
    {
        ControlPanel controller;
        userwizard wizard;
        prepare(wizard, &controller);
        click(wizard.sourceButton(userwizard::Source::Realtime));
        click(wizard.button(QWizard::NextButton));
        click(wizard.button(QWizard::NextButton));
        for (ViewKind kind : {ViewKind::Topology, ViewKind::Reconstruction, ViewKind::TimeLine, ViewKind::TcpState,
                              ViewKind::StreamLink})
            click(wizard.viewBox(kind));
        click(wizard.button(QWizard::NextButton));
        click(wizard.button(QWizard::FinishButton));

        const QList<QPair<ViewKind, QString>> expected = {
            {ViewKind::TimeLine, "Newtimelines"},
            {ViewKind::TcpState, "TCP State Transition Diagram"},
            {ViewKind::Reconstruction, "Reconstruction View"},
            {ViewKind::StreamLink, "Connection packet view"},
            {ViewKind::PacketList, "Packet List View"},
            {ViewKind::Topology, "Topology View"},
        };
        const QStringList registryNames = {"TimeLineView", "TCPStatusView", "ReconstructionView",
                                           "StreamLinkView", "PacketListView", "TopologyView"};
        QCOMPARE(m_created.size(), expected.size());
        int previousId = -1;
        for (int i = 0; i < expected.size(); ++i) {
            QCOMPARE(m_created[i].kind, expected[i].first);
            QCOMPARE(m_created[i].objectName, expected[i].second);
            QCOMPARE(static_cast<TestView*>(m_created[i].view)->objectName(), expected[i].second);
            QCOMPARE(m_created[i].controller, &controller);
            const int id = m_View2MenuID.value(m_created[i].view, -1);
            QVERIFY(id > previousId);
            previousId = id;
            QVERIFY(m_TypeName2TotalNum.value(registryNames[i]) >= 1);
        }
        QCOMPARE(wizard.reconstructionView(), m_created[2].view);

        // Unticking works as well.
        userwizard second;
        m_created.clear();
        prepare(second, &controller);
        click(second.sourceButton(userwizard::Source::Realtime));
        click(second.button(QWizard::NextButton));
        click(second.button(QWizard::NextButton));
        click(second.viewBox(ViewKind::PacketList));
        click(second.viewBox(ViewKind::TimeLine));
        second.finish();
        QCOMPARE(m_created.size(), 1);
        QCOMPARE(m_created[0].kind, ViewKind::TimeLine);
    }

    void viewsNotBuiltYetAreSkipped()
    {
        ControlPanel controller;
        m_missing = {ViewKind::TcpState, ViewKind::Topology};
        userwizard wizard;
        prepare(wizard, &controller);
        click(wizard.sourceButton(userwizard::Source::Realtime));
        click(wizard.button(QWizard::NextButton));
        click(wizard.button(QWizard::NextButton));
        click(wizard.viewBox(ViewKind::TcpState));
        click(wizard.viewBox(ViewKind::Topology));
        click(wizard.button(QWizard::NextButton));
        click(wizard.button(QWizard::FinishButton));
        QCOMPARE(m_created.size(), 1);
        QCOMPARE(m_created[0].kind, ViewKind::PacketList);
        QCOMPARE(m_stepModeAtStart.size(), 1);
        QVERIFY(ValidWizard);
    }

    void stepModeIsSetBeforeStart()
    {
        ControlPanel controller;
        userwizard wizard;
        prepare(wizard, &controller);
        click(wizard.sourceButton(userwizard::Source::Realtime));
        walkForward(wizard);
        click(wizard.stepModeButton());
        QVERIFY(!g_bPureStepMode);
        click(wizard.button(QWizard::FinishButton));
        QCOMPARE(m_stepModeAtStart, QList<bool>({true}));
        QVERIFY(g_bPureStepMode);
    }

    void finishRunsOnce()
    {
        ControlPanel controller;
        userwizard wizard;
        prepare(wizard, &controller);
        click(wizard.sourceButton(userwizard::Source::ActiveSockets));
        walkForward(wizard);
        QCOMPARE(wizard.currentId(), int(userwizard::SocketPage));
        click(wizard.button(QWizard::FinishButton));
        QVERIFY(wizard.isFinished());
        wizard.finish();
        wizard.show();
        wizard.accept();
        QCOMPARE(m_stepModeAtStart.size(), 1);
        QCOMPARE(m_created.size(), 1);
    }

    void destructionSetsValidWizard()
    {
        {
            userwizard wizard;
            ValidWizard = false;
        }
        QVERIFY(ValidWizard);
    }

    void filterButtonOpensTheFilterDialog()
    {
        userwizard wizard;
        wizard.show();
        click(wizard.sourceButton(userwizard::Source::Realtime));
        click(wizard.button(QWizard::NextButton));
        click(wizard.filterButton());
        QPointer<Filter> dialog = wizard.lastFilterDialog();
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        QVERIFY(!dialog->isModal());
        QVERIFY(offers(wizard, QWizard::NextButton));
        dialog->close();
        QTRY_VERIFY(dialog.isNull());  // each request gets a fresh dialog
    }

    void socketButtonOpensOneSocketDialogAtATime()
    {
        // No socket child here: the dialog lists nothing, which is all this needs.
        userwizard wizard;
        wizard.show();
        click(wizard.sourceButton(userwizard::Source::ActiveSockets));
        walkForward(wizard);
        click(wizard.socketButton());
        QPointer<SelectSockets> first = wizard.lastSocketDialog();
        QVERIFY(first && first->isVisible());
        // A second dialog would read the one socket pipe against the first.
        click(wizard.socketButton());
        QPointer<SelectSockets> second = wizard.lastSocketDialog();
        QVERIFY(second && second != first);
        QTRY_VERIFY(first.isNull());
        QVERIFY(offers(wizard, QWizard::FinishButton));
        second->close();
        QTRY_VERIFY(second.isNull());
    }

    void factoryPreselectsATraceFile()
    {
        ControlPanel controller;
        QWidget* widget = createUserWizard(&controller, QStringLiteral("/data/cmdline.tr"));
        auto* wizard = qobject_cast<userwizard*>(widget);
        QVERIFY(wizard);
        wizard->show();
        QCOMPARE(wizard->source(), userwizard::Source::DiskFile);
        QVERIFY(wizard->sourceButton(userwizard::Source::DiskFile)->isChecked());
        QCOMPARE(nukOpMode, 0);
        QCOMPARE(g_FileName, QStringLiteral("/data/cmdline.tr"));
        click(wizard->button(QWizard::NextButton));
        QCOMPARE(wizard->currentId(), int(userwizard::FilePage));
        QCOMPARE(wizard->fileNameField()->text(), QStringLiteral("/data/cmdline.tr"));
        QVERIFY(offers(*wizard, QWizard::NextButton));
        delete widget;

        QWidget* plain = createUserWizard(&controller);
        QCOMPARE(qobject_cast<userwizard*>(plain)->source(), userwizard::Source::None);
        delete plain;
    }
};

QTEST_MAIN(UserWizardTest)
#include "tst_userwizard.moc"
