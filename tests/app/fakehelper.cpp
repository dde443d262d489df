// SPDX-License-Identifier: GPL-2.0-or-later
// Stands in for the capture and socket-listing helpers in process tests: writes its
// argument vector, one per line, to $NUK_FAKE_ARGS.<argv0>, says a line on standard
// error, and waits; on SIGTERM it appends "TERM" and exits.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {
std::string g_out;
void onTerm(int)
{
    FILE* f = std::fopen(g_out.c_str(), "a");
    if (f) {
        std::fputs("TERM\n", f);
        std::fclose(f);
    }
    _exit(0);
}
}  // namespace

int main(int argc, char** argv)
{
    const char* base = std::getenv("NUK_FAKE_ARGS");
    if (!base)
        return 3;
    g_out = std::string(base) + "." + argv[0];
    std::signal(SIGTERM, onTerm);
    std::string tmp = g_out + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "w");
    if (!f)
        return 4;
    for (int i = 0; i < argc; ++i)
        std::fprintf(f, "%s\n", argv[i]);
    std::fclose(f);
    std::rename(tmp.c_str(), g_out.c_str());
    std::fprintf(stderr, "%s: helper says hello\n", argv[0]);
    for (;;)
        pause();
}
