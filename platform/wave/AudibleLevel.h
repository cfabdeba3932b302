// SPDX-License-Identifier: GPL-3.0-or-later
// AudibleLevel: the level of what one open device plays now, for a meter on
// another thread. The device's helper thread records the peaks of what it
// writes and, each time it looks at the device, where the device was playing
// and when. A reader carries that position on at the stream's rate, never
// past what was written, so the helper need not wake to keep the meter in
// step with the speaker: it may sleep through most of the device buffer even
// while the bars are watched. A device that runs dry shows silence once the
// position stops at the end of what it was given.
//
// Threading: every call takes the one lock, which guards bookkeeping only.
// waveOutGetAudiblePeak reads the level of the device opened last.
#pragma once

#include "platform/wave/PeakTracker.h"

#include <cstdint>
#include <memory>
#include <mutex>

namespace platform::wave {

class AudibleLevel {
public:
    using Clock = PeakTracker::Clock;
    using Level = PeakTracker::Level;
    struct Position {
        std::uint64_t played = 0;  // frames the device had played
        std::uint64_t written = 0; // frames it had been given
        bool running = false;      // whether it was playing on
        Clock::time_point at;      // when it was asked
    };

    // Records frames of PCM about to be written at startFrame.
    void Add(const std::uint8_t* data, std::size_t frames, const PcmLayout& layout, std::uint64_t startFrame);
    // The device's play position as just asked; also forgets chunks heard out.
    void SetPosition(const Position& position);
    // The level at now, with the play position carried on from the last one.
    Level Now(Clock::time_point now);
    void Clear();
    bool Empty();

    // The level waveOutGetAudiblePeak reads: the one of the device opened
    // last, until that device is closed.
    static void MakeCurrent(const std::shared_ptr<AudibleLevel>& level);
    static void Release(const AudibleLevel* level);
    static std::shared_ptr<AudibleLevel> Current();

private:
    std::uint64_t PlayedAt(Clock::time_point now) const;

    std::mutex m_lock;
    PeakTracker m_tracker;
    Position m_position;
    unsigned m_rate = 0;
};

} // namespace platform::wave
