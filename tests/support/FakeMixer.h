// SPDX-License-Identifier: GPL-3.0-or-later
// A table of mixer devices standing in for the platform's mixer calls, for
// tests of the mixer tree and of the level meters. Every call is counted;
// results can be forced per device and per line.
//
//   testsupport::FakeMixer fake;
//   fake.devices.push_back({.destinations = {FakeLine::WithMeter()}});
//   testsupport::ScopedMixerCalls use(fake.Calls()); // new TAudioMixers use it
#pragma once

#include "audio/AMixer.h"

#include <cstring>
#include <map>
#include <vector>

namespace testsupport {

struct FakeLine {
    platform::MMRESULT result = 0;          // of this line's query
    platform::DWORD channels = 2;
    std::vector<platform::MIXERCONTROL> controls;
    platform::MMRESULT controlsResult = 0;  // of its control query
    std::vector<FakeLine> sources;          // for a destination

    static platform::MIXERCONTROL Control(platform::DWORD id, platform::DWORD type, platform::DWORD flags = 0,
                                          platform::DWORD items = 0)
    {
        platform::MIXERCONTROL c{};
        c.cbStruct = sizeof c;
        c.dwControlID = id;
        c.dwControlType = type;
        c.fdwControl = flags;
        c.cMultipleItems = items;
        return c;
    }
    static FakeLine WithMeter(platform::DWORD id = 7)
    {
        FakeLine line;
        line.controls = {Control(id, platform::MIXERCONTROL_CONTROLTYPE_PEAKMETER)};
        return line;
    }
};

struct FakeMixerDevice {
    bool openFails = false;
    std::vector<FakeLine> destinations;
    platform::LONG values[2] = {0, 0};   // what a value query returns
    platform::MMRESULT detailsResult = 0;
};

class FakeMixer {
public:
    std::vector<FakeMixerDevice> devices;
    int opens = 0, closes = 0, lineQueries = 0, controlQueries = 0, detailQueries = 0;
    platform::DWORD lastDetailChannels = 0, lastDetailControl = 0;

    TMixerCalls Calls()
    {
        using namespace platform;
        TMixerCalls c;
        c.GetNumDevs = [this] { return UINT(devices.size()); };
        c.Open = [this](HMIXER* h, UINT id, DWORD_PTR, DWORD_PTR, DWORD) {
            if (id >= devices.size() || devices[id].openFails)
                return MMSYSERR_BADDEVICEID;
            ++opens;
            *h = reinterpret_cast<HMIXER>(std::uintptr_t(0x100 * opens));
            m_open[*h] = id;
            return MMSYSERR_NOERROR;
        };
        c.GetDevCaps = [this](UINT_PTR id, MIXERCAPS* caps, UINT) {
            std::memset(caps, 0, sizeof *caps);
            caps->cDestinations = DWORD(devices.at(id).destinations.size());
            return MMSYSERR_NOERROR;
        };
        c.GetLineInfo = [this](HMIXEROBJ h, MIXERLINE* line, DWORD flags) {
            ++lineQueries;
            const FakeMixerDevice* device = Device(h);
            if (!device || line->dwDestination >= device->destinations.size())
                return MMSYSERR_INVALHANDLE;
            const FakeLine* fake = &device->destinations[line->dwDestination];
            DWORD id = (line->dwDestination << 16) | 0xFFFF;
            if (flags == MIXER_GETLINEINFOF_SOURCE) {
                if (line->dwSource >= fake->sources.size())
                    return MIXERR_INVALLINE;
                id = (line->dwDestination << 16) | line->dwSource;
                fake = &fake->sources[line->dwSource];
            }
            if (fake->result)
                return fake->result;
            line->dwLineID = id;
            line->cChannels = fake->channels;
            line->cConnections = flags == MIXER_GETLINEINFOF_SOURCE ? 0 : DWORD(fake->sources.size());
            line->cControls = DWORD(fake->controls.size());
            return MMSYSERR_NOERROR;
        };
        c.GetLineControls = [this](HMIXEROBJ h, MIXERLINECONTROLS* query, DWORD) {
            ++controlQueries;
            const FakeLine* line = Line(h, query->dwLineID);
            if (!line)
                return MIXERR_INVALLINE;
            if (line->controlsResult)
                return line->controlsResult;
            for (std::size_t i = 0; i < line->controls.size(); ++i)
                query->pamxctrl[i] = line->controls[i];
            return MMSYSERR_NOERROR;
        };
        c.GetControlDetails = [this](HMIXEROBJ h, MIXERCONTROLDETAILS* details, DWORD) {
            ++detailQueries;
            lastDetailChannels = details->cChannels;
            lastDetailControl = details->dwControlID;
            const FakeMixerDevice* device = Device(h);
            if (!device)
                return MMSYSERR_INVALHANDLE;
            if (device->detailsResult)
                return device->detailsResult;
            auto* values = static_cast<MIXERCONTROLDETAILS_SIGNED*>(details->paDetails);
            for (DWORD i = 0; i < details->cChannels && i < 2; ++i)
                values[i].lValue = device->values[i];
            return MMSYSERR_NOERROR;
        };
        c.Close = [this](HMIXER h) {
            ++closes;
            return m_open.erase(h) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
        };
        return c;
    }

    std::size_t OpenCount() const { return m_open.size(); }

private:
    const FakeMixerDevice* Device(platform::HMIXEROBJ h) const
    {
        const auto found = m_open.find(h);
        return found == m_open.end() ? nullptr : &devices[found->second];
    }
    const FakeLine* Line(platform::HMIXEROBJ h, platform::DWORD id) const
    {
        const FakeMixerDevice* device = Device(h);
        const platform::DWORD d = id >> 16, s = id & 0xFFFF;
        if (!device || d >= device->destinations.size())
            return nullptr;
        const FakeLine& destination = device->destinations[d];
        if (s == 0xFFFF)
            return &destination;
        return s < destination.sources.size() ? &destination.sources[s] : nullptr;
    }

    std::map<platform::HMIXEROBJ, platform::UINT> m_open;
};

// New mixers use these calls while it lives.
class ScopedMixerCalls {
public:
    explicit ScopedMixerCalls(TMixerCalls calls) : m_saved(TMixerCalls::Default())
    {
        TMixerCalls::Default() = std::move(calls);
    }
    ~ScopedMixerCalls() { TMixerCalls::Default() = m_saved; }
    ScopedMixerCalls(const ScopedMixerCalls&) = delete;
    ScopedMixerCalls& operator=(const ScopedMixerCalls&) = delete;

private:
    TMixerCalls m_saved;
};

} // namespace testsupport
