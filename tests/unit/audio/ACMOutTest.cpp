// SPDX-License-Identifier: GPL-3.0-or-later
// TACMOut against a recording stand-in for the wave output: which blocks
// reach the device and when, what Close releases, which notices count, and
// the error texts.
#include "tests/support/EventLoop.h"
#include "tests/support/WaveFormats.h"
#include "audio/ACMOut.h"
#include "platform/toolkit/Application.h"
#include "tests/support/PackedField.h"

#include <gtest/gtest.h>
#include <cstring>
#include <string>

using testsupport::ByValue;
using namespace platform;

namespace {

// Records every call; results can be forced per operation.
struct FakeWaveOut {
    std::vector<std::string> calls;
    std::vector<std::string> written; // block contents in the order written
    std::vector<PWaveHdr> writtenHeaders;
    UINT openedDevice = 0;
    DWORD openedFlags = 0;
    MMRESULT openResult = 0, prepareResult = 0, writeResult = 0, unprepareResult = 0;
    std::uintptr_t opened = 0; // every opening gets a handle of its own

    TWaveOutCalls Calls()
    {
        TWaveOutCalls c;
        c.Open = [this](HWAVEOUT* h, UINT id, const TACMWaveFormat*, DWORD_PTR, DWORD_PTR, DWORD flags) {
            calls.push_back("open");
            openedDevice = id;
            openedFlags = flags;
            if (openResult == 0)
                *h = reinterpret_cast<HWAVEOUT>(++opened);
            return openResult;
        };
        c.PrepareHeader = [this](HWAVEOUT, WAVEHDR*, UINT) { return prepareResult; };
        c.Write = [this](HWAVEOUT, WAVEHDR* h, UINT) {
            if (writeResult == 0) {
                written.emplace_back(h->lpData, h->dwBufferLength);
                writtenHeaders.push_back(h);
            }
            return writeResult;
        };
        c.UnprepareHeader = [this](HWAVEOUT, WAVEHDR*, UINT) { return unprepareResult; };
        c.Reset = [this](HWAVEOUT) { calls.push_back("reset"); return MMRESULT(0); };
        c.Close = [this](HWAVEOUT) { calls.push_back("close"); return MMRESULT(0); };
        return c;
    }
};

TACMWaveFormat Mpeg()
{
    return testsupport::MpegFormat();
}

class ACMOutTest : public ::testing::Test {
protected:
    void SetUp() override { out.Calls = fake.Calls(); }
    void PlayText(const std::string& text) { out.Play(text.data(), std::uint32_t(text.size())); }
    void Done(PWaveHdr header, HWAVEOUT device = nullptr)
    {
        device = device ? device : out.DeviceHandle();
        NotifyWindow::Post(out.NotifyWindow(), MM_WOM_DONE, reinterpret_cast<WPARAM>(device),
                           reinterpret_cast<LPARAM>(header));
    }

    FakeWaveOut fake;
    TACMOut out;
};

QString MessageOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const EACMOut& error) {
        return error.Message();
    }
    return QStringLiteral("<nothing raised>");
}

} // namespace

TEST_F(ACMOutTest, PrerollHoldsFourBlocksThenWritesThemOldestFirst)
{
    out.Open(Mpeg());
    for (const char* block : {"1", "2", "3", "4"})
        PlayText(block);
    EXPECT_TRUE(fake.written.empty());
    EXPECT_EQ(out.PendingCount(), 4u);
    PlayText("5");
    EXPECT_EQ(fake.written, (std::vector<std::string>{"1", "2", "3", "4", "5"}));
    PlayText("6");
    EXPECT_EQ(fake.written.back(), "6");
    EXPECT_EQ(out.PendingCount(), 0u);
    EXPECT_EQ(out.LiveCount(), 6u);
}

// A station's burst arrives in one read, a live stream's batches a tenth of
// a second apart: waiting for more reads would only hold back audio that is
// already there, a network tick per read.
TEST_F(ACMOutTest, PrerollEndsEarlyOnceItsPlayingTimeIsHeld)
{
    out.Open(Mpeg());
    const std::uint32_t preroll = out.QueueLimit() / TACMOut::QueueSeconds * TACMOut::PrerollMs / 1000;
    PlayText(std::string(preroll / 2, 'a'));
    EXPECT_TRUE(fake.written.empty()) << "half the pre-roll's time ended it";
    PlayText(std::string(preroll - preroll / 2, 'b'));
    EXPECT_EQ(fake.written.size(), 2u) << "a second held back was not written";
    EXPECT_EQ(out.PrerollCount(), 0);
    PlayText("c");
    EXPECT_EQ(fake.written.back(), "c");
}

TEST_F(ACMOutTest, NoPrerollWritesTheFirstBlockAtOnce)
{
    out.SetNumBuffers(0);
    out.Open(Mpeg());
    PlayText("first");
    EXPECT_EQ(fake.written, std::vector<std::string>{"first"});
}

