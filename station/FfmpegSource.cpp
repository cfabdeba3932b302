// SPDX-License-Identifier: GPL-3.0-or-later
#include "FfmpegSource.h"

#include "FfmpegInput.h"
#include "Log.h"
#include "SourceTranscoder.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <stdexcept>

namespace station {

namespace {

using Clock = std::chrono::steady_clock;

// After running dry, audio gathers this long before it plays again.
constexpr double PrebufferSeconds = 0.5;
constexpr std::chrono::seconds FirstPause{1};
constexpr std::chrono::seconds LongestPause{30};
// An upstream whose bytes hold no audio this long is treated as stalled.
constexpr auto AudioLimit = FfmpegInput::StallLimit;

bool HasLayer3Bitrate(const StationFormat& f)
{
    return FormatProblem({f.sampleRate, f.channels, f.bitrateKbps, false}).empty();
}

} // namespace

// One opened entry and what its frames go through.
struct FfmpegSource::Session {
    std::string entry;
    std::unique_ptr<FfmpegInput> input;
    FrameSplitter splitter;
    std::deque<Frame> pending; // frames read before the reader started
    std::unique_ptr<SourceTranscoder> transcoder;
    bool relaying = false;
    bool delivered = false;
    Clock::time_point lastAudio = Clock::now();
};

std::string ShownName(const std::string& name)
{
    if (!Playlist::IsUrl(name))
        return name;
    const auto scheme = name.find("://") + 3;
    const auto at = name.find('@', scheme);
    const auto slash = name.find('/', scheme);
    if (at == std::string::npos || (slash != std::string::npos && at > slash))
        return name;
    return name.substr(0, scheme) + name.substr(at + 1);
}

std::string FormatText(const FrameHeader& h)
{
    const char* version = h.version == 10 ? "MPEG-1" : h.version == 20 ? "MPEG-2" : "MPEG-2.5";
    const char* layers[] = {"", "I", "II", "III"};
    return std::string(version) + " Layer " + layers[h.layer] + ", " + std::to_string(h.sampleRate) + " Hz, "
         + std::to_string(h.channels) + " ch, " + std::to_string(h.bitrate / 1000) + " kbit/s";
}

FfmpegSource::FfmpegSource(const std::string& name, const StationFormat& format, const SourceSettings& settings)
    : name_(ShownName(name))
    , station_(format)
    , playlist_(name, settings.shuffle)
{
    std::unique_ptr<Session> first = OpenFirst();
    if (!format.copyBitrate) {
        format_ = EncodedFormat(format);
    } else if (first->input->IsMpegAudio()) {
        format_ = CopiedFormat(*first);
    } else {
        // Nothing to copy: encode at the station's rate with a bitrate Layer III has there.
        StationFormat fallback = format;
        if (!HasLayer3Bitrate(fallback))
            fallback.bitrateKbps = fallback.sampleRate >= 32000 ? 128 : 64;
        format_ = EncodedFormat(fallback);
    }
    encodeFormat_ = {format_.sampleRate, format_.channels, format_.bitrate / 1000, false};
    canEncode_ = format_.layer == 3;
    const AudioFrame silence{std::make_shared<const std::string>(SilentFrame(format_)), format_.Seconds()};
    queue_ = std::make_unique<SourceQueue>(QueueSeconds, PrebufferSeconds, silence);
    if (auto title = first->input->TitleChange())
        queue_->SetTitle(*title);
    LogLine(name_ + ": the stream goes out as " + FormatText(format_));
    first_ = std::move(first);
    reader_ = std::thread([this] { Run(std::move(first_)); });
}

FfmpegSource::~FfmpegSource()
{
    stop_ = true;
    queue_->Close();
    reader_.join();
}

std::unique_ptr<FfmpegSource::Session> FfmpegSource::OpenFirst()
{
    std::string reason;
    for (std::size_t tried = 0; tried < playlist_.Size(); ++tried, playlist_.Advance()) {
        const std::string entry = playlist_.Current();
        // A live stream joined at an unlucky byte may not be recognised at
        // once: it has a second try before the station gives up on it.
        for (int attempt = Playlist::IsUrl(entry) ? 2 : 1; attempt > 0; --attempt) {
            try {
                return Open(entry);
            } catch (const std::exception& e) {
                reason = ShownName(entry) + ": " + e.what();
            }
            if (attempt > 1)
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        if (playlist_.Size() == 1)
            throw std::runtime_error("cannot open " + reason);
        LogLine(Severity::Warning, "cannot open " + reason);
    }
    throw std::runtime_error("cannot open any of the " + std::to_string(playlist_.Size()) + " entries of " + name_
                             + " (the last: " + reason + ")");
}

std::unique_ptr<FfmpegSource::Session> FfmpegSource::Open(const std::string& entry)
{
    auto session = std::make_unique<Session>();
    session->entry = ShownName(entry);
    session->input = std::make_unique<FfmpegInput>(entry, stop_);
    session->lastAudio = Clock::now();
    return session;
}

FrameHeader FfmpegSource::CopiedFormat(Session& s)
{
    while (const AVPacket* packet = s.input->Read()) {
        s.splitter.Push(std::string_view(reinterpret_cast<const char*>(packet->data), std::size_t(packet->size)));
        if (auto frame = s.splitter.Next()) {
            const FrameHeader header = frame->header;
            s.pending.push_back(std::move(*frame));
            return header;
        }
        if (Clock::now() - s.lastAudio > AudioLimit)
            break;
    }
    throw std::runtime_error("cannot open " + s.entry + ": no MPEG audio frames in it");
}

bool FfmpegSource::Relayable(const FrameHeader& h) const
{
    if (h.layer != format_.layer || !h.SameStream(format_) || h.channels != format_.channels)
        return false;
    return station_.copyBitrate || h.bitrate == format_.bitrate;
}

void FfmpegSource::Run(std::unique_ptr<Session> session)
{
    auto pause = FirstPause;
    std::size_t failures = 0;
    while (!stop_) {
        const std::string entry = playlist_.Current();
        const bool live = Playlist::IsUrl(entry);
        bool delivered = false;
        try {
            if (!session)
                session = Open(entry);
            Play(*session);
            delivered = session->delivered;
            if (live && !stop_)
                LogLine(ShownName(entry) + ": the upstream ended");
        } catch (const std::exception& e) {
            delivered = session && session->delivered;
            if (stop_)
                break;
            LogLine(Severity::Warning, ShownName(entry) + ": upstream fault: " + e.what());
            lastModeLine_.clear(); // the recovery is worth a line of its own
        }
        session.reset();
        if (stop_)
            break;
        playlist_.Advance();
        failures = delivered ? 0 : failures + 1;
        if (delivered)
            pause = FirstPause;
        if (!live && failures < playlist_.Size())
            continue; // the next file follows at once
        LogLine(name_ + ": silence while reconnecting in " + std::to_string(pause.count()) + " s");
        if (!queue_->Sleep(pause))
            break;
        pause = std::min(pause * 2, LongestPause);
    }
}

void FfmpegSource::Play(Session& s)
{
    if (auto title = s.input->TitleChange())
        queue_->SetTitle(*title);
    const bool mpeg = s.input->IsMpegAudio();
    if (!mpeg)
        StartTranscoding(s, "transcoding " + s.input->Describe() + " to " + FormatText(format_));
    while (!stop_) {
        for (; !s.pending.empty(); s.pending.pop_front())
            Deliver(s, s.pending.front());
        const AVPacket* packet = s.input->Read();
        if (!packet)
            break;
        if (auto title = s.input->TitleChange())
            queue_->SetTitle(*title);
        if (mpeg) {
            s.splitter.Push(std::string_view(reinterpret_cast<const char*>(packet->data), std::size_t(packet->size)));
            while (auto frame = s.splitter.Next())
                Deliver(s, *frame);
        } else {
            s.transcoder->Decode(packet);
        }
        if (s.transcoder) {
            if (const std::string change = s.transcoder->TakeFormatChange(); !change.empty())
                LogLine(s.entry + ": the format changed mid-stream to " + change + "; resampled from here on");
        }
        if (Clock::now() - s.lastAudio > AudioLimit)
            throw std::runtime_error("no audio in what it sent for 5 s");
    }
    if (mpeg) {
        s.splitter.Finish();
        while (auto frame = s.splitter.Next())
            Deliver(s, *frame);
    }
    if (s.transcoder)
        s.transcoder->Decode(nullptr);
}

void FfmpegSource::Deliver(Session& s, Frame& frame)
{
    if (!s.transcoder && Relayable(frame.header)) {
        if (!s.relaying)
            LogMode(s, "relaying " + FormatText(frame.header) + " frame for frame");
        s.relaying = true;
        Push(s, std::move(frame.bytes), frame.header.Seconds());
        return;
    }
    if (!s.transcoder) {
        StartTranscoding(s, s.relaying ? "the format changed mid-stream to " + FormatText(frame.header)
                                             + "; transcoding to " + FormatText(format_) + " from here on"
                                       : "transcoding " + FormatText(frame.header) + " to " + FormatText(format_));
    }
    s.transcoder->DecodeBytes(frame.bytes);
}

void FfmpegSource::StartTranscoding(Session& s, const std::string& why)
{
    LogMode(s, why + (canEncode_ ? "" : "; the encoder makes only Layer III, so silence instead"));
    s.transcoder = std::make_unique<SourceTranscoder>(s.input->Codec(), encodeFormat_.sampleRate,
                                                      encodeFormat_.channels,
                                                      [this, &s](const std::int16_t* pcm, int frames) {
                                                          Encode(s, pcm, frames);
                                                      });
}

void FfmpegSource::LogMode(const Session& s, const std::string& mode)
{
    // A file looped alone would repeat its line at every round.
    std::string line = s.entry + ": " + mode;
    if (line != lastModeLine_)
        LogLine(line);
    lastModeLine_ = std::move(line);
}

void FfmpegSource::Encode(Session& s, const std::int16_t* pcm, int frames)
{
    if (!canEncode_)
        return; // the announced stream is not Layer III: silence instead
    if (!encoder_) {
        try {
            encoder_.emplace(encodeFormat_);
        } catch (const std::exception& e) {
            LogLine(Severity::Error, name_ + ": " + e.what() + "; silence instead");
            canEncode_ = false;
            return;
        }
    }
    encoder_->Encode(pcm, frames);
    while (auto frame = encoder_->Next())
        Push(s, std::move(frame->bytes), frame->header.Seconds());
}

void FfmpegSource::Push(Session& s, std::string bytes, double seconds)
{
    queue_->Push({std::make_shared<const std::string>(std::move(bytes)), seconds});
    s.delivered = true;
    s.lastAudio = Clock::now();
}

} // namespace station
