// SPDX-License-Identifier: GPL-3.0-or-later
// The stream channel of a real sendolin-station process: header record,
// burst, pacing, pass-through of MP3 files, the encoded signal, many
// listeners and a slow one.
#include "AudioFixtures.h"
#include "TestSocket.h"

#include "MpegFrame.h"
#include "StationProcess.h"
#include "wire/StreamRecords.h"
#include "tests/support/PackedField.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <thread>

using namespace std::chrono_literals;
using testsupport::ByValue;
using testsupport::StationProcess;

namespace {

constexpr std::size_t HeaderSize = sizeof(TStreamHeader);

// Connects as the client does and returns the socket after the header; the
// header's bytes go to `header`.
TestSocket Listen(unsigned short port, std::string& header, int receiveBuffer = 0)
{
    TestSocket socket(port, receiveBuffer);
    EXPECT_TRUE(socket.Connected());
    EXPECT_TRUE(socket.ListenForStream(header));
    return socket;
}

// Sums the play time of the whole frames in `bytes`.
double AudioSeconds(const std::string& bytes)
{
    station::FrameSplitter splitter;
    splitter.Push(bytes);
    double seconds = 0;
    while (const auto frame = splitter.Next())
        seconds += frame->header.Seconds();
    return seconds;
}

class StationStreamTest : public ::testing::Test {
protected:
    QTemporaryDir dir;

    struct Heard {
        std::vector<std::int16_t> pcm;
        long rate = 0;
        int channels = 0;
    };

    // What a listener of a station started with `args` hears during `listening`, decoded.
    static Heard Hear(const QStringList& args, std::chrono::milliseconds listening)
    {
        Heard heard;
        StationProcess station(args);
        const bool started = station.Start();
        EXPECT_TRUE(started) << station.Log().toStdString();
        if (!started)
            return heard;
        std::string header;
        TestSocket socket = Listen(station.StreamPort(), header);
        std::string audio;
        socket.ReceiveFor(audio, listening);
        heard.pcm = fixtures::DecodeMp3(audio, heard.rate, heard.channels);
        return heard;
    }

    std::string WriteMp3(const std::string& name, const fixtures::Mp3File& file)
    {
        const std::string path = dir.filePath(QString::fromStdString(name)).toStdString();
        EXPECT_TRUE(fixtures::WriteFile(path, file.tagged));
        return path;
    }

