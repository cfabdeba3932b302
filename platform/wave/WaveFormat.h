// SPDX-License-Identifier: GPL-3.0-or-later
// What a format record asks the output for, checked once at open time and
// shared by the wave output and the conversion streams.
#pragma once

#include "platform/wave/MMSystem.h"

namespace platform::wave {

enum class Coding { Pcm, Mpeg };

// The PCM layout the device is configured with.
struct PcmLayout {
    unsigned rate = 0;
    unsigned channels = 0;
    unsigned bits = 0; // 8 (unsigned) or 16 (signed, little-endian)

    unsigned FrameBytes() const { return channels * bits / 8; }
    bool operator==(const PcmLayout&) const = default;
};

struct StreamFormat {
    Coding coding = Coding::Pcm;
    PcmLayout pcm; // for MPEG: the layout the record announces
    unsigned bytesPerSecond = 0; // what the record announces; may be 0 for MPEG
};

// MMSYSERR_NOERROR and the parsed format, or WAVERR_BADFORMAT for an unknown
// tag or a record whose fields contradict each other.
MMRESULT ParseFormat(const WAVEFORMATBUFFER& record, StreamFormat& out);

// True when the sample rate is one MPEG-1, -2 or -2.5 audio can carry.
bool IsMpegRate(unsigned rate);

} // namespace platform::wave
