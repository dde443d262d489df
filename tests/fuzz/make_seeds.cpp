// SPDX-License-Identifier: GPL-2.0-or-later
// Seeds for the fuzz targets, cut from the committed traces:
//   make_seeds <out dir> <trace>...
// <out>/frames/<n>: a link kind byte, then one captured frame (fuzz_framerecord);
// <out>/records/<n>: a piece size byte, then the records of a trace's first frames
// as the capture helper writes them (fuzz_recordframer, fuzz_decoder);
// <out>/pcapng/<n>: each pcapng trace whole (fuzz_pcapng);
// <out>/proclines/<n>: a table byte, then a line of /proc/net/tcp or tcp6 (fuzz_procsockets).

#include "helpers/framerecord.h"
#include "helpers/pcapngreader.h"
#include "helpers/pipeline.h"

#include <pcap/pcap.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {
constexpr int kFramesPerTrace = 24;
constexpr int kRecordsPerSeed = 12;

bool writeFile(const std::string& path, const std::vector<unsigned char>& bytes)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}
std::vector<unsigned char> readFile(const std::string& path)
{
    std::vector<unsigned char> bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        unsigned char chunk[65536];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
            bytes.insert(bytes.end(), chunk, chunk + n);
        std::fclose(f);
    }
    return bytes;
}
}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_seeds <out dir> <trace>...\n");
        return 2;
    }
    const std::string out = argv[1];
    for (const char* sub : {"", "/frames", "/records", "/pcapng", "/proclines"})
        ::mkdir((out + sub).c_str(), 0755);
    // Socket table lines: IPv4, ::1, an IPv4-mapped pair; the byte before each picks the table.
    const char* const procLines[] = {
        "\x01   0: 0100007F:0277 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 12345 1",
        "\x03   1: 00000000000000000000000001000000:1F90 00000000000000000000000000000000:0000 0A 00000000:00000000 "
        "00:00000000 00000000  1000        0 777 1 0000000000000000 100 0 0 10 0",
        "\x02   2: 0000000000000000FFFF00000100007F:0035 0000000000000000FFFF00000100007F:D000 01 00000000:00000000 "
        "00:00000000 00000000     0        0 4242 2 0000000000000000 0"};
    int procSeeds = 0;
    for (const char* line : procLines)
        if (!writeFile(out + "/proclines/" + std::to_string(procSeeds++),
                       std::vector<unsigned char>(line, line + std::char_traits<char>::length(line))))
            return 1;
    int frameSeeds = 0, recordSeeds = 0, pcapngSeeds = 0;
    for (int t = 2; t < argc; ++t) {
        if (std::vector<unsigned char> whole = readFile(argv[t]); whole.size() >= 4 && PcapngReader::isPcapng(whole.data()))
            if (!writeFile(out + "/pcapng/" + std::to_string(pcapngSeeds++), whole))
                return 1;
        char err[PCAP_ERRBUF_SIZE];
        pcap_t* p = pcap_open_offline(argv[t], err);
        LinkKind kind;
        if (!p || !linkKindOf(pcap_datalink(p), kind)) {
            if (p)
                pcap_close(p);
            continue;  // a trace the helper refuses seeds nothing
        }
        std::vector<unsigned char> stream{0x25}, scratch;
        pcap_pkthdr* header;
        const u_char* data;
        int records = 0;
        for (int n = 0; n < kFramesPerTrace && pcap_next_ex(p, &header, &data) == 1; ++n) {
            std::vector<unsigned char> frame{static_cast<unsigned char>(kind)};
            frame.insert(frame.end(), data, data + header->caplen);
            if (!writeFile(out + "/frames/" + std::to_string(frameSeeds++), frame))
                return 1;
            EthernetFrame eth;
            FrameRecord rec;
            if (records >= kRecordsPerSeed || !toEthernet(kind, data, header->caplen, header->len, scratch, eth) ||
                frameToRecord(eth, std::uint32_t(header->ts.tv_sec), std::uint32_t(header->ts.tv_usec), rec) !=
                    FrameVerdict::Record)
                continue;
            stream.insert(stream.end(), rec.fixed, rec.fixed + sizeof rec.fixed);
            stream.insert(stream.end(), rec.payload, rec.payload + rec.payloadLen);
            ++records;
        }
        pcap_close(p);
        if (records && !writeFile(out + "/records/" + std::to_string(recordSeeds++), stream))
            return 1;
    }
    std::printf("%d frame seeds, %d record stream seeds, %d pcapng seeds\n", frameSeeds, recordSeeds, pcapngSeeds);
    return frameSeeds && recordSeeds && pcapngSeeds ? 0 : 1;
}
