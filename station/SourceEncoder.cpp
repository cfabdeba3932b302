// SPDX-License-Identifier: GPL-3.0-or-later
#include "SourceEncoder.h"

#include <algorithm>
#include <stdexcept>

namespace station {

namespace {

// Version bits of the header by MPEG version: 2.5, reserved, 2, 1.
int VersionBits(int sampleRate)
{
    return sampleRate >= 32000 ? 3 : sampleRate >= 16000 ? 2 : 0;
}

} // namespace

SourceEncoder::SourceEncoder(const StationFormat& format)
    : lame_(lame_init())
    , channels_(format.channels)
{
    if (!lame_)
        throw std::runtime_error("the MP3 encoder cannot be started");
    lame_global_flags* l = lame_.get();
    lame_set_in_samplerate(l, format.sampleRate);
    lame_set_num_channels(l, format.channels);
    lame_set_out_samplerate(l, format.sampleRate);
    lame_set_mode(l, format.channels == 1 ? MONO : JOINT_STEREO);
    lame_set_VBR(l, vbr_off);
    lame_set_brate(l, format.bitrateKbps);
    lame_set_bWriteVbrTag(l, 0); // a live stream has no length to announce
    if (lame_init_params(l) < 0)
        throw std::runtime_error("the MP3 encoder does not support " + std::to_string(format.sampleRate)
                                 + " Hz at " + std::to_string(format.bitrateKbps) + " kbit/s");
}

void SourceEncoder::Encode(const std::int16_t* pcm, int frames)
{
    mp3_.resize(std::size_t(frames) * 5 / 4 + 7200); // LAME's worst case
    // LAME's interleaved call wants two channels; mono goes through the
    // one-channel call with the same buffer as both sides, which it ignores.
    const int bytes = channels_ == 2
        ? lame_encode_buffer_interleaved(lame_.get(), const_cast<short*>(pcm), frames, mp3_.data(), int(mp3_.size()))
        : lame_encode_buffer(lame_.get(), pcm, pcm, frames, mp3_.data(), int(mp3_.size()));
    if (bytes < 0)
        throw std::runtime_error("the MP3 encoder failed with code " + std::to_string(bytes));
    splitter_.Push(std::string_view(reinterpret_cast<const char*>(mp3_.data()), std::size_t(bytes)));
}

FrameHeader EncodedFormat(const StationFormat& format)
{
    const int version = VersionBits(format.sampleRate);
    const int base = format.sampleRate * (version == 3 ? 1 : version == 2 ? 2 : 4);
    const int rateIndex = base == 44100 ? 0 : base == 48000 ? 1 : 2;
    static constexpr int mpeg1[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static constexpr int lower[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    const int* table = version == 3 ? mpeg1 : lower;
    const int bitrateIndex = int(std::find(table, table + 15, format.bitrateKbps) - table);
    const std::uint8_t bytes[4] = {
        0xFF, std::uint8_t(0xE0 | version << 3 | 1 << 1 | 1), // Layer III, no checksum
        std::uint8_t(bitrateIndex << 4 | rateIndex << 2),
        std::uint8_t(format.channels == 1 ? 0xC0 : 0x40)}; // mono or joint stereo
    const auto header = ParseFrameHeader(bytes);
    if (!header)
        throw std::runtime_error("Layer III cannot carry " + std::to_string(format.sampleRate) + " Hz at "
                                 + std::to_string(format.bitrateKbps) + " kbit/s");
    return *header;
}

std::string SilentFrame(const FrameHeader& h)
{
    const int base = h.sampleRate * (h.version == 10 ? 1 : h.version == 20 ? 2 : 4);
    const int versionBits = h.version == 10 ? 3 : h.version == 20 ? 2 : 0;
    const int rateIndex = base == 44100 ? 0 : base == 48000 ? 1 : 2;
    std::string frame(std::size_t(h.UnpaddedBytes()), '\0');
    frame[0] = char(0xFF);
    frame[1] = char(0xE0 | versionBits << 3 | (4 - h.layer) << 1 | 1);
    frame[3] = char(h.channels == 1 ? 0xC0 : 0x40);
    // The bitrate index is the one whose header reads back as this bitrate.
    for (int index = 1; index < 15; ++index) {
        frame[2] = char(index << 4 | rateIndex << 2);
        const auto parsed = ParseFrameHeader(reinterpret_cast<const std::uint8_t*>(frame.data()));
        if (parsed && parsed->bitrate == h.bitrate)
            return frame;
    }
    throw std::runtime_error("no silent frame for a bitrate of " + std::to_string(h.bitrate));
}

} // namespace station
