// SPDX-License-Identifier: GPL-2.0-or-later
#include "config/sockettext.h"

#include <cstring>

namespace {

constexpr char kAnyAddress[] = "0.0.0.0";

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

// "a.b.c.d:port" split at its first ":".
void splitEndpoint(const QString& text, QString* host, QString* port)
{
    const int colon = text.indexOf(QLatin1Char(':'));
    *host = colon < 0 ? text : text.left(colon);
    *port = colon < 0 ? QString() : text.mid(colon + 1);
}

}  // namespace

SocketRow socketRow(const SockInfo& info)
{
    SocketRow row;
    row.protocol = info.protocol == 0 ? QStringLiteral("UDP") : QStringLiteral("TCP");
    row.local = endpointText(info.local);
    row.foreign = endpointText(info.foreign);
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
        if (l != QLatin1String(kAnyAddress))
            terms << QStringLiteral("host ") + l;
        if (lp != QLatin1String("0"))
            terms << QStringLiteral("port ") + lp;
        if (f != QLatin1String(kAnyAddress))
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
