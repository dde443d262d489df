// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Writing to a descriptor until everything is out (plain C++, no Qt; only write(),
// so it may be used where only async-signal-safe calls are allowed).

#include <cstddef>

// Writes all `size` bytes, retrying after signals. False when the descriptor
// fails or would block (a non-blocking descriptor that is full).
bool writeFully(int fd, const void* data, std::size_t size);
