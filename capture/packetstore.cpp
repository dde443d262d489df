// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/packetstore.h"

#include "capture/cpacket.h"

#include <algorithm>
#include <new>
#include <sys/mman.h>

// A packet, its payload, and padding up to the next packet's alignment.
std::size_t PacketStore::footprint(std::size_t payload)
{
    return (sizeof(CPacket) + payload + alignof(CPacket) - 1) & ~(alignof(CPacket) - 1);
}

PacketStore::~PacketStore()
{
    for (const Block& block : m_blocks) {
        for (std::size_t at = 0; at < block.used;) {
            auto* packet = reinterpret_cast<CPacket*>(block.data + at);
            at += footprint(packet->payloadLength());
            packet->~CPacket();
        }
        ::munmap(block.data, block.size);
    }
}

CPacket* PacketStore::add(const RawPacket& raw)
{
    const std::size_t payload = CPacket::payloadSize(raw);
    const std::size_t bytes = footprint(payload);
    if (m_blocks.empty() || m_blocks.back().used + bytes > m_blocks.back().size) {
        const std::size_t size = std::max(kBlockSize, bytes);
        void* data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (data == MAP_FAILED)
            return nullptr;
        // Filled front to back and kept to the end: huge pages waste nothing here.
        ::madvise(data, size, MADV_HUGEPAGE);
        m_blocks.push_back(Block{static_cast<unsigned char*>(data), size, 0});
    }
    Block& block = m_blocks.back();
    unsigned char* at = block.data + block.used;
    block.used += bytes;
    return new (at) CPacket(&raw, payload ? at + sizeof(CPacket) : nullptr);
}
