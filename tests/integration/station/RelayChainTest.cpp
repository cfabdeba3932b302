// SPDX-License-Identifier: GPL-3.0-or-later
// A two-tier relay chain as a listener meets it: an icecast2 master fed with
// a 440 Hz tone, a second icecast2 relaying the master's mount, one
// sendolin-station process whose two stations relay that mount frame for
// frame, and a listener on each station. The master is stopped mid-stream
// and started again on its port; the listeners must stay connected, hear
// silence meanwhile and then the tone again. Everything runs in the test's
// thread; the listeners are read in turn so neither one's socket fills.
//
// The waits: the relay icecast drops its mount as soon as the master's
// stream ends and tries the master again about 2 s later; when that try is
// refused it tries again only at its master update interval (set to 5 s by
// IcecastServer::RelayOf). The station meanwhile retries the relay's mount
// after 1, 2, 4, 8 … s (at most 30 s), so with the master away 3 s the tone
// is back within about 15 s of the stop; the case takes about 20 s.
#include "AudioFixtures.h"
#include "TestSocket.h"

#include "MpegFrame.h"
#include "StationProcess.h"
#include "tests/support/IcecastServer.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using namespace std::chrono_literals;

namespace {

constexpr long Rate = 44100;
constexpr int Bitrate = 128000;
constexpr std::size_t WindowFrames = Rate / 4; // a quarter second of stereo frames

enum class Sound { Tone, Silence, Other };

struct Heard {
    std::vector<Sound> windows;   // the decoded stream, a quarter second each
    std::size_t badFrameAt = std::string::npos; // where the frames stop lining up
};

// Walks the frames back to back (each must be 44.1 kHz 128 kbit/s stereo),
// decodes them and tells each quarter second's sound.
Heard Listen(const std::string& audio)
{
    Heard heard;
    std::size_t at = 0;
    while (at + 4 <= audio.size()) {
        const auto h = station::ParseFrameHeader(reinterpret_cast<const std::uint8_t*>(audio.data() + at));
        if (!h || h->sampleRate != Rate || h->bitrate != Bitrate || h->channels != 2) {
            heard.badFrameAt = at;
            break;
        }
        at += std::size_t(h->frameBytes);
    }
    long rate = 0;
    int channels = 0;
    const std::vector<std::int16_t> pcm = fixtures::DecodeMp3(audio.substr(0, std::min(at, audio.size())), rate, channels);
    for (std::size_t from = 0; from + 2 * WindowFrames <= pcm.size(); from += 2 * WindowFrames) {
        const std::vector<std::int16_t> window(pcm.begin() + long(from), pcm.begin() + long(from + 2 * WindowFrames));
        const int loudest = std::abs(*std::max_element(window.begin(), window.end(), [](int a, int b) {
            return std::abs(a) < std::abs(b);
        }));
        heard.windows.push_back(loudest <= 2 ? Sound::Silence
                                : fixtures::ToneShare(window, 2, Rate, 440.0) > 0.8 ? Sound::Tone
                                                                                    : Sound::Other);
    }
    return heard;
}

// The runs of sounds, leaving out the odd window where one sound splices
// into the next (a frame decoded against the other sound's bit reservoir).
std::string Runs(const std::vector<Sound>& windows)
{
    std::string runs;
    for (std::size_t i = 0; i < windows.size();) {
        std::size_t end = i;
        while (end < windows.size() && windows[end] == windows[i])
            ++end;
        const char letter = windows[i] == Sound::Tone ? 'T' : windows[i] == Sound::Silence ? 'S' : '?';
        if ((letter != '?' || end - i > 2) && (runs.empty() || runs.back() != letter))
            runs += letter;
        i = end;
    }
    return runs;
}

bool EndsInTone(const std::string& audio)
{
    const auto windows = Listen(audio).windows;
    return windows.size() >= 4 && std::all_of(windows.end() - 4, windows.end(), [](Sound s) { return s == Sound::Tone; });
}

struct Listener {
    TestSocket socket;
    std::string audio;
};

class RelayChainTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    testsupport::IcecastServer master;
    testsupport::IcecastServer relay;
    std::vector<Listener> listeners;

