// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/tcpstate/diagrampainter.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>

namespace tcpdiagram {

namespace {

constexpr int X = kWidth / 2;
constexpr int W = kWidth;
// The whole drawing sits this far below the picture's top.
constexpr int kTop = 30;

struct BoxPlace {
    const char* name;
    int x, y;
};
constexpr BoxPlace kBoxes[BoxCount] = {
    {"CLOSED", X - 50, 20},       {"LISTEN", X - 50, 100},     {"SYN_SENT", X + 150, 200},
    {"SYN_RCVD", X - 250, 200},   {"ESTABLISHED", X - 50, 300}, {"CLOSEWAIT", X + 150, 300},
    {"LAST_ACK", X + 150, 450},   {"FIN_WAIT_1", X - 250, 450}, {"CLOSING", X - 50, 450},
    {"FIN_WAIT_2", X - 250, 550}, {"TIME_WAIT", X - 50, 550},
};

struct Segment {
    int x1, y1, x2, y2, angle;
};
struct Label {
    int x, y;
    const char* text;
};
struct Transition {
    bool dashed;
    Segment segments[3];
    int segmentCount;
    int rotation;  // the labels' turn in degrees; 0: drawn upright
    Label labels[2];
    int labelCount;
};
// In drawing order, numbered from 1. Rotated labels are placed in the turned system.
constexpr Transition kTransitions[kTransitionCount] = {
    {true, {{X, 50, X, 100, 0}}, 1, 0, {{X - 100, 70, "appl: passive open"}, {X - 90, 85, "send: <nothing>"}}, 2},
    {false, {{X + 40, 50, X + 200, 200, -45}}, 1, 45, {{X + 30, -265, "appl:active open"}, {X + 30, -285, "send:SYN"}}, 2},
    {true, {{X - 40, 130, X - 200, 200, 60}}, 1, -24, {{X - 280, 260, "recv:SYN; send:SYN,ACK"}}, 1},
    {false, {{X - 180, 200, X - 20, 130, 240}}, 1, -24, {{X - 220, 288, "recv:RST"}}, 1},
    {false, {{X + 150, 215, X - 150, 215, 90}}, 1, 0, {{X - 40, 210, "recv:SYN"}, {X - 50, 230, "send:SYN,ACK"}}, 2},
    {false, {{X + 150, 225, X + 50, 300, 60}}, 1, -35, {{X - 180, 495, "recv:SYN, ACK"}, {X - 180, 515, "send:ACK"}}, 2},
    {false, {{X + 250, 215, W - 50, 215, -90}}, 1, 0, {{X + 270, 210, "appl:close"}, {X + 270, 230, "or timeout"}}, 2},
    {false, {{X - 150, 225, X - 50, 300, -45}}, 1, 37, {{X - 30, 25, "recv:ACK"}, {X - 30, 42, "send:<nothing>"}}, 2},
    {true, {{X + 60, 315, X + 150, 315, -90}}, 1, 0, {{X + 80, 310, "recv:FIN"}, {X + 80, 330, "send:ACK"}}, 2},
    {true, {{X + 200, 330, X + 200, 450, 0}}, 1, 0, {{X + 170, 370, "appl:close"}, {X + 170, 390, "send:FIN"}}, 2},
    {false, {{X - 50, 325, X - 150, 450, 45}}, 1, -50, {{X - 530, 470, "appl:close"}, {X - 530, 490, "send:FIN"}}, 2},
    {false, {{X - 150, 465, X - 50, 465, -90}}, 1, 0, {{X - 125, 460, "recv:FIN"}, {X - 130, 480, "send:ACK"}}, 2},
    {false, {{X - 150, 565, X - 50, 565, -90}}, 1, 0, {{X - 125, 560, "recv:FIN"}, {X - 130, 580, "send:ACK"}}, 2},
    {false, {{X - 200, 480, X - 200, 550, 0}}, 1, 0, {{X - 230, 500, "recv:ACK"}, {X - 240, 520, "send:<nothing>"}}, 2},
    {false, {{X, 480, X, 550, 0}}, 1, 0, {{X - 25, 500, "recv:ACK"}, {X - 35, 520, "send:<nothing>"}}, 2},
    {false, {{X - 150, 475, X - 50, 550, -45}}, 1, 37, {{X + 105, 225, "recv:FIN,ACK"}, {X + 105, 245, "send:ACK"}}, 2},
    {false, {{X + 50, 565, W - 50, 565, -90}, {W - 50, 565, W - 50, 35, 180}, {W - 50, 35, X + 50, 35, 90}}, 3, 0, {}, 0},
    {true, {{X + 250, 465, W - 50, 465, -90}}, 1, 0, {{X + 270, 460, "recv:ACK"}, {X + 270, 490, "send:<nothing>"}}, 2},
};

QColor colour(Rgb c) { return QColor(c.r, c.g, c.b); }

// Sizes in pixels: the coordinates above are pixels laid out for text of these
// heights, so the labels keep their places whatever the screen's resolution.
QFont times(int size, bool italic = false)
{
    QFont font(QStringLiteral("times"));
    font.setPixelSize(size);
    font.setBold(true);
    font.setItalic(italic);
    return font;
}

class Painter {
public:
    Painter(QPainter& p, int step, const TcpStickyFlags& sticky) : m_p(p), m_step(step), m_sticky(sticky) {}

