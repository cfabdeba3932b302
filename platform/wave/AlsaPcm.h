// SPDX-License-Identifier: GPL-3.0-or-later
// One ALSA playback PCM ("default"), used only by a device's helper thread
// after open, except Interrupt(), which any thread may call. Non-blocking: a
// writer waiting for room sleeps in poll() on the device's descriptors and an
// eventfd that Interrupt() raises, so it sleeps as long as the device lets it
// and still notices a stop request at once.
#pragma once

#include "platform/wave/WaveFormat.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

struct _snd_pcm;

namespace platform::wave {

class AlsaPcm {
public:
    ~AlsaPcm();
    AlsaPcm(const AlsaPcm&) = delete;
    AlsaPcm& operator=(const AlsaPcm&) = delete;

    // Opens the default PCM; on failure the MMRESULT says why.
    static MMRESULT Open(std::unique_ptr<AlsaPcm>& out);

    // Sets rate, channels and sample size with about a second of device
    // buffer in 50 ms periods; the device starts once StartMs of audio is
    // in it. Any audio still buffered is discarded.
    MMRESULT Configure(const PcmLayout& layout);
    const PcmLayout& Layout() const { return m_layout; }
    // The device's buffer and start threshold in frames, as it took them.
    unsigned long BufferFrames() const { return m_bufferFrames; }
    unsigned long StartFrames() const { return m_startFrames; }

    // Playing time a stream gathers before the device starts. The buffer is
    // only its room: a live stream keeps no more in it than it gathered
    // before the start, so the buffer's size adds no delay, while a stream
    // that is far ahead fills it and lets the writer sleep for most of it.
    // The start has to outlast the gap between two network batches (100 ms
    // from the station) with room for a late one.
    static constexpr unsigned StartMs = 300;

    // Writes whole frames, waiting for room; recovers from underruns. Returns
    // false when stop() turned true before everything was written. A device
    // that fails for good (unplugged) swallows what it is given, so that
    // blocks keep completing and the stream can be closed normally.
    // stop() is asked before every attempt, so also after every wait.
    bool Write(const std::uint8_t* data, std::size_t frames, const std::function<bool()>& stop);
    // Wakes a Write that waits for room, so that it asks stop() again.
    void Interrupt();

    // Frames written since Configure, and how many of them have been played.
    std::uint64_t Written() const { return m_written; }
    std::uint64_t Played();
    // True once the device plays (it starts at its threshold or on Kick).
    bool Running();

    // Starts a prepared device that holds less than its start threshold, so
    // the tail of a stream plays instead of waiting for more data.
    void Kick();
    // Stops at once and discards what is buffered.
    void Drop();

private:
    // The eventfd behind Interrupt(), closed with the PCM.
    struct Interruption {
        Interruption();
        ~Interruption();
        Interruption(const Interruption&) = delete;
        Interruption& operator=(const Interruption&) = delete;
        int fd = -1;
    };

    AlsaPcm() = default;
    bool Recover(int error);
    void WaitForRoom();
    // A writer waits for room until only a quarter second is left to play,
    // so it wakes a few times a second, not once a period.
    void ApplyWakeThreshold();

    _snd_pcm* m_pcm = nullptr;
    Interruption m_interrupt;
    PcmLayout m_layout;
    std::uint64_t m_written = 0;
    unsigned long m_bufferFrames = 0;
    unsigned long m_periodFrames = 0;
    unsigned long m_startFrames = 0;
    bool m_broken = false;
};

} // namespace platform::wave