    // A station looping `file` that has been on the air long enough to hold
    // a burst of three seconds; null when it did not start.
    std::unique_ptr<StationProcess> OnAirWithFullBurst(const std::string& name, const fixtures::Mp3File& file)
    {
        auto station = std::make_unique<StationProcess>(
            QStringList{"--source", QString::fromStdString(WriteMp3(name, file)), "--burst", "3"});
        if (!station->Start())
            return nullptr;
        std::this_thread::sleep_for(3200ms);
        return station;
    }
};

TEST_F(StationStreamTest, HeaderCarriesNameAndRealStreamFormat)
{
    StationProcess station({"--name", "Radio Grün", "--burst", "0"});
    ASSERT_TRUE(station.Start());
    std::string bytes;
    TestSocket socket = Listen(station.StreamPort(), bytes);
    ASSERT_EQ(bytes.size(), HeaderSize);
    TStreamHeader header;
    std::memcpy(&header, bytes.data(), HeaderSize);

    EXPECT_EQ(std::string(reinterpret_cast<const char*>(header.StationName + 1), header.StationName[0]),
              "Radio Gr\xFCn");

    const TWaveFormatEx& in = header.FormatIn.Format;
    EXPECT_EQ(ByValue(in.wFormatTag), wire::WAVE_FORMAT_MPEGLAYER3);
    EXPECT_EQ(ByValue(in.nChannels), 2);
    EXPECT_EQ(ByValue(in.nSamplesPerSec), 11025u);
    EXPECT_EQ(ByValue(in.nAvgBytesPerSec), 24000u / 8);
    EXPECT_EQ(ByValue(in.nBlockAlign), 1);
    EXPECT_EQ(ByValue(in.wBitsPerSample), 0);
    EXPECT_EQ(ByValue(in.cbSize), sizeof(TMpegLayer3Extra));
    TMpegLayer3Extra extra;
    std::memcpy(&extra, header.FormatIn.Extra, sizeof extra);
    EXPECT_EQ(ByValue(extra.wID), 1);
    EXPECT_EQ(ByValue(extra.fdwFlags), 2u);
    EXPECT_EQ(ByValue(extra.nFramesPerBlock), 1);
    EXPECT_EQ(ByValue(extra.nCodecDelay), 1393);

    // The block size must be the size of the frames that really follow.
    std::string audio;
    socket.ReceiveExactly(audio, 4, 3s);
    ASSERT_EQ(audio.size(), 4u);
    const auto frame = station::ParseFrameHeader(reinterpret_cast<const std::uint8_t*>(audio.data()));
    ASSERT_TRUE(frame);
    EXPECT_EQ(ByValue(extra.nBlockSize), frame->UnpaddedBytes());
    EXPECT_EQ(frame->sampleRate, 11025);

    const TWaveFormatEx& out = header.FormatOut.Format;
    EXPECT_EQ(ByValue(out.wFormatTag), wire::WAVE_FORMAT_PCM);
    EXPECT_EQ(ByValue(out.nChannels), 2);
    EXPECT_EQ(ByValue(out.nSamplesPerSec), 11025u);
    EXPECT_EQ(ByValue(out.wBitsPerSample), 16);
    EXPECT_EQ(ByValue(out.nBlockAlign), 4);
    EXPECT_EQ(ByValue(out.nAvgBytesPerSec), 11025u * 4);
}

TEST_F(StationStreamTest, NewListenerGetsRecentAudioAtOnceThenRealTime)
{
    StationProcess station({"--burst", "2"});
    ASSERT_TRUE(station.Start());
    std::this_thread::sleep_for(2500ms); // let the station build up its burst

    std::string header;
    TestSocket socket = Listen(station.StreamPort(), header);
    std::string burst;
    socket.ReceiveFor(burst, 300ms);
    const double burstSeconds = AudioSeconds(burst);
    EXPECT_GE(burstSeconds, 1.8);
    EXPECT_LE(burstSeconds, 2.6);

    // After the burst the station sends in real time: over 10 s, within a few
    // percent of the play time.
    std::string live;
    socket.ReceiveFor(live, 10s);
    EXPECT_NEAR(AudioSeconds(live), 10.0, 0.3);
    EXPECT_NEAR(double(live.size()) / 10.0, 24000.0 / 8, 24000.0 / 8 * 0.03);
}

TEST_F(StationStreamTest, Mp3FileIsPassedThroughByteExactAndLooped)
{
    const auto file = fixtures::MakeNoiseMp3(1.0, 11025, 2, 24, "Artist", "Title");
    const auto station = OnAirWithFullBurst("song.mp3", file);
    ASSERT_TRUE(station);

    std::string header;
    TestSocket socket = Listen(station->StreamPort(), header);
    std::string received;
    socket.ReceiveFor(received, 500ms);
    // Three seconds of a one-second file: tags, junk and the Xing frame must
    // all be gone, and the loop must join the frames seamlessly.
    ASSERT_GT(received.size(), file.audio.size() * 2);
    EXPECT_NE(fixtures::LoopPosition(file.audio, received), std::string::npos);

    TestSocket info(station->StreamPort());
    ASSERT_TRUE(info.Send(wire::InfoGreeting));
    std::string text;
    info.ReceiveFor(text, 300ms);
    EXPECT_EQ(text, "Artist - Title");
}

// A write the socket takes only in part goes on from the first byte it did
// not take: a burst much larger than a small receive buffer arrives without
// a byte lost or sent twice.
TEST_F(StationStreamTest, BurstLargerThanTheSocketTakesArrivesWhole)
{
    const auto file = fixtures::MakeNoiseMp3(1.0, 11025, 2, 24, "A", "B");
    const auto station = OnAirWithFullBurst("loud.mp3", file);
    ASSERT_TRUE(station);

    std::string header;
    TestSocket socket = Listen(station->StreamPort(), header, 2048);
    std::string received;
    for (int i = 0; i < 12; ++i) {
        socket.ReceiveExactly(received, 1024, 1s);
        std::this_thread::sleep_for(5ms); // let the socket fill between reads
    }
    socket.ReceiveFor(received, 300ms);
    ASSERT_GT(received.size(), file.audio.size() * 2);
    EXPECT_NE(fixtures::LoopPosition(file.audio, received), std::string::npos);
    EXPECT_FALSE(station->Log().contains("dropped")) << station->Log().toStdString();
}

TEST_F(StationStreamTest, PlaylistPlaysItsFilesInTurn)
{
    const auto first = fixtures::MakeNoiseMp3(0.5, 11025, 2, 24, "A", "First");
    const auto second = fixtures::MakeNoiseMp3(0.7, 11025, 2, 24, "B", "Second");
    WriteMp3("first.mp3", first);
    WriteMp3("second.mp3", second);
    const std::string playlist = dir.filePath("list.m3u").toStdString();
    ASSERT_TRUE(fixtures::WriteFile(playlist, "#EXTM3U\nfirst.mp3\r\n\nsecond.mp3\n"));

    StationProcess station({"--source", QString::fromStdString(playlist), "--burst", "3"});
    ASSERT_TRUE(station.Start());
    std::this_thread::sleep_for(3200ms);
    std::string header;
    TestSocket socket = Listen(station.StreamPort(), header);
    std::string received;
    socket.ReceiveFor(received, 300ms);
    ASSERT_GT(received.size(), first.audio.size() + second.audio.size());
    EXPECT_NE(fixtures::LoopPosition(first.audio + second.audio, received), std::string::npos);
}

TEST_F(StationStreamTest, Mp3FileOfAnotherRateIsTranscodedToTheStationFormat)
{
    const auto file = fixtures::MakeNoiseMp3(0.5, 22050, 2, 32, "A", "B");
    StationProcess station({"--source", QString::fromStdString(WriteMp3("fast.mp3", file)), "--burst", "0"});
    ASSERT_TRUE(station.Start());
    std::string header;
    TestSocket socket = Listen(station.StreamPort(), header);
    std::string received;
    socket.ReceiveFor(received, 600ms);
    const auto frame = station::ParseFrameHeader(reinterpret_cast<const std::uint8_t*>(received.data()));
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->sampleRate, 11025);
    EXPECT_EQ(frame->bitrate, 24000);
    EXPECT_TRUE(station.Log().contains("transcoding MPEG-2 Layer III, 22050 Hz")) << station.Log().toStdString();
}

