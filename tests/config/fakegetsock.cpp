// SPDX-License-Identifier: GPL-2.0-or-later
// Stands in for the socket-listing helper: writes known SockInfo records to the
// descriptor named by argv[1]. The directory in NUK_FAKE_GETSOCK_DIR holds "mode"
// (normal, partial, silent) and a "runs" counter, shown in the state field.

#include "common/standin.h"
#include "sockrecord.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {
std::string readFile(const std::string& path)
{
    char buffer[64] = {};
    if (FILE* f = std::fopen(path.c_str(), "r")) {
        if (!std::fgets(buffer, sizeof buffer, f))
            buffer[0] = 0;
        std::fclose(f);
    }
    std::string text = buffer;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}
}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    const int fd = std::atoi(argv[1]);
    const char* dirValue = std::getenv("NUK_FAKE_GETSOCK_DIR");
    const std::string dir = dirValue ? dirValue : ".";
    const std::string mode = readFile(dir + "/mode");
    const int run = std::atoi(readFile(dir + "/runs").c_str()) + 1;
    if (FILE* f = std::fopen((dir + "/runs").c_str(), "w")) {
        std::fprintf(f, "%d\n", run);
        std::fclose(f);
    }
    if (mode == "silent") {
        pause();
        return 0;
    }
    char state[12];
    std::snprintf(state, sizeof state, "run %d", run);
    const SockInfo records[] = {
        makeSockInfo(17, "127.0.0.1", 631, "0.0.0.0", 0, state, "123/cupsd"),
        makeSockInfo(0, "0.0.0.0", 5353, "0.0.0.0", 0, state, "456/avahi"),
        makeSockInfo(6, "10.0.0.2", 40000, "93.184.216.34", 443, state, "789/a-very-long-name-cut"),  // cut at 20
        makeSockInfo6(6, "::1", 8080, "::", 0, state, "321/python3"),
        makeSockInfo6(6, "fd00:1234:5678:9abc:def0:1234:5678:9abc", 40001, "2001:db8::80", 443, state, "654/curl"),
    };
    if (mode == "partial") {
        // One whole record, then a record cut short; then wait to be killed.
        writeFully(fd, &records[0], sizeof records[0]);
        writeFully(fd, &records[1], 30);
        pause();
        return 0;
    }
    for (const SockInfo& info : records)
        if (!writeFully(fd, &info, sizeof info))
            return 1;
    return 0;
}
