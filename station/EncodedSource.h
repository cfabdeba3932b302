// SPDX-License-Identifier: GPL-3.0-or-later
// A generated PCM signal encoded with LAME, frame by frame as the broadcast
// clock asks for them. The signal is made at the station's rate and channel
// count. Single-threaded.
#pragma once

#include "AudioSource.h"
#include "PcmSignal.h"
#include "SourceEncoder.h"

#include <memory>
#include <vector>

namespace station {

class EncodedSource : public AudioSource {
public:
    // Throws std::runtime_error when LAME refuses the format.
    EncodedSource(std::unique_ptr<PcmSignal> signal, const StationFormat& format);

    AudioFrame Next() override;
    const FrameHeader& Format() const override { return format_; }
    std::string Title() const override { return signal_->Title(); }

private:
    std::unique_ptr<PcmSignal> signal_;
    SourceEncoder encoder_;
    std::vector<std::int16_t> pcm_;
    FrameHeader format_;
};

} // namespace station
