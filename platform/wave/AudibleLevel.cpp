// SPDX-License-Identifier: GPL-3.0-or-later
// Threading: see the header; the current level is swapped under a lock of
// its own, so a reader never waits for a device's bookkeeping to pick it.
#include "platform/wave/AudibleLevel.h"

#include <algorithm>

namespace platform::wave {

namespace {

std::mutex g_currentLock;
std::shared_ptr<AudibleLevel> g_current;

} // namespace

void AudibleLevel::Add(const std::uint8_t* data, std::size_t frames, const PcmLayout& layout, std::uint64_t startFrame)
{
    std::lock_guard guard(m_lock);
    m_rate = layout.rate;
    m_tracker.Add(data, frames, layout, startFrame);
}

void AudibleLevel::SetPosition(const Position& position)
{
    std::lock_guard guard(m_lock);
    m_position = position;
    m_tracker.Audible(position.played, position.at);
}

AudibleLevel::Level AudibleLevel::Now(Clock::time_point now)
{
    std::lock_guard guard(m_lock);
    return m_tracker.Audible(PlayedAt(now), now);
}

std::uint64_t AudibleLevel::PlayedAt(Clock::time_point now) const
{
    const Position& known = m_position;
    if (!known.running || now <= known.at || known.played >= known.written)
        return known.played;
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - known.at).count();
    const std::uint64_t since = std::uint64_t(elapsed) * m_rate / 1000000;
    return std::min(known.played + since, known.written);
}

void AudibleLevel::Clear()
{
    std::lock_guard guard(m_lock);
    m_tracker.Clear();
    m_position = {};
}

bool AudibleLevel::Empty()
{
    std::lock_guard guard(m_lock);
    return m_tracker.Empty();
}

void AudibleLevel::MakeCurrent(const std::shared_ptr<AudibleLevel>& level)
{
    std::lock_guard guard(g_currentLock);
    g_current = level;
}

void AudibleLevel::Release(const AudibleLevel* level)
{
    std::lock_guard guard(g_currentLock);
    if (g_current.get() == level)
        g_current.reset();
}

std::shared_ptr<AudibleLevel> AudibleLevel::Current()
{
    std::lock_guard guard(g_currentLock);
    return g_current;
}

} // namespace platform::wave
