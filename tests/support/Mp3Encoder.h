// SPDX-License-Identifier: GPL-3.0-or-later
// Test material: MP3 bytes made on the spot with LAME from a generated
// two-tone signal, so no test depends on a downloaded file.
#pragma once

#include <cstdint>
#include <vector>

namespace testsupport {

struct Mp3Params {
    int rate = 11025;
    int channels = 2;
    int kbps = 24;
    double seconds = 2.0;
};

std::vector<std::uint8_t> EncodeMp3(const Mp3Params& params);
// One steady sine tone of `hz` on every channel, for tests that tell two
// stretches of audio apart by their frequency.
std::vector<std::uint8_t> EncodeMp3Tone(const Mp3Params& params, double hz);
// Encodes the given interleaved samples instead of the generated signal
// (params.seconds is not used).
std::vector<std::uint8_t> EncodeMp3(const Mp3Params& params, const std::vector<std::int16_t>& pcm);

// The generated signal itself, 16-bit interleaved, for PCM tests.
std::vector<std::int16_t> TestSignal(int rate, int channels, double seconds);

} // namespace testsupport
