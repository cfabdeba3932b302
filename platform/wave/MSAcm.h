// SPDX-License-Identifier: GPL-3.0-or-later
// A minimal conversion-stream interface: enough to open, size, prepare and
// close a stream between two format records. MPEG audio → PCM and PCM → PCM
// are accepted; every other pair gives ACMERR_NOTPOSSIBLE. No data is
// converted here; the wave output's mapper does the decoding for playback.
#pragma once

#include "platform/wave/MMSystem.h"

namespace platform {

constexpr MMRESULT ACMERR_BASE = 512;
constexpr MMRESULT ACMERR_NOTPOSSIBLE = ACMERR_BASE + 0;
constexpr MMRESULT ACMERR_BUSY = ACMERR_BASE + 1;
constexpr MMRESULT ACMERR_UNPREPARED = ACMERR_BASE + 2;
constexpr MMRESULT ACMERR_CANCELED = ACMERR_BASE + 3;

constexpr DWORD ACM_STREAMOPENF_QUERY = 0x00000001;
constexpr DWORD ACM_STREAMOPENF_ASYNC = 0x00000002;
constexpr DWORD ACM_STREAMOPENF_NONREALTIME = 0x00000004;

constexpr DWORD ACM_STREAMSIZEF_SOURCE = 0x00000000;
constexpr DWORD ACM_STREAMSIZEF_DESTINATION = 0x00000001;

constexpr DWORD ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_INQUEUE = 0x00100000;

struct ACMSTREAMHEADER {
    DWORD cbStruct;
    DWORD fdwStatus;
    DWORD_PTR dwUser;
    std::uint8_t* pbSrc;
    DWORD cbSrcLength;
    DWORD cbSrcLengthUsed;
    DWORD_PTR dwSrcUser;
    std::uint8_t* pbDst;
    DWORD cbDstLength;
    DWORD cbDstLengthUsed;
    DWORD_PTR dwDstUser;
    DWORD dwReservedDriver[10];
};

// Handles are never reused, like the wave output's.
struct HACMSTREAM__;
using HACMSTREAM = HACMSTREAM__*;

MMRESULT acmStreamOpen(HACMSTREAM* phas, void* driver, const WAVEFORMATBUFFER* source,
                       const WAVEFORMATBUFFER* destination, void* filter, DWORD_PTR callback,
                       DWORD_PTR instance, DWORD flags);
MMRESULT acmStreamSize(HACMSTREAM has, DWORD input, DWORD* output, DWORD flags);
MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* header, DWORD flags);
MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* header, DWORD flags);
// Fails with ACMERR_BUSY while a header is still prepared.
MMRESULT acmStreamClose(HACMSTREAM has, DWORD flags);

} // namespace platform
