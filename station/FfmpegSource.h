// SPDX-License-Identifier: GPL-3.0-or-later
// A source read through FFmpeg: a file of any format FFmpeg reads, a
// playlist, a folder, or a live http/https stream. MPEG audio already in the
// station's format is relayed frame for frame; anything else is decoded,
// resampled and encoded with LAME.
//
// Threading: the reading, decoding and encoding run on a reader thread of the
// source's own and hand finished frames to the broadcast clock through a
// small bounded queue (SourceQueue). Next() and Title() run on the station's
// Asio thread and never wait: a dry queue yields a silent frame in the
// stream's format, so an upstream that ends, stalls or fails keeps the
// listeners while the reader reconnects with a growing pause. The destructor
// stops the reader and ends any blocking read through FFmpeg's interrupt.
#pragma once

#include "AudioSource.h"
#include "Playlist.h"
#include "SourceEncoder.h"
#include "SourceQueue.h"

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

namespace station {

class FfmpegInput;

class FfmpegSource : public AudioSource {
public:
    // Opens the first playable entry at once; throws std::runtime_error
    // naming `name` when nothing of it can be opened.
    FfmpegSource(const std::string& name, const StationFormat& format, const SourceSettings& settings);
    ~FfmpegSource() override;

    AudioFrame Next() override { return queue_->Pop(); }
    const FrameHeader& Format() const override { return format_; }
    std::string Title() const override { return queue_->Title(); }

    // How much audio the reader may have decoded ahead of the clock.
    static constexpr double QueueSeconds = 2.0;

private:
    struct Session;

    std::unique_ptr<Session> OpenFirst();
    std::unique_ptr<Session> Open(const std::string& entry);
    FrameHeader CopiedFormat(Session& session);
    void Run(std::unique_ptr<Session> session);
    void Play(Session& session);
    void Deliver(Session& session, Frame& frame);
    void StartTranscoding(Session& session, const std::string& why);
    void LogMode(const Session& session, const std::string& mode);
    void Encode(Session& session, const std::int16_t* pcm, int frames);
    void Push(Session& session, std::string bytes, double seconds);
    bool Relayable(const FrameHeader& header) const;

    const std::string name_;
    const StationFormat station_;
    Playlist playlist_;
    FrameHeader format_;
    StationFormat encodeFormat_;
    bool canEncode_ = true;
    std::optional<SourceEncoder> encoder_; // the reader's, kept across entries so files join seamlessly
    std::unique_ptr<Session> first_; // opened at start-up, handed to the reader
    std::string lastModeLine_;
    std::atomic<bool> stop_{false};
    std::unique_ptr<SourceQueue> queue_;
    std::thread reader_;
};

// The name as it may be shown: a URL without its user and password.
std::string ShownName(const std::string& name);
// "MPEG-1 Layer III, 44100 Hz, 2 ch, 128 kbit/s"
std::string FormatText(const FrameHeader& header);

} // namespace station
