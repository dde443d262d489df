#pragma once
// Views and UIs for the controller tests: they record what reaches them.

#include "capture/controlpanel.h"
#include "capture/cpacket.h"

#include <QString>
#include <QStringList>

#include <arpa/inet.h>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

// Counts calls and remembers each packet's tag (TCP acknowledgement) and number (sequence).
class RecordingView : public CTimeBasedView {
public:
    static constexpr std::uint32_t kAlive = 0x600dd00d;

    ~RecordingView() override { m_magic = 0; }
    void InitiateView() override { ++inits; }
    void UpdateView() override
    {
        checkAlive();
        ++updates;
    }
    void AddPacket(CPacket* packet) override
    {
        checkAlive();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tags.push_back(packet->GetAcknowlegetNo());
        m_numbers.push_back(packet->GetSequenceNo());
        ++packets;
    }
    std::vector<std::uint32_t> tags() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_tags;
    }
    std::vector<std::uint32_t> numbers() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_numbers;
    }
    // Puts a boundary into the tag list (GUI thread), e.g. right after a Start.
    static constexpr std::uint32_t kMark = 0xffffffffu;
    void mark()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tags.push_back(kMark);
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tags.clear();
        m_numbers.clear();
        packets = 0;
    }

    std::atomic<int> inits{0};
    std::atomic<int> updates{0};
    std::atomic<int> packets{0};

private:
    // A call on a destroyed view is caught by AddressSanitizer; without it, by the magic.
    void checkAlive()
    {
        if (m_magic != kAlive)
            std::abort();
    }
    std::uint32_t m_magic = kAlive;
    mutable std::mutex m_mutex;
    std::vector<std::uint32_t> m_tags;
    std::vector<std::uint32_t> m_numbers;
};

class RecordingUi : public ControlPanelUi {
public:
    void showMessage(const QString& title, const QString& text) override
    {
        titles << title;
        messages << text;
    }
    void showStatus(const QString& text) override { statuses << text; }
    QStringList titles, messages, statuses;
};

// One record as the helper writes it: 160 fixed bytes and a 4-byte payload.
inline std::vector<unsigned char> makeRecord(std::uint32_t number, std::uint32_t tag, std::int32_t seconds = 1000,
                                             std::int32_t micros = 0)
{
    std::vector<unsigned char> r(164, 0);
    const std::int32_t header[4] = {seconds, micros, 1, 164};
    std::memcpy(r.data(), header, sizeof header);
    r[32] = 0x45;
    r[32 + 9] = 6;
    const std::uint32_t seq = htonl(number), ack = htonl(tag);
    std::memcpy(r.data() + 92 + 4, &seq, 4);
    std::memcpy(r.data() + 92 + 8, &ack, 4);
    r[92 + 12] = 0x50;
    std::memcpy(r.data() + 160, &tag, 4);
    return r;
}
