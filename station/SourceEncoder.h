// SPDX-License-Identifier: GPL-3.0-or-later
// LAME behind a frame interface: interleaved 16-bit PCM at the station's rate
// and channel count goes in, whole MPEG frames of the station's format come
// out. Used by one thread at a time (the broadcast clock for generated
// signals, a source's reader thread for decoded upstreams).
#pragma once

#include "AudioSource.h"
#include "MpegFrame.h"

#include <lame/lame.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace station {

class SourceEncoder {
public:
    // Throws std::runtime_error when LAME refuses the format.
    explicit SourceEncoder(const StationFormat& format);

    // `frames` sample frames of format.channels interleaved samples each.
    void Encode(const std::int16_t* pcm, int frames);
    // The next finished frame, if any.
    std::optional<Frame> Next() { return splitter_.Next(); }

private:
    struct LameClose {
        void operator()(lame_global_flags* flags) const { lame_close(flags); }
    };

    std::unique_ptr<lame_global_flags, LameClose> lame_;
    int channels_;
    FrameSplitter splitter_;
    std::vector<unsigned char> mp3_;
};

// The frame header LAME writes for `format`: what a stream of it announces.
FrameHeader EncodedFormat(const StationFormat& format);

// A frame of `header`'s stream that decodes to silence: the header without
// padding or checksum and an all-zero body, so no bit is allocated to any band.
std::string SilentFrame(const FrameHeader& header);

} // namespace station
