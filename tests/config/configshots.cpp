// Saves pictures of every wizard page, the filter dialog (both tabs) and the
// socket dialog into the directory given as the first argument, for looking at
// the layout by eye. Not run by ctest.

#include "capture/sockinfo.h"
#include "config/filter.h"
#include "config/selectsockets.h"
#include "config/userwizard.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include <arpa/inet.h>
#include <cstring>

namespace {
void save(QWidget* widget, const QString& dir, const QString& name)
{
    QTest::qWait(50);
    widget->grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

SockInfo record(int protocol, const char* local, unsigned short lp, const char* foreign, unsigned short fp,
                const char* state, const char* program)
{
    SockInfo info;
    std::memset(&info, 0, sizeof info);
    info.protocol = protocol;
    info.local.sin_port = lp;
    inet_pton(AF_INET, local, &info.local.sin_addr);
    info.foreign.sin_port = fp;
    inet_pton(AF_INET, foreign, &info.foreign.sin_addr);
    std::strncpy(info.state, state, sizeof info.state - 1);
    std::strncpy(info.program, program, sizeof info.program - 1);
    return info;
}
}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");

    userwizard wizard;
    wizard.show();
    save(&wizard, dir, QStringLiteral("wizard0-source"));
    wizard.fromfile();
    wizard.next();
    save(&wizard, dir, QStringLiteral("wizard1-file"));
    wizard.preselectTraceFile(QStringLiteral("/home/user/traces/web.tr"));
    save(&wizard, dir, QStringLiteral("wizard1-file-chosen"));
    wizard.back();
    wizard.fromsock();
    wizard.next();
    save(&wizard, dir, QStringLiteral("wizard2-filter"));
    wizard.next();
    save(&wizard, dir, QStringLiteral("wizard3-views"));
    wizard.next();
    save(&wizard, dir, QStringLiteral("wizard4-start-sockets"));
    wizard.next();
    save(&wizard, dir, QStringLiteral("wizard5-sockets"));
    wizard.back();
    wizard.back();
    wizard.back();
    wizard.back();
    wizard.realtime();
    wizard.next();
    wizard.next();
    wizard.next();
    save(&wizard, dir, QStringLiteral("wizard4-start-realtime"));

    Filter filter;
    filter.show();
    save(&filter, dir, QStringLiteral("filter-protocol"));
    filter.tabs()->setCurrentIndex(1);
    filter.dstAddressField()->setText(QStringLiteral("10.1.1.5"));
    filter.dstPortField()->setText(QStringLiteral("80"));
    filter.adddst();
    filter.dstPortField()->setText(QStringLiteral("22"));
    filter.adddst();
    filter.srcPortField()->setText(QStringLiteral("53"));
    filter.addsrc();
    save(&filter, dir, QStringLiteral("filter-address"));

    SelectSockets sockets;
    const SockInfo rows[] = {
        record(6, "127.0.0.1", 631, "0.0.0.0", 0, "LISTEN", "812/cupsd"),
        record(0, "0.0.0.0", 5353, "0.0.0.0", 0, "", "640/avahi-daemon"),
        record(6, "10.0.0.2", 40000, "93.184.216.34", 443, "ESTABLISHED", "2213/firefox"),
    };
    for (const SockInfo& info : rows)
        sockets.addConnection(&info);
    save(&sockets, dir, QStringLiteral("sockets"));
    return 0;
}
