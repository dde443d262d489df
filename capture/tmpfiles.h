#pragma once
// The temporary files shared by the GUI and the capture helper (plain C++, no Qt):
// "<dir>/<uid><suffix>", where <dir> is /tmp or, for tests only, the directory
// named by NUK_TMPDIR.

#include <cstddef>
#include <string>

namespace tmpfiles {
constexpr const char* kDefaultTrace = "_NukDefaultTraceFile";
constexpr const char* kAppSockets = "_NukAppSockFile";
constexpr const char* kSynPackets = "_Nuk_Syn_Packets";

// Writes the name into `buf` without allocating (start-up builds the names the
// signal handlers use this way). False when it does not fit.
bool nameInto(char* buf, std::size_t len, const char* suffix);
std::string path(const char* suffix);

// Opens `path` for writing, truncated, owner-only. Refuses a symbolic link,
// anything but a regular file and a file owned by another user.
// Returns the descriptor, or -1 with errno set (ELOOP for a link, EPERM for a foreign file).
int openPrivate(const std::string& path);
}  // namespace tmpfiles
