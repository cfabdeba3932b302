// SPDX-License-Identifier: GPL-3.0-or-later
// Format records for audio tests, filled the way a station fills them.
#pragma once

#include "wire/StreamRecords.h"

namespace testsupport {

inline TACMWaveFormat PcmFormat(unsigned rate, unsigned channels, unsigned bits, std::uint16_t cbSize = 0)
{
    const auto align = std::uint16_t(channels * bits / 8);
    TACMWaveFormat format{};
    format.Format = {wire::WAVE_FORMAT_PCM, std::uint16_t(channels), rate, rate * align, align,
                     std::uint16_t(bits), cbSize};
    return format;
}

// MPEG audio (Layer III unless another tag is given) at the given rate.
inline TACMWaveFormat MpegFormat(unsigned rate = 11025, unsigned channels = 2, unsigned kbps = 24,
                                 std::uint16_t tag = wire::WAVE_FORMAT_MPEGLAYER3)
{
    TACMWaveFormat format{};
    format.Format = {tag, std::uint16_t(channels), rate, kbps * 125, 1, 0, 12};
    return format;
}

} // namespace testsupport
