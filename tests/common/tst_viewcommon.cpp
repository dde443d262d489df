// SPDX-License-Identifier: GPL-2.0-or-later
// What every view shares: saving a file the user named, exporting a drawing, message
// boxes, and closing a view while the reader thread hands it packets.

#include "capture/controlpanel.h"
#include "common/processes.h"
#include "common/testmain.h"
#include "common/viewhelpers.h"
#include "packets/packetfixtures.h"
#include "views/common/imageexport.h"
#include "views/common/savefile.h"
#include "views/common/viewprompts.h"
#include "views/viewfactory.h"

#include <QFile>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

class TestViewCommon : public QObject {
    Q_OBJECT
private slots:
    void savesRegularFilesOnly();
    void exportsPngAndSvg();
    void closingAViewUnregistersIt_data();
    void closingAViewUnregistersIt();
};

void TestViewCommon::savesRegularFilesOnly()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("bytes.bin"));
    QString error;
    QVERIFY(saveUserFile(file, QByteArray("old content, longer"), &error));
    QVERIFY(saveUserFile(file, QByteArray("\x00\x01GET", 5), &error));
    QCOMPARE(testproc::readFile(file), QByteArray("\x00\x01GET", 5));

    // A link planted at the name is refused and its target left alone; so is a FIFO
    // (no reader: opening it must not block).
    const QString target = dir.filePath(QStringLiteral("target"));
    QVERIFY(saveUserFile(target, "keep", &error));
    const QString link = dir.filePath(QStringLiteral("link"));
    QCOMPARE(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()), 0);
    QVERIFY(!saveUserFile(link, "x", &error));
    QVERIFY(error.startsWith(link));
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QVERIFY(!saveUserFile(fifo, "x", &error));
    QVERIFY(error.contains(QLatin1String("not a regular file")));
    QCOMPARE(testproc::readFile(target), QByteArray("keep"));
}

void TestViewCommon::exportsPngAndSvg()
{
    QTemporaryDir dir;
    const DrawFunction draw = [](QPainter& p) { p.fillRect(10, 10, 5, 5, Qt::red); };
    QString chosen = dir.filePath(QStringLiteral("diagram"));
    viewui::setSaveFileHandler([&](QWidget*, const QString&, const QString&, const QString& filter, QString* selected) {
        *selected = filter.section(QStringLiteral(";;"), 1, 1);  // the SVG entry
        return chosen;
    });
    QStringList warnings;
    viewui::setAskHandler([&](QWidget*, QMessageBox::Icon, const QString&, const QString& text, const QStringList&) {
        warnings << text;
        return 0;
    });

    QVERIFY(exportImage(nullptr, QSize(40, 30), draw));
    QVERIFY(testproc::readFile(chosen + QStringLiteral(".svg")).contains("<svg"));

    chosen = dir.filePath(QStringLiteral("diagram.PNG"));
    QVERIFY(exportImage(nullptr, QSize(40, 30), draw));
    const QImage image(chosen);
    QCOMPARE(image.size(), QSize(40, 30));
    QCOMPARE(image.pixelColor(12, 12), QColor(Qt::red));
    QCOMPARE(image.pixelColor(30, 20), QColor(Qt::white));

    // Too tall for a raster: a clear refusal, nothing written.
    chosen = dir.filePath(QStringLiteral("huge.png"));
    QVERIFY(!exportImage(nullptr, QSize(1000, 70000000), draw));
    QCOMPARE(warnings.size(), 1);
    QVERIFY(warnings[0].contains(QLatin1String("SVG")));
    QVERIFY(!QFile::exists(chosen));
    viewui::setSaveFileHandler({});
    viewui::setAskHandler({});
}

void TestViewCommon::closingAViewUnregistersIt_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("packet list") << int(ViewKind::PacketList);
    QTest::newRow("connection packets") << int(ViewKind::StreamLink);
    QTest::newRow("reconstruction") << int(ViewKind::Reconstruction);
    QTest::newRow("time line") << int(ViewKind::TimeLine);
    QTest::newRow("machine distribution") << int(ViewKind::Topology);
    QTest::newRow("tcp state") << int(ViewKind::TcpState);
}

// Packets reach the view through the controller until it closes; after that the
// window is gone and the controller calls nobody.
void TestViewCommon::closingAViewUnregistersIt()
{
    QFETCH(int, kind);
    ControlPanel controller;
    CTimeBasedView* view = createView(ViewKind(kind), QStringLiteral("v"), &controller);
    QPointer<QWidget> window = dynamic_cast<QWidget*>(view);
    controller.AddView(view, QStringLiteral("View"));
    QVERIFY(window && window->isVisible());
    fixtures::Fields f;
    const auto packet = fixtures::build(f);
    std::vector<CPacket*> copies;
    for (int i = 0; i < 20; ++i)
        copies.push_back(new CPacket(*packet));
    viewtest::feed(controller, copies, 0, copies.size());
    view->UpdateView();
    window->close();
    QVERIFY(!m_View2MenuID.contains(view));
    QTRY_VERIFY(window.isNull());
    // Later packets and ticks reach nobody (a call into the closed view would stop
    // here under AddressSanitizer) and are still counted.
    controller.AddPacket(new CPacket(*packet));
    controller.UpdateView();
    QCOMPARE(controller.packetCount(), std::size_t(21));
}

NUK_TEST_CLASS(TestViewCommon)
#include "tst_viewcommon.moc"
