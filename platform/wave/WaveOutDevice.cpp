// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wave/WaveOutDevice.h"

#include "platform/wave/WaveLog.h"

#include <algorithm>
#include <cstdlib>

// ALSA's own diagnostics are debug messages: off unless asked for with QT_LOGGING_RULES.
Q_LOGGING_CATEGORY(lcWave, "sendolin.wave", QtInfoMsg)

namespace platform {

namespace {

// A device still short of its start threshold starts by itself once no block
// has come for this long, so that the end of a short stream is heard. It is
// longer than the gap between a live stream's batches, whose device must
// gather its whole threshold before it starts.
constexpr auto IdleKickDelay = std::chrono::milliseconds(500);
// The decoder's frames per byte follow about this many recent bytes.
constexpr std::uint64_t DecodedWindowBytes = 64 * 1024;
// How often a device still waiting to start is looked at.
constexpr auto StartPollInterval = std::chrono::milliseconds(20);
// The meter carries the play position on by itself, so once the device
// plays the helper needs no pace of its own: new blocks wake it, and it
// wakes at least this often, or when held done notices fall due.
constexpr auto PollInterval = std::chrono::milliseconds(500);
// While audio still plays out, done notices go out in batches, each waking
// the GUI thread once: when this many are due, or when the oldest has waited
// this long. Nothing waits for a notice but the room it makes, and the
// device's share of the queue is seconds, so the next blocks still come in
// time. Once everything is heard out they go at once.
// Such batches also wait for the GUI thread to wake for something else (the
// rate readout ticks every second), for up to DoneWakeBound, which the
// helper checks each time it wakes.
constexpr std::size_t DoneBatch = 16;
constexpr auto DoneDelay = std::chrono::milliseconds(400);
constexpr auto DoneWakeBound = std::chrono::milliseconds(1000);

} // namespace

void waveOutGetAudiblePeak(unsigned& left, unsigned& right)
{
    const std::shared_ptr<wave::AudibleLevel> level = wave::AudibleLevel::Current();
    const wave::PeakTracker::Level now = level ? level->Now(std::chrono::steady_clock::now()) : wave::PeakTracker::Level{};
    left = now.left;
    right = now.right;
}

WaveOutDevice::WaveOutDevice(HWAVEOUT handle, const wave::StreamFormat& format,
                             std::unique_ptr<wave::AlsaPcm> pcm, HWND callback, DWORD_PTR instance)
    : m_handle(handle), m_format(format), m_pcm(std::move(pcm)), m_callback(callback), m_instance(instance)
{
    if (m_format.coding == wave::Coding::Mpeg) {
        m_decoder = std::make_unique<wave::MpegDecoder>();
        // A stream is taken at its announced rate, as every queue bound of the
        // wave output's users is; one that announces none, at what it decoded to.
        if (m_format.bytesPerSecond > 0)
            m_framesPerByte = double(m_format.pcm.rate) / m_format.bytesPerSecond;
    } else
        m_framesPerByte = 1.0 / std::max(1u, m_format.pcm.FrameBytes());
    wave::AudibleLevel::MakeCurrent(m_level);
    m_thread = std::thread([this] { Run(); });
}

WaveOutDevice::~WaveOutDevice()
{
    {
        std::lock_guard guard(m_lock);
        m_stop = true;
    }
    m_wake.notify_one();
    m_pcm->Interrupt();
    m_thread.join();
    wave::AudibleLevel::Release(m_level.get());
}

MMRESULT WaveOutDevice::Prepare(WAVEHDR* header)
{
    std::lock_guard guard(m_lock);
    header->dwFlags |= WHDR_PREPARED;
    header->dwFlags &= ~WHDR_DONE;
    return MMSYSERR_NOERROR;
}

MMRESULT WaveOutDevice::Unprepare(WAVEHDR* header)
{
    std::lock_guard guard(m_lock);
    if (header->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WaveOutDevice::Write(WAVEHDR* header)
{
    {
        std::lock_guard guard(m_lock);
        if (!(header->dwFlags & WHDR_PREPARED))
            return WAVERR_UNPREPARED;
        if (header->dwFlags & WHDR_INQUEUE)
            return WAVERR_STILLPLAYING;
        header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        // A block's memory may come back as a later block's: the helper
        // tells blocks apart by this number, never by address.
        header->reserved = ++m_blocksWritten;
        m_queue.push_back(header);
    }
    m_wake.notify_one();
    return MMSYSERR_NOERROR;
}

void WaveOutDevice::Reset()
{
    std::unique_lock lock(m_lock);
    const std::uint64_t target = ++m_resetRequested;
    m_wake.notify_one();
    m_pcm->Interrupt();
    m_resetDone.wait(lock, [&] { return m_resetsDone >= target; });
}

bool WaveOutDevice::HasQueued()
{
    std::lock_guard guard(m_lock);
    return !m_queue.empty() || !m_awaiting.empty() || !m_finished.empty();
}

DWORD WaveOutDevice::QueuedMilliseconds()
{
    std::lock_guard guard(m_lock);
    if (m_look.rate == 0)
        return 0;
    double frames = double(m_look.deviceFrames);
    if (m_look.running) // the device has played on since the helper looked
        frames -= std::chrono::duration<double>(std::chrono::steady_clock::now() - m_look.at).count() * m_look.rate;
    frames = std::max(frames, 0.0);
    for (const WAVEHDR* header : m_queue) {
        double left = header->dwBufferLength * m_framesPerByte;
        if (header->reserved == m_look.block)
            left -= double(m_look.blockFrames);
        frames += std::max(left, 0.0);
    }
    return DWORD(frames * 1000 / m_look.rate);
}

void WaveOutDevice::PostNotice(unsigned message, LPARAM lParam)
{
    if (m_callback)
        NotifyWindow::Post(m_callback, message, reinterpret_cast<WPARAM>(m_handle), lParam);
}

void WaveOutDevice::Run()
{
    std::unique_lock lock(m_lock);
    for (;;) {
        const auto hasWork = [&] { return m_stop || ResetPending() || !m_queue.empty(); };
        if (!m_finished.empty() && !hasWork() && m_awaiting.empty()) {
            lock.unlock();
            PostDone(); // all heard out: no reason to hold them back
            lock.lock();
            continue;
        }
        if (m_awaiting.empty() && m_level->Empty()) { // nothing left to play out
            // About to sleep for good: notices still waiting for the GUI
            // thread to wake go now.
            lock.unlock();
            NotifyWindow::WakeForBatchesOlderThan(std::chrono::milliseconds(0));
            lock.lock();
            m_wake.wait(lock, hasWork);
        } else
            m_wake.wait_for(lock, NextPoll(), hasWork);
        if (m_stop)
            return;
        WAVEHDR* next = m_queue.empty() ? nullptr : m_queue.front();
        lock.unlock();
        if (ResetPending())
            DoReset();
        else if (next)
            PlayBlock(next);
        else if (std::chrono::steady_clock::now() - m_lastBlock > IdleKickDelay)
            m_pcm->Kick();
        if (!ResetPending())
            ReportPlayed();
        lock.lock();
    }
}

std::chrono::milliseconds WaveOutDevice::NextPoll()
{
    // A device still waiting to start is kicked soon after the last block,
    // so the first sound never waits for the slower pace.
    if (!m_pcm->Running())
        return StartPollInterval;
    if (m_finished.empty())
        return PollInterval;
    const auto due = std::chrono::ceil<std::chrono::milliseconds>(m_finishedSince + DoneDelay
                                                                  - std::chrono::steady_clock::now());
    return std::clamp(due, StartPollInterval, PollInterval);
}

void WaveOutDevice::PlayBlock(WAVEHDR* header)
{
    const auto* data = reinterpret_cast<const std::uint8_t*>(header->lpData);
    const std::size_t size = header->dwBufferLength;
    if (m_block != header->reserved) {
        m_block = header->reserved;
        m_blockStart = m_pcm->Written();
        m_blockCarry = 0;
    }
    bool complete = true;
    if (m_decoder) {
        complete = m_decoder->Decode(data, size, [this](const std::uint8_t* pcm, std::size_t bytes,
                                                        const wave::PcmLayout& layout) {
            return WritePcm(pcm, bytes, layout);
        });
    } else {
        // A block may end inside a frame; keep the rest for the next block.
        m_partialFrame.insert(m_partialFrame.end(), data, data + size);
        const std::size_t frameBytes = m_format.pcm.FrameBytes();
        const std::size_t whole = m_partialFrame.size() / frameBytes * frameBytes;
        complete = WritePcm(m_partialFrame.data(), whole, m_format.pcm);
        m_partialFrame.erase(m_partialFrame.begin(), m_partialFrame.begin() + static_cast<std::ptrdiff_t>(whole));
    }
    m_lastBlock = std::chrono::steady_clock::now();
    if (complete) {
        if (m_decoder && m_format.bytesPerSecond == 0)
            CountDecoded(size, BlockFramesOut());
        m_block = 0;
        FinishBlock(header);
    }
}

void WaveOutDevice::CountDecoded(std::size_t bytes, std::uint64_t frames)
{
    m_decodedBytes += bytes;
    m_decodedFrames += frames;
    if (m_decodedBytes > DecodedWindowBytes) { // older blocks count less and less
        m_decodedBytes /= 2;
        m_decodedFrames /= 2;
    }
    std::lock_guard guard(m_lock);
    if (m_decodedBytes > 0)
        m_framesPerByte = double(m_decodedFrames) / double(m_decodedBytes);
}

bool WaveOutDevice::WritePcm(const std::uint8_t* data, std::size_t bytes, const wave::PcmLayout& layout)
{
    if (!(layout == m_pcm->Layout())) {
        // The stream changed its format: let what is buffered play out first.
        if (!WaitForPlayedOut())
            return false;
        m_blockCarry = BlockFramesOut(); // the device counts afresh
        m_blockStart = 0;
        if (m_pcm->Configure(layout) != MMSYSERR_NOERROR)
            return true; // nothing can play this; drop it and go on
        m_level->Clear();
    }
    // The meter keeps one peak per 20 ms; the device takes it all in one write.
    const std::size_t frameBytes = layout.FrameBytes();
    const std::size_t chunkFrames = std::max(1u, layout.rate / 50);
    const std::size_t frames = bytes / frameBytes;
    const std::uint64_t start = m_pcm->Written();
    for (std::size_t at = 0; at < frames; at += chunkFrames)
        m_level->Add(data + at * frameBytes, std::min(chunkFrames, frames - at), layout, start + at);
    return m_pcm->Write(data, frames, [this] {
        PublishPosition(m_pcm->Played());
        return Interrupted();
    });
}

bool WaveOutDevice::WaitForPlayedOut()
{
    m_pcm->Kick();
    while (m_pcm->Played() < m_pcm->Written()) {
        if (Interrupted())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ReportPlayed();
    return true;
}

void WaveOutDevice::FinishBlock(WAVEHDR* header)
{
    std::lock_guard guard(m_lock);
    if (ResetPending() || m_queue.empty() || m_queue.front() != header)
        return;
    m_queue.pop_front();
    m_awaiting.push_back({m_pcm->Written(), header});
}

void WaveOutDevice::ReportPlayed()
{
    const std::uint64_t played = m_pcm->Played();
    PublishPosition(played);
    {
        std::lock_guard guard(m_lock);
        while (!m_awaiting.empty() && m_awaiting.front().endFrame <= played) {
            MarkDone(m_awaiting.front().header);
            m_awaiting.pop_front();
        }
    }
    if (m_finished.size() >= DoneBatch ||
        (!m_finished.empty() && std::chrono::steady_clock::now() - m_finishedSince >= DoneDelay))
        PostDone(Urgency::WhenAwake);
    NotifyWindow::WakeForBatchesOlderThan(DoneWakeBound);
}

void WaveOutDevice::DoReset()
{
    m_pcm->Drop();
    m_block = 0;
    if (m_decoder)
        m_decoder->Restart();
    m_partialFrame.clear();
    m_level->Clear();
    {
        std::lock_guard guard(m_lock);
        for (const Played& entry : m_awaiting)
            MarkDone(entry.header);
        for (WAVEHDR* header : m_queue)
            MarkDone(header);
        m_awaiting.clear();
        m_queue.clear();
    }
    // Every notice is posted before Reset returns.
    PostDone();
    std::lock_guard guard(m_lock);
    m_resetsDone.store(m_resetRequested.load());
    m_resetDone.notify_all();
}

void WaveOutDevice::MarkDone(WAVEHDR* header)
{
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    if (m_finished.empty())
        m_finishedSince = std::chrono::steady_clock::now();
    m_finished.push_back(header);
}

void WaveOutDevice::PostDone(Urgency urgency)
{
    // Posted outside m_lock, so that the GUI thread's next write or
    // unprepare does not wait for the event queue, and as one event, which
    // wakes the GUI thread once, or not at all when it may wait. A block
    // counts as queued until its notice is out, so that a close cannot
    // overtake it.
    if (m_callback && !m_finished.empty()) {
        m_donePosts.clear();
        for (WAVEHDR* header : m_finished)
            m_donePosts.push_back(reinterpret_cast<LPARAM>(header));
        const auto post = urgency == Urgency::Now ? &NotifyWindow::PostBatch : &NotifyWindow::PostBatchWhenAwake;
        post(m_callback, MM_WOM_DONE, reinterpret_cast<WPARAM>(m_handle), m_donePosts.data(), m_donePosts.size());
    }
    std::lock_guard guard(m_lock);
    m_finished.clear();
}

void WaveOutDevice::PublishPosition(std::uint64_t played)
{
    const std::uint64_t written = m_pcm->Written();
    const bool running = m_pcm->Running();
    const auto now = std::chrono::steady_clock::now();
    m_level->SetPosition({played, written, running, now});
    std::lock_guard guard(m_lock);
    m_look = {written - std::min(played, written), running, now, m_pcm->Layout().rate,
              m_block, m_block ? BlockFramesOut() : 0};
}

} // namespace platform
