// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/capturecounts.h"

#include <charconv>

namespace {
constexpr std::string_view kPrefix = "pcap: ";

// Reads a decimal number followed by `words`; false unless both are there.
bool numberThen(std::string_view& text, std::string_view words, std::uint64_t& out)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    if (error != std::errc())
        return false;
    text.remove_prefix(std::size_t(end - text.data()));
    if (text.substr(0, words.size()) != words)
        return false;
    text.remove_prefix(words.size());
    return true;
}
}  // namespace

bool CaptureCounts::take(std::string_view line)
{
    if (line.substr(0, kPrefix.size()) != kPrefix)
        return false;
    std::string_view text = line.substr(kPrefix.size());
    // A device's own line: its name ends with ": " before the first number.
    bool device = false;
    if (const std::size_t colon = text.find(": "); colon != std::string_view::npos && colon > 0 &&
                                                   text.substr(0, colon).find(' ') == std::string_view::npos) {
        device = true;
        text.remove_prefix(colon + 2);
    }
    std::uint64_t captured, received, kernel, interface;
    std::string_view rest = text;
    const bool plural = numberThen(rest, " packets captured, ", captured);
    if (!plural) {
        rest = text;
        if (!numberThen(rest, " packet captured, ", captured))
            return false;
    }
    if (!numberThen(rest, " received by the filter, ", received) ||
        !numberThen(rest, " dropped by the kernel, ", kernel) ||
        !numberThen(rest, " dropped by the interface", interface) || !rest.empty())
        return false;
    if (!device) {
        m_known = true;
        m_captured = captured;
        m_received = received;
        m_kernelDrops = kernel;
        m_interfaceDrops = interface;
    }
    return true;
}
