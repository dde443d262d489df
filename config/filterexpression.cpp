// SPDX-License-Identifier: GPL-2.0-or-later
#include "config/filterexpression.h"

#include "capture/filtercompile.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <pcap/pcap.h>
#include <sys/socket.h>

namespace {

const QString kAnyAddressDst = QStringLiteral("DST:*") + QString(15, QLatin1Char(' '));
const QString kAnyAddressSrc = QStringLiteral("SRC:*") + QString(14, QLatin1Char(' '));
constexpr int kAddressWidth = 20;

bool isDecimal(const QString& text, int maxDigits)
{
    if (text.isEmpty() || text.size() > maxDigits)
        return false;
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

// Host names go into the expression as typed, so only name characters pass.
bool isHostNameText(const QString& text)
{
    if (text.isEmpty() || text.size() > 253)
        return false;
    for (QChar c : text) {
        const bool ok = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-') || c == QLatin1Char('.')
            || c == QLatin1Char('_');
        if (!ok)
            return false;
    }
    return true;
}

QString entryClause(const FilterEntry& entry, const QString& direction)
{
    QString clause = QStringLiteral("(");
    if (!entry.address.isEmpty())
        clause += QLatin1Char(' ') + direction + QStringLiteral(" host ") + entry.address;
    if (!entry.address.isEmpty() && !entry.port.isEmpty())
        clause += QStringLiteral(" and");
    if (!entry.port.isEmpty())
        clause += QLatin1Char(' ') + direction + QStringLiteral(" port ") + entry.port;
    return clause + QLatin1Char(')');
}

// "(( e1) or ( e2))": the entries of one list are alternatives.
QString listGroup(const QStringList& entries, const QString& direction)
{
    QStringList clauses;
    for (const QString& text : entries) {
        FilterEntry entry;
        if (parseFilterEntry(text, &entry))
            clauses << entryClause(entry, direction);
    }
    if (clauses.isEmpty())
        return QString();
    return QLatin1Char('(') + clauses.join(QStringLiteral(" or ")) + QLatin1Char(')');
}

}  // namespace

int checkIp(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return -1;
    for (const QString& part : parts) {
        if (!isDecimal(part, 3) || part.toInt() > 255)
            return -1;
    }
    return 0;
}

bool checkAddr(const QString& text)
{
    return checkIp(text) == 0;
}

QString canonicalIp(const QString& text)
{
    QStringList parts = text.split(QLatin1Char('.'));
    for (QString& part : parts)
        part = QString::number(part.toInt());
    return parts.join(QLatin1Char('.'));
}

bool checkIp6(const QString& text)
{
    in6_addr a;
    return text.size() <= 45 && inet_pton(AF_INET6, text.toLatin1().constData(), &a) == 1;
}

QString canonicalIp6(const QString& text)
{
    in6_addr a;
    if (inet_pton(AF_INET6, text.toLatin1().constData(), &a) != 1)
        return text;
    char out[INET6_ADDRSTRLEN] = "";
    if (IN6_IS_ADDR_V4MAPPED(&a))
        inet_ntop(AF_INET, a.s6_addr + 12, out, sizeof out);
    else
        inet_ntop(AF_INET6, &a, out, sizeof out);
    return QString::fromLatin1(out);
}

bool checkHost(const QString& text)
{
    if (!isHostNameText(text))
        return false;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (getaddrinfo(text.toLatin1().constData(), nullptr, &hints, &result) != 0 || !result)
        return false;
    freeaddrinfo(result);
    return true;
}

bool checkPort(const QString& text)
{
    if (!isDecimal(text, 5))
        return false;
    const int port = text.toInt();
    return port >= 1 && port <= 65535;
}

QString filterEntryText(FilterSide side, const FilterEntry& entry)
{
    QString text;
    if (entry.address.isEmpty()) {
        text = side == FilterSide::Destination ? kAnyAddressDst : kAnyAddressSrc;
    } else {
        text = (side == FilterSide::Destination ? QStringLiteral("DST:") : QStringLiteral("SRC:")) + entry.address;
        if (text.size() < kAddressWidth)
            text += QString(kAddressWidth - text.size(), QLatin1Char(' '));
    }
    if (entry.port.isEmpty())
        return text + QStringLiteral("PORT:* ");
    return text + QStringLiteral("PORT:") + entry.port;
}

bool parseFilterEntry(const QString& text, FilterEntry* entry)
{
    if (!text.startsWith(QLatin1String("DST:")) && !text.startsWith(QLatin1String("SRC:")))
        return false;
    const QString rest = text.mid(4);
    const int portAt = rest.lastIndexOf(QLatin1String("PORT:"));
    if (portAt < 0)
        return false;
    QString address = rest.left(portAt).trimmed();
    QString port = rest.mid(portAt + 5).trimmed();
    if (address == QLatin1String("*"))
        address.clear();
    if (port == QLatin1String("*"))
        port.clear();
    if (address.isEmpty() && port.isEmpty())
        return false;
    entry->address = address;
    entry->port = port;
    return true;
}

BuildResult buildFilterExpression(const FilterChoice& choice, QString* out)
{
    const QString destinations = listGroup(choice.destinations, QStringLiteral("dst"));
    const QString sources = listGroup(choice.sources, QStringLiteral("src"));

    QString body;
    if (!destinations.isEmpty() && !sources.isEmpty()) {
        if (choice.relationship == Relationship::None)
            return BuildResult::MissingRelationship;
        const QString join = choice.relationship == Relationship::And ? QStringLiteral(" and ") : QStringLiteral(" or ");
        body = QLatin1Char('(') + destinations + join + sources + QLatin1Char(')');
    } else {
        body = destinations.isEmpty() ? sources : destinations;
    }

    QString protocol;
    if (choice.tcp && choice.udp)
        protocol = body.isEmpty() ? QStringLiteral(" tcp or udp") : QStringLiteral(" (tcp or udp)");
    else if (!choice.udp)
        protocol = QStringLiteral(" tcp");
    else
        protocol = QStringLiteral(" udp");

    *out = body.isEmpty() ? protocol : protocol + QStringLiteral(" and ") + body;
    return BuildResult::Ok;
}

QString filterCompileError(const QString& expression)
{
    pcap_t* handle = pcap_open_dead(DLT_EN10MB, 65535);
    if (!handle)
        return QStringLiteral("libpcap could not be initialised");
    // In a child under limits: a long expression would keep libpcap busy for minutes.
    FilterCompileChild child;
    static const std::sig_atomic_t never = 0;
    const auto outcome = compileStoppably(child, handle, expression.toStdString(), PCAP_NETMASK_UNKNOWN, false, never);
    pcap_close(handle);
    switch (outcome) {
    case FilterCompileChild::Outcome::Compiled:
        return QString();
    case FilterCompileChild::Outcome::TooComplex:
        return QString::fromLatin1(kFilterTooComplex);
    default:
        return QString::fromLocal8Bit(child.message().c_str());
    }
}
