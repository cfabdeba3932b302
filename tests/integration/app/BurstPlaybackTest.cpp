// SPDX-License-Identifier: GPL-3.0-or-later
// A station that floods the client with audio far faster than real time and
// then goes back to its normal pace: the listener, whose device plays at a
// sound card's pace, must hear the live audio again within seconds, and the
// client must hold no more than its bound meanwhile.
#include "app/Demo2Client.h"

#include "audio/ACMOut.h"
#include "audio/ACMConvertor.h"
#include "platform/toolkit/TComboBox.h"
#include "platform/toolkit/TImage.h"
#include "tests/support/AlsaRoute.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/MainWindowHarness.h"
#include "tests/support/PlayStation.h"
#include "tests/support/Mp3Encoder.h"
#include "tests/support/PacedListener.h"
#include "tests/support/TonePower.h"
#include "tests/support/Vitals.h"
#include "tests/support/WaveFormats.h"

#include <QFile>
#include <QTest>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <iostream>

using testsupport::LoopbackPeer;
using testsupport::PacedListener;
using testsupport::WaitUntil;
using Clock = PacedListener::Clock;

namespace {

constexpr int Rate = 11025;
constexpr unsigned PcmBytesPerSecond = Rate * 2 * 2; // what the device plays: 16-bit stereo
constexpr double ToneFlood = 500, ToneLive = 1200;   // Hz

std::string HeaderBytes()
{
    TStreamHeader header{};
    header.StationName[0] = 5;
    std::memcpy(header.StationName + 1, "Flood", 5);
    header.FormatIn = testsupport::MpegFormat();
    header.FormatOut = testsupport::PcmFormat(Rate, 2, 8, 129);
    return std::string(reinterpret_cast<const char*>(&header), sizeof header);
}


enum class Heard { Flood, Live, Neither };

struct Window {
    Clock::time_point at;
    Heard tone;
};

// The listener's audio in quarter-second windows, each classed by its
// dominant tone and stamped with the time it was heard.
std::vector<Window> Windows(const std::vector<PacedListener::Chunk>& chunks)
{
    constexpr std::size_t WindowFrames = Rate / 4, WindowBytes = WindowFrames * 4;
    std::vector<Window> windows;
    QByteArray pcm;
    std::vector<std::pair<qsizetype, Clock::time_point>> stamps; // byte offset where each chunk starts
    for (const auto& chunk : chunks) {
        stamps.emplace_back(pcm.size(), chunk.at);
        pcm += chunk.bytes;
    }
    std::size_t stamp = 0;
    for (qsizetype at = 0; at + qsizetype(WindowBytes) <= pcm.size(); at += WindowBytes) {
        const qsizetype end = at + qsizetype(WindowBytes) - 1;
        while (stamp + 1 < stamps.size() && stamps[stamp + 1].first <= end)
            ++stamp;
        const auto* frames = reinterpret_cast<const std::int16_t*>(pcm.constData() + at);
        const double flood = testsupport::TonePower(frames, WindowFrames, Rate, ToneFlood);
        const double live = testsupport::TonePower(frames, WindowFrames, Rate, ToneLive);
        const Heard tone = flood > 10 * live ? Heard::Flood : live > 10 * flood ? Heard::Live : Heard::Neither;
        windows.push_back({stamps[stamp].second, tone}); // stamped when its last byte was heard
    }
    return windows;
}

class BurstPlaybackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The listener first: it must outlive the client's device.
        h.directory.body = QStringLiteral("127.0.0.1:%1,Flood\r\n").arg(server.Port()).toLatin1();
        listener.Start(route.CapturePath(), PcmBytesPerSecond);
        form = &h.Create();
        form->show();
    }

    LoopbackPeer Connect()
    {
        return testsupport::PressPlay(*form, server, info);
    }

    PacedListener listener;
    testsupport::MainWindowHarness h;
    testsupport::AlsaRoute route; // after the harness: this test listens to the device
    testsupport::LoopbackServer server;
    TfmMain* form = nullptr;
    LoopbackPeer info;
};

} // namespace