    // Reads every listener for `duration`, in turns of 50 ms.
    void Pump(std::chrono::milliseconds duration)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < duration.count()) {
            for (Listener& l : listeners)
                l.socket.ReceiveFor(l.audio, 50ms);
        }
    }

    // Reads until `done` holds (asked every second) or `limit` has passed; the seconds it took.
    double PumpUntil(const std::function<bool()>& done, std::chrono::seconds limit)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < std::chrono::milliseconds(limit).count())
            Pump(1s);
        return timer.elapsed() / 1000.0;
    }

    QString Log() const { return "master:\n" + master.Log() + "\nrelay:\n" + relay.Log(); }
};

TEST_F(RelayChainTest, ListenersHearSilenceWhileTheMasterIsAwayAndTheProgrammeWhenItIsBack)
{
    const QString tone = dir.filePath("tone.mp3");
    ASSERT_EQ(QProcess::execute("ffmpeg", {"-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
                                           "sine=frequency=440:sample_rate=44100:duration=10", "-ac", "2",
                                           "-b:a", "128k", tone}),
              0);
    ASSERT_TRUE(master.Start()) << Log().toStdString();
    ASSERT_TRUE(master.Feed("radio", tone)) << Log().toStdString();
    relay.RelayOf(master.Port(), "radio");
    ASSERT_TRUE(relay.Start()) << Log().toStdString();
    ASSERT_TRUE(relay.WaitForMount("radio", 15000)) << Log().toStdString();

    const std::string section = "source = " + relay.ListenUrl("radio").toStdString()
                              + "\nlisten = 127.0.0.1:0\nrate = 44100\nbitrate = 128\nchannels = 2\n";
    const QString stations = dir.filePath("stations.conf");
    ASSERT_TRUE(fixtures::WriteFile(stations.toStdString(),
                                    "[one]\nname = Eins\n" + section + "[two]\nname = Zwei\n" + section));
    testsupport::StationProcess station({"--stations", stations}, 2);
    ASSERT_TRUE(station.Start()) << station.Log().toStdString();
    for (quint16 port : station.StreamPorts()) {
        listeners.push_back({TestSocket(port), {}});
        std::string header;
        ASSERT_TRUE(listeners.back().socket.ListenForStream(header));
    }
    QElapsedTimer onAir;
    onAir.start();
    Pump(3s);

    master.Stop();
    const double relayGone = PumpUntil([&] { return !relay.WaitForMount("radio", 0); }, 10s);
    Pump(3s); // the master stays away a while
    ASSERT_TRUE(master.Start()) << Log().toStdString();
    ASSERT_TRUE(master.Feed("radio", tone)) << Log().toStdString();
    const double relayBack = PumpUntil([&] { return relay.WaitForMount("radio", 0); }, 20s);
    ASSERT_TRUE(relay.WaitForMount("radio", 0)) << "the relay did not retry\n" << Log().toStdString();
    const auto allHearTone = [&] {
        return std::all_of(listeners.begin(), listeners.end(), [](const Listener& l) { return EndsInTone(l.audio); });
    };
    const double toneBack = PumpUntil(allHearTone, 35s);
    EXPECT_TRUE(allHearTone()) << "the tone did not come back\n" << station.Log().toStdString();
    std::printf("relay mount gone %.1f s after the master stopped, back %.1f s after the master's restart;"
                " the tone at the listeners %.1f s after that\n", relayGone, relayBack, toneBack);

    const double seconds = onAir.elapsed() / 1000.0;
    for (const Listener& l : listeners) {
        const Heard heard = Listen(l.audio);
        EXPECT_EQ(heard.badFrameAt, std::string::npos) << "the frames stop lining up";
        // The station's clock kept sending, with silence when it had nothing else.
        EXPECT_GT(double(l.audio.size()), 0.8 * seconds * Bitrate / 8) << station.Log().toStdString();
        EXPECT_EQ(Runs(heard.windows), "TST") << station.Log().toStdString() << Log().toStdString();
        EXPECT_GE(std::count(heard.windows.begin(), heard.windows.end(), Sound::Silence), 4)
            << "less than a second of silence";
    }
    EXPECT_EQ(station.Stop(), 0);
}

} // namespace
