// SPDX-License-Identifier: GPL-3.0-or-later
// The records and greetings that cross the wire between a station and the
// client. Both programs include this header and nothing else of each other.
//
// The records are packed and little-endian exactly as they travel; they are
// copied whole (every byte, including extra bytes beyond cbSize) wherever
// they move.
#pragma once

#include "platform/core/MMReg.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

// The format records are the platform's own, byte for byte: the station
// builds them, the client hands them to its wave output unchanged.
using TWaveFormatEx = platform::WAVEFORMATEX;         // the 18-byte head
using TMpegLayer3Extra = platform::MPEGLAYER3WAVEFORMAT_EXTRA; // after the head for tag 0x0055
using TACMWaveFormat = platform::WAVEFORMATBUFFER;    // 129 bytes: the head and 111 bytes of format data

#pragma pack(push, 1)

// The 514-byte record that opens the stream channel.
struct TStreamHeader {
    std::uint8_t StationName[256]; // byte 0: length n, bytes 1..n: Windows-1252 text
    TACMWaveFormat FormatOut;      // the decoded output format
    TACMWaveFormat FormatIn;       // the format of the audio bytes that follow
};

#pragma pack(pop)

static_assert(sizeof(TWaveFormatEx) == 18);
static_assert(sizeof(TMpegLayer3Extra) == 12);
static_assert(sizeof(TACMWaveFormat) == 129);
static_assert(sizeof(TStreamHeader) == 514);
static_assert(offsetof(TStreamHeader, FormatOut) == 256);
static_assert(offsetof(TStreamHeader, FormatIn) == 385);

namespace wire {

using platform::WAVE_FORMAT_MPEG;
using platform::WAVE_FORMAT_MPEGLAYER3;
using platform::WAVE_FORMAT_PCM;

// Sent by the client, once, right after connecting; no terminator, no line end.
constexpr std::string_view StreamGreeting = "KT-SendolinClient v40-Daten"; // 27 bytes
constexpr std::string_view InfoGreeting = "KT-SendolinClient v40-Info";    // 26 bytes
static_assert(StreamGreeting.size() == 27 && InfoGreeting.size() == 26);

constexpr std::uint16_t DefaultPort = 6565;

} // namespace wire
