// SPDX-License-Identifier: GPL-3.0-or-later
// The level of what a device plays now. Each chunk of PCM written to the
// device is recorded with its peak per channel and the frames it occupies;
// the audible level is the peak of the chunks that left the speaker in the
// last 50 ms, given the device's play position (frames written minus its
// delay). A play position that has not moved for 80 ms means the device ran
// dry, and nothing is heard.
//
// Not thread-safe: AudibleLevel holds it under its lock for the device's
// helper thread and the meter.
#pragma once

#include "platform/wave/WaveFormat.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>

namespace platform::wave {

class PeakTracker {
public:
    using Clock = std::chrono::steady_clock;
    struct Level {
        unsigned left = 0, right = 0; // 0..32767; a mono stream shows on both
    };

    static constexpr auto SilentAfter = std::chrono::milliseconds(80);

    // Records frames of interleaved PCM written at startFrame.
    void Add(const std::uint8_t* data, std::size_t frames, const PcmLayout& layout, std::uint64_t startFrame);
    // The level at play position played (in frames of the layout last added).
    Level Audible(std::uint64_t played, Clock::time_point now);
    void Clear();
    bool Empty() const { return m_chunks.empty(); }

private:
    struct Chunk {
        std::uint64_t startFrame, endFrame;
        Level peak;
    };

    std::deque<Chunk> m_chunks;
    unsigned m_rate = 0;
    std::uint64_t m_lastPlayed = 0;
    Clock::time_point m_lastAdvance;
};

} // namespace platform::wave
