// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The temporary files shared by the GUI and the capture helper (plain C++, no Qt):
// "<dir>/<uid><suffix>", where <dir> is /tmp or, for tests only, the directory
// named by NUK_TMPDIR (ignored by a program running with raised rights).

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

// Opens `path` for reading, without following a link and without waiting on a
// FIFO, and keeps it only when it is a regular file owned by this user.
// Returns the descriptor, or -1 with errno set (EPERM when something else sits there).
int openOwnedForReading(const std::string& path);

// True when something sits at `path` that is not a regular file owned by this
// user: a link, a FIFO, a device, another user's file.
bool isForeign(const std::string& path);

// The one-line reason a temporary file was not used after an open failed with `err`:
// "<path> is not a regular file owned by you; not used" for a foreign one.
std::string whyNotUsed(const std::string& path, int err);
}  // namespace tmpfiles
