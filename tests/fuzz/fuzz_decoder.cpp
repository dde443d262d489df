// SPDX-License-Identifier: GPL-2.0-or-later
// libFuzzer target: a packet pipe's byte stream through everything that reads it:
// the record reader with its resynchronisation after corruption, CPacket, the
// packet decoder with its field tree, and the JSON writer. Byte 0 sets how many
// bytes arrive at a time, so records straddle reads and a corrupt length drains
// only what has arrived. Every line must be valid JSON and every field must mark
// bytes inside the packet's image.

#include "capture/cpacket.h"
#include "capture/recordreader.h"
#include "views/packets/packet.h"
#include "views/packets/packetjson.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
void checkFolder(const ItemFolder& f, int imageDigits)
{
    if (f.pos() < -1 || f.length() < -1 || (f.pos() >= 0 && (f.length() < 0 || f.pos() + f.length() > imageDigits)))
        std::abort();
    for (const auto& child : f.children())
        checkFolder(*child, imageDigits);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    // 5 to 7,400 bytes: every cut of a record is reachable, without a system call a byte.
    const std::size_t piece = std::size_t(data[0]) * 29 + 5;
    data += 1;
    size -= 1;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        std::abort();

    // The "helper": each time the reader waits, the next piece arrives; after the
    // last one the writer closes the pipe.
    std::size_t at = 0;
    const auto arrive = [&] {
        if (fds[1] < 0)
            return true;
        if (at == size) {
            ::close(fds[1]);
            fds[1] = -1;
            return true;
        }
        const std::size_t n = size - at < piece ? size - at : piece;
        if (::write(fds[1], data + at, n) != ssize_t(n))
            std::abort();  // a piece is far smaller than the pipe
        at += n;
        return true;
    };

    RecordReader reader(fds[0], [](RecordReader::Damage) {}, 4096);
    RawPacket raw;
    std::int64_t number = 0;
    BaseTime base;
    while (reader.next(raw, arrive, 0) == RecordReader::Status::Record) {
        std::int32_t length;
        std::memcpy(&length, raw.fixed + record::Length, 4);
        const std::uint32_t payload = std::uint32_t(length) > std::uint32_t(packetlen) ? std::uint32_t(length) - packetlen : 0;
        if (payload > kMaxRecordPayload || (payload != 0) != (raw.payload != nullptr))
            std::abort();
        const CPacket packet(&raw);  // copies the payload: a read past the reader's buffer trips ASan
        if (++number == 1)
            base = BaseTime{packet.GetTimeStamp()[0], packet.GetTimeStamp()[1]};
        const Packet decoded(packet, number, base);
        for (const auto& folder : decoded.folders())
            checkFolder(*folder, int(decoded.text().size()));
        QJsonParseError error;
        const QJsonDocument json = QJsonDocument::fromJson(packetjson::line(decoded, true), &error);
        if (error.error != QJsonParseError::NoError || !json.isObject())
            std::abort();
    }
    ::close(fds[0]);
    if (fds[1] >= 0)
        ::close(fds[1]);
    return 0;
}
