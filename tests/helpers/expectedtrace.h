#pragma once
// tshark's reading of a committed trace (<trace>.expected, written by
// tests/data/make-traces.sh), and the comparison of helper records with it.

#include "capture/cpacket.h"

#include <QByteArray>
#include <QString>
#include <vector>

struct ExpectedPacket {
    qint64 seconds = 0;
    qint64 microseconds = 0;
    QString src, dst;
    int protocol = 0;
    int ipHeaderLength = 0;
    int ipTotalLength = 0;
    quint16 srcPort = 0, dstPort = 0;
    quint32 seq = 0, ack = 0;
    int tcpFlags = 0;
    int tcpHeaderLength = 0;
    QByteArray payload;
};

std::vector<ExpectedPacket> loadExpected(const QString& path);

// Empty when the record matches, else a description of the first difference.
QString compareRecord(const CPacket& record, const ExpectedPacket& expected);
