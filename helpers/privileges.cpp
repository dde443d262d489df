// SPDX-License-Identifier: GPL-2.0-or-later
#include "helpers/privileges.h"

#include <initializer_list>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

bool dropCapabilities(bool keepProcessInspection)
{
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    __user_cap_header_struct header{};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (keepProcessInspection && getuid() == 0) {
        for (int cap : {CAP_SYS_PTRACE, CAP_DAC_READ_SEARCH}) {
            data[cap / 32].effective |= 1u << (cap % 32);
            data[cap / 32].permitted |= 1u << (cap % 32);
        }
    }
    return syscall(SYS_capset, &header, data) == 0;
}
