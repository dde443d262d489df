// Stands in for the socket-listing helper: writes known SockInfo records to the
// descriptor named by argv[1]. The directory in NUK_FAKE_GETSOCK_DIR holds "mode"
// (normal, partial, silent) and a "runs" counter, shown in the state field.

#include "capture/sockinfo.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

std::string readFile(const std::string& path)
{
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "r")) {
        char buffer[64] = {};
        if (std::fgets(buffer, sizeof buffer, f))
            text = buffer;
        std::fclose(f);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

SockInfo record(int protocol, const char* local, unsigned short localPort, const char* foreign,
                unsigned short foreignPort, const char* state, const char* program, std::size_t programBytes)
{
    SockInfo info;
    std::memset(&info, 0, sizeof info);
    info.protocol = protocol;
    info.local.sin_family = AF_INET;
    info.local.sin_port = localPort;  // host byte order, as the helper sends it
    inet_pton(AF_INET, local, &info.local.sin_addr);
    info.foreign.sin_family = AF_INET;
    info.foreign.sin_port = foreignPort;
    inet_pton(AF_INET, foreign, &info.foreign.sin_addr);
    std::snprintf(info.state, sizeof info.state, "%s", state);
    std::memcpy(info.program, program, programBytes);
    return info;
}

bool writeAll(int fd, const void* data, std::size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n <= 0)
            return false;
        p += n;
        size -= std::size_t(n);
    }
    return true;
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
    const char longName[] = "789/a-very-long-name-cut";  // fills the 20-byte field, no terminator
    const SockInfo records[] = {
        record(17, "127.0.0.1", 631, "0.0.0.0", 0, state, "123/cupsd", 10),
        record(0, "0.0.0.0", 5353, "0.0.0.0", 0, state, "456/avahi", 10),
        record(6, "10.0.0.2", 40000, "93.184.216.34", 443, state, longName, 20),
    };
    if (mode == "partial") {
        // One whole record, then a record cut short; then wait to be killed.
        writeAll(fd, &records[0], sizeof records[0]);
        writeAll(fd, &records[1], 30);
        pause();
        return 0;
    }
    for (const SockInfo& info : records)
        if (!writeAll(fd, &info, sizeof info))
            return 1;
    return 0;
}
