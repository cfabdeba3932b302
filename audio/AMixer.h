// SPDX-License-Identifier: GPL-3.0-or-later
// TAudioMixer opens one mixer device and keeps a snapshot of its lines and
// controls: every destination line, the source lines connected to each, and
// the controls of all of them, built in one pass when the device is selected
// and never changed afterwards. The device's line and control notices arrive
// on the component's NotifyWindow and become OnLineChange/OnControlChange.
//
// GUI thread only. Ownership is strictly downward: the mixer owns its
// destinations; a destination owns its controls and connections; a connection
// owns its controls. The tree's parts keep a plain reference to their mixer,
// through which they reach the open handle and the platform calls.
#pragma once

#include "platform/mixer/Mixer.h"
#include "platform/core/NotifyWindow.h"

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// The mixer calls the component makes; the platform's by default. A mixer
// copies Default() when it is created (its constructor already opens device
// 0), so tests replace Default() before creating one.
struct TMixerCalls {
    std::function<platform::UINT()> GetNumDevs;
    std::function<platform::MMRESULT(platform::HMIXER*, platform::UINT, platform::DWORD_PTR,
                                      platform::DWORD_PTR, platform::DWORD)> Open;
    std::function<platform::MMRESULT(platform::UINT_PTR, platform::MIXERCAPS*, platform::UINT)> GetDevCaps;
    std::function<platform::MMRESULT(platform::HMIXEROBJ, platform::MIXERLINE*, platform::DWORD)> GetLineInfo;
    std::function<platform::MMRESULT(platform::HMIXEROBJ, platform::MIXERLINECONTROLS*, platform::DWORD)>
        GetLineControls;
    std::function<platform::MMRESULT(platform::HMIXEROBJ, platform::MIXERCONTROLDETAILS*, platform::DWORD)>
        GetControlDetails;
    std::function<platform::MMRESULT(platform::HMIXER)> Close;

    static TMixerCalls Platform();
    static TMixerCalls& Default();
};

// An ordered list of untyped pointers; OnFreeItem, when set, is called for
// each item as the list is cleared (and so when it is destroyed).
class TPointerList {
public:
    std::function<void(TPointerList* Owner, void* Item)> OnFreeItem;

    TPointerList() = default;
    ~TPointerList();
    TPointerList(const TPointerList&) = delete;
    TPointerList& operator=(const TPointerList&) = delete;

    int Add(void* Item);
    // Raises EListError "List index out of bounds (%d)" outside 0..Count-1.
    void* Items(int Index) const;
    int Count() const { return static_cast<int>(m_items.size()); }
    void Clear();

private:
    std::vector<void*> m_items;
};

class TAudioMixer;

// The controls of one line: one block of 148-byte MIXERCONTROL slots.
class TMixerControls {
public:
    TMixerControls(TAudioMixer& Mixer, const platform::MIXERLINE& Line);
    TMixerControls(const TMixerControls&) = delete;
    TMixerControls& operator=(const TMixerControls&) = delete;

    int Count() const { return m_list.Count(); }
    platform::MIXERCONTROL* Items(int Index) const { return static_cast<platform::MIXERCONTROL*>(m_list.Items(Index)); }

private:
    std::unique_ptr<platform::MIXERCONTROL[]> m_controlArray;
    TPointerList m_list; // declared after the block, so it goes first
};

// One source line of a destination.
class TMixerConnection {
public:
    TMixerConnection(TAudioMixer& Mixer, const platform::MIXERLINE& Line);

    const platform::MIXERLINE& LineInfo() const { return m_lineInfo; }
    const TMixerControls& Controls() const { return *m_controls; }

private:
    TAudioMixer& m_mixer;
    platform::MIXERLINE m_lineInfo;
    std::unique_ptr<TMixerControls> m_controls;
};

// The source lines of one destination; nothing reads them, they live with the tree.
class TMixerConnections {
public:
    TMixerConnections(TAudioMixer& Mixer, const platform::MIXERLINE& Destination);

private:
    TAudioMixer& m_mixer;
    TPointerList m_list;
};

// One destination line.
class TMixerDestination {
public:
    TMixerDestination(TAudioMixer& Mixer, const platform::MIXERLINE& Line);
    ~TMixerDestination();

    const platform::MIXERLINE& LineInfo() const { return m_lineInfo; }
    const TMixerControls& Controls() const { return *m_controls; }

private:
    TAudioMixer& m_mixer;
    platform::MIXERLINE m_lineInfo;
    std::unique_ptr<TMixerControls> m_controls;
    std::unique_ptr<TMixerConnections> m_connections;
};

// The destination lines that answered their query, in device order.
class TMixerDestinations {
public:
    explicit TMixerDestinations(TAudioMixer& Mixer);

    int Count() const { return m_list.Count(); }
    TMixerDestination* Items(int Index) const { return static_cast<TMixerDestination*>(m_list.Items(Index)); }

private:
    TPointerList m_list;
};

using TMixerChange = std::function<void(QObject* Sender, std::uint32_t MixerH, std::uint32_t ID)>;

class TAudioMixer : public QObject {
    Q_OBJECT
    Q_PROPERTY(int MixerID READ MixerID WRITE SetMixerID)

public:
    Q_INVOKABLE explicit TAudioMixer(QObject* owner = nullptr);
    ~TAudioMixer() override;

    int MixerID() const { return m_mixerID; }
    // Opens device Value (clamped to the last one; negative closes); does
    // nothing at all when there are no devices.
    void SetMixerID(int Value);
    void CloseMixer();

    // The tree of the open device; null while none is open.
    const TMixerDestinations* Destinations() const { return m_destinations.get(); }
    int DeviceCount() const { return m_deviceCount; }
    platform::HMIXER MixerHandle() const { return m_mixerHandle; }
    const platform::MIXERCAPS& MixerCaps() const { return m_mixerCaps; }
    platform::HWND NotifyWindow() const { return m_notifyWindow->Handle(); }

    TMixerChange OnLineChange;
    TMixerChange OnControlChange;

    // The calls made to the mixer device, copied from TMixerCalls::Default().
    TMixerCalls Calls;

private:
    platform::LRESULT WndProc(unsigned message, platform::WPARAM wParam, platform::LPARAM lParam);

    std::unique_ptr<platform::NotifyWindow> m_notifyWindow;
    std::unique_ptr<TMixerDestinations> m_destinations;
    int m_deviceCount = 0;
    platform::HMIXER m_mixerHandle = nullptr;
    int m_mixerID = -1;
    platform::MIXERCAPS m_mixerCaps{};
};
