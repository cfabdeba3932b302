// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wave/WaveFormat.h"

#include <algorithm>
#include <array>

namespace platform::wave {

bool IsMpegRate(unsigned rate)
{
    static constexpr std::array<unsigned, 9> rates{8000, 11025, 12000, 16000, 22050,
                                                   24000, 32000, 44100, 48000};
    return std::find(rates.begin(), rates.end(), rate) != rates.end();
}

namespace {

MMRESULT ParsePcm(const WAVEFORMATEX& f, StreamFormat& out)
{
    const bool sizeOk = f.wBitsPerSample == 8 || f.wBitsPerSample == 16;
    const bool channelsOk = f.nChannels == 1 || f.nChannels == 2;
    const bool rateOk = f.nSamplesPerSec >= 1000 && f.nSamplesPerSec <= 192000;
    if (!sizeOk || !channelsOk || !rateOk)
        return WAVERR_BADFORMAT;
    const unsigned align = f.nChannels * f.wBitsPerSample / 8u;
    if (f.nBlockAlign != align || f.nAvgBytesPerSec != f.nSamplesPerSec * align)
        return WAVERR_BADFORMAT;
    out.coding = Coding::Pcm;
    out.pcm = {f.nSamplesPerSec, f.nChannels, f.wBitsPerSample};
    out.bytesPerSecond = f.nAvgBytesPerSec;
    return MMSYSERR_NOERROR;
}

MMRESULT ParseMpeg(const WAVEFORMATEX& f, StreamFormat& out)
{
    if ((f.nChannels != 1 && f.nChannels != 2) || !IsMpegRate(f.nSamplesPerSec))
        return WAVERR_BADFORMAT;
    // The decoder always delivers 16-bit samples at the stream's own rate.
    out.coding = Coding::Mpeg;
    out.pcm = {f.nSamplesPerSec, f.nChannels, 16};
    out.bytesPerSecond = f.nAvgBytesPerSec;
    return MMSYSERR_NOERROR;
}

} // namespace

MMRESULT ParseFormat(const WAVEFORMATBUFFER& record, StreamFormat& out)
{
    switch (record.Format.wFormatTag) {
    case WAVE_FORMAT_PCM:
        return ParsePcm(record.Format, out);
    case WAVE_FORMAT_MPEGLAYER3:
    case WAVE_FORMAT_MPEG:
        return ParseMpeg(record.Format, out);
    default:
        return WAVERR_BADFORMAT;
    }
}

} // namespace platform::wave
