// SPDX-License-Identifier: GPL-3.0-or-later
// Plays through the real path — TACMOut, the wave layer, libmpg123 and ALSA —
// into ALSA's file plugin, and compares what the device received with a
// reference decode of the same bytes made here with libmpg123 directly.
#include "tests/support/AlsaRoute.h"
#include "tests/support/EventLoop.h"
#include "tests/support/Mp3Encoder.h"
#include "tests/support/ReferenceDecode.h"
#include "tests/support/WaveFormats.h"
#include "audio/ACMOut.h"
#include "platform/toolkit/Application.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>
#include <random>
#include <span>

using namespace platform;
using testsupport::AlsaRoute;
using testsupport::EncodeMp3;
using testsupport::Mp3Params;
using testsupport::PcmFormat;
using testsupport::ReferenceDecode;

namespace {

using Bytes = std::vector<std::uint8_t>;

TACMWaveFormat MpegFormat(const Mp3Params& p)
{
    return testsupport::MpegFormat(unsigned(p.rate), unsigned(p.channels), unsigned(p.kbps));
}

// Plays data in blocks of the given size through a TACMOut with the usual
// pre-roll and returns what reached the device. Blocks come faster than real
// time, but never beyond the queue's bound, where audio would be dropped.
QByteArray PlayThrough(const Bytes& data, std::size_t blockSize, const TACMWaveFormat& format)
{
    AlsaRoute route;
    TACMOut out;
    out.SetNumBuffers(4);
    out.Open(format);
    for (std::size_t at = 0; at < data.size(); at += blockSize) {
        EXPECT_TRUE(testsupport::WaitUntil([&] {
            return out.PrerollCount() > 0 || out.HeldBytes() + blockSize <= out.QueueLimit();
        }, 60000));
        out.Play(data.data() + at, std::uint32_t(std::min(blockSize, data.size() - at)));
    }
    EXPECT_EQ(out.DroppedBytes(), 0u);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return out.LiveCount() == 0; }, 60000))
        << out.LiveCount() << " blocks never reported done";
    out.Close();
    return route.Captured();
}

Bytes Concat(std::initializer_list<const Bytes*> parts)
{
    Bytes all;
    for (const Bytes* part : parts)
        all.insert(all.end(), part->begin(), part->end());
    return all;
}

// Anything that would reach the error box fails the test instead of
// waiting for a click on a modal box.
class WavePlayback : public ::testing::Test {
protected:
    void SetUp() override
    {
        Application::Instance().SetErrorBoxHook(
            [](const QString&, const QString& text) { ADD_FAILURE() << "error box: " << text.toStdString(); });
    }
    void TearDown() override { Application::Instance().SetErrorBoxHook({}); }
};

// Prepares every header over the same bytes and queues it on the device.
void QueueAll(HWAVEOUT device, std::span<WAVEHDR> headers, std::vector<char>& data)
{
    for (WAVEHDR& header : headers) {
        header.lpData = data.data();
        header.dwBufferLength = DWORD(data.size());
        ASSERT_EQ(waveOutPrepareHeader(device, &header, sizeof header), 0u);
        ASSERT_EQ(waveOutWrite(device, &header, sizeof header), 0u);
    }
}

} // namespace

TEST_F(WavePlayback, MpegDecodeIsNotAlteredByHowTheNetworkSplitsTheStream)
{
    const Mp3Params station; // the stations' default: MPEG-2.5, 11025 Hz stereo
    const Bytes mp3 = EncodeMp3(station);
    const QByteArray reference = ReferenceDecode(mp3);
    ASSERT_GT(reference.size(), 11025 * 4);
    for (std::size_t block : {std::size_t(1), std::size_t(7)}) {
        SCOPED_TRACE(block);
        EXPECT_EQ(PlayThrough(mp3, block, MpegFormat(station)), reference);
    }
    const Mp3Params music{44100, 2, 128, 30.0}; // 40 blocks of 12 KiB, 0.77 s each
    const Bytes big = EncodeMp3(music);
    EXPECT_EQ(PlayThrough(big, 12 * 1024, MpegFormat(music)), ReferenceDecode(big));
}

