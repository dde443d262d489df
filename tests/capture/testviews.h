// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A view and a UI for the controller tests that record what reaches them.

#include "capture/controlpanel.h"
#include "capture/cpacket.h"
#include "common/standin.h"

#include <QStringList>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

// Remembers each packet's tag (TCP acknowledgement) and number (sequence).
class RecordingView : public CTimeBasedView {
public:
    static constexpr std::uint32_t kMark = 0xffffffffu;

    ~RecordingView() override { m_alive = false; }
    void InitiateView() override { ++inits; }
    void UpdateView() override
    {
        checkAlive();
        ++updates;
    }
    void AddPacket(CPacket* packet) override
    {
        checkAlive();
        if (locked)
            return;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_seen.push_back({packet->GetAcknowlegetNo(), packet->GetSequenceNo()});
        ++packets;
    }
    std::vector<std::uint32_t> tags() const { return column(0); }
    std::vector<std::uint32_t> numbers() const { return column(1); }
    // Puts a boundary into the tag list (GUI thread), e.g. right after a Start.
    void mark()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_seen.push_back({kMark, kMark});
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_seen.clear();
        packets = 0;
    }

    bool DisplayFilterChanged(bool) override
    {
        if (locked)
            return false;
        clear();
        return true;
    }

    std::atomic<int> inits{0}, updates{0}, packets{0};
    std::atomic<bool> locked{false};

private:
    // A call on a destroyed view is caught by AddressSanitizer; without it, here.
    void checkAlive()
    {
        if (!m_alive)
            std::abort();
    }
    std::vector<std::uint32_t> column(int which) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<std::uint32_t> out;
        for (const auto& s : m_seen)
            if (which == 0 || s[0] != kMark)
                out.push_back(s[which]);
        return out;
    }
    volatile bool m_alive = true;
    mutable std::mutex m_mutex;
    std::vector<std::array<std::uint32_t, 2>> m_seen;
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

inline std::vector<unsigned char> makeRecord(std::uint32_t number, std::uint32_t tag, std::int32_t seconds = 1000,
                                             std::int32_t micros = 0)
{
    std::vector<unsigned char> r(kTaggedRecordSize);
    fillTaggedRecord(r.data(), number, tag, seconds, micros);
    return r;
}
