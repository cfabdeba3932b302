// One ALSA playback PCM ("default"), used only by a device's helper thread
// after open. Non-blocking, so a writer waiting for room can notice a stop
// request within a few milliseconds.
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

    // Sets rate, channels and sample size with 100–250 ms of device buffer.
    // Any audio still buffered is discarded.
    MMRESULT Configure(const PcmLayout& layout);
    const PcmLayout& Layout() const { return m_layout; }

    // Writes whole frames, waiting for room; recovers from underruns. Returns
    // false when stop() turned true before everything was written. A device
    // that fails for good (unplugged) swallows what it is given, so that
    // blocks keep completing and the stream can be closed normally.
    bool Write(const std::uint8_t* data, std::size_t frames, const std::function<bool()>& stop);

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
    AlsaPcm() = default;
    bool Recover(int error);

    _snd_pcm* m_pcm = nullptr;
    PcmLayout m_layout;
    std::uint64_t m_written = 0;
    bool m_broken = false;
};

} // namespace platform::wave
