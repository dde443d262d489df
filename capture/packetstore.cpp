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
    if (m_next.valid())
        if (const Block next = m_next.get(); next.data)
            ::munmap(next.data, next.size);
    for (const Block& block : m_blocks) {
        for (std::size_t at = 0; at < block.used;) {
            auto* packet = reinterpret_cast<CPacket*>(block.data + at);
            at += footprint(packet->payloadLength());
            packet->~CPacket();
        }
        ::munmap(block.data, block.size);
    }
}

PacketStore::Block PacketStore::map(std::size_t size, bool touch)
{
    void* data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (data == MAP_FAILED)
        return Block{nullptr, 0, 0};
    // Filled front to back and kept to the end: huge pages waste nothing here.
    ::madvise(data, size, MADV_HUGEPAGE);
    auto* bytes = static_cast<unsigned char*>(data);
    if (touch)
        for (std::size_t at = 0; at < size; at += 4096)
            bytes[at] = 0;
    return Block{bytes, size, 0};
}

bool PacketStore::addBlock(std::size_t bytes)
{
    Block block{nullptr, 0, 0};
    if (bytes <= kBlockSize && m_next.valid())
        block = m_next.get();
    if (!block.data)
        block = map(std::max(kBlockSize, bytes), false);
    if (!block.data)
        return false;
    m_blocks.push_back(block);
    return true;
}

CPacket* PacketStore::add(const RawPacket& raw)
{
    const std::size_t payload = CPacket::payloadSize(raw);
    const std::size_t bytes = footprint(payload);
    if ((m_blocks.empty() || m_blocks.back().used + bytes > m_blocks.back().size) && !addBlock(bytes))
        return nullptr;
    Block& block = m_blocks.back();
    unsigned char* at = block.data + block.used;
    block.used += bytes;
    if (!m_next.valid() && block.used > block.size / 2)
        m_next = std::async(std::launch::async, [] { return map(kBlockSize, true); });
    return new (at) CPacket(&raw, payload ? at + sizeof(CPacket) : nullptr);
}
