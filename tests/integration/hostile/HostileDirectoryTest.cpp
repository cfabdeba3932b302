// SPDX-License-Identifier: GPL-3.0-or-later
// A directory that answers with far too much, with junk, without the answer's
// usual shape, or not at all: the window must go on answering, build the list
// the answer's lines give, and keep no more than the last answer.
#include "tests/integration/hostile/HostileFixture.h"

#include "net/WSocket.h"
#include "platform/toolkit/TComboBox.h"
#include "tests/support/EventLoop.h"

#include <atomic>
#include <random>
#include <thread>

using testsupport::LoopbackPeer;
using testsupport::LoopbackServer;
using testsupport::WaitUntil;

namespace {

constexpr std::size_t MiB = 1024; // in KiB
const std::string kHead = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";

class HostileDirectory : public hostile::HostileWindowTest {
protected:
    void SetUp() override
    {
        h.WriteServerIni("http://127.0.0.1:" + std::to_string(directory.Port()) + "/dir/\r\n");
        ShowWindow();
    }

    // The query under way, its request read whole: closing with unread
    // bytes would reset the connection and cut the answer off.
    LoopbackPeer AcceptQuery()
    {
        LoopbackPeer peer = directory.Accept();
        EXPECT_TRUE(peer.Valid()) << "no query arrived";
        const std::string url = "http://127.0.0.1:" + std::to_string(directory.Port()) + "/dir/";
        const std::size_t request = ("GET " + url + "index.php?action=queryuser HTTP/1.0\r\nAccept: */*\r\n"
                                     "User-Agent: ktsendolinv30\r\nHost: 127.0.0.1\r\nConnection: Keep-Alive\r\n\r\n\r\n")
                                        .size();
        EXPECT_EQ(peer.Receive(request).size(), request);
        return peer;
    }

    // Closes the query's connection and waits for the rebuild.
    void Finish(LoopbackPeer& peer)
    {
        peer.Close();
        ASSERT_TRUE(WaitUntil([&] { return form->HTTPWSocket->State() == net::wsClosed; }, 30000));
    }

    // Serves the query under way with `answer` and waits for the rebuild.
    void Answer(const std::string& answer)
    {
        LoopbackPeer peer = AcceptQuery();
        ASSERT_TRUE(peer.Send(answer));
        Finish(peer);
    }

    void QueryAndAnswer(const std::string& answer)
    {
        form->RadiosenderTimerTimer(nullptr);
        Answer(answer);
    }

    QStringList Names() const { return form->Adressliste->Items(); }

    LoopbackServer directory;
};

// Lines of every byte but the line breaks, NUL and the dot, so that no junk
// line can pass for a station or end the scan.
std::string Junk(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes;
    while (bytes.size() < size) {
        const char c = char(random());
        if (c != '\r' && c != '\n' && c != '\0' && c != '.')
            bytes += c;
        if (bytes.size() % 997 == 0)
            bytes += "\r\n";
    }
    return bytes + "\r\n";
}

} // namespace

TEST_F(HostileDirectory, FiveMegabyteAnswerGivesItsStationsAndIsNotKept)
{
    std::string body = "1.1.1.1:1,Erster\r\n";
    body += Junk(5u << 20, 1);
    body += "2.2.2.2:2,Letzter\r\n";
    const std::string answer = kHead + body;
    StartProbe();
    Answer(answer);
    EXPECT_EQ(Names(), (QStringList{"Letzter", "Erster"}));
    QueryAndAnswer(kHead + "3.3.3.3:3,Danach\r\n");
    EXPECT_EQ(Names(), QStringList{"Danach"});
    EXPECT_LT(form->DirectoryText().size(), 64u) << "the large answer is still held";
    Vitals(64 * MiB);
}

