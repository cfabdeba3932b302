// SPDX-License-Identifier: GPL-3.0-or-later
// Decodes one input's audio stream and resamples it (libswresample) to the
// station's rate and channel count as interleaved 16-bit PCM, for the
// encoder. The decoded format may change mid-stream; the resampler follows.
// Lives on a source's reader thread.
#pragma once

#include "FfmpegHandles.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace station {

class SourceTranscoder {
public:
    using PcmSink = std::function<void(const std::int16_t* pcm, int frames)>;

    // Throws std::runtime_error when no decoder takes the stream.
    SourceTranscoder(const AVCodecParameters& codec, int sampleRate, int channels, PcmSink sink);
    ~SourceTranscoder();
    SourceTranscoder(const SourceTranscoder&) = delete;
    SourceTranscoder& operator=(const SourceTranscoder&) = delete;

    // Decodes one packet; a packet the decoder refuses is passed over. Null
    // drains the decoder at the end of the input.
    void Decode(const AVPacket* packet);
    // Decodes one whole MPEG frame given as bytes.
    void DecodeBytes(const std::string& frame);
    // Set when the decoded format changed after the first frame ("44100 Hz, 2 ch").
    std::string TakeFormatChange();

private:
    void Receive();
    void Convert(const AVFrame& frame);
    void SetUpResampler(const AVFrame& frame);

    CodecHandle codec_;
    AvFrameHandle frame_;
    PacketHandle packet_;
    ResamplerHandle resampler_;
    const int sampleRate_;
    AVChannelLayout layout_{};
    PcmSink sink_;
    int inRate_ = 0;
    int inFormat_ = -1;
    AVChannelLayout inLayout_{};
    std::string formatChange_;
    std::vector<std::int16_t> pcm_;
};

} // namespace station