TEST_F(WavePlayback, PcmPassesThroughUnchangedEvenWhenBlocksSplitFrames)
{
    const auto signal = testsupport::TestSignal(22050, 2, 1.0);
    const Bytes pcm(reinterpret_cast<const std::uint8_t*>(signal.data()),
                    reinterpret_cast<const std::uint8_t*>(signal.data() + signal.size()));
    const QByteArray expected(reinterpret_cast<const char*>(pcm.data()), qsizetype(pcm.size()));
    EXPECT_EQ(PlayThrough(pcm, 333, PcmFormat(22050, 2, 16)), expected);

    Bytes eightBit(5000);
    for (std::size_t i = 0; i < eightBit.size(); ++i)
        eightBit[i] = std::uint8_t(128 + 100 * std::sin(i * 0.05));
    const QByteArray expected8(reinterpret_cast<const char*>(eightBit.data()), qsizetype(eightBit.size()));
    EXPECT_EQ(PlayThrough(eightBit, 100, PcmFormat(11025, 1, 8)), expected8);
}

TEST_F(WavePlayback, GarbageAndTruncatedFramesNeitherCrashNorStopPlayback)
{
    const Bytes first = EncodeMp3({11025, 2, 24, 1.0});
    const Bytes second = EncodeMp3({11025, 2, 24, 2.0});
    Bytes garbage(4000);
    std::mt19937 random(7);
    for (auto& byte : garbage)
        byte = std::uint8_t(random());
    const Bytes truncated(first.begin() + 200, first.begin() + 260); // mid-frame cut
    const Bytes stream = Concat({&first, &truncated, &garbage, &second});

    const QByteArray captured = PlayThrough(stream, 500, MpegFormat({11025, 2, 24, 0}));
    const QByteArray tail = ReferenceDecode(second).right(11025 * 4); // its last second
    ASSERT_FALSE(tail.isEmpty());
    EXPECT_TRUE(captured.endsWith(tail)) << "playback did not resume after the damage";
}

TEST_F(WavePlayback, FormatChangeInsideTheStreamIsFollowedWithoutLoss)
{
    const Bytes low = EncodeMp3({11025, 2, 24, 1.0});
    const Bytes high = EncodeMp3({44100, 1, 64, 1.0});
    const Bytes stream = Concat({&low, &high});
    const QByteArray captured = PlayThrough(stream, 1000, MpegFormat({11025, 2, 24, 0}));
    const QByteArray reference = ReferenceDecode(stream);
    ASSERT_GT(reference.size(), ReferenceDecode(low).size());
    EXPECT_EQ(captured, reference);
}

TEST_F(WavePlayback, CloseInMidStreamStopsAndTheNextStreamPlaysCleanly)
{
    AlsaRoute route;
    const Mp3Params station;
    const Bytes mp3 = EncodeMp3(station);
    TACMOut out;
    out.SetNumBuffers(0);
    out.Open(MpegFormat(station));
    for (std::size_t at = 0; at + 50 <= mp3.size(); at += 50)
        out.Play(mp3.data() + at, 50);
    out.Close();
    EXPECT_EQ(out.LiveCount(), 0u);
    EXPECT_EQ(out.DeviceHandle(), nullptr);

    out.Open(MpegFormat(station));
    out.Play(mp3.data(), std::uint32_t(mp3.size()));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return out.LiveCount() == 0; }, 20000));
    out.Close();
    EXPECT_EQ(route.Captured(), ReferenceDecode(mp3));
}

