// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What the capture filter dialog means, without the widgets: address and port
// checks, the text of a list entry, and the tcpdump expression built from the
// dialog's choices.

#include <QString>
#include <QStringList>

// 0 when `text` is a dotted quad: exactly four decimal parts, each 0 to 255; -1 otherwise.
int checkIp(const QString& text);
// True when `text` is a usable IPv4 address. No reverse name is required: most
// private addresses have none.
bool checkAddr(const QString& text);
// A valid dotted quad without leading zeros ("010.1.1.1" -> "10.1.1.1"), so that
// no reader takes a part for octal.
QString canonicalIp(const QString& text);
// True when `text` is an IPv6 address in any form inet_pton takes ("::1",
// "fd00:0:0:0:0:0:0:b", "::ffff:10.0.0.1").
bool checkIp6(const QString& text);
// A valid IPv6 address in its compressed form (RFC 5952, what inet_ntop writes);
// an IPv4-mapped one (::ffff:a.b.c.d) as the IPv4 address it is, the form its
// packets carry.
QString canonicalIp6(const QString& text);
// True when a forward lookup of the host name `text` finds an IPv4 or IPv6 address.
bool checkHost(const QString& text);
// True for a decimal port number from 1 to 65535.
bool checkPort(const QString& text);

// A list entry: an address or host name and a port; an empty part means "any".
enum class FilterSide { Destination, Source };
struct FilterEntry {
    QString address;
    QString port;
};

// "DST:" + address padded to 20 characters, or "DST:*" + 15 blanks ("SRC:*" + 14),
// followed by "PORT:" + port or "PORT:* ".
QString filterEntryText(FilterSide side, const FilterEntry& entry);
// The entry back from its text; false when the text is not an entry.
bool parseFilterEntry(const QString& text, FilterEntry* entry);

enum class Relationship { None, Or, And };

struct FilterChoice {
    bool tcp = true;
    bool udp = false;
    QStringList destinations;  // entry texts, in list order
    QStringList sources;
    Relationship relationship = Relationship::None;
};

enum class BuildResult { Ok, MissingRelationship };

// Builds the expression into `out` (left alone unless Ok). Each entry needs all of
// its own terms, the entries of one list are alternatives, the two lists are joined
// by the relationship and the protocol clause applies to all of it:
//   " tcp and (( dst host 10.1.1.5 and dst port 80) or ( dst port 22))"
BuildResult buildFilterExpression(const FilterChoice& choice, QString* out);

// Empty when libpcap compiles `expression` for Ethernet, else libpcap's message or
// "filter expression too complex". Blocks until the compile (in a child) is done.
QString filterCompileError(const QString& expression);
