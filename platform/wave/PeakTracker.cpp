#include "platform/wave/PeakTracker.h"

#include <algorithm>
#include <cstdlib>

namespace platform::wave {

void PeakTracker::Add(const std::uint8_t* data, std::size_t frames, const PcmLayout& layout, std::uint64_t startFrame)
{
    unsigned peak[2] = {0, 0};
    const std::size_t samples = frames * layout.channels;
    const bool stereo = layout.channels == 2;
    for (std::size_t i = 0; i < samples; ++i) {
        const int value = layout.bits == 8 ? (int(data[i]) - 128) * 256
                                           : int(static_cast<std::int16_t>(data[2 * i] | (data[2 * i + 1] << 8)));
        unsigned& slot = peak[stereo ? i % 2 : 0];
        slot = std::max(slot, static_cast<unsigned>(std::abs(value)));
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
