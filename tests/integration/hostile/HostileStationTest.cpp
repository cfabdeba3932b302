// SPDX-License-Identifier: GPL-3.0-or-later
// A station that breaks the stream channel's rules, or floods the stream or
// the info channel: the window must live on and answer, what arrived before
// the fault must still be heard, and memory must stay bounded.
#include "tests/integration/hostile/HostileFixture.h"

#include "audio/ACMConvertor.h"
#include "audio/ACMOut.h"
#include "platform/toolkit/TImage.h"
#include "platform/toolkit/TLabel.h"
#include "tests/support/EventLoop.h"
#include "tests/support/Mp3Encoder.h"
#include "tests/support/PlayStation.h"
#include "tests/support/WaveFormats.h"
#include "widgets/AnimLabel.h"

#include <QTest>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <functional>
#include <iostream>
#include <random>
#include <thread>

#include <linux/sockios.h>
#include <sys/ioctl.h>

using testsupport::LoopbackPeer;
using testsupport::WaitUntil;

namespace {

constexpr int Rate = 11025;
constexpr double ToneBefore = 500, ToneAfter = 1200; // Hz
constexpr std::size_t MiB = 1024;                    // in KiB

std::string HeaderBytes(const TACMWaveFormat& in = testsupport::MpegFormat())
{
    TStreamHeader header{};
    header.StationName[0] = 7;
    std::memcpy(header.StationName + 1, "Hostile", 7);
    header.FormatIn = in;
    header.FormatOut = testsupport::PcmFormat(Rate, 2, 8, 129);
    return std::string(reinterpret_cast<const char*>(&header), sizeof header);
}

std::string Tone(double hz, double seconds)
{
    const std::vector<std::uint8_t> mp3 = testsupport::EncodeMp3Tone({Rate, 2, 24, seconds}, hz);
    return std::string(mp3.begin(), mp3.end());
}

std::string Garbage(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = char(random());
    return bytes;
}

class HostileStation : public hostile::HostileWindowTest {
protected:
    void SetUp() override
    {
        ShowWindow();
        // Remembers the stream channel's socket, to see what is still waiting there.
        form->CSocket->OnRead = [this, inner = form->CSocket->OnRead](QObject* s, TCustomWinSocket* w) {
            streamSocket = w;
            inner(s, w);
        };
    }

    LoopbackPeer Connect() { return testsupport::PressPlay(*form, server, info); }

    // Sends in pieces with the window running in between, as a network
    // delivers audio, and waits until the window has read all of it.
    void Deliver(LoopbackPeer& peer, const std::string& bytes, std::size_t piece = 1000)
    {
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            ASSERT_TRUE(peer.Send(bytes.substr(at, piece)));
            testsupport::Pump(10);
        }
        ASSERT_TRUE(WaitUntil([&] { return AllTaken(peer); }, 20000)) << "the window stopped reading";
    }

    // Everything sent has been read by the window: nothing is left in the
    // peer's send queue (on loopback, bytes leave it once they reach the
    // window's socket) and nothing waits at the window's socket.
    bool AllTaken(LoopbackPeer& peer) const
    {
        int unsent = 0;
        if (::ioctl(peer.Descriptor(), SIOCOUTQ, &unsent) != 0 || unsent > 0)
            return false;
        return streamSocket && streamSocket->BytesWaiting() == 0;
    }

    // Waits until every block has been played, then stops; what the device heard.
    QByteArray PlayOutAndStop()
    {
        EXPECT_TRUE(WaitUntil([&] { return form->ACMO->LiveCount() == 0; }, 30000)) << "blocks never played";
        QTest::mouseClick(form->btndisconnect, Qt::LeftButton, {}, QPoint(5, 5));
        EXPECT_TRUE(WaitUntil([&] { return !form->ACMO->Active(); }));
        return route.Captured();
    }

    LoopbackPeer info;
    TCustomWinSocket* streamSocket = nullptr;
};

} // namespace

TEST_F(HostileStation, ResetInTheMiddleOfAFrameKeepsEverythingHeardBeforeIt)
{
    const std::string audio = Tone(ToneBefore, 3);
    StartProbe();
    LoopbackPeer stream = Connect();
    ASSERT_TRUE(stream.Send(HeaderBytes()));
    Deliver(stream, audio.substr(0, audio.size() - 50)); // the last frame stays incomplete
    stream.Reset();
    ASSERT_TRUE(WaitUntil([&] { return form->lblstatus->Caption().startsWith(QStringLiteral("Error: ")); }))
        << form->lblstatus->Caption().toStdString();
    const QByteArray heard = PlayOutAndStop();
    EXPECT_GE(hostile::ToneWindows(heard, Rate, ToneBefore, ToneAfter), 3 * 4 - 2) << "audio before the reset lost";
    Vitals(16 * MiB);
}

