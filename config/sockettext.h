// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Texts of the socket selection: a row from a SockInfo record, and the capture
// expression for chosen rows.

#include "capture/sockinfo.h"

#include <QList>
#include <QString>
#include <QStringList>

struct SocketRow {
    QString protocol;  // "UDP" for protocol 0, else "TCP"
    QString local;     // "a.b.c.d:port", or "[v6 address]:port" (compressed form)
    QString foreign;
    QString state;
    QString program;

    QStringList columns() const { return {protocol, local, foreign, state, program}; }
};

// The record's texts; the state and program fields are read only up to their
// field's end, terminated or not.
SocketRow socketRow(const SockInfo& info);

// " ( host L and port LP and host F and port FP)" per row, joined by " or".
// Each pair is a row's "Local Address" and "Foreign Address" text. Address
// 0.0.0.0 (or ::) and port 0 add no term: a listening socket (peer 0.0.0.0:0) on
// 0.0.0.0:80 gives " ( port 80)". A row with nothing specified adds nothing.
// An IPv6 end "[::1]:80" gives "host ::1 and port 80".
QString socketExpression(const QList<QPair<QString, QString>>& endpoints);
