// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// An IPv4 or IPv6 address as a value: its family and its bytes in network order
// (an IPv4 address in the first four, the rest zero). Compares, orders (IPv4
// before IPv6, then by bytes, i.e. numerically) and hashes as a key, and writes
// the canonical text: dotted decimal, or the compressed IPv6 form of inet_ntop.
// An IPv4-mapped IPv6 address stays an IPv6 address here: the families are
// never mixed.

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
        a.m_bytes[0] = std::uint8_t(hostOrder >> 24);
        a.m_bytes[1] = std::uint8_t(hostOrder >> 16);
        a.m_bytes[2] = std::uint8_t(hostOrder >> 8);
        a.m_bytes[3] = std::uint8_t(hostOrder);
        return a;
    }
    static IpAddress fromV6(const unsigned char* bytes)
    {
        IpAddress a;
        a.m_family = V6;
        std::memcpy(a.m_bytes, bytes, 16);
        return a;
    }
    // Dotted decimal or any IPv6 text inet_pton takes; None when it is neither.
    static IpAddress fromText(const char* text);

    Family family() const { return Family(m_family); }
    bool isV6() const { return m_family == V6; }
    bool isNull() const { return m_family == None; }
    std::uint32_t v4() const
    {
        return (std::uint32_t(m_bytes[0]) << 24) | (std::uint32_t(m_bytes[1]) << 16) |
               (std::uint32_t(m_bytes[2]) << 8) | m_bytes[3];
    }
    const unsigned char* bytes() const { return m_bytes; }
    int byteCount() const { return m_family == V6 ? 16 : m_family == V4 ? 4 : 0; }

    // The canonical text into `buf` (at least TextSize bytes); gives `buf`.
    const char* text(char* buf) const;
    std::string text() const;

    bool operator==(const IpAddress& o) const
    {
        return m_family == o.m_family && std::memcmp(m_bytes, o.m_bytes, sizeof m_bytes) == 0;
    }
    bool operator<(const IpAddress& o) const
    {
        if (m_family != o.m_family)
            return m_family < o.m_family;
        return std::memcmp(m_bytes, o.m_bytes, sizeof m_bytes) < 0;
    }
    std::size_t hash() const
    {
        std::uint64_t hi, lo;
        std::memcpy(&hi, m_bytes, 8);
        std::memcpy(&lo, m_bytes + 8, 8);
        const std::uint64_t h = (hi * 0x9e3779b97f4a7c15ull) ^ (lo * 0xc2b2ae3d27d4eb4full) ^ m_family;
        return std::size_t(h ^ (h >> 29));
    }

private:
    std::uint8_t m_family = None;
    unsigned char m_bytes[16] = {};
};

template <>
struct std::hash<IpAddress> {
    std::size_t operator()(const IpAddress& a) const { return a.hash(); }
};

// For QHash keys.
inline std::size_t qHash(const IpAddress& a, std::size_t seed = 0) { return a.hash() ^ seed; }
