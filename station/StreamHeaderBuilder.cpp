// SPDX-License-Identifier: GPL-3.0-or-later
#include "StreamHeaderBuilder.h"

#include <algorithm>
#include <cstring>

namespace station {

namespace {

// What the client's decoder needs to open the MPEG stream.
TACMWaveFormat CompressedFormat(const FrameHeader& frames, int averageBytesPerSecond)
{
    TACMWaveFormat f{};
    f.Format.wFormatTag = frames.layer == 3 ? wire::WAVE_FORMAT_MPEGLAYER3 : wire::WAVE_FORMAT_MPEG;
    f.Format.nChannels = std::uint16_t(frames.channels);
    f.Format.nSamplesPerSec = std::uint32_t(frames.sampleRate);
    f.Format.nAvgBytesPerSec = std::uint32_t(averageBytesPerSecond);
    f.Format.nBlockAlign = 1;
    f.Format.wBitsPerSample = 0;
    if (frames.layer == 3) {
        TMpegLayer3Extra extra{};
        extra.wID = 1;              // MPEGLAYER3_ID_MPEG
        extra.fdwFlags = 2;         // padding is not signalled separately
        extra.nBlockSize = std::uint16_t(frames.UnpaddedBytes());
        extra.nFramesPerBlock = 1;
        extra.nCodecDelay = 1393;
        f.Format.cbSize = sizeof extra;
        std::memcpy(f.Extra, &extra, sizeof extra);
    }
    return f;
}

// The PCM the client decodes the stream to.
TACMWaveFormat DecodedFormat(const FrameHeader& frames)
{
    TACMWaveFormat f{};
    f.Format.wFormatTag = wire::WAVE_FORMAT_PCM;
    f.Format.nChannels = std::uint16_t(frames.channels);
    f.Format.nSamplesPerSec = std::uint32_t(frames.sampleRate);
    f.Format.nBlockAlign = std::uint16_t(frames.channels * 2);
    f.Format.nAvgBytesPerSec = std::uint32_t(frames.sampleRate * frames.channels * 2);
    f.Format.wBitsPerSample = 16;
    f.Format.cbSize = 0;
    return f;
}

} // namespace

TStreamHeader BuildStreamHeader(const std::string& name, const FrameHeader& frames, int averageBytesPerSecond)
{
    TStreamHeader h{};
    const std::size_t length = std::min<std::size_t>(name.size(), 255);
    h.StationName[0] = std::uint8_t(length);
    std::memcpy(h.StationName + 1, name.data(), length);
    h.FormatOut = DecodedFormat(frames);
    h.FormatIn = CompressedFormat(frames, averageBytesPerSecond);
    return h;
}

std::string HeaderBytes(const TStreamHeader& header)
{
    return std::string(reinterpret_cast<const char*>(&header), sizeof header);
}

} // namespace station
