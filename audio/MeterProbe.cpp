// SPDX-License-Identifier: GPL-3.0-or-later
// The meter control's search, probe and reads; see the header for the state
// model.
#include "audio/MeterProbe.h"

#include "platform/toolkit/Exception.h"

#include <QString>
#include <algorithm>
#include <limits>

using namespace platform;

namespace {

constexpr int kMaxMixers = 10;
constexpr DWORD kMeterClassFirst = MIXERCONTROL_CT_CLASS_METER;
constexpr DWORD kMeterClassLast = 0x1FFFFFFFu;

std::int64_t Magnitude(LONG value)
{
    return value < 0 ? -std::int64_t(value) : std::int64_t(value);
}

} // namespace

MeterProbe::~MeterProbe()
{
    Free();
}

void MeterProbe::SetUp()
{
    m_mixers[0] = new TAudioMixer();
    for (int i = 0; i < kMaxMixers && i < m_mixers[0]->DeviceCount(); ++i) {
        if (i > 0) {
            m_mixers[size_t(i)] = new TAudioMixer();
            m_mixers[size_t(i)]->SetMixerID(i);
        }
        SelectLastMeter(i);
    }
    // Probe only a control that the indices really address.
    if (SelectionAddressesAControl() && Read())
        m_enabled = !(Magnitude(m_values[0].lValue) == 65535 && Magnitude(m_values[1].lValue) == 65535);
}

void MeterProbe::SelectLastMeter(int mixerIndex)
{
    const TMixerDestinations* destinations = m_mixers[size_t(mixerIndex)]->Destinations();
    for (int d = 0; destinations && d < destinations->Count(); ++d) {
        const TMixerControls& controls = destinations->Items(d)->Controls();
        for (int c = 0; c < controls.Count(); ++c) {
            const DWORD type = controls.Items(c)->dwControlType;
            if (type >= kMeterClassFirst && type <= kMeterClassLast) {
                m_mixer = mixerIndex;
                m_destination = d;
                m_control = c;
            }
        }
    }
}

bool MeterProbe::SelectionAddressesAControl() const
{
    const TAudioMixer* mixer = m_mixers[size_t(m_mixer)];
    const TMixerDestinations* destinations = mixer ? mixer->Destinations() : nullptr;
    return destinations && m_destination < destinations->Count()
           && m_control < destinations->Items(m_destination)->Controls().Count();
}

bool MeterProbe::Read()
{
    if (m_mixer < 0 || m_mixer >= int(m_mixers.size()) || !m_mixers[size_t(m_mixer)])
        throw EListError(QStringLiteral("List index out of bounds (%1)").arg(m_mixer));
    TAudioMixer& mixer = *m_mixers[size_t(m_mixer)];
    if (!mixer.Destinations())
        throw EListError(QStringLiteral("List index out of bounds (%1)").arg(m_destination));
    const TMixerDestination& destination = *mixer.Destinations()->Items(m_destination);
    const MIXERCONTROL& control = *destination.Controls().Items(m_control);
    MIXERCONTROLDETAILS details{};
    details.cbStruct = sizeof details;
    details.dwControlID = control.dwControlID;
    // The buffer has room for 11 channels; a line with more is read as its first 11.
    details.cChannels = std::min<DWORD>(destination.LineInfo().cChannels, DWORD(m_values.size()));
    if (control.fdwControl & MIXERCONTROL_CONTROLF_MULTIPLE) {
        details.cMultipleItems = control.cMultipleItems;
        return false;
    }
    details.cbDetails = sizeof(MIXERCONTROLDETAILS_SIGNED);
    details.paDetails = m_values.data();
    m_values[1].lValue = 0; // a one-channel line leaves the right bar at 0
    return mixer.Calls.GetControlDetails(mixer.MixerHandle(), &details, MIXER_GETCONTROLDETAILSF_VALUE)
           == MMSYSERR_NOERROR;
}

int MeterProbe::Level(int channel) const
{
    constexpr std::int64_t limit = std::numeric_limits<int>::max();
    return int(std::min(Magnitude(m_values.at(std::size_t(channel)).lValue), limit));
}

void MeterProbe::Free()
{
    for (TAudioMixer*& mixer : m_mixers) {
        if (!mixer)
            break;
        delete mixer;
        mixer = nullptr;
    }
}
