// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Builds packet records byte by byte, as the capture helper writes them.

#include "capture/rawpacket.h"

#include <QByteArray>

#include <cstdint>
#include <cstring>
#include <optional>

struct RecordBuilder {
    unsigned char fixed[record::FixedSize] = {};
    QByteArray payload;

    RecordBuilder& header(std::int32_t sec, std::int32_t usec, std::int32_t type)
    {
        std::memcpy(fixed + record::Seconds, &sec, 4);
        std::memcpy(fixed + record::Microseconds, &usec, 4);
        std::memcpy(fixed + record::PacketType, &type, 4);
        return *this;
    }
    RecordBuilder& at(std::size_t offset, std::initializer_list<int> bytes)
    {
        for (int b : bytes)
            fixed[offset++] = static_cast<unsigned char>(b);
        return *this;
    }
    // The whole record; L = 160 + payload unless `length` overrides it.
    QByteArray bytes(std::optional<std::int32_t> length = std::nullopt) const
    {
        const std::int32_t l = length.value_or(std::int32_t(record::FixedSize + payload.size()));
        QByteArray out(reinterpret_cast<const char*>(fixed), record::FixedSize);
        std::memcpy(out.data() + record::Length, &l, 4);
        return out + payload;
    }
};
