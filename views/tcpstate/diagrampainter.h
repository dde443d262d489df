// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Paints the textbook TCP state transition diagram, its boxes and transitions
// coloured for a step code and sticky flags (see diagramstyle.h). The picture is
// 800 x 830 pixels; the window and "Export as Image..." share this painting.

#include "views/tcpstate/diagramstyle.h"

#include <QPoint>
#include <QSize>

class QPainter;

namespace tcpdiagram {

constexpr int kWidth = 800;
constexpr int kHeight = 830;
constexpr QSize kSize(kWidth, kHeight);

// The picture on a painter whose origin is the picture's top-left corner. Leaves
// the painter as it found it.
void paint(QPainter& painter, int step, const TcpStickyFlags& sticky);

// The top-left corner of a state box in the picture.
QPoint boxCorner(Box box);
const char* boxName(Box box);

}  // namespace tcpdiagram
