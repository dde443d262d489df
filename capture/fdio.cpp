// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/fdio.h"

#include <cerrno>
#include <unistd.h>

bool writeFully(int fd, const void* data, std::size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= std::size_t(n);
    }
    return true;
}
