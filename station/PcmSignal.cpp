#include "PcmSignal.h"

#include "Text.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <stdexcept>

namespace station {

namespace {

constexpr double Amplitude = 0.5 * 32767;

std::uint32_t LittleEndian(const std::string& s, std::size_t pos, int bytes)
{
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | static_cast<std::uint8_t>(s[pos + i]);
    return v;
}

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

WavSignal::WavSignal(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open " + path);
    const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < 12 || file.compare(0, 4, "RIFF") != 0 || file.compare(8, 4, "WAVE") != 0)
        throw std::runtime_error(path + ": not a RIFF WAVE file");

    int bits = 0;
    std::string_view data;
    for (std::size_t pos = 12; pos + 8 <= file.size();) {
        const std::string id = file.substr(pos, 4);
        const std::size_t size = std::min<std::size_t>(LittleEndian(file, pos + 4, 4), file.size() - pos - 8);
        if (id == "fmt " && size >= 16) {
            if (LittleEndian(file, pos + 8, 2) != 1)
                throw std::runtime_error(path + ": only uncompressed PCM WAV files can be played");
            channels_ = int(LittleEndian(file, pos + 10, 2));
            sampleRate_ = int(LittleEndian(file, pos + 12, 4));
            bits = int(LittleEndian(file, pos + 22, 2));
        } else if (id == "data") {
            data = std::string_view(file).substr(pos + 8, size);
        }
        pos += 8 + size + (size & 1);
    }
    if ((bits != 8 && bits != 16) || channels_ < 1 || channels_ > 2 || sampleRate_ < 8000 || sampleRate_ > 48000)
        throw std::runtime_error(path + ": needs 8- or 16-bit PCM, 1 or 2 channels, 8000 to 48000 Hz");
    const std::size_t frameBytes = std::size_t(bits / 8 * channels_);
    const std::size_t count = data.size() / frameBytes * channels_;
    if (count == 0)
        throw std::runtime_error(path + ": holds no samples");
    samples_.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        samples_[i] = bits == 16 ? static_cast<std::int16_t>(LittleEndian(file, std::size_t(data.data() - file.data()) + 2 * i, 2))
                                 : static_cast<std::int16_t>((static_cast<std::uint8_t>(data[i]) - 128) << 8);
    }
    title_ = Utf8ToCp1252(std::filesystem::path(path).stem().string());
}

void WavSignal::Read(std::int16_t* out, int frames)
{
    for (std::size_t n = std::size_t(frames) * channels_; n > 0; --n) {
        *out++ = samples_[position_];
        position_ = (position_ + 1) % samples_.size();
    }
}

} // namespace station