TEST_F(StationStreamTest, EncodedSourcesDecodeToTheirToneInTheStationFormat)
{
    // Mono 22050 Hz 16-bit: the encoder must resample and widen to 11025 Hz stereo.
    const int wavRate = 22050;
    std::string samples;
    for (int i = 0; i < wavRate; ++i) {
        const auto v = std::int16_t(std::lround(12000 * std::sin(2 * std::numbers::pi * 660.0 * i / wavRate)));
        samples += char(v & 0xFF);
        samples += char((v >> 8) & 0xFF);
    }
    auto le = [](std::uint32_t v, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i)
            out += char((v >> (8 * i)) & 0xFF);
        return out;
    };
    const std::string wav = "RIFF" + le(std::uint32_t(36 + samples.size()), 4) + "WAVEfmt " + le(16, 4) + le(1, 2)
                          + le(1, 2) + le(wavRate, 4) + le(wavRate * 2, 4) + le(2, 2) + le(16, 2) + "data"
                          + le(std::uint32_t(samples.size()), 4) + samples;
    const std::string path = dir.filePath("tone.wav").toStdString();
    ASSERT_TRUE(fixtures::WriteFile(path, wav));

    struct Case {
        std::string source;
        double frequency;       // must carry most of the power
        double absentFrequency; // must carry almost none; 0: not checked
        double leastSeconds;    // decoded of the 1.5 s listened to
    };
    for (const Case& c : {Case{"tone", 440.0, 660.0, 1.0}, Case{path, 660.0, 0, 0.5}}) {
        SCOPED_TRACE(c.source);
        Heard heard = Hear({"--source", QString::fromStdString(c.source), "--burst", "0"}, 1500ms);
        ASSERT_EQ(heard.rate, 11025);
        ASSERT_EQ(heard.channels, 2);
        ASSERT_GT(double(heard.pcm.size()), c.leastSeconds * double(heard.rate * heard.channels));
        // Skips the decoder's start-up.
        heard.pcm.erase(heard.pcm.begin(), heard.pcm.begin() + heard.rate / 4 * heard.channels);
        EXPECT_GT(fixtures::ToneShare(heard.pcm, heard.channels, heard.rate, c.frequency), 0.8);
        if (c.absentFrequency > 0) {
            EXPECT_LT(fixtures::ToneShare(heard.pcm, heard.channels, heard.rate, c.absentFrequency), 0.05);
        }
    }
}

