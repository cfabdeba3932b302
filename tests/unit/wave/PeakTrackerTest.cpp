// SPDX-License-Identifier: GPL-3.0-or-later
// The level the meter shows is that of the audio leaving the speaker now:
// not audio still waiting in the device buffer, not audio played longer ago
// than 50 ms, and nothing once the play position stops moving.
#include "platform/wave/AudibleLevel.h"
#include "platform/wave/PeakTracker.h"

#include <gtest/gtest.h>
#include <vector>

using platform::wave::AudibleLevel;
using platform::wave::PcmLayout;
using platform::wave::PeakTracker;
using Clock = PeakTracker::Clock;

namespace {

constexpr PcmLayout kStereo{1000, 2, 16}; // 1000 Hz: one frame per millisecond

std::vector<std::uint8_t> Stereo(std::size_t frames, std::int16_t left, std::int16_t right)
{
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < frames; ++i) {
        // Alternating signs: the level is the magnitude.
        const std::int16_t l = i % 2 ? left : std::int16_t(-left), r = i % 2 ? right : std::int16_t(-right);
        for (std::int16_t v : {l, r}) {
            bytes.push_back(std::uint8_t(v & 0xff));
            bytes.push_back(std::uint8_t((v >> 8) & 0xff));
        }
    }
    return bytes;
}

} // namespace

TEST(PeakTracker, ShowsOnlyWhatLeftTheSpeakerInTheLast50Milliseconds)
{
    PeakTracker tracker;
    const auto quiet = Stereo(20, 1000, 500), loud = Stereo(20, 30000, 20000);
    tracker.Add(quiet.data(), 20, kStereo, 0);  // frames 0..19
    tracker.Add(loud.data(), 20, kStereo, 20);  // frames 20..39
    tracker.Add(quiet.data(), 20, kStereo, 40); // frames 40..59
    tracker.Add(quiet.data(), 20, kStereo, 60); // frames 60..79
    const Clock::time_point t0 = Clock::now();

    PeakTracker::Level level = tracker.Audible(0, t0);
    EXPECT_EQ(level.left, 0u) << "audio decoded ahead but not yet played must not show";
    level = tracker.Audible(15, t0 + std::chrono::milliseconds(15));
    EXPECT_EQ(level.left, 1000u);
    EXPECT_EQ(level.right, 500u);
    level = tracker.Audible(30, t0 + std::chrono::milliseconds(30));
    EXPECT_EQ(level.left, 30000u);
    EXPECT_EQ(level.right, 20000u);
    level = tracker.Audible(85, t0 + std::chrono::milliseconds(85));
    EXPECT_EQ(level.left, 30000u) << "the loud chunk ended 45 ms ago";
    level = tracker.Audible(95, t0 + std::chrono::milliseconds(95));
    EXPECT_EQ(level.left, 1000u) << "the loud chunk ended more than 50 ms ago";
}

TEST(PeakTracker, APlayPositionThatStopsMovingMeansSilence)
{
    PeakTracker tracker;
    const auto loud = Stereo(100, 20000, 20000);
    tracker.Add(loud.data(), 100, kStereo, 0);
    const Clock::time_point t0 = Clock::now();
    EXPECT_EQ(tracker.Audible(100, t0).left, 20000u);
    EXPECT_EQ(tracker.Audible(100, t0 + std::chrono::milliseconds(50)).left, 20000u);
    EXPECT_EQ(tracker.Audible(100, t0 + PeakTracker::SilentAfter + std::chrono::milliseconds(1)).left, 0u);
    EXPECT_TRUE(tracker.Empty()) << "a silent device keeps nothing to poll for";
}

TEST(PeakTracker, MonoShowsOnBothChannelsAndEightBitIsCentredOn128)
{
    PeakTracker tracker;
    const std::vector<std::uint8_t> mono = {0x00, 0x80, 0x30, 0x75}; // -32768, 30000 (LE)
    tracker.Add(mono.data(), 2, PcmLayout{1000, 1, 16}, 0);
    PeakTracker::Level level = tracker.Audible(2, Clock::now());
    EXPECT_EQ(level.left, 32767u) << "-32768 must not overflow the meter's range";
    EXPECT_EQ(level.right, 32767u);

    PeakTracker eight;
    const std::vector<std::uint8_t> samples = {128, 128, 160, 128, 96, 128}; // left ±32, right silent
    eight.Add(samples.data(), 3, PcmLayout{1000, 2, 8}, 0);
    level = eight.Audible(3, Clock::now());
    EXPECT_EQ(level.left, 32u * 256);
    EXPECT_EQ(level.right, 0u);
}

TEST(PeakTracker, AudioWaitingForTheDeviceToStartIsKeptUntilItPlays)
{
    PeakTracker tracker;
    const auto loud = Stereo(100, 12000, 6000);
    tracker.Add(loud.data(), 100, kStereo, 0);
    const Clock::time_point t0 = Clock::now();
    EXPECT_EQ(tracker.Audible(0, t0).left, 0u);
    EXPECT_EQ(tracker.Audible(0, t0 + std::chrono::milliseconds(300)).left, 0u);
    EXPECT_EQ(tracker.Audible(10, t0 + std::chrono::milliseconds(310)).left, 12000u)
        << "a slow device start must not lose the level of its first audio";
}

