// SPDX-License-Identifier: GPL-3.0-or-later
// MeterProbe: the peak meter that drives the level bars. It opens every mixer
// device (up to 10), keeps the last meter-class control of their destination
// lines and probes it once; a probe that reads 65535 on both channels means
// the control cannot be driven, and the meter stays off.
//
// GUI thread only. It owns the mixers from SetUp until Free (or its end);
// the selection never changes after SetUp.
#pragma once

#include "audio/AMixer.h"

#include <array>
#include <cstdint>

class MeterProbe {
public:
    MeterProbe() = default;
    ~MeterProbe();
    MeterProbe(const MeterProbe&) = delete;
    MeterProbe& operator=(const MeterProbe&) = delete;

    // The search over every device's destination lines and the one probe.
    void SetUp();
    // One read of the selected control into the channel values: false when
    // no query was made (a multiple-item control) or it failed. Raises
    // EListError when the selection addresses no control.
    bool Read();
    // The magnitude channel 0 or 1 last read, at most the largest int.
    int Level(int channel) const;
    // Frees the mixers, first to last filled slot.
    void Free();

    bool Enabled() const { return m_enabled; }
    TAudioMixer* Mixer(int index) const { return m_mixers.at(static_cast<std::size_t>(index)); }
    std::array<std::int32_t, 3> Selection() const { return {m_mixer, m_destination, m_control}; }

private:
    void SelectLastMeter(int mixerIndex);
    bool SelectionAddressesAControl() const;

    // One mixer per device index from slot 0 on; slot 10 always stays empty,
    // so the first empty slot ends the filled ones.
    std::array<TAudioMixer*, 11> m_mixers{};
    std::int32_t m_mixer = 0; // where the meter control was found
    std::int32_t m_destination = 0;
    std::int32_t m_control = 0;
    bool m_enabled = false;
    // One value per channel of the meter control; filled in place every read.
    std::array<platform::MIXERCONTROLDETAILS_SIGNED, 11> m_values{};
};
