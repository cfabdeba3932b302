// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/Mp3Encoder.h"

#include <cmath>
#include <lame/lame.h>
#include <memory>
#include <stdexcept>

namespace testsupport {

std::vector<std::int16_t> TestSignal(int rate, int channels, double seconds)
{
    const auto frames = static_cast<std::size_t>(rate * seconds);
    std::vector<std::int16_t> samples(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        for (int c = 0; c < channels; ++c) {
            // A different tone per channel, slowly swelling, so that a swapped
            // or shifted channel shows.
            const double tone = std::sin(2 * M_PI * (440.0 + 220.0 * c) * t);
            const double swell = 0.3 + 0.2 * std::sin(2 * M_PI * 0.5 * t);
            samples[i * channels + c] = static_cast<std::int16_t>(tone * swell * 32000);
        }
    }
    return samples;
}

std::vector<std::uint8_t> EncodeMp3(const Mp3Params& params, const std::vector<std::int16_t>& pcm)
{
    std::unique_ptr<lame_global_flags, decltype(&lame_close)> lame(lame_init(), lame_close);
    if (!lame)
        throw std::runtime_error("lame_init failed");
    lame_set_in_samplerate(lame.get(), params.rate);
    lame_set_out_samplerate(lame.get(), params.rate);
    lame_set_num_channels(lame.get(), params.channels);
    lame_set_mode(lame.get(), params.channels == 1 ? MONO : JOINT_STEREO);
    lame_set_brate(lame.get(), params.kbps);
    lame_set_bWriteVbrTag(lame.get(), 0);
    if (lame_init_params(lame.get()) < 0)
        throw std::runtime_error("lame_init_params refused the parameters");

    const int frames = static_cast<int>(pcm.size() / params.channels);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(1.25 * frames + 7200 + 7200));
    int n = params.channels == 1
                ? lame_encode_buffer(lame.get(), pcm.data(), pcm.data(), frames, out.data(), int(out.size()))
                : lame_encode_buffer_interleaved(lame.get(), const_cast<short*>(pcm.data()), frames, out.data(), int(out.size()));
    if (n < 0)
        throw std::runtime_error("lame_encode_buffer failed");
    const int tail = lame_encode_flush(lame.get(), out.data() + n, int(out.size()) - n);
    if (tail < 0)
        throw std::runtime_error("lame_encode_flush failed");
    out.resize(static_cast<std::size_t>(n + tail));
    return out;
}

std::vector<std::uint8_t> EncodeMp3(const Mp3Params& params)
{
    return EncodeMp3(params, TestSignal(params.rate, params.channels, params.seconds));
}

std::vector<std::uint8_t> EncodeMp3Tone(const Mp3Params& params, double hz)
{
    const auto frames = static_cast<std::size_t>(params.rate * params.seconds);
    std::vector<std::int16_t> pcm(frames * static_cast<std::size_t>(params.channels));
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        const double t = double(i / static_cast<std::size_t>(params.channels)) / params.rate;
        pcm[i] = static_cast<std::int16_t>(std::sin(2 * M_PI * hz * t) * 16000);
    }
    return EncodeMp3(params, pcm);
}

} // namespace testsupport
