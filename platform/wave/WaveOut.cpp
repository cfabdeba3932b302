// SPDX-License-Identifier: GPL-3.0-or-later
// The waveOut calls. Handles are checked against the registry of open
// devices, so a stale or foreign handle yields MMSYSERR_INVALHANDLE instead of
// a crash. Any thread may call: each call holds a lease on its device while it
// works, so a close on another thread waits for it instead of freeing the
// device under it, and a reset waiting for its device thread holds up no other
// device's calls.
#include "platform/wave/MMSystem.h"

#include "platform/core/HandleRegistry.h"
#include "platform/wave/WaveLog.h"
#include "platform/wave/WaveOutDevice.h"

#include <memory>

namespace platform {

namespace {

using DeviceRegistry = HandleRegistry<HWAVEOUT, WaveOutDevice>;

DeviceRegistry& Devices()
{
    static DeviceRegistry devices{0x1000};
    return devices;
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
    const DeviceRegistry::Lease device = Devices().Find(hwo);
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
    // The open notice only joins the window's queue, so it may go under the lock.
    *phwo = Devices().InsertMade([&](HWAVEOUT h) {
        auto device = std::make_unique<WaveOutDevice>(h, parsed, std::move(pcm), window, instance);
        device->PostNotice(MM_WOM_OPEN);
        return device;
    });
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
    const DeviceRegistry::Lease device = Devices().Find(hwo);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    device->Reset();
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetQueuedTime(HWAVEOUT hwo, DWORD* milliseconds)
{
    if (!milliseconds)
        return MMSYSERR_INVALPARAM;
    const DeviceRegistry::Lease device = Devices().Find(hwo);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    *milliseconds = device->QueuedMilliseconds();
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT hwo)
{
    // Decided once every call that found the device is through, so a block
    // written just before the close counts as queued.
    DeviceRegistry::Closed closed = Devices().Close(hwo, [](WaveOutDevice& device) { return !device.HasQueued(); });
    if (!closed.live)
        return MMSYSERR_INVALHANDLE;
    if (!closed.object)
        return WAVERR_STILLPLAYING;
    closed.object->PostNotice(MM_WOM_CLOSE);
    closed.object.reset(); // joins the helper thread, outside the registry's lock
    return MMSYSERR_NOERROR;
}

} // namespace platform