TEST_F(StationStreamTest, MelodySourceDecodesToSound)
{
    const Heard heard = Hear({"--source", "melody", "--burst", "0"}, 1200ms);
    ASSERT_GT(heard.pcm.size(), std::size_t(heard.rate) * heard.channels / 2);
    double energy = 0;
    for (const std::int16_t s : heard.pcm)
        energy += double(s) * s;
    EXPECT_GT(energy / double(heard.pcm.size()), 1000.0 * 1000.0); // not silence
}

TEST_F(StationStreamTest, HundredListenersAllReceiveTheSameFrames)
{
    const auto file = fixtures::MakeNoiseMp3(8.0, 11025, 2, 24, "A", "B");
    StationProcess station({"--source", QString::fromStdString(WriteMp3("noise.mp3", file)), "--burst", "1"});
    ASSERT_TRUE(station.Start());
    std::this_thread::sleep_for(1200ms);

    std::vector<TestSocket> listeners;
    std::vector<std::string> received(100);
    for (std::string& r : received)
        listeners.push_back(Listen(station.StreamPort(), r));
    std::this_thread::sleep_for(1500ms);
    for (std::size_t i = 0; i < listeners.size(); ++i)
        listeners[i].ReceiveFor(received[i], 20ms);

    // Every listener gets the same header and an unbroken piece of the
    // broadcast; the pieces all overlap, so they carried the same frames.
    std::size_t latestStart = 0;
    std::size_t earliestEnd = SIZE_MAX;
    for (const std::string& r : received) {
        ASSERT_GT(r.size(), HeaderSize);
        EXPECT_EQ(r.substr(0, HeaderSize), received[0].substr(0, HeaderSize));
        const std::string audio = r.substr(HeaderSize);
        const std::size_t at = file.audio.find(audio.substr(0, 2000));
        ASSERT_NE(at, std::string::npos);
        EXPECT_EQ(file.audio.compare(at, audio.size(), audio), 0);
        latestStart = std::max(latestStart, at);
        earliestEnd = std::min(earliestEnd, at + audio.size());
    }
    EXPECT_GT(earliestEnd, latestStart + 24000 / 8); // a second in common
}

TEST_F(StationStreamTest, SlowListenerIsDroppedWhileOthersContinue)
{
    // A high bitrate fills the kernel buffers quickly.
    const auto file = fixtures::MakeNoiseMp3(2.0, 11025, 2, 160, "A", "B");
    StationProcess station({"--source", QString::fromStdString(WriteMp3("loud.mp3", file)),
                            "--burst", "0.5", "--queue", "1"});
    ASSERT_TRUE(station.Start());

    TestSocket slow(station.StreamPort(), 2048);
    ASSERT_TRUE(slow.Send(wire::StreamGreeting));
    std::string header;
    TestSocket fast = Listen(station.StreamPort(), header);

    std::string ignored;
    for (int i = 0; i < 150 && !station.Log().contains("dropped"); ++i)
        fast.ReceiveFor(ignored, 100ms);
    ASSERT_TRUE(station.Log().contains("dropped")) << station.Log().toStdString();
    EXPECT_TRUE(slow.WaitForClose(5s));

    std::string after;
    EXPECT_GT(fast.ReceiveFor(after, 500ms), 0u);
}

} // namespace
