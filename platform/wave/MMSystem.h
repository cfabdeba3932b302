// SPDX-License-Identifier: GPL-3.0-or-later
// The waveOut-style output calls the audio components are written against,
// with the original result codes, flags and notice numbers.
//
// One output device exists: ALSA's "default" PCM. It is reached as device 0 or
// through the mapper (WAVE_MAPPER); compressed formats (MPEG audio) are decoded
// by the mapper, so they open only through it. All calls are made from the GUI
// thread; decoding and device writes happen on one helper thread per open
// device, which reports finished blocks by posting MM_WOM_DONE to the
// NotifyWindow given as callback, in the order the blocks were written.
#pragma once

#include "platform/core/NotifyWindow.h"
#include "platform/core/MMReg.h"

#include <cstdint>

namespace platform {

using MMRESULT = unsigned;
using UINT = unsigned;
using DWORD = std::uint32_t;
using DWORD_PTR = std::uintptr_t;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;
constexpr MMRESULT WAVERR_SYNC = 35;

constexpr UINT WAVE_MAPPER = 0xFFFFFFFFu;

// waveOutOpen flags.
constexpr DWORD WAVE_FORMAT_QUERY = 0x0001;
constexpr DWORD WAVE_MAPPED = 0x0004;
constexpr DWORD CALLBACK_TYPEMASK = 0x00070000;
constexpr DWORD CALLBACK_NULL = 0x00000000;
constexpr DWORD CALLBACK_WINDOW = 0x00010000;

// Notices posted to the callback window; wParam = the device handle.
constexpr unsigned MM_WOM_OPEN = 0x3BB;
constexpr unsigned MM_WOM_CLOSE = 0x3BC;
constexpr unsigned MM_WOM_DONE = 0x3BD; // lParam = the finished WAVEHDR

// WAVEHDR.dwFlags
constexpr DWORD WHDR_DONE = 0x01;
constexpr DWORD WHDR_PREPARED = 0x02;
constexpr DWORD WHDR_BEGINLOOP = 0x04;
constexpr DWORD WHDR_ENDLOOP = 0x08;
constexpr DWORD WHDR_INQUEUE = 0x10;

struct WAVEHDR {
    char* lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    DWORD dwLoops;
    WAVEHDR* lpNext;
    DWORD_PTR reserved;
};
using PWaveHdr = WAVEHDR*;

// Handles are never reused, so a notice from a closed device can always be
// told apart from one of the device opened after it.
struct HWAVEOUT__;
using HWAVEOUT = HWAVEOUT__*;

// Opens the output on a 129-byte format record. PCM (8-bit unsigned or
// 16-bit signed) opens on device 0 or the mapper; MPEG audio (0x55, 0x50)
// only through the mapper. An unknown tag or an inconsistent record gives
// WAVERR_BADFORMAT; no usable ALSA device gives MMSYSERR_BADDEVICEID or
// MMSYSERR_NODRIVER.
MMRESULT waveOutOpen(HWAVEOUT* phwo, UINT deviceId, const WAVEFORMATBUFFER* format,
                     DWORD_PTR callback, DWORD_PTR instance, DWORD flags);
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* header, UINT size);
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* header, UINT size);
MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* header, UINT size);
// Stops at once; every queued block is marked done and its notice posted.
MMRESULT waveOutReset(HWAVEOUT hwo);
// Fails with WAVERR_STILLPLAYING while blocks are queued.
MMRESULT waveOutClose(HWAVEOUT hwo);
// Playing time of the blocks written and not heard yet, in milliseconds:
// exact for decoded audio; blocks not decoded yet count at the record's
// announced byte rate (without one, at the rate the stream decoded lately).
MMRESULT waveOutGetQueuedTime(HWAVEOUT hwo, DWORD* milliseconds);

// Per-channel peak (0..32767) of the output that is audible now, across all
// open devices; 0 while nothing plays. Read by the software mixer's meter.
void waveOutGetAudiblePeak(unsigned& left, unsigned& right);

} // namespace platform