// The peak search takes the samples in groups: a peak at any position of a
// chunk of any length, the last partial group included, must be found and
// counted on its own channel only.
TEST(PeakTracker, APeakAnywhereInAChunkOfAnyLengthIsFoundOnItsOwnChannel)
{
    for (std::size_t frames = 1; frames <= 40; ++frames) {
        for (std::size_t at = 0; at < frames; ++at) {
            for (unsigned channel = 0; channel < 2; ++channel) {
                auto bytes = Stereo(frames, 100, 200);
                const std::int16_t peak = at % 2 ? -31000 : 29000;
                bytes[4 * at + 2 * channel] = std::uint8_t(peak & 0xff);
                bytes[4 * at + 2 * channel + 1] = std::uint8_t((peak >> 8) & 0xff);
                PeakTracker tracker;
                tracker.Add(bytes.data(), frames, kStereo, 0);
                const PeakTracker::Level level = tracker.Audible(frames, Clock::now());
                const unsigned expected = at % 2 ? 31000u : 29000u;
                EXPECT_EQ(channel == 0 ? level.left : level.right, expected) << frames << " frames, peak at " << at;
                EXPECT_EQ(channel == 0 ? level.right : level.left, channel == 0 ? 200u : 100u)
                    << frames << " frames, peak at " << at;
            }
        }
    }
    const std::vector<std::uint8_t> mono = {0x10, 0x00, 0x00, 0x80, 0x20, 0x00}; // 16, -32768, 32
    PeakTracker tracker;
    tracker.Add(mono.data(), 3, PcmLayout{1000, 1, 16}, 0);
    EXPECT_EQ(tracker.Audible(3, Clock::now()).left, 32767u);
}

namespace {

// One second at 1000 Hz in 20 ms chunks, as the device records them: loud
// for the first half, quiet for the second.
void AddLoudThenQuiet(AudibleLevel& level)
{
    const auto loud = Stereo(20, 24000, 12000), quiet = Stereo(20, 900, 400);
    for (std::uint64_t at = 0; at < 1000; at += 20)
        level.Add((at < 500 ? loud : quiet).data(), 20, kStereo, at);
}

} // namespace

// The device's helper sleeps through most of its buffer; the meter must go
// on following the speaker meanwhile, not show what played when it last looked.
TEST(AudibleLevel, CarriesThePlayPositionOnWhileTheDeviceIsNotAsked)
{
    AudibleLevel level;
    AddLoudThenQuiet(level);
    const Clock::time_point t0 = Clock::now();
    level.SetPosition({0, 1000, true, t0});
    EXPECT_EQ(level.Now(t0).left, 0u) << "nothing has left the speaker yet";
    EXPECT_EQ(level.Now(t0 + std::chrono::milliseconds(200)).left, 24000u);
    const AudibleLevel::Level later = level.Now(t0 + std::chrono::milliseconds(700));
    EXPECT_EQ(later.left, 900u) << "the position did not move on by itself";
    EXPECT_EQ(later.right, 400u);
}

// A device that runs dry stops at the end of what it was given; the meter
// must fall silent there and never show audio still waiting to be written.
TEST(AudibleLevel, NeverCarriesPastWhatWasWrittenSoADryDeviceFallsSilent)
{
    AudibleLevel level;
    AddLoudThenQuiet(level);
    const Clock::time_point t0 = Clock::now();
    level.SetPosition({100, 300, true, t0}); // frames up to 999 recorded, 300 written
    EXPECT_EQ(level.Now(t0 + std::chrono::milliseconds(150)).left, 24000u);
    EXPECT_EQ(level.Now(t0 + std::chrono::seconds(2)).left, 24000u) << "the last written audio just played";
    EXPECT_EQ(level.Now(t0 + std::chrono::seconds(2) + PeakTracker::SilentAfter + std::chrono::milliseconds(1)).left, 0u)
        << "a device that ran dry still shows a level";
    EXPECT_EQ(level.Now(t0 + std::chrono::seconds(3)).left, 0u);
}

TEST(AudibleLevel, ADeviceThatIsNotPlayingIsNotCarriedOnAndAClearedOneIsSilent)
{
    AudibleLevel level;
    AddLoudThenQuiet(level);
    const Clock::time_point t0 = Clock::now();
    level.SetPosition({0, 1000, false, t0}); // written, waiting to start
    EXPECT_EQ(level.Now(t0 + std::chrono::milliseconds(300)).left, 0u) << "a device waiting to start seemed to play";
    level.SetPosition({0, 1000, true, t0 + std::chrono::milliseconds(300)});
    EXPECT_EQ(level.Now(t0 + std::chrono::milliseconds(320)).left, 24000u);
    level.Clear();
    EXPECT_TRUE(level.Empty());
    EXPECT_EQ(level.Now(t0 + std::chrono::milliseconds(340)).left, 0u) << "a reset device still shows its old level";
}

TEST(AudibleLevel, TheMeterReadsTheDeviceOpenedLastUntilItCloses)
{
    const auto first = std::make_shared<AudibleLevel>(), second = std::make_shared<AudibleLevel>();
    AudibleLevel::MakeCurrent(first);
    AudibleLevel::MakeCurrent(second);
    AudibleLevel::Release(first.get()); // an older device closing must not blank the newer one
    EXPECT_EQ(AudibleLevel::Current(), second);
    AudibleLevel::Release(second.get());
    EXPECT_EQ(AudibleLevel::Current(), nullptr);
}
