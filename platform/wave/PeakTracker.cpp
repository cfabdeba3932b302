// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wave/PeakTracker.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

namespace platform::wave {

namespace {

// Sixteen interleaved samples at a time, lane k holding every sample whose
// index is k modulo 16, so a lane belongs to one channel of a mono or stereo
// stream. A fixed lane count lets the compiler do the loop in vector
// registers: this runs over every sample the device plays.
constexpr std::size_t Lanes = 16;

struct Extremes {
    std::array<std::int16_t, Lanes> low{}, high{};
};

Extremes Extremes16(const std::uint8_t* data, std::size_t samples)
{
    Extremes span;
    std::size_t i = 0;
    for (; i + Lanes <= samples; i += Lanes) {
        std::int16_t block[Lanes];
        std::memcpy(block, data + 2 * i, sizeof block); // little-endian, like the machine
        for (std::size_t k = 0; k < Lanes; ++k) {
            span.low[k] = std::min(span.low[k], block[k]);
            span.high[k] = std::max(span.high[k], block[k]);
        }
    }
    for (std::size_t k = 0; i < samples; ++i, ++k) {
        const auto value = static_cast<std::int16_t>(data[2 * i] | (data[2 * i + 1] << 8));
        span.low[k] = std::min(span.low[k], value);
        span.high[k] = std::max(span.high[k], value);
    }
    return span;
}

} // namespace

void PeakTracker::Add(const std::uint8_t* data, std::size_t frames, const PcmLayout& layout, std::uint64_t startFrame)
{
    unsigned peak[2] = {0, 0};
    const std::size_t samples = frames * layout.channels;
    const bool stereo = layout.channels == 2;
    if (layout.bits == 16) {
        const Extremes span = Extremes16(data, samples);
        for (std::size_t k = 0; k < Lanes; ++k) {
            unsigned& slot = peak[stereo ? k % 2 : 0];
            slot = std::max({slot, unsigned(-int(span.low[k])), unsigned(span.high[k])});
        }
    } else {
        for (std::size_t i = 0; i < samples; ++i) {
            unsigned& slot = peak[stereo ? i % 2 : 0];
            slot = std::max(slot, static_cast<unsigned>(std::abs((int(data[i]) - 128) * 256)));
        }
    }
    if (!stereo)
        peak[1] = peak[0];
    m_rate = layout.rate;
    m_chunks.push_back({startFrame, startFrame + frames, {std::min(peak[0], 32767u), std::min(peak[1], 32767u)}});
}

PeakTracker::Level PeakTracker::Audible(std::uint64_t played, Clock::time_point now)
{
    if (played != m_lastPlayed) {
        m_lastPlayed = played;
        m_lastAdvance = now;
    } else if (now - m_lastAdvance > SilentAfter) {
        // Stalled: what was played is over; what waits in the buffer stays.
        while (!m_chunks.empty() && m_chunks.front().startFrame < played)
            m_chunks.pop_front();
    }
    const std::uint64_t window = std::max(1u, m_rate / 20); // 50 ms
    const std::uint64_t from = played > window ? played - window : 0;
    while (!m_chunks.empty() && m_chunks.front().endFrame <= from)
        m_chunks.pop_front();
    Level level;
    for (const Chunk& chunk : m_chunks) {
        if (chunk.startFrame >= played)
            break; // still waiting in the device buffer
        level.left = std::max(level.left, chunk.peak.left);
        level.right = std::max(level.right, chunk.peak.right);
    }
    return level;
}

void PeakTracker::Clear()
{
    m_chunks.clear();
}

} // namespace platform::wave
