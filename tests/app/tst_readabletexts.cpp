// SPDX-License-Identifier: GPL-2.0-or-later
// Every window at 96 dpi, with the default font and a larger one: no text is cut
// off. Each window is also saved as a PNG in the build directory to be looked at.

#include "common/readabletexts.h"
#include "common/testmain.h"

#include "app/nuk.h"
#include "app/nukprompts.h"
#include "capture/setpacedialog.h"
#include "capture/settings.h"
#include "config/filter.h"
#include "config/selectsockets.h"
#include "config/sockettext.h"
#include "config/userwizard.h"
#include "config/sockrecord.h"
#include "packets/packetfixtures.h"
#include "views/packets/listviews.h"
#include "views/packets/packetlistmodel.h"

#include <QListWidget>
#include <QRadioButton>
#include <QStatusBar>
#include <QtTest>

class TestReadableTexts : public QObject {
    Q_OBJECT

    static void shoot(QWidget* window, const QString& name)
    {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCoreApplication::processEvents();
        window->grab().save(QStringLiteral(NUK_BUILD_DIR "/texts-%1-%2.png").arg(name, QTest::currentDataTag()).replace(' ', '-'));
        const QStringList cut = readable::cutTexts(window);
        QVERIFY2(cut.isEmpty(), qPrintable(name + QStringLiteral(": ") + cut.join(QStringLiteral("; "))));
    }

    // Each window at the default font and at a larger one, as desktops often set.
    static void addFonts()
    {
        QTest::addColumn<int>("points");
        QTest::newRow("default font") << 0;
        QTest::newRow("11 pt") << 11;
    }
    void useFont()
    {
        QFETCH(int, points);
        QFont font = m_defaultFont;
        if (points)
            font.setPointSize(points);
        QApplication::setFont(font);
    }

    QFont m_defaultFont;

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::primaryScreen()->logicalDotsPerInch(), 96.0);
        m_defaultFont = QApplication::font();
    }
    void cleanupTestCase() { QApplication::setFont(m_defaultFont); }

    void wizardPages_data() { addFonts(); }
    void filterDialog_data() { addFonts(); }
    void mainWindowAndPace_data() { addFonts(); }

    void wizardPages()
    {
        useFont();
        userwizard wizard;
        wizard.show();
        shoot(&wizard, "wizard-source");
        wizard.fromsock();
        for (int page = 0; page < 4; ++page) {  // filter, views, start mode, sockets
            QTest::mouseClick(wizard.button(QWizard::NextButton), Qt::LeftButton);
            shoot(&wizard, QStringLiteral("wizard-%1").arg(wizard.currentPage()->objectName()));
        }
        QTest::mouseClick(wizard.button(QWizard::BackButton), Qt::LeftButton);

        // Pages made while the wizard is already shown: the trace file's flow.
        userwizard fromFile;
        fromFile.show();
        QTest::mouseClick(fromFile.sourceButton(userwizard::Source::DiskFile), Qt::LeftButton, {}, QPoint(8, 8));
        QTest::mouseClick(fromFile.button(QWizard::NextButton), Qt::LeftButton);
        shoot(&fromFile, "wizard-openfile");
        fromFile.preselectTraceFile(QStringLiteral("/a/trace.tr"));
        for (int page = 0; page < 3; ++page) {  // filter, views, start mode
            QTest::mouseClick(fromFile.button(QWizard::NextButton), Qt::LeftButton);
            shoot(&fromFile, QStringLiteral("wizard-file-%1").arg(fromFile.currentPage()->objectName()));
        }
    }

    void filterDialog()
    {
        useFont();
        Filter dialog;
        shoot(&dialog, "filter-protocol");
        // The largest values of the fields and the entries they make.
        dialog.tabs()->setCurrentIndex(1);
        const FilterEntry widest{QStringLiteral("255.255.255.255"), QStringLiteral("65535")};
        for (QLineEdit* port : {dialog.dstPortField(), dialog.srcPortField()})
            port->setText(widest.port);
        for (QLineEdit* address : {dialog.dstAddressField(), dialog.srcAddressField()})
            address->setText(widest.address);
        dialog.dstList()->addItem(filterEntryText(FilterSide::Destination, widest));
        dialog.srcList()->addItem(filterEntryText(FilterSide::Source, widest));
        shoot(&dialog, "filter-address");
    }

    void mainWindowAndPace()
    {
        useFont();
        nukPrompts().shutdown = [] {};
        NUK window;
        shoot(&window, "main");
        // A replay under way with a long helper message: counts and notes whole, the
        // message in full in the tool tip.
        CaptureProgress replay;
        replay.running = true;
        replay.replay = true;
        replay.delivered = 1234567;
        replay.share = 0.42;
        window.showProgress(replay);
        const QString line = QStringLiteral("pcap: /home/someone/captures/monday morning.pcap has link type "
                                            "IEEE802_11, which is not supported (Ethernet, Linux cooked or raw IP)");
        window.showStatus(line);
        QCOMPARE(window.statusBar()->toolTip(), line);
        shoot(&window, "main-replay");
        SetPaceDialog pace;
        shoot(&pace, "pace");
    }
};

NUK_TEST_CLASS(TestReadableTexts)
#include "tst_readabletexts.moc"
