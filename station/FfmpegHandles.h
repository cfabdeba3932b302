// SPDX-License-Identifier: GPL-3.0-or-later
// Owning handles for the FFmpeg objects the sources use, so that every path
// out of a reader, thrown or returned, frees what it opened. No state of
// their own; each handle belongs to the thread that made it.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

#include <memory>
#include <string>

namespace station {

struct InputClose {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct AvFrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct ResamplerFree {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
struct DictionaryFree {
    void operator()(AVDictionary* d) const { av_dict_free(&d); }
};
struct IoClose {
    void operator()(AVIOContext* io) const { avio_closep(&io); }
};

using InputHandle = std::unique_ptr<AVFormatContext, InputClose>;
using CodecHandle = std::unique_ptr<AVCodecContext, CodecFree>;
using PacketHandle = std::unique_ptr<AVPacket, PacketFree>;
using AvFrameHandle = std::unique_ptr<AVFrame, AvFrameFree>;
using ResamplerHandle = std::unique_ptr<SwrContext, ResamplerFree>;
using IoHandle = std::unique_ptr<AVIOContext, IoClose>;

// FFmpeg's text for an error code.
inline std::string FfmpegError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

} // namespace station
