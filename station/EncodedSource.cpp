// SPDX-License-Identifier: GPL-3.0-or-later
#include "EncodedSource.h"

#include <stdexcept>

namespace station {

namespace {
constexpr int ChunkFrames = 1152;
}

EncodedSource::EncodedSource(std::unique_ptr<PcmSignal> signal, const StationFormat& format)
    : signal_(std::move(signal))
    , encoder_(format)
    , format_(EncodedFormat(format))
{
    if (signal_->SampleRate() != format.sampleRate || signal_->Channels() != format.channels)
        throw std::logic_error("a generated signal must be made in the station's format");
    pcm_.resize(std::size_t(ChunkFrames) * format.channels);
}

AudioFrame EncodedSource::Next()
{
    std::optional<Frame> frame;
    while (!(frame = encoder_.Next())) {
        signal_->Read(pcm_.data(), ChunkFrames);
        encoder_.Encode(pcm_.data(), ChunkFrames);
    }
    return {std::make_shared<const std::string>(std::move(frame->bytes)), frame->header.Seconds()};
}

} // namespace station
