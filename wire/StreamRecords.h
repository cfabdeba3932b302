// The records and greetings that cross the wire between a station and the
// client. Both programs include this header and nothing else of each other.
//
// The records are packed and little-endian exactly as they travel; they are
// copied whole (every byte, including extra bytes beyond cbSize) wherever
// they move.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

static_assert(std::endian::native == std::endian::little,
              "the wire records are laid out for a little-endian host");

#pragma pack(push, 1)

// The 18-byte WAVEFORMATEX head of a format record.
struct TWaveFormatEx {
    std::uint16_t wFormatTag;
    std::uint16_t nChannels;
    std::uint32_t nSamplesPerSec;
    std::uint32_t nAvgBytesPerSec;
    std::uint16_t nBlockAlign;
    std::uint16_t wBitsPerSample;
    std::uint16_t cbSize;
};

// The MPEGLAYER3WAVEFORMAT fields that follow the head for tag 0x0055.
struct TMpegLayer3Extra {
    std::uint16_t wID;
    std::uint32_t fdwFlags;
    std::uint16_t nBlockSize;
    std::uint16_t nFramesPerBlock;
    std::uint16_t nCodecDelay;
};

// A 129-byte audio format record: the head and 111 bytes of format data.
struct TACMWaveFormat {
    TWaveFormatEx Format;
    std::uint8_t Extra[111];
};

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

constexpr std::uint16_t WAVE_FORMAT_PCM = 0x0001;
constexpr std::uint16_t WAVE_FORMAT_MPEG = 0x0050;
constexpr std::uint16_t WAVE_FORMAT_MPEGLAYER3 = 0x0055;

// Sent by the client, once, right after connecting; no terminator, no line end.
constexpr std::string_view StreamGreeting = "KT-SendolinClient v40-Daten"; // 27 bytes
constexpr std::string_view InfoGreeting = "KT-SendolinClient v40-Info";    // 26 bytes
static_assert(StreamGreeting.size() == 27 && InfoGreeting.size() == 26);

constexpr std::uint16_t DefaultPort = 6565;

} // namespace wire
