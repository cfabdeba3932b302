#include "EncodedSource.h"

#include "Mp3FileSource.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace station {

namespace {
constexpr int ChunkFrames = 1152;
}

EncodedSource::EncodedSource(std::unique_ptr<PcmSignal> signal, const StationFormat& format)
    : signal_(std::move(signal))
    , lame_(lame_init())
{
    if (!lame_)
        throw std::runtime_error("the MP3 encoder cannot be started");
    lame_global_flags* l = lame_.get();
    lame_set_in_samplerate(l, signal_->SampleRate());
    // LAME is always fed stereo: a mono signal is widened, and LAME itself
    // mixes down when the station sends mono.
    lame_set_num_channels(l, 2);
    lame_set_out_samplerate(l, format.sampleRate);
    lame_set_mode(l, format.channels == 1 ? MONO : JOINT_STEREO);
    lame_set_VBR(l, vbr_off);
    lame_set_brate(l, format.bitrateKbps);
    lame_set_bWriteVbrTag(l, 0); // a live stream has no length to announce
    if (lame_init_params(l) < 0)
        throw std::runtime_error("the MP3 encoder does not support " + std::to_string(format.sampleRate)
                                 + " Hz at " + std::to_string(format.bitrateKbps) + " kbit/s");
    pcm_.resize(std::size_t(ChunkFrames) * 2);
    mp3_.resize(ChunkFrames * 5 / 4 + 7200); // LAME's worst case for one chunk

    while (!(pending_ = splitter_.Next()))
        EncodeMore();
    format_ = pending_->header;
}

void EncodedSource::EncodeMore()
{
    signal_->Read(pcm_.data(), ChunkFrames);
    if (signal_->Channels() == 1) {
        for (int i = ChunkFrames - 1; i >= 0; --i)
            pcm_[2 * i] = pcm_[2 * i + 1] = pcm_[i];
    }
    const int bytes =
        lame_encode_buffer_interleaved(lame_.get(), pcm_.data(), ChunkFrames, mp3_.data(), int(mp3_.size()));
    if (bytes < 0)
        throw std::runtime_error("the MP3 encoder failed with code " + std::to_string(bytes));
    splitter_.Push(std::string_view(reinterpret_cast<const char*>(mp3_.data()), std::size_t(bytes)));
}

AudioFrame EncodedSource::Next()
{
    std::optional<Frame> frame = std::move(pending_);
    pending_.reset();
    while (!frame) {
        EncodeMore();
        frame = splitter_.Next();
    }
    return {std::make_shared<const std::string>(std::move(frame->bytes)), frame->header.Seconds()};
}

std::string FormatProblem(const StationFormat& format)
{
    // MPEG-1 at 32, 44.1 and 48 kHz; MPEG-2 at half those, MPEG-2.5 at a quarter.
    static constexpr int mpeg1[] = {32000, 44100, 48000};
    const bool isMpeg1 = std::find(std::begin(mpeg1), std::end(mpeg1), format.sampleRate) != std::end(mpeg1);
    const bool isLower = std::any_of(std::begin(mpeg1), std::end(mpeg1), [&](int r) {
        return format.sampleRate * 2 == r || format.sampleRate * 4 == r;
    });
    if (!isMpeg1 && !isLower)
        return "rate " + std::to_string(format.sampleRate)
               + " Hz is not an MPEG Layer III rate (8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000)";
    if (format.channels != 1 && format.channels != 2)
        return "channels must be 1 or 2";
    if (format.copyBitrate)
        return {};
    static constexpr int mpeg1Rates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static constexpr int lowerRates[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    const auto* first = isMpeg1 ? std::begin(mpeg1Rates) : std::begin(lowerRates);
    const auto* last = isMpeg1 ? std::end(mpeg1Rates) : std::end(lowerRates);
    if (std::find(first, last, format.bitrateKbps) == last)
        return std::to_string(format.bitrateKbps) + " kbit/s is not a Layer III bitrate at "
               + std::to_string(format.sampleRate) + " Hz (" + (isMpeg1 ? "32 to 320" : "8 to 160") + ")";
    return {};
}

std::unique_ptr<AudioSource> MakeSource(const std::string& name, const StationFormat& format, const SourceSettings&)
{
    auto endsWith = [&](std::string_view suffix) {
        if (name.size() <= suffix.size())
            return false;
        for (std::size_t i = 0; i < suffix.size(); ++i) {
            if (std::tolower(static_cast<unsigned char>(name[name.size() - suffix.size() + i])) != suffix[i])
                return false;
        }
        return true;
    };
    if (name == "tone")
        return std::make_unique<EncodedSource>(std::make_unique<ToneSignal>(format.sampleRate, format.channels), format);
    if (name == "melody")
        return std::make_unique<EncodedSource>(std::make_unique<MelodySignal>(format.sampleRate, format.channels), format);
    if (endsWith(".wav"))
        return std::make_unique<EncodedSource>(std::make_unique<WavSignal>(name), format);
    if (endsWith(".mp3"))
        return std::make_unique<Mp3FileSource>(std::vector<std::string>{name}, format);
    if (endsWith(".m3u"))
        return std::make_unique<Mp3FileSource>(Mp3FileSource::ReadPlaylist(name), format);
    throw std::runtime_error("unknown source '" + name + "' (tone, melody, or a .mp3, .m3u or .wav file)");
}

} // namespace station
