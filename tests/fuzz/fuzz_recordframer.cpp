// libFuzzer target: the reader's RecordFramer on an arbitrary byte stream fed in
// arbitrary pieces (the packet pipe is untrusted).

#include "capture/recordreader.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    // Byte 0 sets the piece size, so records straddle feeds in every way.
    const std::size_t piece = std::size_t(data[0]) * 7 + 1;
    data += 1;
    size -= 1;
    RecordFramer framer;
    RawPacket raw;
    std::size_t at = 0;
    while (at < size) {
        const std::size_t n = size - at < piece ? size - at : piece;
        framer.feed(data + at, n);
        at += n;
        for (;;) {
            const RecordFramer::Result r = framer.next(raw);
            if (r == RecordFramer::Result::NeedMore)
                break;
            if (r != RecordFramer::Result::Record)
                continue;
            std::int32_t length;
            std::memcpy(&length, raw.fixed + record::Length, 4);
            const std::uint32_t payload = std::uint32_t(length) > 160 ? std::uint32_t(length) - 160 : 0;
            if (payload > kMaxRecordPayload || (payload != 0) != (raw.payload != nullptr))
                std::abort();
            volatile unsigned sum = 0;
            for (std::uint32_t i = 0; i < payload; ++i)
                sum = sum + raw.payload[i];  // must stay inside the framer's buffer
        }
    }
    return 0;
}
