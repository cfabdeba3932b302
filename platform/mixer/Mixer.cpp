// SPDX-License-Identifier: GPL-3.0-or-later
// The software output mixer. Its layout is fixed, so the records are built on
// demand; the only state is the set of open handles. The meter value comes
// from the wave layer's published peaks, which are atomics: the audio thread
// never waits for a reader, and a reader never waits for it.
#include "platform/mixer/Mixer.h"

#include "platform/core/HandleTable.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace platform {

namespace {

constexpr DWORD SpeakersLineId = 0xFFFF0000u; // destination 0, as winmm numbers them
constexpr DWORD PeakMeterId = 1;
constexpr DWORD Channels = 2;
constexpr char DeviceName[] = "Sendolin Output Mixer";
// Handles start above every device index, so mixerGetDevCaps can tell them apart.
constexpr std::uintptr_t FirstHandle = 0x2000;

struct HandleSet {
    std::mutex lock;
    HandleTable<HMIXER, bool> open{FirstHandle};
};

HandleSet& Handles()
{
    static HandleSet set;
    return set;
}

bool IsOpen(HMIXEROBJ handle)
{
    HandleSet& set = Handles();
    std::lock_guard guard(set.lock);
    return set.open.Contains(handle);
}

// The object-type bits name what the first argument is: an open handle
// (HMIXER, or 0 as the program passes it) or a device index.
MMRESULT CheckObject(HMIXEROBJ object, DWORD flags)
{
    const DWORD type = flags & MIXER_OBJECTF_TYPEMASK;
    if (type != MIXER_OBJECTF_MIXER && type != MIXER_OBJECTF_HMIXER)
        return MMSYSERR_INVALFLAG;
    if (type == MIXER_OBJECTF_MIXER && reinterpret_cast<std::uintptr_t>(object) == 0)
        return MMSYSERR_NOERROR; // device index 0
    return IsOpen(object) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

template <std::size_t N>
void CopyName(char (&field)[N], const char* text)
{
    std::memset(field, 0, N);
    std::strncpy(field, text, N - 1);
}

void FillSpeakers(MIXERLINE& line)
{
    const DWORD size = line.cbStruct;
    std::memset(&line, 0, sizeof line);
    line.cbStruct = size;
    line.dwLineID = SpeakersLineId;
    line.fdwLine = MIXERLINE_LINEF_ACTIVE;
    line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    line.cChannels = Channels;
    line.cConnections = 0;
    line.cControls = 1;
    CopyName(line.szShortName, "Speakers");
    CopyName(line.szName, "Speakers");
    line.Target.dwType = MIXERLINE_TARGETTYPE_WAVEOUT;
    line.Target.dwDeviceID = 0;
    CopyName(line.Target.szPname, DeviceName);
}

void FillPeakMeter(MIXERCONTROL& control)
{
    std::memset(&control, 0, sizeof control);
    control.cbStruct = sizeof control;
    control.dwControlID = PeakMeterId;
    control.dwControlType = MIXERCONTROL_CONTROLTYPE_PEAKMETER;
    control.fdwControl = 0;
    CopyName(control.szShortName, "Peak");
    CopyName(control.szName, "Peak Meter");
    control.Bounds.lMinimum = -32768;
    control.Bounds.lMaximum = 32767;
}

} // namespace

UINT mixerGetNumDevs()
{
    return 1;
}

MMRESULT mixerOpen(HMIXER* phmx, UINT uMxId, DWORD_PTR dwCallback, DWORD_PTR, DWORD fdwOpen)
{
    if (!phmx)
        return MMSYSERR_INVALPARAM;
    if (uMxId != 0)
        return MMSYSERR_BADDEVICEID;
    const DWORD callbackType = fdwOpen & CALLBACK_TYPEMASK;
    if ((fdwOpen & ~CALLBACK_TYPEMASK) != 0 || (callbackType != CALLBACK_NULL && callbackType != CALLBACK_WINDOW))
        return MMSYSERR_INVALFLAG;
    if (callbackType == CALLBACK_WINDOW && dwCallback == 0)
        return MMSYSERR_INVALPARAM;
    HandleSet& set = Handles();
    std::lock_guard guard(set.lock);
    *phmx = set.open.Insert(true);
    return MMSYSERR_NOERROR;
}

MMRESULT mixerGetDevCapsA(UINT_PTR uMxId, MIXERCAPS* pmxcaps, UINT cbmxcaps)
{
    if (!pmxcaps || cbmxcaps < sizeof(MIXERCAPS))
        return MMSYSERR_INVALPARAM;
    // Either a device index or an open handle names the device.
    if (uMxId != 0 && !IsOpen(reinterpret_cast<HMIXEROBJ>(uMxId)))
        return uMxId < FirstHandle ? MMSYSERR_BADDEVICEID : MMSYSERR_INVALHANDLE;
    std::memset(pmxcaps, 0, sizeof *pmxcaps);
    pmxcaps->vDriverVersion = 0x0100;
    CopyName(pmxcaps->szPname, DeviceName);
    pmxcaps->cDestinations = 1;
    return MMSYSERR_NOERROR;
}

MMRESULT mixerGetLineInfoA(HMIXEROBJ hmxobj, MIXERLINE* pmxl, DWORD fdwInfo)
{
    if (const MMRESULT rc = CheckObject(hmxobj, fdwInfo))
        return rc;
    if (!pmxl || pmxl->cbStruct < sizeof(MIXERLINE))
        return MMSYSERR_INVALPARAM;
    switch (fdwInfo & MIXER_GETLINEINFOF_QUERYMASK) {
    case MIXER_GETLINEINFOF_DESTINATION:
        if (pmxl->dwDestination != 0)
            return MMSYSERR_INVALPARAM;
        FillSpeakers(*pmxl);
        return MMSYSERR_NOERROR;
    case MIXER_GETLINEINFOF_SOURCE:
        // The speakers have no source lines.
        return pmxl->dwDestination != 0 ? MMSYSERR_INVALPARAM : MIXERR_INVALLINE;
    default:
        return MMSYSERR_NOTSUPPORTED;
    }
}

MMRESULT mixerGetLineControlsA(HMIXEROBJ hmxobj, MIXERLINECONTROLS* pmxlc, DWORD fdwControls)
{
    if (const MMRESULT rc = CheckObject(hmxobj, fdwControls))
        return rc;
    if (!pmxlc || pmxlc->cbStruct < sizeof(MIXERLINECONTROLS))
        return MMSYSERR_INVALPARAM;
    if ((fdwControls & MIXER_GETLINECONTROLSF_QUERYMASK) != MIXER_GETLINECONTROLSF_ALL)
        return MMSYSERR_NOTSUPPORTED;
    if (pmxlc->dwLineID != SpeakersLineId)
        return MIXERR_INVALLINE;
    if (pmxlc->cControls != 1 || pmxlc->cbmxctrl < sizeof(MIXERCONTROL) || !pmxlc->pamxctrl)
        return MMSYSERR_INVALPARAM;
    FillPeakMeter(*pmxlc->pamxctrl);
    return MMSYSERR_NOERROR;
}

MMRESULT mixerGetControlDetailsA(HMIXEROBJ hmxobj, MIXERCONTROLDETAILS* pmxcd, DWORD fdwDetails)
{
    if (const MMRESULT rc = CheckObject(hmxobj, fdwDetails))
        return rc;
    if (!pmxcd || pmxcd->cbStruct < sizeof(MIXERCONTROLDETAILS))
        return MMSYSERR_INVALPARAM;
    if ((fdwDetails & MIXER_GETCONTROLDETAILSF_QUERYMASK) != MIXER_GETCONTROLDETAILSF_VALUE)
        return MMSYSERR_NOTSUPPORTED;
    if (pmxcd->dwControlID != PeakMeterId)
        return MIXERR_INVALCONTROL;
    if (pmxcd->cChannels < 1 || pmxcd->cChannels > Channels || pmxcd->cMultipleItems != 0
        || pmxcd->cbDetails < sizeof(MIXERCONTROLDETAILS_SIGNED) || !pmxcd->paDetails)
        return MMSYSERR_INVALPARAM;
    unsigned left = 0, right = 0;
    waveOutGetAudiblePeak(left, right);
    auto* values = static_cast<std::uint8_t*>(pmxcd->paDetails);
    const auto store = [&](DWORD channel, unsigned value) {
        const MIXERCONTROLDETAILS_SIGNED item{LONG(value)};
        std::memcpy(values + channel * pmxcd->cbDetails, &item, sizeof item);
    };
    // One channel asks for the line as a whole: the louder side.
    if (pmxcd->cChannels == 1) {
        store(0, std::max(left, right));
    } else {
        store(0, left);
        store(1, right);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT mixerClose(HMIXER hmx)
{
    HandleSet& set = Handles();
    std::lock_guard guard(set.lock);
    return set.open.Erase(hmx) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

} // namespace platform
