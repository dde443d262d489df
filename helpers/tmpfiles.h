#pragma once
// The helper's temporary files: "<dir>/<uid><suffix>", where <dir> is /tmp or,
// for tests only, the directory named by NUK_TMPDIR.

#include <string>

namespace tmpfiles {
constexpr const char* kDefaultTrace = "_NukDefaultTraceFile";
constexpr const char* kAppSockets = "_NukAppSockFile";
constexpr const char* kSynPackets = "_Nuk_Syn_Packets";

std::string path(const char* suffix);

// Opens `path` for writing, truncated, owner-only. Refuses a symbolic link,
// anything but a regular file and a file owned by another user.
// Returns the descriptor, or -1 with errno set (ELOOP for a link, EPERM for a foreign file).
int openPrivate(const std::string& path);
}  // namespace tmpfiles