// The card is full and, with nobody reading the meter, the device thread
// sleeps until most of its buffer is free, most of a second: a reset must
// end that sleep at once instead of waiting it out, and report every block.
TEST_F(WavePlayback, ResetEndsTheWaitForRoomAtOnceAndReportsEveryQueuedBlockDoneInOrder)
{
    AlsaRoute speaker(AlsaRoute::Card);
    std::vector<LPARAM> done;
    NotifyWindow window([&](unsigned message, WPARAM, LPARAM lParam) -> LRESULT {
        if (message == MM_WOM_DONE)
            done.push_back(lParam);
        return 0;
    });
    const TACMWaveFormat format = PcmFormat(8000, 1, 16);
    HWAVEOUT device = nullptr;
    ASSERT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, window.Handle(), 0, CALLBACK_WINDOW), 0u);
    std::vector<char> data(16000 * 2); // two seconds each: more than the device buffer
    std::vector<WAVEHDR> headers(5);
    ASSERT_NO_FATAL_FAILURE(QueueAll(device, headers, data));
    testsupport::Pump(300); // the card is full and the writer asleep
    QElapsedTimer reset;
    reset.start();
    EXPECT_EQ(waveOutReset(device), 0u);
    EXPECT_LT(reset.elapsed(), 250) << "the reset waited for the device's sleep to end";
    for (WAVEHDR& header : headers) {
        EXPECT_EQ(header.dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
        EXPECT_EQ(waveOutUnprepareHeader(device, &header, sizeof header), 0u);
    }
    EXPECT_EQ(waveOutClose(device), 0u);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return done.size() == headers.size(); }));
    for (std::size_t i = 0; i < headers.size(); ++i)
        EXPECT_EQ(done[i], reinterpret_cast<LPARAM>(&headers[i]));
}

// Done notices leave the device in batches while blocks keep coming. None may
// be lost, repeated or reordered, each block must be free to unprepare when
// its notice arrives, and a close must wait until the last one is posted, so
// that MM_WOM_CLOSE comes after every MM_WOM_DONE.
TEST_F(WavePlayback, ManySmallBlocksEachReportDoneOnceInOrderAndCloseComesLast)
{
    AlsaRoute route;
    HWAVEOUT device = nullptr;
    std::vector<std::pair<unsigned, LPARAM>> notices;
    NotifyWindow window([&](unsigned message, WPARAM, LPARAM lParam) -> LRESULT {
        notices.emplace_back(message, lParam);
        if (message == MM_WOM_DONE) {
            auto* header = reinterpret_cast<WAVEHDR*>(lParam);
            EXPECT_EQ(header->dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
            if (device) { // notices may still be on their way after the close
                EXPECT_EQ(waveOutUnprepareHeader(device, header, sizeof *header), 0u);
            }
        }
        return 0;
    });
    const TACMWaveFormat format = PcmFormat(8000, 1, 16);
    ASSERT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, window.Handle(), 0, CALLBACK_WINDOW), 0u);
    std::vector<char> data(160); // 10 ms each
    std::vector<WAVEHDR> headers(300);
    ASSERT_NO_FATAL_FAILURE(QueueAll(device, headers, data));
    MMRESULT closed = WAVERR_STILLPLAYING;
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        closed = waveOutClose(device);
        EXPECT_TRUE(closed == MMSYSERR_NOERROR || closed == WAVERR_STILLPLAYING) << closed;
        return closed != WAVERR_STILLPLAYING;
    }, 60000));
    device = nullptr;
    ASSERT_TRUE(testsupport::WaitUntil([&] { return !notices.empty() && notices.back().first == MM_WOM_CLOSE; }));
    testsupport::Pump(100); // nothing may follow the close
    ASSERT_EQ(notices.size(), headers.size() + 2);
    EXPECT_EQ(notices.front().first, MM_WOM_OPEN);
    for (std::size_t i = 0; i < headers.size(); ++i) {
        EXPECT_EQ(notices[i + 1].first, MM_WOM_DONE) << "notice " << i + 1;
        EXPECT_EQ(notices[i + 1].second, reinterpret_cast<LPARAM>(&headers[i])) << "block " << i;
    }
    EXPECT_EQ(notices.back().first, MM_WOM_CLOSE);
}