TEST_F(HostileDirectory, AnswerWithoutEndIsHeldToItsLastLines)
{
    const std::string junk = Junk(1u << 20, 4);
    StartProbe();
    LoopbackPeer peer = AcceptQuery();
    ASSERT_TRUE(peer.Send(kHead + "1.1.1.1:1,Oben\r\n"));
    // 200 MiB from a thread of its own, so the window reads meanwhile.
    std::atomic<bool> sent{false};
    std::thread flood([&, fd = peer.Descriptor()] {
        for (int i = 0; i < 200; ++i)
            hostile::SendAll(fd, junk);
        hostile::SendAll(fd, "2.2.2.2:2,Unten\r\n");
        sent = true;
    });
    while (!WaitUntil([&] { return sent.load(); }, 100))
        residentPeak = std::max(residentPeak, testsupport::ResidentKib());
    flood.join();
    Finish(peer);
    EXPECT_EQ(Names(), QStringList{"Unten"});
    EXPECT_LE(form->DirectoryText().size(), 16u << 20);
    Vitals(96 * MiB);
}

TEST_F(HostileDirectory, HundredThousandStationLinesAllEnterTheListInReverse)
{
    constexpr int Count = 100000;
    std::string body;
    for (int i = 0; i < Count; ++i)
        body += "10.0." + std::to_string(i / 256 % 256) + "." + std::to_string(i % 256) + ":6565,Sender " +
                std::to_string(i) + "\r\n";
    const std::string answer = kHead + body;
    StartProbe();
    Answer(answer);
    ASSERT_EQ(form->Adressliste->Count(), Count);
    ASSERT_EQ(form->Addresses().size(), std::size_t(Count));
    EXPECT_EQ(form->Adressliste->Item(0), QStringLiteral("Sender 99999"));
    EXPECT_EQ(form->Addresses().front(), "10.0.134.159:6565");
    EXPECT_EQ(form->Adressliste->Item(Count - 1), QStringLiteral("Sender 0"));
    Vitals(128 * MiB);
}

TEST_F(HostileDirectory, BinaryJunkAndNulsEndTheAnswerAtTheFirstNul)
{
    std::string body = "1.1.1.1:1,Vorher\r\n" + Junk(64 * 1024, 2) + "2.2.2.2:2,Kurz vor";
    body += std::string(1, '\0') + "3.3.3.3:3,Nach NUL\r\n" + Junk(4096, 3) + std::string(3, '\0');
    StartProbe();
    Answer(kHead + body);
    EXPECT_EQ(Names(), (QStringList{"Kurz vor", "Vorher"}));
    // The next answer is read again, whole.
    QueryAndAnswer(kHead + "4.4.4.4:4,Wieder da\r\n");
    EXPECT_EQ(Names(), QStringList{"Wieder da"});
    Vitals(16 * MiB);
}

TEST_F(HostileDirectory, AnswersWithoutAnEmptyLineShowOnlyTheLastAnswersStations)
{
    StartProbe();
    Answer("1.1.1.1:1,Eins\r\n");
    EXPECT_EQ(Names(), QStringList{"Eins"});
    for (int i = 0; i < 20; ++i)
        QueryAndAnswer("2.2.2.2:2,Zwei\r\n3.3.3.3:3,Drei\r\n");
    EXPECT_EQ(Names(), (QStringList{"Drei", "Zwei"})) << "earlier answers' stations shown again";
    EXPECT_LE(form->DirectoryText().size(), 32u);
    // A query that brings no bytes keeps the last list.
    QueryAndAnswer("");
    EXPECT_EQ(Names(), (QStringList{"Drei", "Zwei"}));
    Vitals(16 * MiB);
}

TEST_F(HostileDirectory, DirectoryThatNeverAnswersLeavesTheWindowAnsweringUntilTheNextQueryFails)
{
    StartProbe();
    LoopbackPeer silent = directory.Accept();
    ASSERT_TRUE(silent.Valid());
    ASSERT_TRUE(WaitUntil([&] { return form->HTTPWSocket->State() == net::wsConnected; }));
    testsupport::Pump(2000);
    EXPECT_TRUE(h.messages.empty());
    Vitals(16 * MiB);
    // The next query finds the socket still in use: the error path closes the window.
    form->RadiosenderTimerTimer(nullptr);
    ASSERT_EQ(h.messages.size(), 1u);
    EXPECT_TRUE(h.messages[0].text.startsWith(QStringLiteral("Keine Verbindung zur Datenbank \"")));
    EXPECT_TRUE(WaitUntil([&] { return !form->isVisible(); }));
}
