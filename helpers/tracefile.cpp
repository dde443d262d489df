#include "helpers/tracefile.h"

#include "helpers/tmpfiles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {
constexpr int kSnapLen = 65535;
}

TraceFileWriter::~TraceFileWriter() { close(); }

bool TraceFileWriter::open(const std::string& path, std::string& error)
{
    close();
    const int fd = tmpfiles::openPrivate(path);
    if (fd < 0) {
        error = path + ": " + (errno == ELOOP ? "is a symbolic link, not written" : std::strerror(errno));
        return false;
    }
    FILE* f = fdopen(fd, "wb");
    if (!f) {
        error = path + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    // Large writes: a replay produces hundreds of MB per second.
    setvbuf(f, nullptr, _IOFBF, 1 << 20);
    m_dead = pcap_open_dead(DLT_EN10MB, kSnapLen);
    m_dumper = m_dead ? pcap_dump_fopen(m_dead, f) : nullptr;
    if (!m_dumper) {
        error = path + ": " + (m_dead ? pcap_geterr(m_dead) : "out of memory");
        std::fclose(f);
        close();
        return false;
    }
    pcap_dump_flush(m_dumper);  // the file header, so even an empty capture replays
    return true;
}

void TraceFileWriter::write(const timeval& ts, const EthernetFrame& frame)
{
    if (!m_dumper)
        return;
    pcap_pkthdr hdr{};
    hdr.ts = ts;
    hdr.caplen = bpf_u_int32(std::min<std::size_t>(frame.caplen, kSnapLen));
    hdr.len = bpf_u_int32(std::max(frame.wirelen, std::size_t(hdr.caplen)));
    pcap_dump(reinterpret_cast<u_char*>(m_dumper), &hdr, frame.data);
    m_dirty = true;
}

void TraceFileWriter::flush()
{
    if (m_dumper && m_dirty) {
        pcap_dump_flush(m_dumper);
        m_dirty = false;
    }
}

void TraceFileWriter::close()
{
    if (m_dumper) {
        pcap_dump_close(m_dumper);  // flushes and closes the FILE
        m_dumper = nullptr;
    }
    if (m_dead) {
        pcap_close(m_dead);
        m_dead = nullptr;
    }
    m_dirty = false;
}
