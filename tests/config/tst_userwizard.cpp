// SPDX-License-Identifier: GPL-2.0-or-later
// The user wizard: pages, page flows for the four sources, the file dialog, and
// what Finish creates, registers and starts.

#include "capture/controlpanel.h"
#include "common/testmain.h"
#include "capture/settings.h"
#include "capture/timebasedview.h"
#include "config/filter.h"
#include "config/uihooks.h"
#include "config/userwizard.h"
#include "config/wizardfactory.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
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
    ControlPanel* controller;
    CTimeBasedView* view;
};

}  // namespace

class UserWizardTest : public QObject {
    Q_OBJECT

    QList<Created> m_created;
    QList<bool> m_stepModeAtStart;
    QString m_fileAnswer;
    int m_fileDialogs = 0;

    void prepare(userwizard& wizard, ControlPanel* controller)
    {
        wizard.setControlPanel(controller);
        wizard.setViewCreator([this](ViewKind kind, const QString&, ControlPanel* c) -> CTimeBasedView* {
            auto* view = new TestView;
            m_created << Created{kind, c, view};
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

    static void backTo(userwizard& wizard, int page)
    {
        while (wizard.currentId() != page && wizard.currentId() != userwizard::SourcePage)
            click(wizard.button(QWizard::BackButton));
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
        m_fileAnswer.clear();
        m_fileDialogs = 0;
        nukui::setOpenFileHandler([this](QWidget*, const QString& caption, const QString& dir, const QString& filter) {
            ++m_fileDialogs;
            if (!caption.isEmpty() || !dir.isEmpty() || filter != QLatin1String("Trace files (*.tr *.pcap *.pcapng *.cap);;All files (*)"))
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

    void diskFileFlows()
    {
        ControlPanel controller;
        userwizard wizard;
        prepare(wizard, &controller);
        click(wizard.sourceButton(userwizard::Source::DiskFile));
        QCOMPARE(nukOpMode, 0);
        QCOMPARE(wizard.pageIds(), QList<int>({userwizard::SourcePage, userwizard::FilePage}));
        click(wizard.button(QWizard::NextButton));
        QVERIFY(!offers(wizard, QWizard::NextButton) && !offers(wizard, QWizard::FinishButton));

        // A cancelled file dialog: still no way on, the earlier name kept.
        click(wizard.fileButton());
        QCOMPARE(m_fileDialogs, 1);
        QVERIFY(!offers(wizard, QWizard::NextButton));
        QCOMPARE(g_FileName, QStringLiteral("earlier.tr"));

        m_fileAnswer = QStringLiteral("/data/x.tr");
        click(wizard.fileButton());
        QCOMPARE(g_FileName, m_fileAnswer);
        QCOMPARE(wizard.fileNameField()->text(), m_fileAnswer);
        QCOMPARE(walkForward(wizard), QList<int>({userwizard::FilePage, userwizard::FilterPage, userwizard::ViewPage,
                                                  userwizard::StartPage}));
        QVERIFY(offers(wizard, QWizard::FinishButton));

        // Disk File -> All Realtime Traffic -> Disk File: no page twice.
        backTo(wizard, userwizard::SourcePage);
        click(wizard.sourceButton(userwizard::Source::Realtime));
        QCOMPARE(walkForward(wizard), QList<int>({userwizard::SourcePage, userwizard::FilterPage,
                                                  userwizard::ViewPage, userwizard::StartPage}));
        backTo(wizard, userwizard::SourcePage);
        click(wizard.sourceButton(userwizard::Source::DiskFile));
        QCOMPARE(nukOpMode, 0);
        click(wizard.button(QWizard::NextButton));
        m_fileAnswer = QStringLiteral("/data/y.tr");
        click(wizard.fileButton());
        walkForward(wizard);
        QCOMPARE(wizard.visitedIds(), QList<int>({userwizard::SourcePage, userwizard::FilePage, userwizard::FilterPage,
                                                  userwizard::ViewPage, userwizard::StartPage}));
        QCOMPARE(wizard.pageIds(), QList<int>({0, 1, 2, 3, 4}));
        QVERIFY(offers(wizard, QWizard::FinishButton));
    }

    void liveSourceFlowsFinishOnce_data()
    {
        QTest::addColumn<int>("source");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("stepMode");
        QTest::addColumn<int>("finishPage");
        QTest::newRow("realtime") << int(userwizard::Source::Realtime) << 1 << false << int(userwizard::StartPage);
        QTest::newRow("application, step mode")
            << int(userwizard::Source::Application) << 3 << true << int(userwizard::StartPage);
        QTest::newRow("active sockets") << int(userwizard::Source::ActiveSockets) << 2 << false
                                        << int(userwizard::SocketPage);
    }
    void liveSourceFlowsFinishOnce()
    {
        QFETCH(int, source);
        QFETCH(int, mode);
        QFETCH(bool, stepMode);
        QFETCH(int, finishPage);
        ControlPanel controller;
        const int before = m_TypeName2TotalNum.value(QStringLiteral("PacketListView"));
        userwizard wizard;
        prepare(wizard, &controller);
        click(wizard.sourceButton(userwizard::Source(source)));
        QCOMPARE(nukOpMode, mode);
        QCOMPARE(g_FileName, QStringLiteral("earlier.tr"));  // not cleared by another source
        QList<int> seen{wizard.currentId()};
        while (offers(wizard, QWizard::NextButton)) {
            QVERIFY2(!offers(wizard, QWizard::FinishButton), "Finish offered too early");
            click(wizard.button(QWizard::NextButton));
            seen << wizard.currentId();
        }
        QList<int> pages{userwizard::SourcePage, userwizard::FilterPage, userwizard::ViewPage, userwizard::StartPage};
        if (finishPage == userwizard::SocketPage)
            pages << userwizard::SocketPage;
        QCOMPARE(seen, pages);
        QVERIFY(offers(wizard, QWizard::FinishButton));  // without pressing "Select Sockets"
        if (stepMode) {
            click(wizard.stepModeButton());
            QVERIFY(!g_bPureStepMode);
        }
        click(wizard.button(QWizard::FinishButton));
        QVERIFY(wizard.isFinished());
        QVERIFY(!wizard.isVisible());
        wizard.finish();
        wizard.show();
        wizard.accept();
        QCOMPARE(m_stepModeAtStart, QList<bool>({stepMode}));  // set before Start, once

        QCOMPARE(m_created.size(), 1);
        QCOMPARE(m_created[0].kind, ViewKind::PacketList);
        QCOMPARE(m_TypeName2TotalNum.value(QStringLiteral("PacketListView")), before + 1);
        QVERIFY(m_View2MenuID.contains(m_created[0].view));
        QCOMPARE(static_cast<TestView*>(m_created[0].view)->initiated, 1);
        QVERIFY(static_cast<TestView*>(m_created[0].view)->isVisible() && ValidWizard);
    }

    // A run that skips "Set Filter" captures "tcp" on the default device, whatever an
    // earlier run chose; within a run the filter dialog reopens showing its choice; a
    // run given up leaves the last filter for a Start outside the wizard.
    void eachRunStartsFromTheDefaultFilter()
    {
        ControlPanel controller;
        QStringList started;
        const auto run = [&](userwizard::Source source, bool finish, const std::function<void(userwizard&)>& filter) {
            userwizard wizard;
            prepare(wizard, &controller);
            wizard.setStarter([&](ControlPanel*) { started << expression + '|' + QString::number(deviceFlag); });
            click(wizard.sourceButton(source));
            click(wizard.button(QWizard::NextButton));
            if (filter)
                filter(wizard);
            if (finish) {
                walkForward(wizard);
                click(wizard.button(QWizard::FinishButton));
            } else {
                click(wizard.button(QWizard::CancelButton));
            }
        };
        const auto openFilter = [](userwizard& wizard) {
            click(wizard.filterButton());
            return wizard.lastFilterDialog();
        };
        const auto chooseUdpAndLo = [&](userwizard& wizard) {
            Filter* dialog = openFilter(wizard);
            QVERIFY(dialog && dialog->isVisible());
            QCOMPARE(dialog->inForceField()->text(), QStringLiteral("tcp"));
            QVERIFY(!dialog->udpBox()->isChecked() && !dialog->loBox()->isChecked());
            click(dialog->udpBox());
            click(dialog->loBox());
            QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
        };

        expression = QStringLiteral(" ( host 127.0.0.1 and port 631)");  // an earlier socket choice
        deviceFlag = 1;
        run(userwizard::Source::Application, true, {});
        run(userwizard::Source::Realtime, true, [&](userwizard& wizard) {
            chooseUdpAndLo(wizard);
            Filter* again = openFilter(wizard);  // shows what this run chose
            QCOMPARE(again->inForceField()->text(), QStringLiteral("tcp or udp"));
            QVERIFY(again->udpBox()->isChecked() && again->loBox()->isChecked());
            again->close();
        });
        run(userwizard::Source::Realtime, false, chooseUdpAndLo);
        QCOMPARE(started, QStringList({"tcp|0", " tcp or udp|1"}));
        QCOMPARE(expression + '|' + QString::number(deviceFlag), started.last());
    }

};

NUK_TEST_CLASS(UserWizardTest)
#include "tst_userwizard.moc"
