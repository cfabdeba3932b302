// SPDX-License-Identifier: GPL-3.0-or-later
// What a source name on the command line builds, and which formats Layer III
// can carry. Stateless.
#include "AudioSource.h"
#include "EncodedSource.h"
#include "FfmpegSource.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <mutex>
#include <stdexcept>

namespace station {

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

std::unique_ptr<AudioSource> MakeSource(const std::string& name, const StationFormat& format,
                                        const SourceSettings& settings)
{
    if (const std::string problem = FormatProblem(format); !problem.empty())
        throw std::runtime_error(problem);
    if (name == "tone")
        return std::make_unique<EncodedSource>(std::make_unique<ToneSignal>(format.sampleRate, format.channels), format);
    if (name == "melody")
        return std::make_unique<EncodedSource>(std::make_unique<MelodySignal>(format.sampleRate, format.channels), format);
    static std::once_flag ffmpegReady;
    std::call_once(ffmpegReady, [] {
        // The station reports upstream faults in its own log lines; FFmpeg's
        // own chatter about each damaged frame would bury them.
        av_log_set_level(AV_LOG_FATAL);
        avformat_network_init(); // TLS set up once, before readers run side by side
    });
    return std::make_unique<FfmpegSource>(name, format, settings);
}

} // namespace station
