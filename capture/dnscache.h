// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Process-wide cache from an address's text (dotted decimal, or the compressed IPv6
// form) to the text shown for it.
// Entries are only added, each mapping the text to itself; no name lookup is made.
// Safe from any thread; returned texts live as long as the process.

#include <mutex>
#include <string>
#include <unordered_set>

class DnsCache {
public:
    // The cached text for `address`, adding it first when it is new.
    const char* lookupOrAdd(const char* address);
    // The cached text, or null when `address` is not cached.
    const char* find(const char* address) const;
    std::size_t size() const;

private:
    mutable std::mutex m_mutex;
    std::unordered_set<std::string> m_names;
};

extern DnsCache g_dnsServer;
