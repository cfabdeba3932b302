// SPDX-License-Identifier: GPL-3.0-or-later
#include "PcmSignal.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace station {

namespace {

constexpr double Amplitude = 0.5 * 32767;

void WriteFrame(std::int16_t*& out, int channels, double value)
{
    const auto sample = static_cast<std::int16_t>(std::lround(value));
    for (int c = 0; c < channels; ++c)
        *out++ = sample;
}

} // namespace

ToneSignal::ToneSignal(int sampleRate, int channels)
{
    sampleRate_ = sampleRate;
    channels_ = channels;
}

void ToneSignal::Read(std::int16_t* out, int frames)
{
    for (int i = 0; i < frames; ++i, ++position_) {
        const double t = double(position_ % sampleRate_) / sampleRate_;
        WriteFrame(out, channels_, Amplitude * std::sin(2 * std::numbers::pi * Frequency * t));
    }
}

std::string ToneSignal::Title() const
{
    return "Sinuston " + std::to_string(int(Frequency)) + " Hz";
}

MelodySignal::MelodySignal(int sampleRate, int channels)
{
    sampleRate_ = sampleRate;
    channels_ = channels;
}

void MelodySignal::Read(std::int16_t* out, int frames)
{
    // Semitones above A4 and lengths in eighths; a rest is a semitone of 99.
    struct Note { int semitone; int eighths; };
    static constexpr Note Tune[] = {{-9, 2}, {-5, 2}, {-2, 2}, {3, 4}, {99, 1}, {-2, 1},
                                    {0, 2},  {-2, 2}, {-5, 2}, {-9, 4}, {99, 2}};
    const std::int64_t eighth = sampleRate_ / 5;
    std::int64_t loop = 0;
    for (const Note& n : Tune)
        loop += n.eighths * eighth;

    for (int i = 0; i < frames; ++i, ++position_) {
        std::int64_t t = position_ % loop;
        const Note* note = Tune;
        while (t >= note->eighths * eighth) {
            t -= note->eighths * eighth;
            ++note;
        }
        double value = 0;
        if (note->semitone != 99) {
            const double length = double(note->eighths * eighth);
            const double envelope = std::min({1.0, double(t) / (0.02 * sampleRate_), (length - double(t)) / (0.05 * sampleRate_)});
            const double freq = 440.0 * std::pow(2.0, note->semitone / 12.0);
            value = Amplitude * envelope * std::sin(2 * std::numbers::pi * freq * double(t) / sampleRate_);
        }
        WriteFrame(out, channels_, value);
    }
}

} // namespace station
