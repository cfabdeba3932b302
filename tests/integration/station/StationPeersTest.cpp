// SPDX-License-Identifier: GPL-3.0-or-later
// Everything else a real sendolin-station process does with its peers: the
// info channel, the directory, bad and silent peers, and its command line.
#include "TestSocket.h"

#include "StationProcess.h"
#include "wire/StreamRecords.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;
using testsupport::StationProcess;

namespace {

// The request exactly as the client builds it from "http://127.0.0.1:PORT/".
std::string ClientRequest(unsigned short port)
{
    return "GET http://127.0.0.1:" + std::to_string(port) + "/index.php?action=queryuser HTTP/1.0\r\n"
           "Accept: */*\r\n"
           "User-Agent: ktsendolinv30\r\n"
           "Host: 127.0.0.1\r\n"
           "Connection: Keep-Alive\r\n\r\n\r\n";
}

std::string Ask(unsigned short port, const std::string& request)
{
    TestSocket socket(port);
    EXPECT_TRUE(socket.Connected());
    socket.Send(request);
    return socket.ReceiveAll(5s); // returns only once the station closes
}

std::string StatusLine(const std::string& answer)
{
    return answer.substr(0, answer.find("\r\n"));
}

std::string Body(const std::string& answer)
{
    const std::size_t end = answer.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

TEST(StationInfoTest, ConfiguredTextsRotateAsWindows1252)
{
    StationProcess station({"--info", "Guten Morgen", "--info", "Grüße, 5 €", "--info-interval", "0.3"});
    ASSERT_TRUE(station.Start());
    TestSocket info(station.StreamPort());
    ASSERT_TRUE(info.Send(wire::InfoGreeting));

    std::string texts;
    info.ReceiveFor(texts, 100ms);
    EXPECT_EQ(texts.rfind("Guten Morgen", 0), 0u) << texts; // the current text comes at once
    info.ReceiveFor(texts, 1000ms);
    EXPECT_NE(texts.find("Guten MorgenGr\xFC\xDF" "e, 5 \x80"), std::string::npos) << texts;
}

TEST(StationInfoTest, GeneratedSourceAnnouncesItsTitle)
{
    StationProcess station({"--source", "tone"});
    ASSERT_TRUE(station.Start());
    TestSocket info(station.StreamPort());
    ASSERT_TRUE(info.Send(wire::InfoGreeting));
    std::string text;
    info.ReceiveFor(text, 300ms);
    EXPECT_NE(text.find("440"), std::string::npos) << text;
}

TEST(StationDirectoryTest, ClientRequestListsThisStationAndListedOnes)
{
    StationProcess station({"--name", "Radio Grün", "--directory", "127.0.0.1:0",
                            "--list", "10.1.2.3:6565,Second, with comma", "--list", "10.1.2.4:7000,Third"});
    ASSERT_TRUE(station.Start());
    const std::string answer = Ask(station.DirectoryPort(), ClientRequest(station.DirectoryPort()));

    EXPECT_EQ(StatusLine(answer), "HTTP/1.0 200 OK");
    EXPECT_EQ(Body(answer), "127.0.0.1:" + std::to_string(station.StreamPort()) + ",Radio Gr\xFCn\r\n"
                            "10.1.2.3:6565,Second, with comma\r\n"
                            "10.1.2.4:7000,Third\r\n");
}

TEST(StationDirectoryTest, AnnounceAddressReplacesTheListenAddress)
{
    StationProcess station({"--directory", "127.0.0.1:0", "--announce", "192.168.1.20:6565", "--name", "X"});
    ASSERT_TRUE(station.Start());
    const std::string answer = Ask(station.DirectoryPort(), ClientRequest(station.DirectoryPort()));
    EXPECT_EQ(Body(answer), "192.168.1.20:6565,X\r\n");
}

TEST(StationDirectoryTest, OtherTargetsAndMalformedRequestsAreRefused)
{
    StationProcess station({"--directory", "127.0.0.1:0"});
    ASSERT_TRUE(station.Start());
    const unsigned short port = station.DirectoryPort();

    EXPECT_EQ(StatusLine(Ask(port, "GET /index.html HTTP/1.0\r\n\r\n")), "HTTP/1.0 404 Not Found");
    EXPECT_EQ(StatusLine(Ask(port, "GET /index.php?action=other HTTP/1.0\r\n\r\n")), "HTTP/1.0 404 Not Found");
    EXPECT_EQ(StatusLine(Ask(port, "HELLO\r\n\r\n")), "HTTP/1.0 400 Bad Request");
    EXPECT_EQ(StatusLine(Ask(port, "GET /index.php?action=queryuser\r\n\r\n")), "HTTP/1.0 400 Bad Request");
    EXPECT_EQ(StatusLine(Ask(port, "GET /" + std::string(20000, 'a'))), "HTTP/1.0 400 Bad Request");

    // The directory still answers properly afterwards.
    EXPECT_EQ(StatusLine(Ask(port, ClientRequest(port))), "HTTP/1.0 200 OK");
}

TEST(StationPeerTest, WrongGreetingsAreClosedWithoutAnyData)
{
    StationProcess station;
    ASSERT_TRUE(station.Start());
    for (const std::string greeting : {"GET / HTTP/1.0\r\n\r\n", "KT-SendolinClient v39-Daten", "\xFF\xFF\xFF\xFF"}) {
        TestSocket peer(station.StreamPort());
        ASSERT_TRUE(peer.Send(greeting));
        EXPECT_EQ(peer.ReceiveAll(5s), "") << greeting;
    }
    EXPECT_TRUE(station.Log().contains("wrong greeting"));
}

TEST(StationPeerTest, SilentAndHalfGreetingPeersAreClosedAfterTheTimeout)
{
    StationProcess station({"--greeting-timeout", "0.5"});
    ASSERT_TRUE(station.Start());
    TestSocket silent(station.StreamPort());
    TestSocket half(station.StreamPort());
    ASSERT_TRUE(half.Send(wire::StreamGreeting.substr(0, 10)));
    EXPECT_TRUE(silent.WaitForClose(5s));
    EXPECT_TRUE(half.WaitForClose(5s));
    EXPECT_TRUE(station.Log().contains("no greeting"));
}

TEST(StationPeerTest, ChattyListenerCannotDisturbTheStation)
{
    StationProcess station;
    ASSERT_TRUE(station.Start());
    TestSocket chatty(station.StreamPort());
    ASSERT_TRUE(chatty.Send(wire::StreamGreeting));
    const std::string noise(1 << 20, 'x');
    for (int i = 0; i < 8; ++i)
        ASSERT_TRUE(chatty.Send(noise)); // the station reads and drops it all

    TestSocket other(station.StreamPort());
    ASSERT_TRUE(other.Send(wire::StreamGreeting));
    std::string received;
    EXPECT_GT(other.ReceiveExactly(received, sizeof(TStreamHeader) + 100, 5s), sizeof(TStreamHeader));
}

TEST(StationPeerTest, ListenersBeyondTheLimitAreRefused)
{
    StationProcess station({"--max-listeners", "2"});
    ASSERT_TRUE(station.Start());
    std::vector<TestSocket> admitted;
    for (int i = 0; i < 2; ++i) {
        admitted.emplace_back(station.StreamPort());
        std::string header;
        EXPECT_TRUE(admitted.back().ListenForStream(header));
    }
    TestSocket third(station.StreamPort());
    ASSERT_TRUE(third.Send(wire::StreamGreeting));
    EXPECT_EQ(third.ReceiveAll(5s), "");

    // A place that becomes free can be taken again.
    admitted.pop_back();
    std::this_thread::sleep_for(200ms);
    TestSocket fourth(station.StreamPort());
    std::string header;
    EXPECT_TRUE(fourth.ListenForStream(header));
}

TEST(StationCommandLineTest, BadArgumentsExitWithCodeTwoAndOneLineBeforeTheHelpHint)
{
    const QStringList bad[] = {{"--listen", "nowhere"}, {"--listen", "1.2.3.4:70000"}, {"--burst", "x"},
                               {"--bogus"}, {"--queue"}, {"--list", "no-comma"}, {"--max-listeners", "0"},
                               {"--source", "ftp://host/x.mp3"}, {"--rate", "44000"}, {"--bitrate", "copy", "--shuffle", "x"},
                               {"--stations", "a.conf", "--source", "melody"}};
    for (const QStringList& args : bad) {
        QProcess process;
        process.start(StationProcess::BinaryPath(), args);
        ASSERT_TRUE(process.waitForFinished(5000));
        EXPECT_EQ(process.exitCode(), 2) << args.join(' ').toStdString();
        const QByteArray error = process.readAllStandardError();
        const QList<QByteArray> lines = error.split('\n');
        ASSERT_EQ(lines.size(), 3) << error.toStdString(); // the fault, the hint, nothing after
        EXPECT_TRUE(lines[0].startsWith("sendolin-station: ")) << error.toStdString();
        EXPECT_EQ(lines[1], "Try 'sendolin-station --help' for more information.");
    }
}

// Only opening a source tells whether it plays: a file that is not there is
// the station's failure to start (1), not a wrong command line (2).
TEST(StationCommandLineTest, SourceThatCannotBeOpenedExitsWithCodeOneNamingIt)
{
    QProcess process;
    process.start(StationProcess::BinaryPath(), {"--source", "no-such-song.mp3", "--listen", "127.0.0.1:0"});
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), 1);
    const QByteArray error = process.readAllStandardError();
    EXPECT_TRUE(error.contains("no-such-song.mp3")) << error.toStdString();
    EXPECT_EQ(process.readAllStandardOutput(), "");
}

TEST(StationCommandLineTest, HelpNamesEveryOption)
{
    QProcess process;
    process.start(StationProcess::BinaryPath(), {"--help"});
    ASSERT_TRUE(process.waitForFinished(5000));
    EXPECT_EQ(process.exitCode(), 0);
    const QString help = QString::fromUtf8(process.readAllStandardOutput());
    for (const char* option : {"--listen", "--name", "--source", "--info", "--info-interval", "--directory",
                               "--announce", "--burst", "--queue", "--max-listeners", "--list", "--rate",
                               "--channels", "--bitrate", "--shuffle", "--stations", "--greeting-timeout"})
        EXPECT_TRUE(help.contains(option)) << option;
}

TEST(StationCommandLineTest, TermSignalStopsCleanlyWithListenersConnected)
{
    StationProcess station({"--directory", "127.0.0.1:0"});
    ASSERT_TRUE(station.Start());
    TestSocket listener(station.StreamPort());
    std::string header;
    ASSERT_TRUE(listener.ListenForStream(header));
    EXPECT_EQ(station.Stop(), 0);
    EXPECT_TRUE(listener.WaitForClose(2s));
}

} // namespace
