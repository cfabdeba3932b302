// SPDX-License-Identifier: GPL-3.0-or-later
#include "FfmpegInput.h"

#include "Playlist.h"
#include "Text.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <filesystem>
#include <stdexcept>

namespace station {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int MaxPlaylistDepth = 3;
constexpr int MaxPlaylistBytes = 64 * 1024;

bool IsValidUtf8(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        const auto lead = static_cast<std::uint8_t>(s[i]);
        const int extra = lead < 0x80 ? 0 : (lead >> 5) == 6 ? 1 : (lead >> 4) == 14 ? 2 : (lead >> 3) == 30 ? 3 : -1;
        if (extra < 0 || i + extra >= s.size())
            return false;
        for (int k = 1; k <= extra; ++k) {
            if ((static_cast<std::uint8_t>(s[i + k]) >> 6) != 2)
                return false;
        }
        i += std::size_t(extra) + 1;
    }
    return true;
}

std::string Tag(AVDictionary* metadata, const char* key)
{
    const AVDictionaryEntry* e = av_dict_get(metadata, key, nullptr, 0);
    return e ? e->value : "";
}

} // namespace

std::string UpstreamText(std::string_view text)
{
    std::string out = IsValidUtf8(text) ? Utf8ToCp1252(text) : std::string(text);
    for (char& c : out) {
        if (static_cast<std::uint8_t>(c) < 0x20)
            c = '?';
    }
    return out;
}

std::optional<std::string> IcyStreamTitle(std::string_view block)
{
    constexpr std::string_view key = "StreamTitle='";
    const auto start = block.find(key);
    if (start == std::string_view::npos)
        return std::nullopt;
    std::string_view rest = block.substr(start + key.size());
    // A title may hold apostrophes: it ends at "';", or at the block's last quote.
    auto end = rest.find("';");
    if (end == std::string_view::npos)
        end = rest.rfind('\'');
    return std::string(rest.substr(0, end == std::string_view::npos ? rest.size() : end));
}

FfmpegInput::FfmpegInput(const std::string& url, const std::atomic<bool>& stop)
    : stop_(stop)
    , packet_(av_packet_alloc())
{
    Open(url, 0);
}

int FfmpegInput::Interrupted(void* opaque)
{
    auto* self = static_cast<FfmpegInput*>(opaque);
    if (self->stop_)
        return 1;
    const AVFormatContext* c = self->context_ ? self->context_.get() : self->opening_;
    const auto now = Clock::now();
    if (c && c->pb && c->pb->bytes_read != self->lastBytes_) {
        self->lastBytes_ = c->pb->bytes_read;
        self->lastActivity_ = now;
    }
    self->stalled_ = now - self->lastActivity_ > StallLimit;
    return self->stalled_ ? 1 : 0;
}

