// SPDX-License-Identifier: GPL-3.0-or-later
// How strongly one frequency sounds in a stretch of decoded 16-bit stereo,
// read from the left channel: the playback tests tell two test tones apart
// by comparing these powers.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace testsupport {

// Goertzel's single-bin transform over `count` interleaved stereo frames.
inline double TonePower(const std::int16_t* frames, std::size_t count, int rate, double hz)
{
    const double coefficient = 2 * std::cos(2 * M_PI * hz / rate);
    double s1 = 0, s2 = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double s0 = frames[2 * i] + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - coefficient * s1 * s2;
}

} // namespace testsupport
