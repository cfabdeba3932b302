// Endless 16-bit PCM signals for the encoder: a sine tone, a short generated
// tune and a looped WAV file. Plain single-threaded generators.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// A PCM WAV file (8 or 16 bits, mono or stereo, any rate), held in memory and looped.
class WavSignal : public PcmSignal {
public:
    // Throws std::runtime_error for a file that is not such a WAV file.
    explicit WavSignal(const std::string& path);
    void Read(std::int16_t* out, int frames) override;
    std::string Title() const override { return title_; }

private:
    std::vector<std::int16_t> samples_;
    std::size_t position_ = 0;
    std::string title_;
};

} // namespace station