void FfmpegInput::Open(const std::string& url, int playlistDepth)
{
    remote_ = Playlist::IsUrl(url);
    lastActivity_ = Clock::now();
    const AVIOInterruptCB interrupt{&FfmpegInput::Interrupted, this};
    AVDictionary* raw = nullptr;
    if (remote_) {
        av_dict_set(&raw, "icy", "1", 0);
        av_dict_set(&raw, "user_agent", "sendolin-station", 0);
    }
    DictionaryHandle options(raw);

    if (remote_ && Playlist::IsPlaylistName(url)) {
        if (playlistDepth >= MaxPlaylistDepth)
            throw std::runtime_error("playlists lead to playlists too often");
        AVIOContext* io = nullptr;
        raw = options.release();
        const int opened = avio_open2(&io, url.c_str(), AVIO_FLAG_READ, &interrupt, &raw);
        options.reset(raw);
        IoHandle handle(io);
        if (opened < 0)
            throw std::runtime_error(stalled_ ? "no data for 5 s" : FfmpegError(opened));
        std::string text(MaxPlaylistBytes, '\0');
        const int got = avio_read(io, reinterpret_cast<unsigned char*>(text.data()), MaxPlaylistBytes);
        text.resize(std::size_t(std::max(got, 0)));
        for (const std::string& entry : Playlist::ParseText(text, url)) {
            if (Playlist::IsUrl(entry))
                return Open(entry, playlistDepth + 1);
        }
        throw std::runtime_error("the playlist " + url + " names no stream");
    }

    opening_ = avformat_alloc_context();
    opening_->interrupt_callback = interrupt;
    // A live stream at a low bitrate takes many seconds to fill FFmpeg's
    // default probes; a few frames tell the formats apart.
    opening_->probesize = 32 * 1024;
    opening_->format_probesize = 8 * 1024;
    opening_->max_analyze_duration = AV_TIME_BASE / 2;
    raw = options.release();
    const int opened = avformat_open_input(&opening_, url.c_str(), nullptr, &raw);
    options.reset(raw);
    if (opened < 0) { // the context is freed by the failed call
        opening_ = nullptr;
        throw std::runtime_error(stalled_ ? "no data for 5 s" : FfmpegError(opened));
    }
    context_.reset(opening_);
    opening_ = nullptr;
    path_ = url;
    if (const int found = avformat_find_stream_info(context_.get(), nullptr); found < 0)
        throw std::runtime_error(stalled_ ? "no data for 5 s" : FfmpegError(found));
    const int index = av_find_best_stream(context_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0)
        throw std::runtime_error("no audio in it");
    stream_ = context_->streams[index];
}

const AVPacket* FfmpegInput::Read()
{
    for (;;) {
        av_packet_unref(packet_.get());
        const int read = av_read_frame(context_.get(), packet_.get());
        // An interrupted read can surface as the end of the input.
        if (read == AVERROR_EOF && !stalled_)
            return nullptr;
        if (read < 0)
            throw std::runtime_error(stalled_ ? "no data for 5 s" : FfmpegError(read));
        lastActivity_ = Clock::now();
        if (packet_->stream_index == stream_->index)
            return packet_.get();
    }
}

bool FfmpegInput::IsMpegAudio() const
{
    const AVCodecID id = stream_->codecpar->codec_id;
    return id == AV_CODEC_ID_MP3 || id == AV_CODEC_ID_MP2 || id == AV_CODEC_ID_MP1;
}

std::string FfmpegInput::Describe() const
{
    const AVCodecParameters& c = *stream_->codecpar;
    std::string text = std::string(avcodec_get_name(c.codec_id)) + ", " + std::to_string(c.sample_rate) + " Hz, "
                     + std::to_string(c.ch_layout.nb_channels) + " ch";
    if (c.bit_rate > 0)
        text += ", " + std::to_string((c.bit_rate + 500) / 1000) + " kbit/s";
    return text;
}

std::optional<std::string> FfmpegInput::TitleChange()
{
    std::string title = CurrentTitle();
    if (reported_ && *reported_ == title)
        return std::nullopt;
    reported_ = title;
    return title;
}

std::string FfmpegInput::CurrentTitle()
{
    if (remote_) {
        std::uint8_t* block = nullptr;
        if (context_->pb && av_opt_get(context_->pb, "icy_metadata_packet", AV_OPT_SEARCH_CHILDREN, &block) >= 0
            && block) {
            const std::string text(reinterpret_cast<const char*>(block));
            av_free(block);
            if (text != icyPacket_) {
                icyPacket_ = text;
                if (const auto title = IcyStreamTitle(text))
                    icyTitle_ = UpstreamText(*title);
            }
        }
        if (!icyTitle_.empty())
            return icyTitle_;
    }
    // Containers keep tags on the file (ID3, MP4) or on the stream (Vorbis comments).
    for (AVDictionary* metadata : {context_->metadata, stream_->metadata}) {
        const std::string title = Tag(metadata, "title");
        const std::string artist = Tag(metadata, "artist");
        if (!title.empty() || !artist.empty())
            return UpstreamText(artist.empty() || title.empty() ? artist + title : artist + " - " + title);
    }
    return remote_ ? "" : Utf8ToCp1252(std::filesystem::path(path_).stem().string());
}

} // namespace station
