// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// One time line record as a line of JSON, for nukdump --timeline:
// {"no","from","to","x1","y1","x2","y2","angle","tcp","v1","v2","bytes","syn","fin"}
// in that order; a UDP record leaves out v2, syn and fin. `angle` is the stored
// double in its shortest exact form.

#include <QByteArray>
#include <QString>

struct theTimeLines;

namespace timelinejson {
QByteArray line(const theTimeLines& record, const QString& from, const QString& to);
}  // namespace timelinejson
