// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/AMixer.h"

#include "platform/toolkit/Exception.h"

#include <cstring>

using namespace platform;

TMixerCalls TMixerCalls::Platform()
{
    return {mixerGetNumDevs, mixerOpen, mixerGetDevCapsA, mixerGetLineInfoA,
            mixerGetLineControlsA, mixerGetControlDetailsA, mixerClose};
}

TMixerCalls& TMixerCalls::Default()
{
    static TMixerCalls calls = Platform();
    return calls;
}

// ---------------------------------------------------------------------------
// TPointerList
// ---------------------------------------------------------------------------

TPointerList::~TPointerList()
{
    Clear();
}

int TPointerList::Add(void* Item)
{
    m_items.push_back(Item);
    return Count() - 1;
}

void* TPointerList::Items(int Index) const
{
    if (Index < 0 || Index >= Count())
        throw EListError(QStringLiteral("List index out of bounds (%1)").arg(Index));
    return m_items[static_cast<std::size_t>(Index)];
}

void TPointerList::Clear()
{
    if (OnFreeItem) {
        for (void* item : m_items)
            OnFreeItem(this, item);
    }
    m_items.clear();
}

// ---------------------------------------------------------------------------
// The tree
// ---------------------------------------------------------------------------

TMixerControls::TMixerControls(TAudioMixer& Mixer, const MIXERLINE& Line)
    : m_controlArray(std::make_unique<MIXERCONTROL[]>(Line.cControls))
{
    MIXERLINECONTROLS query{};
    query.cbStruct = sizeof query;
    query.dwLineID = Line.dwLineID;
    query.cControls = Line.cControls;
    query.cbmxctrl = sizeof(MIXERCONTROL);
    query.pamxctrl = m_controlArray.get();
    // A failed query leaves the list empty; the block stays until destruction.
    if (Mixer.Calls.GetLineControls(Mixer.MixerHandle(), &query,
                                    MIXER_GETLINECONTROLSF_ALL) != MMSYSERR_NOERROR)
        return;
    for (DWORD i = 0; i < Line.cControls; ++i)
        m_list.Add(&m_controlArray[i]);
}

TMixerConnection::TMixerConnection(TAudioMixer& Mixer, const MIXERLINE& Line)
    : m_mixer(Mixer), m_lineInfo(Line), m_controls(std::make_unique<TMixerControls>(Mixer, m_lineInfo))
{
}

TMixerConnections::TMixerConnections(TAudioMixer& Mixer, const MIXERLINE& Destination) : m_mixer(Mixer)
{
    m_list.OnFreeItem = [](TPointerList*, void* item) { delete static_cast<TMixerConnection*>(item); };
    MIXERLINE line{};
    line.cbStruct = sizeof line;
    line.dwDestination = Destination.dwDestination;
    for (DWORD s = 0; s < Destination.cConnections; ++s) {
        line.dwSource = s;
        if (Mixer.Calls.GetLineInfo(Mixer.MixerHandle(), &line, MIXER_GETLINEINFOF_SOURCE) == MMSYSERR_NOERROR)
            m_list.Add(new TMixerConnection(Mixer, line));
    }
}

TMixerDestination::TMixerDestination(TAudioMixer& Mixer, const MIXERLINE& Line)
    : m_mixer(Mixer), m_lineInfo(Line)
{
    m_connections = std::make_unique<TMixerConnections>(Mixer, m_lineInfo);
    m_controls = std::make_unique<TMixerControls>(Mixer, m_lineInfo);
}

TMixerDestination::~TMixerDestination()
{
    m_controls.reset();
    m_connections.reset();
}

TMixerDestinations::TMixerDestinations(TAudioMixer& Mixer)
{
    m_list.OnFreeItem = [](TPointerList*, void* item) { delete static_cast<TMixerDestination*>(item); };
    // Lines whose query fails are left out: the indices count only the others.
    for (DWORD d = 0; d < Mixer.MixerCaps().cDestinations; ++d) {
        MIXERLINE line{};
        line.cbStruct = sizeof line;
        line.dwDestination = d;
        if (Mixer.Calls.GetLineInfo(Mixer.MixerHandle(), &line, MIXER_GETLINEINFOF_DESTINATION) == MMSYSERR_NOERROR)
            m_list.Add(new TMixerDestination(Mixer, line));
    }
}

// ---------------------------------------------------------------------------
// TAudioMixer
// ---------------------------------------------------------------------------

TAudioMixer::TAudioMixer(QObject* owner)
    : QObject(owner),
      Calls(TMixerCalls::Default()),
      m_notifyWindow(std::make_unique<platform::NotifyWindow>(
          [this](unsigned message, WPARAM wParam, LPARAM lParam) { return WndProc(message, wParam, lParam); }))
{
    m_deviceCount = static_cast<int>(Calls.GetNumDevs());
    m_mixerID = -1;
    SetMixerID(0);
}

TAudioMixer::~TAudioMixer()
{
    CloseMixer();
    m_notifyWindow.reset(); // notices still queued for it are dropped
}

void TAudioMixer::SetMixerID(int Value)
{
    if (m_deviceCount == 0)
        return;
    if (Value >= m_deviceCount)
        Value = m_deviceCount - 1;
    CloseMixer();
    if (Value < 0)
        return;
    if (Calls.Open(&m_mixerHandle, static_cast<UINT>(Value), m_notifyWindow->Handle(), 0, CALLBACK_WINDOW)
        != MMSYSERR_NOERROR)
        return;
    m_mixerID = Value;
    Calls.GetDevCaps(static_cast<UINT_PTR>(Value), &m_mixerCaps, sizeof m_mixerCaps);
    m_destinations = std::make_unique<TMixerDestinations>(*this);
}

void TAudioMixer::CloseMixer()
{
    if (m_mixerID >= 0) {
        Calls.Close(m_mixerHandle);
        m_mixerID = -1;
    }
    m_destinations.reset();
}

LRESULT TAudioMixer::WndProc(unsigned message, WPARAM wParam, LPARAM lParam)
{
    const auto handle = static_cast<std::uint32_t>(wParam);
    const auto id = static_cast<std::uint32_t>(lParam);
    if (message == MM_MIXM_LINE_CHANGE) {
        if (OnLineChange)
            OnLineChange(this, handle, id);
        return 0;
    }
    if (message == MM_MIXM_CONTROL_CHANGE) {
        if (OnControlChange)
            OnControlChange(this, handle, id);
        return 0;
    }
    return 0; // what the default procedure answers to a notice it does not know
}
