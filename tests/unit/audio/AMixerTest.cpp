// SPDX-License-Identifier: GPL-3.0-or-later
// The mixer tree against a table of fake devices: which device is open after
// each MixerID change, which lines and controls make it into the tree when
// queries fail, that the device is closed exactly once, and the notices.
#include "tests/support/EventLoop.h"
#include "tests/support/FakeMixer.h"
#include "audio/AMixer.h"
#include "platform/toolkit/Exception.h"

#include <gtest/gtest.h>

using namespace platform;
using testsupport::FakeLine;
using testsupport::FakeMixer;
using testsupport::FakeMixerDevice;
using testsupport::ScopedMixerCalls;

namespace {

FakeMixerDevice DeviceWith(std::vector<FakeLine> destinations)
{
    FakeMixerDevice device;
    device.destinations = std::move(destinations);
    return device;
}

} // namespace

TEST(PointerList, ClearFreesEveryItemInOrderAndBadIndicesRaiseTheListError)
{
    std::vector<int> freed;
    int items[3] = {10, 20, 30};
    {
        TPointerList list;
        list.OnFreeItem = [&](TPointerList*, void* item) { freed.push_back(*static_cast<int*>(item)); };
        for (int& item : items)
            list.Add(&item);
        EXPECT_EQ(list.Add(&items[0]), 3);
        EXPECT_EQ(list.Items(2), &items[2]);
        try {
            list.Items(4);
            ADD_FAILURE() << "no error for index 4";
        } catch (const EListError& error) {
            EXPECT_EQ(error.Message(), "List index out of bounds (4)");
        }
        EXPECT_THROW(list.Items(-1), EListError);
    }
    EXPECT_EQ(freed, (std::vector<int>{10, 20, 30, 10})) << "destroying the list must clear it";
}

TEST(AudioMixer, WithoutDevicesNothingOpensAndMixerIdStaysUnset)
{
    FakeMixer fake;
    ScopedMixerCalls use(fake.Calls());
    TAudioMixer mixer;
    EXPECT_EQ(mixer.DeviceCount(), 0);
    EXPECT_EQ(mixer.MixerID(), -1);
    EXPECT_EQ(mixer.Destinations(), nullptr);
    mixer.SetMixerID(0);
    mixer.SetMixerID(-1);
    EXPECT_EQ(mixer.MixerID(), -1);
    EXPECT_EQ(fake.opens + fake.closes, 0);
}

TEST(AudioMixer, MixerIdIsClampedToTheLastDeviceAndNegativeClosesForGood)
{
    FakeMixer fake;
    fake.devices = {DeviceWith({FakeLine{}}), DeviceWith({FakeLine{}, FakeLine{}})};
    ScopedMixerCalls use(fake.Calls());
    TAudioMixer mixer;
    EXPECT_EQ(mixer.MixerID(), 0) << "the constructor opens device 0";
    ASSERT_NE(mixer.Destinations(), nullptr);
    EXPECT_EQ(mixer.Destinations()->Count(), 1);

    mixer.SetMixerID(5);
    EXPECT_EQ(mixer.MixerID(), 1);
    EXPECT_EQ(mixer.Destinations()->Count(), 2);
    EXPECT_EQ(fake.closes, 1) << "device 0 must be closed before device 1 opens";
    EXPECT_EQ(fake.OpenCount(), 1u);

    mixer.SetMixerID(-3);
    EXPECT_EQ(mixer.MixerID(), -1);
    EXPECT_EQ(mixer.Destinations(), nullptr);
    EXPECT_EQ(fake.OpenCount(), 0u);
    EXPECT_EQ(fake.opens, 2);
}

TEST(AudioMixer, AFailedOpenLeavesTheComponentClosedWithoutReporting)
{
    FakeMixer fake;
    fake.devices = {DeviceWith({FakeLine{}})};
    fake.devices[0].openFails = true;
    ScopedMixerCalls use(fake.Calls());
    TAudioMixer mixer;
    EXPECT_EQ(mixer.MixerID(), -1);
    EXPECT_EQ(mixer.Destinations(), nullptr);
}

