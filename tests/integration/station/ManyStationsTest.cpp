// SPDX-License-Identifier: GPL-3.0-or-later
// One sendolin-station process running the stations of a stations file: one
// directory lists them all, each plays its own format, and a file or station
// that cannot be had stops the process before anything is served.
#include "AudioFixtures.h"
#include "TestSocket.h"

#include "StationProcess.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/PackedField.h"
#include "wire/StreamRecords.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace std::chrono_literals;
using testsupport::ByValue;
using testsupport::StationProcess;

namespace {

class ManyStationsTest : public ::testing::Test {
protected:
    QTemporaryDir dir;

    QString Write(const std::string& text)
    {
        const QString path = dir.filePath("stations.conf");
        EXPECT_TRUE(fixtures::WriteFile(path.toStdString(), text));
        return path;
    }
};

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

TEST_F(ManyStationsTest, FaultyFilesAndStationsExitWithOneLineNamingWhereAndStartNothing)
{
    testsupport::LoopbackServer taken; // a port some other program listens on
    const std::string good = "[a]\nname = A\nsource = tone\nlisten = 127.0.0.1:FREE\n";
    const struct {
        std::string file;
        std::string message;
        std::string also = {}; // a second fragment of the message
    } cases[] = {
        {good + "[b]\nname = B\nsource = tone\nlisten = 127.0.0.1:0\nvolume = 3\n", ":9: volume: unknown key"},
        {good + "[b]\nname = B\nsource = tone\nlisten = 0.0.0.0:FREE\n", ":8: listen: 0.0.0.0:FREE is already taken on line 4"},
        {good + "[b]\nname = B\nlisten = 127.0.0.1:0\n", ":5: source: missing in [b]"},
        {good + "[b]\nsource = tone\nlisten = 127.0.0.1:0\n", ":5: name: missing in [b]"},
        {good + "[b]\nname = A\nsource = tone\nlisten = 127.0.0.1:0\n", ":6: name: already the name of the station on line 2"},
        {good + "rate = 44000\n", ":5: rate: rate 44000 Hz is not an MPEG Layer III rate"},
        {good + "rate = 44100\nbitrate = 24\n", ":6: bitrate: 24 kbit/s is not a Layer III bitrate at 44100 Hz"},
        {good + "channels = 3\n", ":5: channels: '3' is not 1 or 2"},
        {good + "shuffle = maybe\n", ":5: shuffle: 'maybe' is not yes or no"},
        {good + "info =\n", ":5: info: needs a value"},
        {good + "burst = soon\n", ":5: burst: 'soon' is not a number of seconds"},
        {good + "name = B\n", ":5: name: already given on line 2"},
        {good + "listen = 127.0.0.1:8765\n", ":5: listen: already given on line 4"},
        {good + "[b]\nname = B\nsource = tone\nlisten = 127.0.0.1:DIRPORT\n", ":8: listen: 127.0.0.1:DIRPORT is the directory's address"},
        {"name = A\n" + good, ":1: name: comes before any [section]"},
        {good + "[]\n", ":5: '[]' is not a [section] line"},
        {good + "just words\n", ":5: 'just words' is not a [section] or a KEY = VALUE line"},
        {"# nothing but a comment\n", ": no station in it"},
        // Stations that cannot be had: the sources are opened and the sockets
        // bound before any starts, so the first station never goes on the air.
        {good + "[b]\nname = B\nsource = tone\nlisten = 127.0.0.1:TAKEN\n", ":5: cannot listen on 127.0.0.1:TAKEN"},
        {good + "[b]\nname = B\nsource = TMP/missing.mp3\nlisten = 127.0.0.1:0\n", ":5: ", "missing.mp3"},
    };
    const std::string free = std::to_string(testsupport::LoopbackServer::ClosedPort());
    const std::string directory = std::to_string(testsupport::LoopbackServer::ClosedPort());
    auto fill = [&](const std::string& text) {
        const std::string ports = Replace(Replace(Replace(text, "FREE", free), "TAKEN", std::to_string(taken.Port())),
                                          "DIRPORT", directory);
        return Replace(ports, "TMP", dir.path().toStdString());
    };
    for (const auto& c : cases) {
        const QString path = Write(fill(c.file));
        QProcess process;
        process.start(StationProcess::BinaryPath(),
                      {"--stations", path, "--directory", QString::fromStdString("127.0.0.1:" + directory)});
        ASSERT_TRUE(process.waitForFinished(10000));
        const std::string error = process.readAllStandardError().toStdString();
        const std::string expected = path.toStdString() + fill(c.message);
        EXPECT_EQ(process.exitCode(), 1) << expected;
        EXPECT_NE(error.find(expected), std::string::npos) << "expected " << expected << "\ngot " << error;
        EXPECT_NE(error.find(c.also), std::string::npos) << error;
        EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << error; // no "on the air" before it
        EXPECT_EQ(process.readAllStandardOutput().toStdString(), "") << expected;
    }
}

// What a stream header record says of the stream it opens.
struct HeaderFormat {
    std::string name;
    unsigned rate = 0;
    unsigned channels = 0;
    unsigned bytesPerSecond = 0;
};

HeaderFormat ReadHeader(const std::string& bytes)
{
    TStreamHeader header;
    std::memcpy(&header, bytes.data(), sizeof header);
    const TWaveFormatEx& in = header.FormatIn.Format;
    return {std::string(reinterpret_cast<const char*>(header.StationName + 1), header.StationName[0]),
            ByValue(in.nSamplesPerSec), ByValue(in.nChannels), ByValue(in.nAvgBytesPerSec)};
}

TEST_F(ManyStationsTest, ThreeStationsPlayTheirOwnFormatsAndOneDirectoryListsThem)
{
    const QString path = Write("# three formats, one process\r\n"
                               "[default]\r\n"
                               "name = Ton Grün\r\n"
                               "source = tone\r\n"
                               "listen = 127.0.0.1:0\r\n"
                               "\r\n"
                               "[mono]\n"
                               "name = Melodie\n"
                               "source = melody\n"
                               "listen = 127.0.0.1:0\n"
                               "rate = 22050\n"
                               "channels = 1\n"
                               "bitrate = 32\n"
                               "info = Hallo\n"
                               "announce = radio.example:7000\n"
                               "\n"
                               "; MPEG-1\n"
                               "[wide]\n"
                               "  name   =   Ton Breit  \n"
                               "source = tone\n"
                               "listen = 127.0.0.1:0\n"
                               "rate = 44100\n"
                               "bitrate = 128\n");
    StationProcess station({"--stations", path, "--directory", "127.0.0.1:0", "--list", "10.0.0.9:6565,Fremd"}, 3);
    ASSERT_TRUE(station.Start()) << station.Log().toStdString();
    const QList<quint16> ports = station.StreamPorts();
    ASSERT_EQ(ports.size(), 3);

    TestSocket query(station.DirectoryPort());
    query.Send("GET /index.php?action=queryuser HTTP/1.0\r\n\r\n");
    const std::string answer = query.ReceiveAll(5s);
    EXPECT_NE(answer.find("\r\n\r\n127.0.0.1:" + std::to_string(ports[0]) + ",Ton Gr\xFCn\r\n"
                          "radio.example:7000,Melodie\r\n"
                          "127.0.0.1:" + std::to_string(ports[2]) + ",Ton Breit\r\n"
                          "10.0.0.9:6565,Fremd\r\n"),
              std::string::npos)
        << answer;

    const struct {
        HeaderFormat format;
        bool tone;
        std::string info;
    } expected[] = {
        {{"Ton Gr\xFCn", 11025, 2, 24000 / 8}, true, "440"},
        {{"Melodie", 22050, 1, 32000 / 8}, false, "Hallo"},
        {{"Ton Breit", 44100, 2, 128000 / 8}, true, "440"},
    };
    for (int i = 0; i < 3; ++i) {
        const auto& e = expected[i];
        SCOPED_TRACE(e.format.name);
        TestSocket listener(ports[i]);
        std::string bytes;
        ASSERT_TRUE(listener.ListenForStream(bytes));
        const HeaderFormat header = ReadHeader(bytes);
        EXPECT_EQ(header.name, e.format.name);
        EXPECT_EQ(header.rate, e.format.rate);
        EXPECT_EQ(header.channels, e.format.channels);
        EXPECT_EQ(header.bytesPerSecond, e.format.bytesPerSecond);

        std::string audio;
        listener.ReceiveFor(audio, 700ms);
        long rate = 0;
        int channels = 0;
        const std::vector<std::int16_t> pcm = fixtures::DecodeMp3(audio, rate, channels);
        EXPECT_EQ(rate, long(e.format.rate));
        EXPECT_EQ(channels, int(e.format.channels));
        ASSERT_GT(pcm.size(), std::size_t(rate) * channels / 4); // a quarter of a second at least
        if (e.tone) {
            EXPECT_GT(fixtures::ToneShare(pcm, channels, rate, 440.0), 0.8);
        }

        TestSocket info(ports[i]);
        ASSERT_TRUE(info.Send(wire::InfoGreeting));
        std::string text;
        info.ReceiveFor(text, 300ms);
        EXPECT_NE(text.find(e.info), std::string::npos) << text;
    }
    EXPECT_EQ(station.Stop(), 0);
}

} // namespace