// A hidden window reads no levels. A live stream then brings a block every
// tenth of a second; if the done notices woke the GUI thread nearly as often,
// a hidden player would wake up to ten extra times a second for nothing.
TEST_F(WavePlayback, UnwatchedLiveStreamReportsDoneInFewBatchesAndNoBlockIsLost)
{
    constexpr unsigned kRate = 8000; // 16-bit mono
    constexpr int kBlocks = 30;      // 100 ms each
    constexpr int kLead = 10;        // a second ahead, as after the pre-roll
    AlsaRoute speaker(AlsaRoute::Card);
    HWAVEOUT device = nullptr;
    int done = 0;
    int batches = 0;
    bool inBatch = false;
    NotifyWindow window([&](unsigned message, WPARAM, LPARAM) -> LRESULT {
        if (message != MM_WOM_DONE)
            return 0;
        ++done;
        // A batch is one event: every notice in it comes before the next event.
        if (!inBatch) {
            inBatch = true;
            ++batches;
            QTimer::singleShot(0, [&] { inBatch = false; });
        }
        return 0;
    });
    const TACMWaveFormat format = PcmFormat(kRate, 1, 16);
    ASSERT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, window.Handle(), 0, CALLBACK_WINDOW), 0u);
    std::vector<char> data(kRate / 10 * 2, 0x11);
    std::vector<WAVEHDR> headers(kBlocks);
    ASSERT_NO_FATAL_FAILURE(QueueAll(device, std::span(headers).first(kLead), data));
    for (std::size_t i = kLead; i < headers.size(); ++i) { // then as a live stream brings them
        testsupport::Pump(100);
        ASSERT_NO_FATAL_FAILURE(QueueAll(device, std::span(headers).subspan(i, 1), data));
    }
    testsupport::Pump(100);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return done == kBlocks; }, 10000)) << done << " of " << kBlocks;
    // About one batch per 400 ms of the three seconds (six here); held for a
    // tenth of a second at most, the notices came in thirteen events.
    EXPECT_LE(batches, 9) << "done notices came in " << batches << " events";
    for (WAVEHDR& header : headers)
        EXPECT_EQ(waveOutUnprepareHeader(device, &header, sizeof header), 0u);
    ASSERT_EQ(waveOutClose(device), 0u);
    const auto played = qsizetype(data.size() * kBlocks);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return speaker.Captured().size() >= played; }, 5000))
        << speaker.Captured().size() << " of " << played << " bytes reached the speaker";
}

// The device makes a writer that is ahead wait, as a sound card does, and a
// writer that waits for room must neither lose nor reorder what it still
// holds: every byte of three seconds, queued at once, reaches the card.
TEST_F(WavePlayback, EveryByteReachesACardThatMakesTheWriterWaitInOrder)
{
    AlsaRoute speaker(AlsaRoute::Card);
    int done = 0;
    NotifyWindow window([&](unsigned message, WPARAM, LPARAM) -> LRESULT {
        done += message == MM_WOM_DONE;
        return 0;
    });
    const TACMWaveFormat format = PcmFormat(8000, 1, 16);
    HWAVEOUT device = nullptr;
    ASSERT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, window.Handle(), 0, CALLBACK_WINDOW), 0u);
    std::vector<std::vector<char>> blocks(3, std::vector<char>(16000)); // a second each
    QByteArray expected;
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        for (std::size_t i = 0; i < blocks[b].size(); ++i)
            blocks[b][i] = char((i * 7 + b * 131) % 251);
        expected.append(blocks[b].data(), qsizetype(blocks[b].size()));
    }
    std::vector<WAVEHDR> headers(blocks.size());
    for (std::size_t b = 0; b < blocks.size(); ++b)
        ASSERT_NO_FATAL_FAILURE(QueueAll(device, std::span(headers).subspan(b, 1), blocks[b]));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return done == 3; }, 10000)) << done << " of 3 blocks done";
    for (WAVEHDR& header : headers)
        EXPECT_EQ(waveOutUnprepareHeader(device, &header, sizeof header), 0u);
    ASSERT_EQ(waveOutClose(device), 0u);
    EXPECT_TRUE(speaker.Captured() == expected) << speaker.Captured().size() << " of " << expected.size()
                                                << " bytes, or not in order";
}