TEST_F(HostileStation, CloseInTheMiddleOfTheHeaderTakesNoHeaderAndDisconnects)
{
    const TACMWaveFormat before = form->ACMC->FormatIn;
    StartProbe();
    LoopbackPeer stream = Connect();
    ASSERT_TRUE(stream.Send(HeaderBytes(testsupport::MpegFormat(44100)).substr(0, 300)));
    testsupport::Pump(200);
    stream.Close();
    ASSERT_TRUE(WaitUntil([&] { return form->lblstatus->Caption() == QStringLiteral("Disconnected"); }));
    EXPECT_EQ(std::memcmp(&form->ACMC->FormatIn, &before, sizeof before), 0) << "half a header was taken";
    EXPECT_FALSE(form->ACMO->Active());
    Vitals(16 * MiB);
}

TEST_F(HostileStation, HeaderDrippedOneByteAtATimeIsTakenWholeAndTheAudioPlays)
{
    const std::string header = HeaderBytes(), audio = Tone(ToneBefore, 2);
    StartProbe();
    LoopbackPeer stream = Connect();
    for (char byte : header) {
        ASSERT_TRUE(stream.Send(std::string(1, byte)));
        testsupport::Pump(2);
    }
    ASSERT_TRUE(WaitUntil([&] { return form->Radioname->OriginalCaption() == QStringLiteral("Hostile"); }));
    EXPECT_EQ(std::memcmp(&form->ACMC->FormatIn, header.data() + offsetof(TStreamHeader, FormatIn),
                          sizeof(TACMWaveFormat)), 0);
    Deliver(stream, audio);
    EXPECT_GE(hostile::ToneWindows(PlayOutAndStop(), Rate, ToneBefore, ToneAfter), 2 * 4 - 2);
    Vitals(16 * MiB);
}

// Garbage of the given size in place of audio, between two stretches of it.
class GarbageInTheStream : public HostileStation, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(GarbageInTheStream, SoundResumesAfterItAndNothingBeforeItIsLost)
{
    const std::string before = Tone(ToneBefore, 2), garbage = Garbage(GetParam(), unsigned(GetParam())),
                      after = Tone(ToneAfter, 3);
    StartProbe();
    LoopbackPeer stream = Connect();
    ASSERT_TRUE(stream.Send(HeaderBytes()));
    Deliver(stream, before);
    Deliver(stream, garbage, 4096);
    Deliver(stream, after);
    const QByteArray heard = PlayOutAndStop();
    EXPECT_GE(hostile::ToneWindows(heard, Rate, ToneBefore, ToneAfter), 2 * 4 - 2) << "audio before the garbage lost";
    EXPECT_GE(hostile::ToneWindows(heard, Rate, ToneAfter, ToneBefore), 3 * 4 - 3) << "the sound did not resume";
    Vitals(32 * MiB);
}

INSTANTIATE_TEST_SUITE_P(Sizes, GarbageInTheStream, ::testing::Values(512, 10 * 1024, 100 * 1024));

// Header format records no device can play; the window must swallow the
// failed opening at every read and go on counting what arrives.
struct AbsurdFormat {
    const char* name;
    std::function<void(TACMWaveFormat&)> spoil;
};

class AbsurdFormatRecord : public HostileStation, public ::testing::WithParamInterface<AbsurdFormat> {};

