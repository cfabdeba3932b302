// SPDX-License-Identifier: GPL-3.0-or-later
// An MPEG audio decoder on libmpg123's feed interface: bytes go in as they
// arrive, in any sizes; 16-bit PCM comes out at the stream's own rate and
// channel count. Garbage is skipped (the decoder resyncs) and a change of
// format inside the stream is reported, never fatal.
#pragma once

#include "platform/wave/WaveFormat.h"

#include <cstddef>
#include <cstdint>
#include <functional>

struct mpg123_handle_struct;

namespace platform::wave {

class MpegDecoder {
public:
    // Receives decoded PCM and the layout it is in; false stops decoding.
    using Sink = std::function<bool(const std::uint8_t* pcm, std::size_t bytes, const PcmLayout& layout)>;

    MpegDecoder();
    ~MpegDecoder();
    MpegDecoder(const MpegDecoder&) = delete;
    MpegDecoder& operator=(const MpegDecoder&) = delete;

    bool IsValid() const { return m_handle != nullptr; }

    // Feeds bytes and hands every frame they complete to sink, one call per
    // frame; the PCM is the decoder's own and valid during the call only.
    // Returns false when the sink stopped.
    bool Decode(const std::uint8_t* data, std::size_t size, const Sink& sink);

    // Forgets buffered input, for a stop in mid-stream.
    void Restart();

private:
    bool Open();

    mpg123_handle_struct* m_handle = nullptr;
    PcmLayout m_layout;
};

} // namespace platform::wave
