// SPDX-License-Identifier: GPL-3.0-or-later
// One opened file or stream, read through FFmpeg: its audio stream's packets
// in order, and its title as it changes (ICY StreamTitle or the file's tags).
// Lives on a source's reader thread. Blocking reads end through FFmpeg's
// interrupt callback when the source stops or no byte has come for the stall
// limit, so a dead upstream never holds the thread.
#pragma once

#include "FfmpegHandles.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <string>

namespace station {

class FfmpegInput {
public:
    static constexpr std::chrono::seconds StallLimit{5};

    // Opens `url` (a path or an http/https URL; an .m3u/.pls URL is read and
    // its first entry opened). Throws std::runtime_error with the reason.
    FfmpegInput(const std::string& url, const std::atomic<bool>& stop);

    // The next packet of the audio stream, valid until the next call; null at
    // the end. Throws std::runtime_error on a read error or a stall.
    const AVPacket* Read();
    const AVCodecParameters& Codec() const { return *stream_->codecpar; }
    bool IsMpegAudio() const;
    // "mp3, 44100 Hz, 2 ch, 128 kbit/s"
    std::string Describe() const;
    // The title in Windows-1252 when it differs from what was last returned.
    std::optional<std::string> TitleChange();

private:
    static int Interrupted(void* opaque);
    void Open(const std::string& url, int playlistDepth);
    std::string CurrentTitle();

    const std::atomic<bool>& stop_;
    std::string path_;
    bool remote_ = false;
    AVFormatContext* opening_ = nullptr; // the context while avformat_open_input owns it
    InputHandle context_;
    AVStream* stream_ = nullptr;
    PacketHandle packet_;
    std::chrono::steady_clock::time_point lastActivity_;
    std::int64_t lastBytes_ = -1;
    bool stalled_ = false;
    std::string icyPacket_; // the last ICY metadata block seen
    std::string icyTitle_;
    std::optional<std::string> reported_;
};

// Windows-1252 for text from an upstream: UTF-8 when it is valid UTF-8 (a
// character Windows-1252 lacks becomes '?'), else taken as Latin-1 bytes.
std::string UpstreamText(std::string_view text);
// The StreamTitle of an ICY metadata block; empty when it has none.
std::optional<std::string> IcyStreamTitle(std::string_view block);

} // namespace station
