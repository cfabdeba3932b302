// SPDX-License-Identifier: GPL-3.0-or-later
// The waveOut calls. Handles are checked against the set of open devices, so
// a stale or foreign handle yields MMSYSERR_INVALHANDLE instead of a crash.
// All calls are made on the GUI thread; the set is guarded anyway because it
// costs nothing.
#include "platform/wave/MMSystem.h"

#include "platform/core/HandleTable.h"
#include "platform/wave/WaveLog.h"
#include "platform/wave/WaveOutDevice.h"

#include <memory>
#include <mutex>

namespace platform {

namespace {

struct DeviceSet {
    std::mutex lock;
    HandleTable<HWAVEOUT, std::unique_ptr<WaveOutDevice>> devices{0x1000};
};

DeviceSet& Devices()
{
    static DeviceSet set;
    return set;
}

WaveOutDevice* Find(HWAVEOUT hwo)
{
    DeviceSet& set = Devices();
    std::lock_guard guard(set.lock);
    const auto* found = set.devices.Find(hwo);
    return found ? found->get() : nullptr;
}

MMRESULT CheckHeader(const WAVEHDR* header, UINT size)
{
    if (!header || size < sizeof(WAVEHDR) || (!header->lpData && header->dwBufferLength))
        return MMSYSERR_INVALPARAM;
    return MMSYSERR_NOERROR;
}

// The header calls share their checks: a live handle, then a usable header.
template <typename Fn>
MMRESULT WithHeader(HWAVEOUT hwo, WAVEHDR* header, UINT size, Fn&& fn)
{
    WaveOutDevice* device = Find(hwo);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    if (const MMRESULT rc = CheckHeader(header, size))
        return rc;
    return fn(*device);
}

MMRESULT CheckRoute(UINT deviceId, DWORD flags, const wave::StreamFormat& format)
{
    if (deviceId != 0 && deviceId != WAVE_MAPPER)
        return MMSYSERR_BADDEVICEID;
    const DWORD callbackType = flags & CALLBACK_TYPEMASK;
    if (callbackType != CALLBACK_NULL && callbackType != CALLBACK_WINDOW)
        return MMSYSERR_INVALFLAG;
    if (flags & ~(CALLBACK_TYPEMASK | WAVE_MAPPED | WAVE_FORMAT_QUERY))
        return MMSYSERR_INVALFLAG;
    // Device 0 plays PCM only; compressed data needs the mapper's decoder.
    const bool mapped = deviceId == WAVE_MAPPER || (flags & WAVE_MAPPED);
    if (format.coding != wave::Coding::Pcm && !mapped)
        return WAVERR_BADFORMAT;
    return MMSYSERR_NOERROR;
}

} // namespace

MMRESULT waveOutOpen(HWAVEOUT* phwo, UINT deviceId, const WAVEFORMATBUFFER* format,
                     DWORD_PTR callback, DWORD_PTR instance, DWORD flags)
{
    if (!format || (!phwo && !(flags & WAVE_FORMAT_QUERY)))
        return MMSYSERR_INVALPARAM;
    wave::StreamFormat parsed;
    MMRESULT rc = wave::ParseFormat(*format, parsed);
    if (rc == MMSYSERR_NOERROR)
        rc = CheckRoute(deviceId, flags, parsed);
    if (rc != MMSYSERR_NOERROR || (flags & WAVE_FORMAT_QUERY))
        return rc;
    std::unique_ptr<wave::AlsaPcm> pcm;
    if ((rc = wave::AlsaPcm::Open(pcm)) != MMSYSERR_NOERROR)
        return rc;
    if ((rc = pcm->Configure(parsed.pcm)) != MMSYSERR_NOERROR)
        return rc;
    const HWND window = (flags & CALLBACK_TYPEMASK) == CALLBACK_WINDOW ? callback : 0;
    DeviceSet& set = Devices();
    std::unique_lock guard(set.lock);
    const HWAVEOUT handle = set.devices.InsertMade([&](HWAVEOUT h) {
        auto device = std::make_unique<WaveOutDevice>(h, parsed, std::move(pcm), window, instance);
        device->PostNotice(MM_WOM_OPEN);
        return device;
    });
    guard.unlock();
    *phwo = handle;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* header, UINT size)
{
    return WithHeader(hwo, header, size, [header](WaveOutDevice& device) { return device.Prepare(header); });
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* header, UINT size)
{
    return WithHeader(hwo, header, size, [header](WaveOutDevice& device) { return device.Unprepare(header); });
}

MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* header, UINT size)
{
    return WithHeader(hwo, header, size, [header](WaveOutDevice& device) { return device.Write(header); });
}

MMRESULT waveOutReset(HWAVEOUT hwo)
{
    WaveOutDevice* device = Find(hwo);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    device->Reset();
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetQueuedTime(HWAVEOUT hwo, DWORD* milliseconds)
{
    if (!milliseconds)
        return MMSYSERR_INVALPARAM;
    WaveOutDevice* device = Find(hwo);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    *milliseconds = device->QueuedMilliseconds();
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT hwo)
{
    std::unique_ptr<WaveOutDevice> device;
    {
        DeviceSet& set = Devices();
        std::lock_guard guard(set.lock);
        const auto* found = set.devices.Find(hwo);
        if (!found)
            return MMSYSERR_INVALHANDLE;
        if ((*found)->HasQueued())
            return WAVERR_STILLPLAYING;
        device = set.devices.Take(hwo);
    }
    device->PostNotice(MM_WOM_CLOSE);
    device.reset(); // joins the helper thread
    return MMSYSERR_NOERROR;
}

} // namespace platform