TEST_F(ACMOutTest, PlayThatCannotPlayAllocatesNothing)
{
    PlayText("before open");
    out.Open(Mpeg());
    out.Play("x", 0);
    EXPECT_EQ(out.LiveCount(), 0u);
    out.Close();
    PlayText("after close");
    EXPECT_EQ(out.LiveCount(), 0u);
    EXPECT_EQ(out.HeldBytes(), 0u);
}

TEST_F(ACMOutTest, OpenWhileOpenKeepsFormatAndPreroll)
{
    out.Open(Mpeg());
    PlayText("1");
    TACMWaveFormat other = Mpeg();
    other.Format.nSamplesPerSec = 44100;
    out.Open(other);
    EXPECT_EQ(ByValue(out.Format().Format.nSamplesPerSec), 11025u);
    EXPECT_EQ(out.PrerollCount(), 3);
    EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), "open"), 1);
}

TEST_F(ACMOutTest, PcmOpensTheMapperAndCompressedFormatsOpenMappedDeviceZero)
{
    out.Open(testsupport::PcmFormat(22050, 1, 8));
    EXPECT_EQ(fake.openedDevice, WAVE_MAPPER);
    EXPECT_EQ(fake.openedFlags, 0x10000u);
    out.Close();
    out.Open(Mpeg());
    EXPECT_EQ(fake.openedDevice, 0u);
    EXPECT_EQ(fake.openedFlags, 0x10004u);
}

TEST_F(ACMOutTest, CloseResetsThenClosesAndReleasesHeldBackBlocks)
{
    out.Open(Mpeg());
    PlayText("held");
    PlayText("back");
    out.Close();
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"open", "reset", "close"}));
    EXPECT_EQ(out.LiveCount(), 0u);
    EXPECT_EQ(out.PendingCount(), 0u);
    EXPECT_EQ(out.DeviceHandle(), nullptr);
    EXPECT_FALSE(out.Active());
    EXPECT_TRUE(fake.written.empty());
}

TEST_F(ACMOutTest, DoneNoticeReleasesOnceAndFiresBeforeTheBlockIsFreed)
{
    std::vector<std::string> played;
    out.OnBufferPlayed = [&](QObject* sender, PWaveHdr header) {
        EXPECT_EQ(sender, &out);
        played.emplace_back(header->lpData, header->dwBufferLength);
    };
    out.SetNumBuffers(0);
    out.Open(Mpeg());
    PlayText("abc");
    PlayText("de");
    Done(fake.writtenHeaders[0]);
    Done(fake.writtenHeaders[0]); // a second notice for a released block
    ASSERT_TRUE(testsupport::WaitUntil([&] { return out.LiveCount() == 1; }));
    testsupport::Pump(20);
    EXPECT_EQ(played, std::vector<std::string>{"abc"});
}

TEST_F(ACMOutTest, DoneNoticeAfterCloseOrFromAnEarlierOpeningIsIgnored)
{
    int fired = 0;
    out.OnBufferPlayed = [&](QObject*, PWaveHdr) { ++fired; };
    out.SetNumBuffers(0);
    out.Open(Mpeg());
    PlayText("queued");
    const HWAVEOUT first = out.DeviceHandle();
    out.Close();
    Done(fake.writtenHeaders[0], first);
    testsupport::Pump(20);
    EXPECT_EQ(fired, 0);

    // Reopened at once: the old device's notice must not release a new block.
    out.Open(Mpeg());
    PlayText("new");
    Done(fake.writtenHeaders[1], first);
    testsupport::Pump(20);
    EXPECT_EQ(fired, 0);
    EXPECT_EQ(out.LiveCount(), 1u);
}

TEST_F(ACMOutTest, ErrorTextsNameTheStepAndExplainTheCode)
{
    fake.openResult = 2;
    EXPECT_EQ(MessageOf([&] { out.Open(Mpeg()); }), "WaveOutOpen The specified resource does not exist.");
    EXPECT_FALSE(out.Active());
    fake.openResult = 32;
    EXPECT_EQ(MessageOf([&] { out.Open(Mpeg()); }), "WaveOutOpen Unsupported audio format.");
    fake.openResult = 6;
    EXPECT_EQ(MessageOf([&] { out.Open(Mpeg()); }),
              "WaveOutOpen A suitable driver is not available to provide valid format selections.");

    fake.openResult = 0;
    out.Open(Mpeg()); // a failed open leaves the next one free to try
    ASSERT_TRUE(out.Active());
    out.SetNumBuffers(0);
    fake.writeResult = 33;
    out.Close();
    out.Open(Mpeg());
    EXPECT_EQ(MessageOf([&] { PlayText("x"); }), "WaveOut-Write raised an unknown error (code #33)");
    fake.writeResult = 0;
    fake.prepareResult = 514;
    EXPECT_EQ(MessageOf([&] { PlayText("y"); }),
              "WaveOut-PrepareHeader Cannot perform this action on a header that has not been prepared.");
}

