// The TCP state diagram window: menu, status bar, Lock and Reset, the picture lit
// by a real connection at a few box centres, the repaint cycle, export and close.

#include "capture/controlpanel.h"
#include "packets/packetfixtures.h"
#include "views/common/viewprompts.h"
#include "views/tcpstate/diagrampainter.h"
#include "views/tcpstate/stattrandiagram.h"
#include "views/viewfactory.h"

#include <QAction>
#include <QLabel>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

using namespace tcpdiagram;

namespace {

// The server closes first in this connection of the trace.
std::vector<fixtures::TracePacket> serverClosesFirst()
{
    auto frames = fixtures::readTrace(QStringLiteral(NUK_TEST_DATA "/tcpstate/closes.pcap"));
    std::erase_if(frames, [](const fixtures::TracePacket& f) { return f.packet->GetDstPort() != 7002 && f.packet->GetSrcPort() != 7002; });
    return frames;
}

QColor shadeAt(const QImage& image, Box box)
{
    return image.pixelColor(boxCorner(box) + QPoint(5, 15));
}

bool inkOnRow(const QImage& image, int y, int x1, int x2, const QColor& ink)
{
    for (int x = x1; x <= x2; ++x)
        if (image.pixelColor(x, y) == ink)
            return true;
    return false;
}

QColor colourOf(Shade shade)
{
    const Rgb c = rgb(shade);
    return QColor(c.r, c.g, c.b);
}

QAction* menuAction(StatTranDiagram& view, const QString& text)
{
    for (QAction* a : view.menuBar()->actions().first()->menu()->actions())
        if (a->text() == text)
            return a;
    return nullptr;
}

std::unique_ptr<StatTranDiagram> newView()
{
    return std::unique_ptr<StatTranDiagram>(
        static_cast<StatTranDiagram*>(createView(ViewKind::TcpState, QStringLiteral("TCP State Transition View"), nullptr)));
}

}  // namespace

class TestStatTranDiagram : public QObject {
    Q_OBJECT
private slots:
    void windowAndMenu();
    void replayLightsTheDiagram();
    void lockAndReset();
    void exportsTheDiagram();
    void closingUnregisters();
};

void TestStatTranDiagram::windowAndMenu()
{
    auto view = newView();
    QVERIFY(view->isVisible());
    QCOMPARE(view->objectName(), QStringLiteral("TCP State Transition View"));
    QCOMPARE(view->windowTitle(), QStringLiteral("NUK TCP State Transition Diagram View"));
    QCOMPARE(view->canvas()->size(), QSize(800, 830));
    QCOMPARE(view->width(), 800);
    QCOMPARE(view->menuBar()->actions().size(), 1);
    QCOMPARE(view->menuBar()->actions().first()->text(), QStringLiteral("&Options"));
    QStringList texts;
    for (QAction* a : view->menuBar()->actions().first()->menu()->actions())
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    QCOMPARE(texts, (QStringList{"&Reset", "&Lock", "Export as Image...", "-", "Quit"}));
    QVERIFY(menuAction(*view, "&Lock")->isCheckable());
    QVERIFY(view->connectionLabel()->text().isEmpty());
    QVERIFY(view->lockedLabel()->isHidden());
}

// Packets handed over from another thread, one at a time as in step mode; each
// refresh tick paints what they did.
void TestStatTranDiagram::replayLightsTheDiagram()
{
    auto view = newView();
    QVERIFY(QTest::qWaitForWindowExposed(view.get()));
    const auto frames = serverClosesFirst();
    auto feed = [&](std::size_t from, std::size_t to) {
        std::thread reader([&] {
            for (std::size_t i = from; i < to; ++i)
                view->AddPacket(frames[i].packet.get());
        });
        reader.join();
        view->UpdateView();
        return view->canvas()->grab().toImage();
    };

    QImage image = view->canvas()->grab().toImage();
    QCOMPARE(shadeAt(image, Closed), colourOf(Shade::CommonCurrent));
    QCOMPARE(shadeAt(image, Established), colourOf(Shade::Unvisited));

    image = feed(0, 3);
    QCOMPARE(view->snapshot().step, 5);
    QVERIFY(view->snapshot().dirty);
    QCOMPARE(shadeAt(image, Closed), colourOf(Shade::CommonPassed));
    QCOMPARE(shadeAt(image, Listen), colourOf(Shade::ServerPassed));
    QCOMPARE(shadeAt(image, SynSent), colourOf(Shade::ClientPassed));
    QCOMPARE(shadeAt(image, Established), colourOf(Shade::CommonCurrent));
    QCOMPARE(shadeAt(image, FinWait1), colourOf(Shade::Unvisited));
    const QString port = QString::number(frames[0].packet->GetSrcPort());
    QCOMPARE(view->connectionLabel()->text(), QStringLiteral("10.0.1.2:%1 \u2194 10.0.2.2:7002").arg(port));
    // 500 ms after the paint nothing is pending any more.
    QTRY_VERIFY_WITH_TIMEOUT(!view->snapshot().dirty, 3000);

    image = feed(3, 9);
    QCOMPARE(view->snapshot().step, 12);
    QCOMPARE(shadeAt(image, FinWait1), colourOf(Shade::ServerPassed));
    QCOMPARE(shadeAt(image, FinWait2), colourOf(Shade::ServerCurrent));
    QCOMPARE(shadeAt(image, CloseWait), colourOf(Shade::ClientCurrent));
    QCOMPARE(shadeAt(image, TimeWait), colourOf(Shade::Unvisited));
    // Transition 11 (ESTABLISHED -> FIN_WAIT_1) in the server's orange where it
    // crosses y = 417, transition 9 (ESTABLISHED -> CLOSEWAIT) in the client's green.
    QVERIFY(inkOnRow(image, 417, 290, 310, QColor(255, 123, 41)));
    QVERIFY(inkOnRow(image, 345, 470, 540, QColor(5, 155, 0)));

    image = feed(9, frames.size());
    QCOMPARE(view->snapshot().step, 14);
    QCOMPARE(shadeAt(image, LastAck), colourOf(Shade::ClientCurrent));
    QCOMPARE(shadeAt(image, TimeWait), colourOf(Shade::ServerCurrent));
}

