// SPDX-License-Identifier: GPL-3.0-or-later
// Test audio: MP3 files made with LAME (never downloaded), decoding with
// libmpg123, and a tone detector. Used by the station tests only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fixtures {

struct Mp3File {
    std::string tagged;     // the whole file: ID3v2, junk, Xing frame, audio, ID3v1
    std::string audio;      // only the audio frames, as a station must send them
};

// Encodes `seconds` of reproducible noise as constant-bitrate MP3 and wraps it
// in an ID3v2 tag carrying `artist` and `title`, some junk bytes, a Xing
// frame, and an ID3v1 tag.
Mp3File MakeNoiseMp3(double seconds, int sampleRate, int channels, int kbps,
                     const std::string& artist, const std::string& title);

bool WriteFile(const std::string& path, const std::string& bytes);

// Decodes MPEG audio to interleaved 16-bit PCM; rate and channels are reported back.
std::vector<std::int16_t> DecodeMp3(const std::string& bytes, long& rate, int& channels);

// Where `received` lies in the endless loop of `audio`, or npos when it is not a piece of it.
std::size_t LoopPosition(const std::string& audio, const std::string& received);

// Power of one channel of interleaved PCM at `frequency`, relative to its total power.
double ToneShare(const std::vector<std::int16_t>& pcm, int channels, long rate, double frequency);

} // namespace fixtures