TEST_F(ACMOutTest, FailedWriteDuringPrerollFlushNeitherRepeatsNorLosesOrder)
{
    out.SetNumBuffers(2);
    out.Open(Mpeg());
    PlayText("1");
    PlayText("2");
    fake.writeResult = 7;
    EXPECT_THROW(PlayText("3"), EACMOut); // "1" fails, "2" and "3" wait
    fake.writeResult = 0;
    PlayText("4");
    EXPECT_EQ(fake.written, (std::vector<std::string>{"2", "3", "4"}));
    EXPECT_EQ(out.LiveCount(), 4u); // the failed block stays until Close
    out.Close();
    EXPECT_EQ(out.LiveCount(), 0u);
}

TEST_F(ACMOutTest, FailedUnprepareOnDoneReachesTheErrorBoxAndKeepsTheBlock)
{
    QString shown;
    Application::Instance().SetErrorBoxHook([&](const QString&, const QString& text) { shown = text; });
    out.SetNumBuffers(0);
    out.Open(Mpeg());
    PlayText("a");
    fake.unprepareResult = 5;
    Done(fake.writtenHeaders[0]);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return !shown.isEmpty(); }));
    Application::Instance().SetErrorBoxHook({});
    EXPECT_EQ(shown, "WaveOut-UnprepareHeader The specified handle is invalid.");
    EXPECT_EQ(out.LiveCount(), 1u);
}

// A block of `size` bytes that starts with its number, so tests can tell
// which block reached the device.
std::string Numbered(int number, std::size_t size = 750) // a quarter second: one block
{
    std::string block = QString::asprintf("%05d", number).toStdString();
    block.resize(size, '.');
    return block;
}

TEST_F(ACMOutTest, BurstDropsTheOldestWaitingAudioSoPlaybackCatchesUpWithTheNewest)
{
    out.SetNumBuffers(0);
    out.Open(Mpeg()); // 3000 bytes a second: 15000 held, 9000 of them at the device
    ASSERT_EQ(out.QueueLimit(), 15000u);
    ASSERT_EQ(out.DeviceLimit(), 9000u);
    for (int i = 0; i < 100; ++i)
        PlayText(Numbered(i));
    // The device took the first twelve blocks and keeps them; of the rest
    // only the newest eight still fit.
    ASSERT_EQ(fake.written.size(), 12u);
    EXPECT_EQ(out.DeviceBytes(), 9000u);
    EXPECT_EQ(out.HeldBytes(), 15000u);
    EXPECT_EQ(out.PendingCount(), 8u);
    EXPECT_EQ(out.DroppedBlocks(), 80u);
    EXPECT_EQ(out.DroppedBytes(), 60000u);

    // As the device plays, it gets the newest audio, not the stale burst.
    Done(fake.writtenHeaders[0]);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return fake.written.size() == 13; }));
    EXPECT_EQ(fake.written.back().substr(0, 5), "00092");
    PlayText(Numbered(100)); // room again: nothing more is dropped
    EXPECT_EQ(out.DroppedBlocks(), 80u);
    EXPECT_EQ(out.PendingCount(), 8u);
}

// Blocks not reported done fill the device's byte share, yet it may have
// played most of them (notices wait to go in a batch): what it says it has
// still to play decides, or the live blocks wait here until it runs dry.
TEST_F(ACMOutTest, TheDeviceTakesMoreThanItsShareOfBlocksWhileItHasLessThanItsShareToPlay)
{
    DWORD deviceMs = 3000;
    out.Calls.GetQueuedTime = [&](HWAVEOUT, DWORD* ms) {
        *ms = deviceMs;
        return MMRESULT(0);
    };
    out.SetNumBuffers(0);
    out.Open(Mpeg()); // 3000 bytes a second, 9000 of them at the device
    for (int i = 0; i < 13; ++i)
        PlayText(Numbered(i));
    EXPECT_EQ(fake.written.size(), 12u) << "a device with its share to play took more";
    EXPECT_EQ(out.QueuedMilliseconds(), 3000u + 250u) << "the waiting block's time is not counted";
    deviceMs = 1000;
    PlayText(Numbered(13));
    EXPECT_EQ(fake.written.size(), 14u) << "the device was kept short although it had little to play";
    EXPECT_EQ(out.QueuedMilliseconds(), 1000u);
}

