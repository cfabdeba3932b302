// SPDX-License-Identifier: GPL-3.0-or-later
// The platform's software mixer: the records it hands out, its handle checks
// and the peak meter's value while nothing plays.
#include "platform/mixer/Mixer.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

HMIXER OpenMixer()
{
    HMIXER h = nullptr;
    EXPECT_EQ(mixerOpen(&h, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    return h;
}

MIXERLINE Speakers(HMIXER h)
{
    MIXERLINE line{};
    line.cbStruct = sizeof line;
    EXPECT_EQ(mixerGetLineInfoA(h, &line, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_NOERROR);
    return line;
}

} // namespace

TEST(SoftwareMixer, OneDeviceWithOneTwoChannelSpeakersLineAndASignedPeakMeter)
{
    ASSERT_EQ(mixerGetNumDevs(), 1u);
    const HMIXER h = OpenMixer();
    MIXERCAPS caps{};
    EXPECT_EQ(mixerGetDevCapsA(0, &caps, 47), MMSYSERR_INVALPARAM) << "a short record must be refused";
    ASSERT_EQ(mixerGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.cDestinations, 1u);

    const MIXERLINE line = Speakers(h);
    EXPECT_EQ(line.dwComponentType, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    EXPECT_EQ(line.cChannels, 2u);
    EXPECT_EQ(line.cConnections, 0u);
    ASSERT_EQ(line.cControls, 1u);
    MIXERLINE source = line;
    source.dwSource = 0;
    EXPECT_NE(mixerGetLineInfoA(h, &source, MIXER_GETLINEINFOF_SOURCE), MMSYSERR_NOERROR);

    MIXERCONTROL control{};
    MIXERLINECONTROLS query{sizeof query, line.dwLineID, 0, 1, sizeof control, &control};
    ASSERT_EQ(mixerGetLineControlsA(h, &query, MIXER_GETLINECONTROLSF_ALL), MMSYSERR_NOERROR);
    EXPECT_EQ(control.dwControlType, MIXERCONTROL_CONTROLTYPE_PEAKMETER);
    EXPECT_EQ(control.fdwControl & MIXERCONTROL_CONTROLF_MULTIPLE, 0u);
    EXPECT_EQ(control.Bounds.lMinimum, -32768);
    EXPECT_EQ(control.Bounds.lMaximum, 32767);
    query.cbmxctrl = sizeof control - 1;
    EXPECT_EQ(mixerGetLineControlsA(h, &query, MIXER_GETLINECONTROLSF_ALL), MMSYSERR_INVALPARAM);

    // Nothing plays: both channels read 0.
    MIXERCONTROLDETAILS_SIGNED values[2] = {{-5}, {-5}};
    MIXERCONTROLDETAILS details{sizeof details, control.dwControlID, 2, 0, sizeof values[0], values};
    ASSERT_EQ(mixerGetControlDetailsA(h, &details, MIXER_GETCONTROLDETAILSF_VALUE), MMSYSERR_NOERROR);
    EXPECT_EQ(values[0].lValue, 0);
    EXPECT_EQ(values[1].lValue, 0);
    details.dwControlID = control.dwControlID + 1;
    EXPECT_EQ(mixerGetControlDetailsA(h, &details, 0), MIXERR_INVALCONTROL);
    EXPECT_EQ(mixerClose(h), MMSYSERR_NOERROR);
}

TEST(SoftwareMixer, ClosedAndUnknownHandlesAreRefusedAndNeverReused)
{
    const HMIXER first = OpenMixer();
    ASSERT_EQ(mixerClose(first), MMSYSERR_NOERROR);
    EXPECT_EQ(mixerClose(first), MMSYSERR_INVALHANDLE);
    MIXERLINE line{};
    line.cbStruct = sizeof line;
    EXPECT_EQ(mixerGetLineInfoA(first, &line, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(mixerGetLineInfoA(reinterpret_cast<HMIXER>(std::uintptr_t(0xdead0)), &line, 0), MMSYSERR_INVALHANDLE);
    MIXERCONTROLDETAILS details{sizeof details, 1, 2, 0, 4, nullptr};
    EXPECT_EQ(mixerGetControlDetailsA(first, &details, 0), MMSYSERR_INVALHANDLE);
    const HMIXER second = OpenMixer();
    EXPECT_NE(second, first);
    EXPECT_EQ(mixerOpen(nullptr, 0, 0, 0, 0), MMSYSERR_INVALPARAM);
    HMIXER other = nullptr;
    EXPECT_EQ(mixerOpen(&other, 1, 0, 0, 0), MMSYSERR_BADDEVICEID);
    mixerClose(second);
}