TEST_F(BurstPlaybackTest, AfterAFloodTheListenerHearsTheLiveToneWithinSecondsAndMemoryStaysBounded)
{
    const std::vector<std::uint8_t> floodTone = testsupport::EncodeMp3Tone({Rate, 2, 24, 10.0}, ToneFlood);
    const std::vector<std::uint8_t> liveTone = testsupport::EncodeMp3Tone({Rate, 2, 24, 20.0}, ToneLive);
    std::string flood;
    while (flood.size() < 256 * 1024)
        flood.append(floodTone.begin(), floodTone.end());

    LoopbackPeer stream = Connect();
    ASSERT_TRUE(stream.Send(HeaderBytes()));
    const std::size_t residentBefore = testsupport::ResidentKib();

    // Five seconds of the flood tone, as fast as the socket takes it.
    std::size_t sent = 0, mostHeld = 0, mostResident = 0;
    const Clock::time_point floodStart = Clock::now();
    while (Clock::now() - floodStart < std::chrono::seconds(5)) {
        ASSERT_TRUE(stream.Send(flood));
        sent += flood.size();
        mostHeld = std::max(mostHeld, form->ACMO->HeldBytes());
        mostResident = std::max(mostResident, testsupport::ResidentKib());
    }
    const Clock::time_point floodEnd = Clock::now();

    // Then the live tone at its real pace, for 16 seconds.
    constexpr double LiveSeconds = 16;
    const double bytesPerSecond = testsupport::MpegFormat().Format.nAvgBytesPerSec;
    std::size_t liveSent = 0;
    while (Clock::now() - floodEnd < std::chrono::duration<double>(LiveSeconds)) {
        const double due = std::chrono::duration<double>(Clock::now() - floodEnd).count() * bytesPerSecond;
        const std::size_t upTo = std::min(liveTone.size(), std::size_t(due));
        if (upTo > liveSent) {
            ASSERT_TRUE(stream.Send(std::string(liveTone.begin() + long(liveSent), liveTone.begin() + long(upTo))));
            liveSent = upTo;
        }
        mostHeld = std::max(mostHeld, form->ACMO->HeldBytes());
        testsupport::Pump(50);
    }
    const Clock::time_point liveEnd = Clock::now();
    const std::uint64_t dropped = form->ACMO->DroppedBytes();
    QTest::mouseClick(form->btndisconnect, Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_TRUE(WaitUntil([&] { return !form->ACMO->Active(); }));
    listener.Stop();

    const std::size_t queueLimit = form->ACMO->QueueLimit();
    EXPECT_GT(sent, 64u * queueLimit) << "the flood was no flood";
    EXPECT_LE(mostHeld, TACMOut::KeptFactor * queueLimit) << "kept more than its bound on unheard audio allows";
    EXPECT_LT(mostResident - residentBefore, 64u * 1024) << "resident memory grew by more than 64 MiB";
    EXPECT_GE(dropped, sent / 2) << "the flood's audio was not dropped";

    const std::vector<Window> windows = Windows(listener.Heard());
    const auto count = [&](Clock::time_point from, Clock::time_point to, Heard tone) {
        return std::count_if(windows.begin(), windows.end(),
                             [&](const Window& w) { return w.at >= from && w.at < to && w.tone == tone; });
    };
    EXPECT_GE(count(floodStart, floodEnd + std::chrono::seconds(3), Heard::Flood), 8)
        << "the flood's tone was never heard: the capture route does not work";
    // The bound is five seconds of playing time; allow three more for the
    // device's buffers and a loaded machine.
    const Clock::time_point settled = floodEnd + std::chrono::seconds(8);
    EXPECT_EQ(count(settled, liveEnd, Heard::Flood), 0) << "stale flood audio heard after the flood";
    EXPECT_GE(count(settled, liveEnd, Heard::Live), 24) << "less than 6 s of the live tone heard";

    // How long the listener lagged: the first live window after which no
    // flood window follows.
    Clock::time_point caughtUp = floodEnd;
    for (const Window& w : windows)
        if (w.tone == Heard::Flood)
            caughtUp = std::max(caughtUp, w.at);
    std::cout << "flood " << sent / 1024 << " KiB, dropped " << dropped / 1024 << " KiB, most held "
              << mostHeld << " bytes (bound " << queueLimit << "), resident +"
              << (mostResident - residentBefore) << " KiB; last flood audio heard "
              << std::chrono::duration<double>(caughtUp - floodEnd).count() << " s after the flood\n";
    EXPECT_TRUE(h.errors.empty());
}
