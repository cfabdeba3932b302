// SPDX-License-Identifier: GPL-3.0-or-later
// Endless 16-bit PCM signals for the encoder: a sine tone and a short
// generated tune. Plain single-threaded generators.
#pragma once

#include <cstdint>
#include <string>

namespace station {

class PcmSignal {
public:
    virtual ~PcmSignal() = default;
    int SampleRate() const { return sampleRate_; }
    int Channels() const { return channels_; }
    // Fills `frames` sample frames (interleaved) and never runs out.
    virtual void Read(std::int16_t* out, int frames) = 0;
    virtual std::string Title() const = 0;

protected:
    int sampleRate_ = 0;
    int channels_ = 0;
};

class ToneSignal : public PcmSignal {
public:
    static constexpr double Frequency = 440.0;
    ToneSignal(int sampleRate, int channels);
    void Read(std::int16_t* out, int frames) override;
    std::string Title() const override;

private:
    std::int64_t position_ = 0;
};

// A short tune of sine notes with soft attack and release, looped.
class MelodySignal : public PcmSignal {
public:
    MelodySignal(int sampleRate, int channels);
    void Read(std::int16_t* out, int frames) override;
    std::string Title() const override { return "Melodie"; }

private:
    std::int64_t position_ = 0;
};

} // namespace station
