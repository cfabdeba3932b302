// SPDX-License-Identifier: GPL-3.0-or-later
// One open wave output: a queue of written blocks and the helper thread that
// decodes them and plays them through ALSA.
//
// Threading: the public calls run on the GUI thread; Run() is the helper
// thread. Both sides share m_queue, m_awaiting and the header flags under
// m_lock. A block is "queued" from Write until its MM_WOM_DONE is posted:
// first in m_queue (not yet fully sent to the device), then in m_awaiting
// (sent, waiting for the device to play past its last frame), then in
// m_finished until its notice is posted, which happens outside the lock and
// in batches while audio still plays out.
// Reset is a handshake: once it returns, every notice is posted and the
// helper thread no longer touches any block.
#pragma once

#include "platform/wave/AlsaPcm.h"
#include "platform/wave/AudibleLevel.h"
#include "platform/wave/MpegDecoder.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

class WaveOutDevice {
public:
    WaveOutDevice(HWAVEOUT handle, const wave::StreamFormat& format, std::unique_ptr<wave::AlsaPcm> pcm,
                  HWND callback, DWORD_PTR instance);
    ~WaveOutDevice();

    MMRESULT Write(WAVEHDR* header);
    void Reset();
    bool HasQueued();
    // Playing time written and not yet heard: exact for what the device
    // holds; blocks not decoded yet count at the record's announced byte
    // rate, or, without one, at the decoder's recent frames per byte (none
    // before the first block is decoded).
    DWORD QueuedMilliseconds();
    // Header flags are shared with the helper thread.
    MMRESULT Prepare(WAVEHDR* header);
    MMRESULT Unprepare(WAVEHDR* header);
    void PostNotice(unsigned message, LPARAM lParam = 0);

private:
    struct Played {
        std::uint64_t endFrame;
        WAVEHDR* header;
    };

    void Run();
    bool ResetPending() const { return m_resetRequested.load() != m_resetsDone.load(); }
    bool Interrupted() const { return m_stop.load() || ResetPending(); }
    // How long the helper may sleep while audio is still playing out (under m_lock).
    std::chrono::milliseconds NextPoll();
    void PlayBlock(WAVEHDR* header);
    bool WritePcm(const std::uint8_t* data, std::size_t bytes, const wave::PcmLayout& layout);
    bool WaitForPlayedOut();
    void FinishBlock(WAVEHDR* header);
    void ReportPlayed();
    void DoReset();
    void MarkDone(WAVEHDR* header);
    // Now: at once (a reset, everything heard out). WhenAwake: the GUI thread
    // takes them when it is awake anyway, within a bound.
    enum class Urgency { Now, WhenAwake };
    void PostDone(Urgency urgency = Urgency::Now);
    void PublishPosition(std::uint64_t played);
    // Frames the block being played has sent to the device so far.
    std::uint64_t BlockFramesOut() const { return m_blockCarry + m_pcm->Written() - m_blockStart; }
    void CountDecoded(std::size_t bytes, std::uint64_t frames);

    const HWAVEOUT m_handle;
    const wave::StreamFormat m_format;
    std::unique_ptr<wave::AlsaPcm> m_pcm;
    std::unique_ptr<wave::MpegDecoder> m_decoder; // MPEG formats only
    const HWND m_callback;
    const DWORD_PTR m_instance;

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_resetDone;
    std::deque<WAVEHDR*> m_queue;
    std::deque<Played> m_awaiting;
    // Done, notice not posted yet; filled and emptied under m_lock by the
    // helper thread, which alone posts from it.
    std::vector<WAVEHDR*> m_finished;
    std::chrono::steady_clock::time_point m_finishedSince; // of its oldest
    std::vector<LPARAM> m_donePosts; // helper thread only, kept for its capacity
    std::atomic<std::uint64_t> m_resetRequested{0};
    std::atomic<std::uint64_t> m_resetsDone{0}; // advanced by the helper under m_lock
    std::atomic<bool> m_stop{false};
    std::chrono::steady_clock::time_point m_lastBlock;

    // What the helper last saw of the device and of the block it plays, for
    // QueuedMilliseconds (under m_lock).
    struct Look {
        std::uint64_t deviceFrames = 0; // written, not played yet
        bool running = false;
        std::chrono::steady_clock::time_point at;
        unsigned rate = 0;
        DWORD_PTR block = 0;           // the number of the block being played
        std::uint64_t blockFrames = 0;  // of it at the device
    } m_look;
    double m_framesPerByte = 0;           // under m_lock
    std::uint64_t m_decodedBytes = 0;     // helper thread only, with:
    std::uint64_t m_decodedFrames = 0;
    DWORD_PTR m_blocksWritten = 0; // blocks written so far, numbering them (under m_lock)
    // Where the block being played started at the device (helper thread only).
    DWORD_PTR m_block = 0;
    std::uint64_t m_blockStart = 0;
    std::uint64_t m_blockCarry = 0; // its frames before a format change

    // PCM blocks may split a frame; the remainder waits for the next block.
    std::vector<std::uint8_t> m_partialFrame;
    // Peak of each written chunk and the play position, so the meter can
    // follow what is heard now.
    const std::shared_ptr<wave::AudibleLevel> m_level = std::make_shared<wave::AudibleLevel>();

    std::thread m_thread;
};

} // namespace platform
