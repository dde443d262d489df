// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/dnscache.h"

DnsCache g_dnsServer;

const char* DnsCache::lookupOrAdd(const char* address)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // unordered_set nodes never move, so the pointer stays valid.
    return m_names.emplace(address).first->c_str();
}

const char* DnsCache::find(const char* address) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_names.find(address);
    return it == m_names.end() ? nullptr : it->c_str();
}

std::size_t DnsCache::size() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_names.size();
}