TEST_P(AbsurdFormatRecord, IsSurvivedAndTheReadsGoOn)
{
    TACMWaveFormat format = testsupport::MpegFormat();
    GetParam().spoil(format);
    const std::string audio = Tone(ToneBefore, 2), garbage = Garbage(64 * 1024, 7);
    StartProbe();
    LoopbackPeer stream = Connect();
    ASSERT_TRUE(stream.Send(HeaderBytes(format)));
    Deliver(stream, audio);
    Deliver(stream, garbage, 4096);
    EXPECT_TRUE(WaitUntil([&] { return form->lblstatus->Caption().startsWith(QStringLiteral("Received")); }, 5000));
    QTest::mouseClick(form->btndisconnect, Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_TRUE(WaitUntil([&] { return !form->ACMO->Active() && form->ACMO->LiveCount() == 0; }));
    Vitals(32 * MiB);
}

INSTANTIATE_TEST_SUITE_P(
    Records, AbsurdFormatRecord,
    ::testing::Values(AbsurdFormat{"NoChannels", [](TACMWaveFormat& f) { f.Format.nChannels = 0; }},
                      AbsurdFormat{"RateZero", [](TACMWaveFormat& f) { f.Format.nSamplesPerSec = 0; }},
                      AbsurdFormat{"Rate4GHz",
                                   [](TACMWaveFormat& f) {
                                       f.Format.nSamplesPerSec = 4000000000u;
                                       f.Format.nAvgBytesPerSec = 4000000000u;
                                   }},
                      AbsurdFormat{"PcmRate4GHz",
                                   [](TACMWaveFormat& f) { f = testsupport::PcmFormat(4000000000u, 2, 16); }},
                      AbsurdFormat{"TagFFFF", [](TACMWaveFormat& f) { f.Format.wFormatTag = 0xFFFF; }},
                      AbsurdFormat{"CbSize65535", [](TACMWaveFormat& f) { f.Format.cbSize = 65535; }}),
    [](const ::testing::TestParamInfo<AbsurdFormat>& info) { return std::string(info.param.name); });

TEST_F(HostileStation, FloodForTwentySecondsKeepsMemoryUnderItsBound)
{
    const std::string tone = Tone(ToneBefore, 10);
    std::string flood;
    while (flood.size() < 256 * 1024)
        flood += tone;
    StartProbe();
    LoopbackPeer stream = Connect();
    ASSERT_TRUE(stream.Send(HeaderBytes()));

    // The station writes from a thread of its own, as fast as the socket takes it.
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> flooded{0};
    std::thread station([&, fd = stream.Descriptor()] {
        while (!stop && hostile::SendAll(fd, flood))
            flooded += flood.size();
    });
    std::size_t mostHeld = 0;
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
        testsupport::Pump(100);
        mostHeld = std::max(mostHeld, form->ACMO->HeldBytes());
        residentPeak = std::max(residentPeak, testsupport::ResidentKib());
    }
    stop = true;
    station.join();
    std::cout << "flooded " << flooded / 1024 / 1024 << " MiB in 20 s, most held " << mostHeld << " bytes\n";
    EXPECT_GT(flooded.load(), 100u * form->ACMO->QueueLimit()) << "the flood was no flood";
    EXPECT_LE(mostHeld, TACMOut::KeptFactor * form->ACMO->QueueLimit()); // kept: heard audio awaits its notice
    Vitals(64 * MiB);
}

// The info channel's texts: a flood of 10 MB within a second, and one text of
// 64 KB, each followed by a short text that must be the one that stays shown.
class InfoChannelFlood : public HostileStation, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(InfoChannelFlood, WindowKeepsAnsweringAndTheLastTextIsShown)
{
    const std::size_t total = GetParam();
    std::string text(total, ' ');
    for (std::size_t i = 0; i < total; ++i)
        text[i] = char(0x20 + i % 0xDF); // printable bytes of the code page, high ones included
    StartProbe();
    LoopbackPeer stream = Connect();
    ASSERT_TRUE(stream.Send(HeaderBytes()));
    ASSERT_TRUE(WaitUntil([&] { return info.Waiting() >= 26; }));
    info.Receive(26);
    std::thread station([&, fd = info.Descriptor()] {
        // A flood comes in 100 parts spread over a second (or as fast as the
        // window reads); a single text in one send.
        const std::size_t part = total > (1u << 20) ? total / 100 : total;
        for (std::size_t at = 0; at < total; at += part) {
            hostile::SendAll(fd, text.data() + at, std::min(part, total - at));
            if (total > part)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    testsupport::Pump(1500); // the label scrolls the long text meanwhile
    station.join();
    testsupport::Pump(1500);
    ASSERT_TRUE(info.Send("Ende der Flut"));
    EXPECT_TRUE(WaitUntil([&] { return form->Info->OriginalCaption().endsWith(QStringLiteral("Ende der Flut")); }, 20000));
    EXPECT_LE(form->Info->OriginalCaption().size(), 64 * 1024) << "the ticker holds more than it can show";
    Vitals(64 * MiB);
}

INSTANTIATE_TEST_SUITE_P(Sizes, InfoChannelFlood, ::testing::Values(10u << 20, 64u << 10),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                             return info.param > (1u << 20) ? std::string("TenMegabytesInASecond")
                                                            : std::string("OneTextOf64KB");
                         });
