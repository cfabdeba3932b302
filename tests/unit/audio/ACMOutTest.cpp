// TACMOut against a recording stand-in for the wave output: which blocks
// reach the device and when, what Close releases, which notices count, and
// the error texts.
#include "tests/support/EventLoop.h"
#include "tests/support/WaveFormats.h"
#include "audio/ACMOut.h"
#include "platform/toolkit/Application.h"

#include <gtest/gtest.h>
#include <string>

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
    EXPECT_EQ(out.Format().Format.nSamplesPerSec, 11025u);
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

TEST_F(ACMOutTest, HeldDataIsBoundedAndExcessBlocksAreDroppedAndCounted)
{
    out.SetNumBuffers(0);
    out.Open(Mpeg());
    const std::string mib(1024 * 1024, 'm');
    for (int i = 0; i < 20; ++i)
        PlayText(mib);
    EXPECT_LE(out.HeldBytes(), TACMOut::MaxHeldBytes);
    EXPECT_EQ(out.LiveCount(), fake.written.size());
    EXPECT_EQ(out.LiveCount() + out.DroppedBlocks(), 20u);
    EXPECT_GE(out.DroppedBlocks(), 5u);

    // Once the device has played a block there is room again.
    const std::size_t live = out.LiveCount();
    Done(fake.writtenHeaders[0]);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return out.LiveCount() == live - 1; }));
    PlayText(mib);
    EXPECT_EQ(out.LiveCount(), live);
}