TEST_F(ACMOutTest, OneHugeBlockKeepsOnlyItsNewestPartAndTheDeviceKeepsWhatItTook)
{
    out.SetNumBuffers(0);
    out.Open(Mpeg());
    for (int i = 0; i < 12; ++i)
        PlayText(Numbered(i)); // 9000 bytes at the device
    std::string huge(100000, 'o');
    huge.replace(huge.size() - 5, 5, "NEWST");
    PlayText(huge);
    EXPECT_EQ(fake.written.size(), 12u) << "audio the device took is never taken back";
    // Its two seconds that fit wait as quarter-second blocks.
    ASSERT_EQ(out.PendingCount(), 8u);
    EXPECT_EQ(out.HeldBytes(), out.QueueLimit());
    EXPECT_EQ(out.DroppedBytes(), 100000u - 6000u);
    EXPECT_EQ(out.DroppedBlocks(), 0u);

    for (PWaveHdr header : std::vector<PWaveHdr>(fake.writtenHeaders))
        Done(header);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return fake.written.size() == 20; }));
    std::string newest;
    for (std::size_t i = 12; i < fake.written.size(); ++i)
        newest += fake.written[i];
    EXPECT_EQ(newest.size(), 6000u);
    EXPECT_EQ(newest.substr(6000 - 5), "NEWST");
}

TEST_F(ACMOutTest, TheBoundFollowsTheByteRateWithinItsFloorAndItsMemoryCeiling)
{
    out.SetNumBuffers(0);
    out.Open(testsupport::PcmFormat(44100, 2, 16));
    EXPECT_EQ(out.QueueLimit(), 176400u * TACMOut::QueueSeconds);
    out.Close();

    TACMWaveFormat silent = Mpeg();
    silent.Format.nAvgBytesPerSec = 0; // no byte rate: the floor still lets audio through
    out.Open(silent);
    EXPECT_EQ(out.QueueLimit(), TACMOut::MinQueueBytes);
    PlayText(Numbered(1));
    EXPECT_FALSE(fake.written.empty());
    out.Close();

    // An absurd byte rate must not let a flood grow the client without end.
    TACMWaveFormat absurd = testsupport::PcmFormat(44100, 2, 16);
    absurd.Format.nAvgBytesPerSec = 0xFFFFFFFFu;
    out.Open(absurd);
    EXPECT_EQ(out.QueueLimit(), TACMOut::MaxHeldBytes);
    const std::string mib(1024 * 1024, 'm');
    for (int i = 0; i < 40; ++i)
        PlayText(mib);
    EXPECT_LT(out.HeldBytes(), TACMOut::MaxHeldBytes);
    EXPECT_EQ(out.HeldBytes() + out.DroppedBytes(), 40u * 1024 * 1024);
    EXPECT_GE(out.DroppedBlocks(), 24u);
}

TEST_F(ACMOutTest, DropsInAPcmStreamRemoveWholeFramesSoNoSampleShifts)
{
    // 16-bit stereo at 8000 Hz: 4-byte frames, each holding its own number.
    constexpr std::uint32_t Frames = 400000;
    std::string stream(Frames * 4, '\0');
    for (std::uint32_t i = 0; i < Frames; ++i)
        std::memcpy(stream.data() + 4 * i, &i, 4);
    out.SetNumBuffers(0);
    out.Open(testsupport::PcmFormat(8000, 2, 16));
    std::size_t doneUpTo = 0;
    for (std::size_t at = 0; at < stream.size(); at += 4999) { // blocks split frames
        PlayText(stream.substr(at, 4999));
        // The device plays a little now and then, so blocks are dropped
        // from between written ones.
        if (at % (4999 * 40) == 0)
            for (; doneUpTo < fake.writtenHeaders.size(); ++doneUpTo)
                Done(fake.writtenHeaders[doneUpTo]);
        testsupport::Pump(1);
    }
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        for (; doneUpTo < fake.writtenHeaders.size(); ++doneUpTo)
            Done(fake.writtenHeaders[doneUpTo]);
        return out.PendingCount() == 0 && out.DeviceBytes() == 0;
    }));
    ASSERT_GT(out.DroppedBytes(), 0u);
    EXPECT_EQ(out.DroppedBytes() % 4, 0u);

    std::string heard;
    for (const std::string& block : fake.written)
        heard += block;
    ASSERT_EQ(heard.size() % 4, 0u);
    // Where a drop joins two stretches, the frame the device had begun is
    // finished with bytes of a later one: that one frame is mixed. A shifted
    // stream would garble every frame after the first drop.
    std::uint32_t previous = 0;
    std::size_t breaks = 0;
    for (std::size_t at = 0; at < heard.size(); at += 4) {
        std::uint32_t frame;
        std::memcpy(&frame, heard.data() + at, 4);
        if (at > 0 && frame != previous + 1)
            ++breaks;
        previous = frame;
    }
    EXPECT_LT(breaks * 100, heard.size() / 4) << breaks << " breaks in " << heard.size() / 4 << " frames";
    EXPECT_EQ(previous, Frames - 1) << "the newest audio is kept";
}
