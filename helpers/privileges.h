// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The capture helper may run with raised rights (the cap_net_raw file capability,
// or as root). It needs them only to open its capture devices.

// Clears every capability of this process (effective, permitted, inheritable,
// ambient), so that nothing it does afterwards — reading traces, writing the
// temporary files, parsing packets — runs with raised rights. With
// `keepProcessInspection` a root helper keeps what it needs to read other users'
// /proc entries (following a program in mode 3). False when the kernel refused.
bool dropCapabilities(bool keepProcessInspection);
