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
// Fresh memory costs most when first touched (the kernel clears every page, and a
// virtual machine's host may have to provide it too), so once a block is half full
// a thread of its own maps and touches the next one, off the reader's path.
//
// Not thread-safe: one thread (the reader) adds; the packets stay valid, and may be
// read from any thread, until the store is destroyed.

#include <cstddef>
#include <future>
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
    // A block of `size` bytes; data is null when no memory is left.
    static Block map(std::size_t size, bool touch);
    bool addBlock(std::size_t bytes);

    std::vector<Block> m_blocks;
    std::future<Block> m_next;  // the next standard block, being mapped and touched
};
