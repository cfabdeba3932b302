// SPDX-License-Identifier: GPL-3.0-or-later
// The mixer-style calls the level meters are written against, with the
// original result codes, flags, record layouts and notice numbers.
//
// One mixer device exists: device 0, a software mixer over the program's own
// wave output. It has one destination (the speakers, two channels, no source
// lines) with one control, a signed peak meter whose value per channel is the
// peak magnitude of what the output plays now. It never changes, so it posts
// no MM_MIXM_* notices. Handles are never reused; a closed or unknown one is
// MMSYSERR_INVALHANDLE. The calls are made on the GUI thread; reading the
// meter takes no lock that the audio thread holds while it writes.
#pragma once

#include "platform/wave/MMSystem.h"

#include <cstdint>

namespace platform {

using LONG = std::int32_t;
using WORD = std::uint16_t;
using UINT_PTR = std::uintptr_t;

constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MIXERR_INVALLINE = 1024;
constexpr MMRESULT MIXERR_INVALCONTROL = 1025;
constexpr MMRESULT MIXERR_INVALVALUE = 1026;

// Notices to the window given to mixerOpen: wParam = the mixer handle,
// lParam = the line id or control id.
constexpr unsigned MM_MIXM_LINE_CHANGE = 0x3D0;
constexpr unsigned MM_MIXM_CONTROL_CHANGE = 0x3D1;

// Object-type bits of the flags; 0 (MIXER_OBJECTF_MIXER) also takes an open handle.
constexpr DWORD MIXER_OBJECTF_HANDLE = 0x80000000u;
constexpr DWORD MIXER_OBJECTF_MIXER = 0x00000000u;
constexpr DWORD MIXER_OBJECTF_HMIXER = MIXER_OBJECTF_HANDLE | MIXER_OBJECTF_MIXER;
constexpr DWORD MIXER_OBJECTF_TYPEMASK = 0xF0000000u;

constexpr DWORD MIXER_GETLINEINFOF_DESTINATION = 0;
constexpr DWORD MIXER_GETLINEINFOF_SOURCE = 1;
constexpr DWORD MIXER_GETLINEINFOF_QUERYMASK = 0x0000000Fu;
constexpr DWORD MIXER_GETLINECONTROLSF_ALL = 0;
constexpr DWORD MIXER_GETLINECONTROLSF_QUERYMASK = 0x0000000Fu;
constexpr DWORD MIXER_GETCONTROLDETAILSF_VALUE = 0;
constexpr DWORD MIXER_GETCONTROLDETAILSF_QUERYMASK = 0x0000000Fu;

constexpr DWORD MIXERLINE_LINEF_ACTIVE = 0x00000001u;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_SPEAKERS = 4;
constexpr DWORD MIXERLINE_TARGETTYPE_WAVEOUT = 1;

constexpr DWORD MIXERCONTROL_CONTROLF_UNIFORM = 0x00000001u;
constexpr DWORD MIXERCONTROL_CONTROLF_MULTIPLE = 0x00000002u;
constexpr DWORD MIXERCONTROL_CT_CLASS_METER = 0x10000000u;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_PEAKMETER = 0x10020001u;

constexpr int MAXPNAMELEN = 32;
constexpr int MIXER_SHORT_NAME_CHARS = 16;
constexpr int MIXER_LONG_NAME_CHARS = 64;

struct HMIXER__;
using HMIXER = HMIXER__*;
using HMIXEROBJ = HMIXER;

#pragma pack(push, 1)
struct MIXERCAPS {
    WORD wMid;
    WORD wPid;
    DWORD vDriverVersion;
    char szPname[MAXPNAMELEN];
    DWORD fdwSupport;
    DWORD cDestinations;
};

struct MIXERLINE {
    DWORD cbStruct;
    DWORD dwDestination;
    DWORD dwSource;
    DWORD dwLineID;
    DWORD fdwLine;
    DWORD dwUser;
    DWORD dwComponentType;
    DWORD cChannels;
    DWORD cConnections;
    DWORD cControls;
    char szShortName[MIXER_SHORT_NAME_CHARS];
    char szName[MIXER_LONG_NAME_CHARS];
    struct {
        DWORD dwType;
        DWORD dwDeviceID;
        WORD wMid;
        WORD wPid;
        DWORD vDriverVersion;
        char szPname[MAXPNAMELEN];
    } Target;
};

struct MIXERCONTROL {
    DWORD cbStruct;
    DWORD dwControlID;
    DWORD dwControlType;
    DWORD fdwControl;
    DWORD cMultipleItems;
    char szShortName[MIXER_SHORT_NAME_CHARS];
    char szName[MIXER_LONG_NAME_CHARS];
    union {
        struct {
            LONG lMinimum;
            LONG lMaximum;
        };
        DWORD dwReserved[6];
    } Bounds;
    union {
        DWORD cSteps;
        DWORD dwReserved[6];
    } Metrics;
};
#pragma pack(pop)

static_assert(sizeof(MIXERCAPS) == 48);
static_assert(sizeof(MIXERLINE) == 168);
static_assert(sizeof(MIXERCONTROL) == 148);

// These two carry a pointer, so their size is this platform's own.
struct MIXERLINECONTROLS {
    DWORD cbStruct;
    DWORD dwLineID;
    DWORD dwControlID; // or dwControlType, for the queries that take one
    DWORD cControls;
    DWORD cbmxctrl;
    MIXERCONTROL* pamxctrl;
};

struct MIXERCONTROLDETAILS {
    DWORD cbStruct;
    DWORD dwControlID;
    DWORD cChannels;
    DWORD cMultipleItems;
    DWORD cbDetails;
    void* paDetails;
};

struct MIXERCONTROLDETAILS_SIGNED {
    LONG lValue;
};

UINT mixerGetNumDevs();
// CALLBACK_WINDOW with a NotifyWindow handle, or CALLBACK_NULL.
MMRESULT mixerOpen(HMIXER* phmx, UINT uMxId, DWORD_PTR dwCallback, DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT mixerGetDevCapsA(UINT_PTR uMxId, MIXERCAPS* pmxcaps, UINT cbmxcaps);
MMRESULT mixerGetLineInfoA(HMIXEROBJ hmxobj, MIXERLINE* pmxl, DWORD fdwInfo);
MMRESULT mixerGetLineControlsA(HMIXEROBJ hmxobj, MIXERLINECONTROLS* pmxlc, DWORD fdwControls);
MMRESULT mixerGetControlDetailsA(HMIXEROBJ hmxobj, MIXERCONTROLDETAILS* pmxcd, DWORD fdwDetails);
MMRESULT mixerClose(HMIXER hmx);

} // namespace platform
