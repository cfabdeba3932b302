// SPDX-License-Identifier: GPL-3.0-or-later
#include "SourceTranscoder.h"

#include <cstring>
#include <stdexcept>
#include <utility>

namespace station {

SourceTranscoder::SourceTranscoder(const AVCodecParameters& codec, int sampleRate, int channels, PcmSink sink)
    : frame_(av_frame_alloc())
    , packet_(av_packet_alloc())
    , sampleRate_(sampleRate)
    , sink_(std::move(sink))
{
    const AVCodec* decoder = avcodec_find_decoder(codec.codec_id);
    if (!decoder)
        throw std::runtime_error(std::string("no decoder for ") + avcodec_get_name(codec.codec_id));
    codec_.reset(avcodec_alloc_context3(decoder));
    if (!codec_ || !frame_ || !packet_)
        throw std::runtime_error("out of memory for the decoder");
    if (const int r = avcodec_parameters_to_context(codec_.get(), &codec); r < 0)
        throw std::runtime_error("the decoder refuses the stream: " + FfmpegError(r));
    if (const int r = avcodec_open2(codec_.get(), decoder, nullptr); r < 0)
        throw std::runtime_error("the decoder cannot be opened: " + FfmpegError(r));
    av_channel_layout_default(&layout_, channels);
}

SourceTranscoder::~SourceTranscoder()
{
    av_channel_layout_uninit(&layout_);
    av_channel_layout_uninit(&inLayout_);
}

void SourceTranscoder::Decode(const AVPacket* packet)
{
    // A refused packet (a damaged frame) costs only itself.
    if (avcodec_send_packet(codec_.get(), packet) < 0 && packet)
        return;
    Receive();
}

void SourceTranscoder::DecodeBytes(const std::string& frame)
{
    av_packet_unref(packet_.get());
    if (av_new_packet(packet_.get(), int(frame.size())) < 0)
        return;
    std::memcpy(packet_->data, frame.data(), frame.size());
    Decode(packet_.get());
}

std::string SourceTranscoder::TakeFormatChange()
{
    return std::exchange(formatChange_, {});
}

void SourceTranscoder::Receive()
{
    while (avcodec_receive_frame(codec_.get(), frame_.get()) >= 0) {
        Convert(*frame_);
        av_frame_unref(frame_.get());
    }
}

void SourceTranscoder::Convert(const AVFrame& frame)
{
    if (!resampler_ || frame.sample_rate != inRate_ || frame.format != inFormat_
        || av_channel_layout_compare(&frame.ch_layout, &inLayout_) != 0)
        SetUpResampler(frame);
    const int capacity = swr_get_out_samples(resampler_.get(), frame.nb_samples);
    if (capacity <= 0)
        return;
    pcm_.resize(std::size_t(capacity) * layout_.nb_channels);
    auto* out = reinterpret_cast<std::uint8_t*>(pcm_.data());
    const int got = swr_convert(resampler_.get(), &out, capacity, const_cast<const std::uint8_t**>(frame.extended_data),
                                frame.nb_samples);
    if (got > 0)
        sink_(pcm_.data(), got);
}

void SourceTranscoder::SetUpResampler(const AVFrame& frame)
{
    if (resampler_) {
        formatChange_ = std::to_string(frame.sample_rate) + " Hz, " + std::to_string(frame.ch_layout.nb_channels)
                      + " ch";
    }
    // A decoder that names no channel order gets the usual one for its count.
    AVChannelLayout in{};
    if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&in, frame.ch_layout.nb_channels);
    else
        av_channel_layout_copy(&in, &frame.ch_layout);
    SwrContext* raw = nullptr;
    const int r = swr_alloc_set_opts2(&raw, &layout_, AV_SAMPLE_FMT_S16, sampleRate_, &in,
                                      AVSampleFormat(frame.format), frame.sample_rate, 0, nullptr);
    av_channel_layout_uninit(&in);
    resampler_.reset(raw);
    if (r < 0 || swr_init(resampler_.get()) < 0)
        throw std::runtime_error("the resampler refuses " + std::to_string(frame.sample_rate) + " Hz");
    inRate_ = frame.sample_rate;
    inFormat_ = frame.format;
    av_channel_layout_uninit(&inLayout_);
    av_channel_layout_copy(&inLayout_, &frame.ch_layout);
}

} // namespace station
