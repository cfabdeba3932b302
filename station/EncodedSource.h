// A PCM signal encoded with LAME, frame by frame as the broadcast clock asks
// for them. The encoder resamples whatever rate the signal has to the
// station's format. Single-threaded.
#pragma once

#include "AudioSource.h"
#include "PcmSignal.h"

#include <lame/lame.h>

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
    struct LameClose {
        void operator()(lame_global_flags* flags) const { lame_close(flags); }
    };

    void EncodeMore();

    std::unique_ptr<PcmSignal> signal_;
    std::unique_ptr<lame_global_flags, LameClose> lame_;
    FrameSplitter splitter_;
    std::vector<std::int16_t> pcm_;
    std::vector<unsigned char> mp3_;
    std::optional<Frame> pending_; // the first frame, encoded early to learn the format
    FrameHeader format_;
};

} // namespace station
