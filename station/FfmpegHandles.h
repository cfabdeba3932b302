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

// FFmpeg's freeing functions take the pointer's address so that they can
// null it; one deleter serves them all.
template <class T, auto Free>
struct FreedWith {
    void operator()(T* p) const { Free(&p); }
};

using InputHandle = std::unique_ptr<AVFormatContext, FreedWith<AVFormatContext, avformat_close_input>>;
using CodecHandle = std::unique_ptr<AVCodecContext, FreedWith<AVCodecContext, avcodec_free_context>>;
using PacketHandle = std::unique_ptr<AVPacket, FreedWith<AVPacket, av_packet_free>>;
using AvFrameHandle = std::unique_ptr<AVFrame, FreedWith<AVFrame, av_frame_free>>;
using ResamplerHandle = std::unique_ptr<SwrContext, FreedWith<SwrContext, swr_free>>;
using DictionaryHandle = std::unique_ptr<AVDictionary, FreedWith<AVDictionary, av_dict_free>>;
using IoHandle = std::unique_ptr<AVIOContext, FreedWith<AVIOContext, avio_closep>>;

// FFmpeg's text for an error code.
inline std::string FfmpegError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

} // namespace station
