// SPDX-License-Identifier: GPL-3.0-or-later
// The level meters of the main window against fake mixer devices: which
// control the start-up search selects, what the one probe decides, what a
// timer tick shows, and the release of every mixer at close.
#include "app/Demo2Client.h"

#include "platform/toolkit/TLabel.h"
#include "platform/toolkit/TProgressBar.h"
#include "platform/toolkit/TTimer.h"
#include "tests/support/EventLoop.h"
#include "tests/support/FakeMixer.h"
#include "tests/support/MainWindowHarness.h"

#include <gtest/gtest.h>

using namespace platform;
using testsupport::FakeLine;
using testsupport::FakeMixer;
using testsupport::FakeMixerDevice;
using testsupport::ScopedMixerCalls;

namespace {

constexpr DWORD kVolume = 0x50030001;
constexpr DWORD kBooleanMeter = 0x10010000;

FakeMixerDevice DeviceWith(std::vector<FakeLine> destinations, LONG left = 0, LONG right = 0)
{
    FakeMixerDevice device;
    device.destinations = std::move(destinations);
    device.values[0] = left;
    device.values[1] = right;
    return device;
}

FakeLine LineWith(std::vector<MIXERCONTROL> controls)
{
    FakeLine line;
    line.controls = std::move(controls);
    return line;
}

// The fake is in use for every mixer the window creates; it outlives the window.
class LevelMeterTest : public ::testing::Test {
protected:
    TfmMain& Create()
    {
        use = std::make_unique<ScopedMixerCalls>(fake.Calls());
        return h.Create();
    }
    void TearDown() override { h.form.reset(); }

    FakeMixer fake;
    std::unique_ptr<ScopedMixerCalls> use;
    testsupport::MainWindowHarness h;
};

} // namespace

TEST_F(LevelMeterTest, WithoutMixerDevicesTheMetersStayIdleWithMaxima255)
{
    TfmMain& form = Create();
    EXPECT_FALSE(form.MetersEnabled());
    EXPECT_EQ(form.Ledmeter1->maximum(), 255);
    EXPECT_EQ(form.Ledmeter2->maximum(), 255);
    EXPECT_NE(form.Mixer(0), nullptr);
    EXPECT_EQ(form.Mixer(1), nullptr);
    form.VUTimerTimer(&form);
    EXPECT_EQ(fake.detailQueries, 0);
    EXPECT_EQ(form.lblstatus->Caption(), "Ready");
}

TEST_F(LevelMeterTest, TheLastMeterClassControlIsSelectedAndSourceLinesAreNotSearched)
{
    FakeLine withSource = LineWith({FakeLine::Control(1, kVolume)});
    withSource.sources = {FakeLine::WithMeter(99)};
    fake.devices = {DeviceWith({FakeLine::WithMeter(5)}),
                    DeviceWith({LineWith({FakeLine::Control(2, kBooleanMeter), FakeLine::Control(3, kVolume)}),
                                LineWith({FakeLine::Control(4, kVolume), FakeLine::Control(6, kBooleanMeter)}),
                                withSource})};
    TfmMain& form = Create();
    EXPECT_EQ(form.MeterSelection(), (std::array<std::int32_t, 3>{1, 1, 1}));
    EXPECT_EQ(fake.lastDetailControl, 6u) << "the probe must read the selected control";
    EXPECT_EQ(fake.lastDetailChannels, 2u) << "channel count comes from the destination line";
    EXPECT_TRUE(form.MetersEnabled());
    EXPECT_EQ(form.Ledmeter1->maximum(), 32767);
    EXPECT_EQ(form.Ledmeter2->maximum(), 32767);
}

TEST_F(LevelMeterTest, WithoutAnyMeterTheProbeReadsTheFirstControlOfDeviceZero)
{
    FakeLine broken;
    broken.result = MMSYSERR_ERROR;
    fake.devices = {DeviceWith({broken, LineWith({FakeLine::Control(8, kVolume)})})};
    TfmMain& form = Create();
    EXPECT_EQ(form.MeterSelection(), (std::array<std::int32_t, 3>{0, 0, 0}));
    EXPECT_EQ(fake.lastDetailControl, 8u) << "the failed destination shifts the next one to index 0";
    EXPECT_TRUE(form.MetersEnabled());
}

TEST_F(LevelMeterTest, AProbeReading65535OnBothChannelsDisablesTheMeters)
{
    fake.devices = {DeviceWith({FakeLine::WithMeter()}, -65535, 65535)};
    TfmMain& form = Create();
    EXPECT_FALSE(form.MetersEnabled());
    EXPECT_EQ(form.Ledmeter1->maximum(), 255);
    form.Ledmeter1->SetPosition(17);
    form.VUTimerTimer(&form);
    EXPECT_EQ(fake.detailQueries, 1) << "a disabled meter is never read again";
    EXPECT_EQ(form.Ledmeter1->Position(), 17);
}

