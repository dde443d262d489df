// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// An IPv4 or IPv6 address as a value: its family and its bytes in network order
// (an IPv4 address in the first four, the rest zero). Compares, orders (IPv4
// before IPv6, then by bytes, i.e. numerically) and hashes as a key, and writes
// the canonical text: dotted decimal, or the compressed IPv6 form of inet_ntop.
// An IPv4-mapped IPv6 address stays an IPv6 address here: the families are
// never mixed.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

class IpAddress {
public:
    enum Family : std::uint8_t { None = 0, V4 = 4, V6 = 6 };
    // Longest text, with its terminating null (INET6_ADDRSTRLEN).
    static constexpr std::size_t TextSize = 46;

    IpAddress() = default;
    static IpAddress fromV4(std::uint32_t hostOrder)
    {
        IpAddress a;
        a.m_family = V4;
        a.m_high = std::uint64_t(hostOrder) << 32;
        return a;
    }
    static IpAddress fromV6(const unsigned char* bytes)
    {
        IpAddress a;
        a.m_family = V6;
        a.m_high = load(bytes);
        a.m_low = load(bytes + 8);
        return a;
    }
    // Dotted decimal or any IPv6 text inet_pton takes; None when it is neither.
    static IpAddress fromText(const char* text);

    Family family() const { return Family(m_family); }
    bool isV6() const { return m_family == V6; }
    bool isNull() const { return m_family == None; }
    std::uint32_t v4() const { return std::uint32_t(m_high >> 32); }
    // The bytes in network order (an IPv4 address in the first four, the rest zero).
    std::array<unsigned char, 16> bytes() const
    {
        std::array<unsigned char, 16> out;
        for (int i = 0; i < 8; ++i) {
            out[std::size_t(i)] = static_cast<unsigned char>(m_high >> (56 - 8 * i));
            out[std::size_t(8 + i)] = static_cast<unsigned char>(m_low >> (56 - 8 * i));
        }
        return out;
    }

    // The canonical text into `buf` (at least TextSize bytes); gives `buf`.
    const char* text(char* buf) const;
    std::string text() const;

    // Two words compared as numbers: the bytes in network order, as memcmp would.
    bool operator==(const IpAddress& o) const
    {
        return m_high == o.m_high && m_low == o.m_low && m_family == o.m_family;
    }
    bool operator!=(const IpAddress& o) const { return !(*this == o); }
    bool operator<(const IpAddress& o) const
    {
        if (m_family != o.m_family)
            return m_family < o.m_family;
        return m_high != o.m_high ? m_high < o.m_high : m_low < o.m_low;
    }
    std::size_t hash() const
    {
        const std::uint64_t h = (m_high * 0x9e3779b97f4a7c15ull) ^ (m_low * 0xc2b2ae3d27d4eb4full) ^ m_family;
        return std::size_t(h ^ (h >> 29));
    }

private:
    static std::uint64_t load(const unsigned char* p)
    {
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i)
            v = (v << 8) | p[i];
        return v;
    }

    std::uint64_t m_high = 0, m_low = 0;  // bytes 0-7 and 8-15, big-endian
    std::uint8_t m_family = None;
};

template <>
struct std::hash<IpAddress> {
    std::size_t operator()(const IpAddress& a) const { return a.hash(); }
};

// For QHash keys.
inline std::size_t qHash(const IpAddress& a, std::size_t seed = 0) { return a.hash() ^ seed; }
