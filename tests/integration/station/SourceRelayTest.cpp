// SPDX-License-Identifier: GPL-3.0-or-later
// The station's sources against real upstreams on 127.0.0.1: icecast2 fed
// by ffmpeg for relayed radio and its titles, files made with ffmpeg for
// transcoding, and a scripted HTTP upstream for the faults a radio stream
// has. Sources are pulled in the test's thread as the broadcast clock pulls
// them, so every frame a listener would get is seen.
#include "AudioFixtures.h"
#include "SourceTestKit.h"

#include "AudioSource.h"
#include "MpegFrame.h"
#include "SourceEncoder.h"
#include "StationProcess.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/TonePower.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <random>

using namespace std::chrono_literals;
using sourcetest::Pulled;
using sourcetest::ScriptedUpstream;

namespace {

std::string Frames(const std::vector<station::AudioFrame>& frames)
{
    std::string bytes;
    for (const auto& f : frames)
        bytes += *f.bytes;
    return bytes;
}

std::optional<station::FrameHeader> HeaderOf(const station::AudioFrame& frame)
{
    return frame.bytes->size() >= 4
        ? station::ParseFrameHeader(reinterpret_cast<const std::uint8_t*>(frame.bytes->data()))
        : std::nullopt;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// The strongest frequency near `around` in the left channel of decoded stereo.
double PeakFrequency(const std::vector<std::int16_t>& stereo, long rate, double around)
{
    const std::size_t skip = std::size_t(rate) / 4; // the encoder's start
    const std::size_t count = stereo.size() / 2 - skip;
    double best = 0, bestPower = -1;
    for (double hz = around * 0.9; hz <= around * 1.1; hz += 1) {
        const double power = testsupport::TonePower(stereo.data() + 2 * skip, count, int(rate), hz);
        if (power > bestPower) {
            bestPower = power;
            best = hz;
        }
    }
    return best;
}

// ---- relaying icecast radio ------------------------------------------------

struct RelayCase {
    const char* name;
    station::StationFormat format;
};

class IcecastRelayTest : public ::testing::TestWithParam<RelayCase> {};

TEST_P(IcecastRelayTest, MpegRadioIsRelayedFrameForFrameWithEachNewTitle)
{
    QTemporaryDir dir;
    const auto mp3 = fixtures::MakeNoiseMp3(4.0, 44100, 2, 128, "A", "B");
    const std::string path = dir.filePath("radio.mp3").toStdString();
    ASSERT_TRUE(fixtures::WriteFile(path, mp3.tagged));
    testsupport::IcecastServer icecast;
    ASSERT_TRUE(icecast.Start()) << icecast.Log().toStdString();
    ASSERT_TRUE(icecast.Feed("radio", QString::fromStdString(path))) << icecast.Log().toStdString();
    ASSERT_TRUE(icecast.SetTitle("radio", "Erstes Lied"));

    sourcetest::StderrCapture log;
    std::unique_ptr<station::AudioSource> source;
    ASSERT_NO_THROW(source = station::MakeSource(icecast.ListenUrl("radio").toStdString(), GetParam().format))
        << log.Text();
    EXPECT_EQ(source->Format().sampleRate, 44100);
    EXPECT_EQ(source->Format().bitrate, 128000);
    const std::string silence = station::SilentFrame(source->Format());

    const Pulled first = sourcetest::Pull(*source, 5.0, [](const Pulled& p) {
        return p.frames.size() > 80 && p.titles.back() == "Erstes Lied";
    });
    ASSERT_EQ(first.titles.back(), "Erstes Lied");
    // Each new title reaches the station within 2 s of the upstream's change.
    ASSERT_TRUE(icecast.SetTitle("radio", "Café Zwei"));
    const Pulled second = sourcetest::Pull(*source, 2.0, [](const Pulled& p) {
        return !p.titles.empty() && p.titles.back() == "Caf\xE9 Zwei";
    });
    EXPECT_EQ(second.titles.back(), "Caf\xE9 Zwei");

    auto frames = first.frames;
    frames.insert(frames.end(), second.frames.begin(), second.frames.end());
    const std::string audio = sourcetest::AudioOf(frames, silence);
    ASSERT_GT(audio.size(), 1.5 * 128000 / 8) << log.Text();
    EXPECT_NE(fixtures::LoopPosition(mp3.audio, audio), std::string::npos) << "frames changed on the way";
    EXPECT_TRUE(Contains(log.Text(), "relaying MPEG-1 Layer III, 44100 Hz, 2 ch, 128 kbit/s frame for frame"))
        << log.Text();
}

INSTANTIATE_TEST_SUITE_P(Formats, IcecastRelayTest,
                         ::testing::Values(RelayCase{"SameFormat", {44100, 2, 128, false}},
                                           RelayCase{"Copy", {11025, 2, 24, true}}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- transcoding files -----------------------------------------------------

struct FileCase {
    const char* name;
    const char* file;
    std::vector<const char*> codec;
};

class FileTranscodeTest : public ::testing::TestWithParam<FileCase> {};

TEST_P(FileTranscodeTest, FileIsTranscodedWithItsPitchAndTags)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(GetParam().file);
    QStringList args{"-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i", "sine=frequency=1000:duration=3",
                     "-metadata", "title=Lied", "-metadata", "artist=Künstler Ω"};
    for (const char* a : GetParam().codec)
        args << a;
    ASSERT_EQ(QProcess::execute("ffmpeg", args << path), 0);

    sourcetest::StderrCapture log;
    const station::StationFormat format{22050, 2, 64, false};
    const auto source = station::MakeSource(path.toStdString(), format);
    const Pulled pulled = sourcetest::Pull(*source, 1.6);
    const std::string audio = sourcetest::AudioOf(pulled.frames, station::SilentFrame(source->Format()));
    for (const auto& frame : pulled.frames) {
        const auto h = HeaderOf(frame);
        ASSERT_TRUE(h && h->sampleRate == 22050 && h->bitrate == 64000 && h->channels == 2);
    }
    long rate = 0;
    int channels = 0;
    const auto pcm = fixtures::DecodeMp3(audio, rate, channels);
    ASSERT_EQ(rate, 22050);
    ASSERT_GT(pcm.size(), std::size_t(rate)); // half a second and more
    EXPECT_NEAR(PeakFrequency(pcm, rate, 1000), 1000, 10);
    EXPECT_EQ(pulled.titles.back(), "K\xFCnstler ? - Lied");
    EXPECT_TRUE(Contains(log.Text(), "transcoding")) << log.Text();
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FileTranscodeTest,
    ::testing::Values(FileCase{"Flac", "tone.flac", {"-ar", "44100", "-c:a", "flac"}},
                      FileCase{"OggVorbis", "tone.ogg", {"-ar", "44100", "-c:a", "libvorbis"}},
                      FileCase{"Opus", "tone.opus", {"-c:a", "libopus"}},
                      FileCase{"Wav48k", "tone.wav", {"-ar", "48000", "-ac", "2", "-c:a", "pcm_s16le"}},
                      FileCase{"Mp3At22050Mono", "tone.mp3", {"-ar", "22050", "-ac", "1", "-b:a", "32k"}},
                      FileCase{"M4a", "tone.m4a", {"-ar", "44100", "-c:a", "aac"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- upstream faults ---------------------------------------------------------

struct FaultCase {
    const char* name;
    std::function<std::vector<ScriptedUpstream::Step>(const std::string& mp3)> script;
    const char* logged;   // what the log must say of the fault
    int recoveryConnection; // the connection whose audio must reach the listener
    const char* path = "/live";
};

constexpr int Rate = 24000 / 8;

std::string NoiseBytes(std::size_t n)
{
    std::mt19937 random(3);
    std::string bytes(n, '\0');
    for (char& c : bytes)
        c = char(random());
    return bytes;
}

class UpstreamFaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(UpstreamFaultTest, ListenersKeepGettingFramesUntilTheUpstreamIsBack)
{
    const std::string mp3 = fixtures::MakeNoiseMp3(2.0, 11025, 2, 24, "A", "B").audio;
    ScriptedUpstream upstream(GetParam().script(mp3));
    sourcetest::StderrCapture log;
    const station::StationFormat format; // 11025 Hz, 2 ch, 24 kbit/s
    const auto source = station::MakeSource(upstream.Url(GetParam().path), format);
    const std::string silence = station::SilentFrame(source->Format());

    // Pulls until the fault has been logged and the recovering connection
    // has given two seconds of audio.
    std::size_t recoveredAt = SIZE_MAX;
    const Pulled pulled = sourcetest::Pull(*source, 20.0, [&](const Pulled& p) {
        if (recoveredAt == SIZE_MAX && upstream.Connections() > GetParam().recoveryConnection
            && Contains(log.Text(), GetParam().logged))
            recoveredAt = p.frames.size();
        return recoveredAt != SIZE_MAX && p.frames.size() > recoveredAt + 40
            && sourcetest::AudioOf({p.frames.end() - 40, p.frames.end()}, silence).size() > 30 * 150u;
    });

    ASSERT_NE(recoveredAt, SIZE_MAX) << log.Text();
    EXPECT_GT(sourcetest::AudioOf({pulled.frames.end() - 40, pulled.frames.end()}, silence).size(), 30 * 150u)
        << "no audio after the upstream came back\n" << log.Text();
    for (const auto& frame : pulled.frames) {
        const auto h = HeaderOf(frame);
        ASSERT_TRUE(h && h->sampleRate == 11025 && h->bitrate == 24000 && h->channels == 2)
            << "a frame out of the stream's format";
    }
    EXPECT_LT(pulled.longestCall, 100ms) << "the clock waited for the upstream";
    EXPECT_TRUE(Contains(log.Text(), GetParam().logged)) << log.Text();
}

std::vector<ScriptedUpstream::Step> AfterASecond(const std::string& mp3, ScriptedUpstream::Step fault)
{
    return {ScriptedUpstream::Stream(mp3, Rate, 1.0), fault, ScriptedUpstream::Stream(mp3, Rate, 60)};
}

INSTANTIATE_TEST_SUITE_P(
    Faults, UpstreamFaultTest,
    ::testing::Values(
        FaultCase{"Ends",
                  [](const std::string& mp3) {
                      return std::vector{ScriptedUpstream::Stream(mp3, Rate, 1.0), ScriptedUpstream::Stream(mp3, Rate, 60)};
                  },
                  "upstream fault", 1},
        FaultCase{"NotFound",
                  [](const std::string& mp3) {
                      return AfterASecond(mp3, ScriptedUpstream::Answer("HTTP/1.0 404 Not Found"));
                  },
                  "404", 2},
        FaultCase{"ServerError",
                  [](const std::string& mp3) {
                      return AfterASecond(mp3, ScriptedUpstream::Answer("HTTP/1.0 500 Internal Server Error"));
                  },
                  "5XX", 2},
        FaultCase{"Garbage",
                  [](const std::string& mp3) {
                      return AfterASecond(mp3, ScriptedUpstream::Answer("HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg",
                                                                        NoiseBytes(30000)));
                  },
                  "upstream fault", 2},
        FaultCase{"Stall",
                  [](const std::string& mp3) {
                      return std::vector{ScriptedUpstream::Stream(mp3, Rate, 1.0, true),
                                         ScriptedUpstream::Stream(mp3, Rate, 60)};
                  },
                  "no data for 5 s", 1},
        FaultCase{"RedirectChain",
                  [](const std::string& mp3) {
                      return std::vector{ScriptedUpstream::Answer("HTTP/1.0 302 Found\r\nLocation: /b"),
                                         ScriptedUpstream::Answer("HTTP/1.0 301 Moved\r\nLocation: /c"),
                                         ScriptedUpstream::Answer("HTTP/1.0 307 Temporary\r\nLocation: /d"),
                                         ScriptedUpstream::Stream(mp3, Rate, 60)};
                  },
                  "relaying", 3},
        FaultCase{"PlaylistUrl",
                  [](const std::string& mp3) {
                      return std::vector{ScriptedUpstream::Answer("HTTP/1.0 200 OK\r\nContent-Type: audio/x-scpls",
                                                                  "[playlist]\nNumberOfEntries=1\nFile1=stream\n"),
                                         ScriptedUpstream::Stream(mp3, Rate, 60)};
                  },
                  "relaying", 1, "/radio.pls"},
        FaultCase{"FormatChangesMidStream",
                  [](const std::string& mp3) {
                      const std::string faster = fixtures::MakeNoiseMp3(2.0, 22050, 2, 24, "A", "B").audio;
                      return std::vector{ScriptedUpstream::Stream(mp3 + faster + faster + faster + faster, Rate, 60)};
                  },
                  "the format changed mid-stream to MPEG-2 Layer III, 22050 Hz", 0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- start-up ------------------------------------------------------------------

TEST(SourceStartupTest, SourceThatCannotBeOpenedIsAnErrorNamingIt)
{
    QTemporaryDir dir;
    const std::string emptyFolder = dir.filePath("empty").toStdString();
    QDir().mkpath(QString::fromStdString(emptyFolder));
    const std::string playlist = dir.filePath("gone.m3u").toStdString();
    ASSERT_TRUE(fixtures::WriteFile(playlist, "#EXTM3U\nmissing-a.mp3\nmissing-b.flac\n"));
    ScriptedUpstream upstream({ScriptedUpstream::Answer("HTTP/1.0 404 Not Found")});
    const std::string closed = "http://127.0.0.1:" + std::to_string(testsupport::LoopbackServer::ClosedPort()) + "/x";

    for (const std::string& name : {std::string("/nonexistent/gone.flac"), closed, upstream.Url("/missing"),
                                    emptyFolder, playlist}) {
        SCOPED_TRACE(name);
        sourcetest::StderrCapture log;
        try {
            station::MakeSource(name, {});
            ADD_FAILURE() << "opened";
        } catch (const std::runtime_error& e) {
            EXPECT_TRUE(Contains(e.what(), name)) << e.what();
        }
    }
}

TEST(SourceStartupTest, StationExitsWithStatusOneNamingTheSource)
{
    testsupport::StationProcess station({"--source", "/nonexistent/gone.mp3"});
    EXPECT_FALSE(station.Start(5000));
    EXPECT_EQ(station.Stop(), 1);
    EXPECT_TRUE(station.Log().contains("/nonexistent/gone.mp3")) << station.Log().toStdString();
}

} // namespace