TEST(AudioMixer, LinesWhoseQueryFailsAreLeftOutAndTheNextTakesTheirIndex)
{
    FakeLine broken;
    broken.result = MIXERR_INVALLINE;
    FakeLine second = FakeLine::WithMeter(42);
    second.channels = 1;
    FakeLine noControls;
    FakeLine refusedControls = FakeLine::WithMeter(9);
    refusedControls.controlsResult = MMSYSERR_INVALPARAM;
    FakeLine withSources = FakeLine::WithMeter(3);
    FakeLine brokenSource;
    brokenSource.result = MMSYSERR_ERROR;
    withSources.sources = {brokenSource, FakeLine::WithMeter(4)};

    FakeMixer fake;
    fake.devices = {DeviceWith({broken, second, noControls, refusedControls, withSources})};
    ScopedMixerCalls use(fake.Calls());
    TAudioMixer mixer;
    const TMixerDestinations& tree = *mixer.Destinations();
    ASSERT_EQ(tree.Count(), 4);
    EXPECT_EQ(tree.Items(0)->LineInfo().cChannels, 1u) << "the failed destination 0 must leave no gap";
    ASSERT_EQ(tree.Items(0)->Controls().Count(), 1);
    EXPECT_EQ(tree.Items(0)->Controls().Items(0)->dwControlID, 42u);
    EXPECT_EQ(tree.Items(1)->Controls().Count(), 0);
    EXPECT_EQ(tree.Items(2)->Controls().Count(), 0) << "a refused control query leaves the list empty";
    EXPECT_THROW(tree.Items(2)->Controls().Items(0), EListError);
    EXPECT_EQ(tree.Items(3)->Controls().Items(0)->dwControlID, 3u);
    // One query per destination and per source line, one control query per
    // line that answered (destinations 1..4 and the one good source).
    EXPECT_EQ(fake.lineQueries, 5 + 2);
    EXPECT_EQ(fake.controlQueries, 4 + 1);
}

TEST(AudioMixer, DestroyingClosesTheDeviceOnceAndNoticesReachOnlyAssignedHandlers)
{
    FakeMixer fake;
    fake.devices = {DeviceWith({FakeLine::WithMeter()})};
    ScopedMixerCalls use(fake.Calls());
    {
        TAudioMixer mixer;
        std::vector<std::uint32_t> seen;
        // No handler yet: the notice is dropped.
        NotifyWindow::Post(mixer.NotifyWindow(), MM_MIXM_CONTROL_CHANGE, 0x100, 7);
        testsupport::Pump(20);
        mixer.OnControlChange = [&](QObject* sender, std::uint32_t h, std::uint32_t id) {
            EXPECT_EQ(sender, &mixer);
            seen.insert(seen.end(), {0xC, h, id});
        };
        mixer.OnLineChange = [&](QObject*, std::uint32_t h, std::uint32_t id) { seen.insert(seen.end(), {0x1, h, id}); };
        NotifyWindow::Post(mixer.NotifyWindow(), MM_MIXM_CONTROL_CHANGE, 0x100, 7);
        NotifyWindow::Post(mixer.NotifyWindow(), MM_MIXM_LINE_CHANGE, 0x100, 0xFFFF);
        NotifyWindow::Post(mixer.NotifyWindow(), 0x3BD, 0x100, 1);
        ASSERT_TRUE(testsupport::WaitUntil([&] { return seen.size() >= 6; }));
        testsupport::Pump(20);
        EXPECT_EQ(seen, (std::vector<std::uint32_t>{0xC, 0x100, 7, 0x1, 0x100, 0xFFFF}));
        EXPECT_EQ(fake.lineQueries, 1) << "a notice must not rebuild the tree";
    }
    EXPECT_EQ(fake.closes, 1);
    EXPECT_EQ(fake.OpenCount(), 0u);
}
