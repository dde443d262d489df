// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Connection test helpers: traces filed into connections, tshark's reassembly of
// the same traces (tests/data/connections/make_traces.sh), bytes of runs.

#include "packetfixtures.h"
#include "views/packets/connectiontable.h"

namespace fixtures {

// One conversation as tshark follows it: node 0 opened it.
struct Followed {
    QString protocol, node0, node1;  // "tcp", "10.0.0.1:40000", ...
    QByteArray bytes0, bytes1;       // what each node sent, each byte once, in order
};

inline std::vector<Followed> readFollow(const QString& path)
{
    std::vector<Followed> out;
    for (const QStringList& row : readTsv(path))
        out.push_back({row[0], row[1], row[2], QByteArray::fromHex(row.value(3).toLatin1()),
                       QByteArray::fromHex(row.value(4).toLatin1())});
    return out;
}

// "10.0.0.1:40000" as a connection's end point text.
inline QString endPoint(const QString& hostPort)
{
    // tshark writes an IPv6 host in brackets: "[::1]:8080".
    const qsizetype colon = hostPort.lastIndexOf(QLatin1Char(':'));
    QString host = hostPort.left(colon);
    if (host.startsWith(QLatin1Char('[')))
        host = host.mid(1, host.size() - 2);
    return host + QStringLiteral("    <") + hostPort.mid(colon + 1) + QStringLiteral("> ");
}

inline QByteArray joined(const std::vector<ByteRun>& runs)
{
    QByteArray out;
    for (const ByteRun& r : runs)
        out.append(reinterpret_cast<const char*>(r.data), qsizetype(r.length));
    return out;
}

// Every packet of the trace filed into one table; the packets stay in `trace`.
inline void fileAll(ConnectionTable& table, const std::vector<TracePacket>& trace)
{
    for (const TracePacket& t : trace)
        table.file(t.packet.get());
}

}  // namespace fixtures
