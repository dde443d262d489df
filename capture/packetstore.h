// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Where the capture controller keeps the packets it builds: each CPacket and its
// payload side by side in large blocks of memory, until the store is destroyed.
//
// Built one by one on the heap, a million packets cost two allocations each and a
// few hundred thousand page faults as the heap grows page by page; here a block is
// one mapping that the kernel may back with huge pages, so the reader thread spends
// its time on the packets rather than on the memory under them.
//
// Not thread-safe: one thread (the reader) adds; the packets stay valid, and may be
// read from any thread, until the store is destroyed.

#include <cstddef>
#include <vector>

class CPacket;
struct RawPacket;

class PacketStore {
public:
    PacketStore() = default;
    PacketStore(const PacketStore&) = delete;
    PacketStore& operator=(const PacketStore&) = delete;
    ~PacketStore();

    // A packet built from `raw`, with its own copy of the payload; null when no
    // memory is left for it.
    CPacket* add(const RawPacket& raw);

    static constexpr std::size_t kBlockSize = std::size_t(32) << 20;

private:
    struct Block {
        unsigned char* data;
        std::size_t size;
        std::size_t used;
    };
    static std::size_t footprint(std::size_t payload);

    std::vector<Block> m_blocks;
};
