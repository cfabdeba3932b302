// SPDX-License-Identifier: GPL-3.0-or-later
// The audio format records the wave output and the conversion streams read:
// the WAVEFORMATEX head, the MPEG Layer-3 fields that follow it, and a format
// with room for its format-specific bytes. They are packed and little-endian
// as Windows lays them out, so records that arrive from elsewhere can be
// copied in whole. Plain data, no dependencies: programs that only build or
// read such records (the station) include this header and nothing else of
// the platform.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little,
              "the format records are laid out for a little-endian host");

namespace platform {

constexpr std::uint16_t WAVE_FORMAT_PCM = 0x0001;
constexpr std::uint16_t WAVE_FORMAT_MPEG = 0x0050;
constexpr std::uint16_t WAVE_FORMAT_MPEGLAYER3 = 0x0055;

// Format-specific bytes a WAVEFORMATBUFFER holds after its head.
constexpr std::size_t WAVEFORMAT_EXTRA_BYTES = 111;

#pragma pack(push, 1)

struct WAVEFORMATEX {
    std::uint16_t wFormatTag;
    std::uint16_t nChannels;
    std::uint32_t nSamplesPerSec;
    std::uint32_t nAvgBytesPerSec;
    std::uint16_t nBlockAlign;
    std::uint16_t wBitsPerSample;
    std::uint16_t cbSize; // bytes of format data after the head
};

// The fields of an MPEGLAYER3WAVEFORMAT after its WAVEFORMATEX head.
struct MPEGLAYER3WAVEFORMAT_EXTRA {
    std::uint16_t wID;
    std::uint32_t fdwFlags;
    std::uint16_t nBlockSize;
    std::uint16_t nFramesPerBlock;
    std::uint16_t nCodecDelay;
};

// A format as the wave and conversion calls take it: the head and the bytes
// that may follow it, in one fixed-size record.
struct WAVEFORMATBUFFER {
    WAVEFORMATEX Format;
    std::uint8_t Extra[WAVEFORMAT_EXTRA_BYTES];
};

#pragma pack(pop)

static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(offsetof(WAVEFORMATEX, nSamplesPerSec) == 4);
static_assert(offsetof(WAVEFORMATEX, cbSize) == 16);
static_assert(sizeof(MPEGLAYER3WAVEFORMAT_EXTRA) == 12);
static_assert(sizeof(WAVEFORMATBUFFER) == 129);
static_assert(offsetof(WAVEFORMATBUFFER, Extra) == 18);

} // namespace platform