TEST_F(LevelMeterTest, AProbeReadingSilenceOrOneFullChannelEnablesTheMeters)
{
    fake.devices = {DeviceWith({FakeLine::WithMeter()}, 65535, 3)};
    EXPECT_TRUE(Create().MetersEnabled());
}

TEST_F(LevelMeterTest, AMultipleItemControlOrAFailedProbeLeavesTheMetersDisabled)
{
    fake.devices = {DeviceWith({LineWith({FakeLine::Control(1, kBooleanMeter, MIXERCONTROL_CONTROLF_MULTIPLE, 4)})})};
    TfmMain& form = Create();
    EXPECT_FALSE(form.MetersEnabled());
    EXPECT_EQ(fake.detailQueries, 0) << "a multiple-item control is never queried";
    h.form.reset();

    fake.devices = {DeviceWith({FakeLine::WithMeter()})};
    fake.devices[0].detailsResult = MIXERR_INVALCONTROL;
    EXPECT_FALSE(h.Create().MetersEnabled());
    EXPECT_EQ(fake.detailQueries, 1);
}

TEST_F(LevelMeterTest, TicksShowMagnitudesAndABadValueEndsTheTickSilently)
{
    fake.devices = {DeviceWith({FakeLine::WithMeter()})};
    TfmMain& form = Create();
    ASSERT_TRUE(form.MetersEnabled());
    FakeMixerDevice& device = fake.devices[0];

    device.values[0] = -1200;
    device.values[1] = 800;
    form.VUTimerTimer(&form);
    EXPECT_EQ(form.Ledmeter1->Position(), 1200);
    EXPECT_EQ(form.Ledmeter2->Position(), 800);

    device.values[0] = 70000; // above what a bar takes: nothing changes
    device.values[1] = 5;
    form.VUTimerTimer(&form);
    EXPECT_EQ(form.Ledmeter1->Position(), 1200);
    EXPECT_EQ(form.Ledmeter2->Position(), 800);

    device.values[0] = -32768; // beyond the maximum: a full bar
    device.values[1] = -70000;
    form.VUTimerTimer(&form);
    EXPECT_EQ(form.Ledmeter1->Position(), 32767);
    EXPECT_EQ(form.Ledmeter2->Position(), 800) << "the right bar must keep its value after its error";

    device.detailsResult = MMSYSERR_ERROR;
    device.values[0] = 1;
    form.VUTimerTimer(&form);
    EXPECT_EQ(form.Ledmeter1->Position(), 32767) << "a failed query leaves the bars";
    EXPECT_TRUE(h.errors.empty()) << "a tick must never reach the error box";
}

TEST_F(LevelMeterTest, TheTimerDrivesTheBarsOnlyWhileEnabled)
{
    fake.devices = {DeviceWith({FakeLine::WithMeter()}, 300, -400)};
    TfmMain& form = Create();
    EXPECT_FALSE(form.VUTimer->Enabled());
    EXPECT_EQ(form.VUTimer->Interval(), 50);
    form.VUTimer->SetEnabled(true);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return form.Ledmeter2->Position() == 400; }));
    EXPECT_EQ(form.Ledmeter1->Position(), 300);
}

TEST_F(LevelMeterTest, ClosingTheWindowDestroysEveryMixerOnce)
{
    fake.devices = {DeviceWith({FakeLine::WithMeter()}), DeviceWith({}), DeviceWith({FakeLine::WithMeter()})};
    TfmMain& form = Create();
    int destroyed = 0;
    for (int i = 0; i < 3; ++i) {
        ASSERT_NE(form.Mixer(i), nullptr);
        QObject::connect(form.Mixer(i), &QObject::destroyed, [&] { ++destroyed; });
    }
    EXPECT_EQ(form.Mixer(3), nullptr);
    // Mixers 1 and 2 opened device 0 first and closed it to select their own.
    EXPECT_EQ(fake.closes, 2);
    form.show();
    form.close();
    EXPECT_EQ(destroyed, 3);
    EXPECT_EQ(fake.closes, 2 + 3);
    EXPECT_EQ(fake.OpenCount(), 0u);
    EXPECT_EQ(form.Mixer(0), nullptr);
    h.form.reset();
    EXPECT_EQ(fake.closes, 2 + 3) << "a freed mixer must not be closed again with the window";
}

TEST_F(LevelMeterTest, TenDevicesAtMostAndTheSlotAfterThemStaysEmpty)
{
    fake.devices.assign(12, DeviceWith({FakeLine::WithMeter()}));
    TfmMain& form = Create();
    EXPECT_NE(form.Mixer(9), nullptr);
    EXPECT_EQ(form.Mixer(10), nullptr);
    EXPECT_EQ(form.MeterSelection()[0], 9);
}
