// SPDX-License-Identifier: GPL-2.0-or-later
#include "config/sockettext.h"

#include <arpa/inet.h>
#include <cstring>

namespace {

constexpr char kAnyAddress[] = "0.0.0.0";
constexpr char kAnyAddress6[] = "::";

// "[address]:port" for an IPv6 end (the address in its compressed form).
QString endpointText6(const in6_addr& addr, const sockaddr_in& end)
{
    char text[INET6_ADDRSTRLEN] = "";
    inet_ntop(AF_INET6, &addr, text, sizeof text);
    return QStringLiteral("[%1]:%2").arg(QLatin1String(text)).arg(unsigned(end.sin_port));
}

QString endpointText(const sockaddr_in& end)
{
    unsigned char bytes[4];
    std::memcpy(bytes, &end.sin_addr.s_addr, 4);  // network byte order: first byte first
    return QStringLiteral("%1.%2.%3.%4:%5")
        .arg(bytes[0])
        .arg(bytes[1])
        .arg(bytes[2])
        .arg(bytes[3])
        .arg(unsigned(end.sin_port));  // the helper writes the port in host byte order
}

template <std::size_t N>
QString fieldText(const char (&field)[N])
{
    return QString::fromLocal8Bit(field, qsizetype(strnlen(field, N)));
}

// "a.b.c.d:port" split at its first ":", "[v6 address]:port" at its brackets.
void splitEndpoint(const QString& text, QString* host, QString* port)
{
    const int close = text.indexOf(QLatin1String("]:"));
    if (text.startsWith(QLatin1Char('[')) && close > 0) {
        *host = text.mid(1, close - 1);
        *port = text.mid(close + 2);
        return;
    }
    const int colon = text.indexOf(QLatin1Char(':'));
    *host = colon < 0 ? text : text.left(colon);
    *port = colon < 0 ? QString() : text.mid(colon + 1);
}

}  // namespace

SocketRow socketRow(const SockInfo& info)
{
    SocketRow row;
    row.protocol = info.protocol == 0 ? QStringLiteral("UDP") : QStringLiteral("TCP");
    const bool ipv6 = info.local.sin_family == AF_INET6;
    row.local = ipv6 ? endpointText6(info.local6, info.local) : endpointText(info.local);
    row.foreign = ipv6 ? endpointText6(info.foreign6, info.foreign) : endpointText(info.foreign);
    row.state = fieldText(info.state);
    row.program = fieldText(info.program);
    return row;
}

QString socketExpression(const QList<QPair<QString, QString>>& endpoints)
{
    QString result;
    for (const auto& [local, foreign] : endpoints) {
        QString l, lp, f, fp;
        splitEndpoint(local, &l, &lp);
        splitEndpoint(foreign, &f, &fp);
        // An unspecified part (a listening socket's peer 0.0.0.0:0, a socket bound to
        // every address) is on no packet: it adds no term instead of one that matches
        // nothing, so a listening socket selects all of its connections.
        QStringList terms;
        if (l != QLatin1String(kAnyAddress) && l != QLatin1String(kAnyAddress6))
            terms << QStringLiteral("host ") + l;
        if (lp != QLatin1String("0"))
            terms << QStringLiteral("port ") + lp;
        if (f != QLatin1String(kAnyAddress) && f != QLatin1String(kAnyAddress6))
            terms << QStringLiteral("host ") + f;
        if (fp != QLatin1String("0"))
            terms << QStringLiteral("port ") + fp;
        if (terms.isEmpty())
            continue;
        if (!result.isEmpty())
            result += QStringLiteral(" or");
        result += QStringLiteral(" ( ") + terms.join(QStringLiteral(" and ")) + QLatin1Char(')');
    }
    return result;
}
