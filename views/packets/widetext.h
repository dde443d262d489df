// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What a wide character pane shows: runs of payload bytes, each with a colour, read
// as one stream of 58 characters a row. The bytes stay in the packets (owned by the
// capture controller); a run only points at them, so showing a conversation of
// 100,000 packets costs one small record per packet.
//
// The live colouring follows each conversation's own end point 1, the source address
// and port of its first packet: red what it sent, blue what the other end sent,
// every time a conversation is shown (also when both ends share one address).

#include "views/packets/connection.h"

#include <QByteArray>

#include <algorithm>
#include <cstdint>
#include <vector>

struct ColoredText {
    enum Colour : std::uint8_t { Red, Blue, Black };
    const unsigned char* data;
    std::uint32_t length;
    Colour colour;
};

class WideText {
public:
    static constexpr int RowBytes = 58;

    // Every packet's payload in arrival order, coloured by direction.
    void showLive(const Connection& connection);
    // Runs in one colour.
    void showRuns(const std::vector<ByteRun>& runs, ColoredText::Colour colour);
    void clear();

    const std::vector<ColoredText>& runs() const { return m_runs; }
    std::uint64_t size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }
    // Rows begun while drawing: a new row starts after every 58th byte.
    std::uint64_t rowsStarted() const { return m_size / RowBytes + 1; }
    // Calls f(byte, colour) for the bytes [from, to), in order.
    template <typename F>
    void forEach(std::uint64_t from, std::uint64_t to, F f) const;
    QByteArray bytes() const;

private:
    void append(const unsigned char* data, std::uint32_t length, ColoredText::Colour colour);

    std::vector<ColoredText> m_runs;    // non-empty runs
    std::vector<std::uint64_t> m_starts;  // stream offset of each run
    std::uint64_t m_size = 0;
};

template <typename F>
void WideText::forEach(std::uint64_t from, std::uint64_t to, F f) const
{
    to = std::min(to, m_size);
    if (from >= to)
        return;
    std::size_t r = std::size_t(std::upper_bound(m_starts.begin(), m_starts.end(), from) - m_starts.begin()) - 1;
    std::uint64_t at = from;
    while (at < to) {
        const ColoredText& run = m_runs[r];
        const std::uint64_t end = std::min<std::uint64_t>(m_starts[r] + run.length, to);
        for (; at < end; ++at)
            f(run.data[at - m_starts[r]], run.colour);
        ++r;
    }
}
