// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Figures of this process from /proc/self/status, for the benchmarks.

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

// The value of a line such as "VmRSS:" or "VmHWM:", in kB (0 when missing).
inline long statusKb(const char* key)
{
    std::ifstream f("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(key);
    while (std::getline(f, line))
        if (line.compare(0, n, key) == 0)
            return std::atol(line.c_str() + n + 1);
    return 0;
}
