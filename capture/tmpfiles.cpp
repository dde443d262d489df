// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/tmpfiles.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tmpfiles {

bool nameInto(char* buf, std::size_t len, const char* suffix)
{
    // Ignored when the program runs with raised rights: the caller's environment
    // must not choose where a capture helper with capture rights writes.
    const char* dir = secure_getenv("NUK_TMPDIR");
    if (!dir || !*dir)
        dir = "/tmp";
    int dirLength = int(std::strlen(dir));
    if (dirLength > 1 && dir[dirLength - 1] == '/')
        --dirLength;
    const int n = std::snprintf(buf, len, "%.*s/%u%s", dirLength, dir, unsigned(getuid()), suffix);
    return n > 0 && std::size_t(n) < len;
}

std::string path(const char* suffix)
{
    char name[PATH_MAX];
    return nameInto(name, sizeof name, suffix) ? std::string(name) : std::string();
}

int openPrivate(const std::string& path)
{
    // O_NONBLOCK: a FIFO planted under the name must not hang the helper.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0)
        return -1;
    struct stat st;
    int err = 0;
    if (fstat(fd, &st) != 0)
        err = errno;
    else if (!S_ISREG(st.st_mode) || st.st_uid != geteuid())
        err = EPERM;
    // Truncate only after the checks, and narrow the rights of a file left by an earlier run.
    else if (fchmod(fd, 0600) != 0 || ftruncate(fd, 0) != 0 || fcntl(fd, F_SETFL, 0) != 0)
        err = errno;
    if (err) {
        ::close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

int openOwnedForReading(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat st;
    int err = 0;
    if (fstat(fd, &st) != 0)
        err = errno;
    else if (!S_ISREG(st.st_mode) || st.st_uid != geteuid())
        err = EPERM;
    else if (fcntl(fd, F_SETFL, 0) != 0)
        err = errno;
    if (err) {
        ::close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

bool isForeign(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && (!S_ISREG(st.st_mode) || st.st_uid != geteuid());
}

std::string whyNotUsed(const std::string& path, int err)
{
    if (err == EPERM || err == ELOOP || isForeign(path))
        return path + " is not a regular file owned by you; not used";
    return path + ": " + std::strerror(err);
}

}  // namespace tmpfiles