    void draw()
    {
        m_p.setFont(times(12, true));
        m_p.setPen(Qt::black);
        text(X - 30, 15, "starting point");
        text(X - 20, 140, "passive open");
        text(X + 210, 245, "active open");
        text(X - 50, 345, "data transfer state");
        text(X - 50, 440, "simultaneous close");

        box(Closed);
        box(Listen);
        box(SynSent);
        transitions(1, 2);
        box(SynRcvd);
        transitions(3, 5);
        m_p.setFont(times(12, true));
        text(X - 50, 245, "simultaneous open");
        box(Established);
        transitions(6, 8);
        box(CloseWait);
        transitions(9, 9);
        box(LastAck);
        transitions(10, 10);
        frame(X + 140, 280, X + 260, 500, X + 165, 520, "passive close");
        box(FinWait1);
        transitions(11, 11);
        box(Closing);
        transitions(12, 12);
        box(FinWait2);
        box(TimeWait);
        m_p.setPen(Qt::black);
        text(X - 50, 590, "2MSL timeout");
        transitions(13, 18);
        frame(X - 280, 420, X + 80, 610, X - 140, 630, "active close");
        legend();
    }

private:
    void text(int x, int y, const char* s) { m_p.drawText(x, y, QString::fromLatin1(s)); }

    void box(Box b)
    {
        const BoxPlace& place = kBoxes[b];
        const QFont font = times(12);
        m_p.setFont(font);
        const QString name = QString::fromLatin1(place.name);
        const int width = std::max(80, QFontMetrics(font, m_p.device()).horizontalAdvance(name)) + 20;
        m_p.setPen(QPen(Qt::black, 1, Qt::SolidLine));
        m_p.setBrush(colour(rgb(boxShade(b, m_step, m_sticky))));
        m_p.drawRoundedRect(QRect(place.x, place.y, width, 30), 60, 60, Qt::RelativeSize);
        m_p.setBrush(Qt::NoBrush);
        m_p.drawText(QRect(place.x, place.y + 5, width, 20), Qt::AlignCenter, name);
    }

    void arrow(const Segment& s)
    {
        m_p.drawLine(s.x1, s.y1, s.x2, s.y2);
        m_p.save();
        m_p.translate(s.x2, s.y2);
        m_p.rotate(s.angle);
        m_p.drawLine(0, 0, -5, -15);
        m_p.drawLine(0, 0, 5, -15);
        m_p.restore();
    }

    void rotatedText(int x, int y, int angle, const char* s)
    {
        m_p.setFont(times(12));
        m_p.rotate(angle);
        text(x, y, s);
        m_p.rotate(-angle);
    }

    // Transitions first..last; their labels take their pen.
    void transitions(int first, int last)
    {
        for (int n = first; n <= last; ++n) {
            const Transition& t = kTransitions[n - 1];
            m_p.setPen(QPen(colour(rgb(transitionInk(n, m_step, m_sticky))), 1, t.dashed ? Qt::DashLine : Qt::SolidLine));
            for (int i = 0; i < t.segmentCount; ++i)
                arrow(t.segments[i]);
            for (int i = 0; i < t.labelCount; ++i) {
                const Label& l = t.labels[i];
                if (t.rotation)
                    rotatedText(l.x, l.y, t.rotation, l.text);
                else
                    text(l.x, l.y, l.text);
            }
        }
    }

    void frame(int left, int top, int right, int bottom, int captionX, int captionY, const char* caption)
    {
        m_p.setPen(QPen(Qt::black, 1, Qt::DashLine));
        m_p.drawRect(QRect(QPoint(left, top), QPoint(right, bottom)));
        m_p.setFont(times(12, true));
        text(captionX, captionY, caption);
    }

    void legend()
    {
        m_p.setPen(QPen(Qt::black, 1, Qt::SolidLine));
        arrow({X - 250, 660, X - 150, 660, -90});
        text(X - 140, 660, "indicate normal transitions for client");
        m_p.setPen(QPen(Qt::black, 1, Qt::DashLine));
        arrow({X - 250, 680, X - 150, 680, -90});
        text(X - 140, 680, "indicate normal transitions for server");
        text(X - 250, 700, "appl:       indicate state transitions taken when application issues operation");
        text(X - 250, 720, "recv:       indicate state transitions taken when segment received");
        text(X - 250, 740, "send:       indicate what is sent for this transition");
        m_p.setFont(times(14));
        text(X - 80, 780, "TCP state transition diagram");
    }

    QPainter& m_p;
    int m_step;
    const TcpStickyFlags& m_sticky;
};

}  // namespace

void paint(QPainter& painter, int step, const TcpStickyFlags& sticky)
{
    painter.save();
    painter.translate(0, kTop);
    Painter(painter, step, sticky).draw();
    painter.restore();
}

QPoint boxCorner(Box box) { return QPoint(kBoxes[box].x, kBoxes[box].y + kTop); }
const char* boxName(Box box) { return kBoxes[box].name; }

}  // namespace tcpdiagram