void TestStatTranDiagram::lockAndReset()
{
    auto view = newView();
    const QImage atStart = view->canvas()->grab().toImage();
    const auto frames = serverClosesFirst();
    for (std::size_t i = 0; i < 3; ++i)
        view->AddPacket(frames[i].packet.get());
    view->UpdateView();

    menuAction(*view, "&Lock")->trigger();
    QVERIFY(menuAction(*view, "&Lock")->isChecked());
    QVERIFY(view->lockedLabel()->isVisible());
    QCOMPARE(view->lockedLabel()->text(), QStringLiteral("Locked"));
    for (std::size_t i = 3; i < frames.size(); ++i)
        view->AddPacket(frames[i].packet.get());
    QCOMPARE(view->snapshot().step, 5);

    // Reset works while locked; the picture is the one of a new view.
    menuAction(*view, "&Reset")->trigger();
    QCOMPARE(view->snapshot().step, 17);
    QVERIFY(view->snapshot().locked);
    QVERIFY(view->connectionLabel()->text().isEmpty());
    QCOMPARE(view->canvas()->grab().toImage(), atStart);

    menuAction(*view, "&Lock")->trigger();
    QVERIFY(!view->lockedLabel()->isVisible());
    view->AddPacket(frames[5].packet.get());
    view->UpdateView();
    QCOMPARE(view->snapshot().step, 17);  // a data packet fixes the connection, moves nothing
    QVERIFY(!view->connectionLabel()->text().isEmpty());
}

void TestStatTranDiagram::exportsTheDiagram()
{
    auto view = newView();
    const auto frames = serverClosesFirst();
    for (std::size_t i = 0; i < 3; ++i)
        view->AddPacket(frames[i].packet.get());
    QTemporaryDir dir;
    QString chosen = dir.filePath(QStringLiteral("diagram.png"));
    viewui::setSaveFileHandler([&](QWidget*, const QString&, const QString&, const QString&, QString*) { return chosen; });
    menuAction(*view, "Export as Image...")->trigger();
    const QImage png(chosen);
    QCOMPARE(png.size(), QSize(800, 830));
    QCOMPARE(shadeAt(png, Established), colourOf(Shade::CommonCurrent));
    QCOMPARE(png.pixelColor(2, 2), QColor(Qt::white));

    chosen = dir.filePath(QStringLiteral("diagram.svg"));
    menuAction(*view, "Export as Image...")->trigger();
    QFile svg(chosen);
    QVERIFY(svg.open(QIODevice::ReadOnly));
    const QByteArray text = svg.readAll();
    QVERIFY(text.contains("<svg"));
    QVERIFY(text.contains("ESTABLISHED"));
    viewui::setSaveFileHandler({});
}

void TestStatTranDiagram::closingUnregisters()
{
    ControlPanel controller;
    for (const char* how : {"close", "Quit"}) {
        auto* view = static_cast<StatTranDiagram*>(createView(ViewKind::TcpState, QStringLiteral("d"), &controller));
        controller.AddView(view, QStringLiteral("TCPStatusView"));
        QVERIFY(m_View2MenuID.contains(view));
        if (QByteArray(how) == "close")
            view->close();
        else
            menuAction(*view, "Quit")->trigger();
        QTRY_VERIFY(!m_View2MenuID.contains(view));
    }
}

QTEST_MAIN(TestStatTranDiagram)
#include "tst_stattrandiagram.moc"
