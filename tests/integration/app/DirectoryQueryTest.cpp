// SPDX-License-Identifier: GPL-3.0-or-later
// The directory query of the main window against scripted directory servers
// on 127.0.0.1: the request bytes, how answers become the station list, and
// the error path that ends the program; and one query of the real station.
#include "app/Demo2Client.h"
#include "net/WSocket.h"
#include "platform/toolkit/TComboBox.h"
#include "platform/toolkit/TTimer.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/MainWindowHarness.h"
#include "tests/support/StationProcess.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using testsupport::LoopbackPeer;
using testsupport::LoopbackServer;
using testsupport::WaitUntil;

namespace {

const std::string kHead = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";

class DirectoryQuery : public ::testing::Test {
protected:
    // Server.ini names the scripted directory; showing the window starts the
    // first query.
    void Start(const std::string& path = "/dir/")
    {
        url = "http://127.0.0.1:" + std::to_string(server->Port()) + path;
        h.WriteServerIni(url + "\r\nsecond line\r\n");
        h.Create().show();
    }

    std::string ExpectedRequest() const
    {
        return "GET " + url + "index.php?action=queryuser HTTP/1.0\r\nAccept: */*\r\n"
               "User-Agent: ktsendolinv30\r\nHost: 127.0.0.1\r\nConnection: Keep-Alive\r\n\r\n\r\n";
    }

    // Serves the query under way: reads the request, answers, closes, and
    // waits until the window has rebuilt its list.
    void Answer(const std::string& bytes)
    {
        LoopbackPeer peer = server->Accept();
        ASSERT_TRUE(peer.Valid()) << "no query arrived";
        request = peer.Receive(ExpectedRequest().size());
        ASSERT_TRUE(peer.Send(bytes));
        peer.Close();
        ASSERT_TRUE(WaitUntil([&] { return h.form->HTTPWSocket->State() == net::wsClosed; }));
    }

    void QueryAndAnswer(const std::string& bytes)
    {
        h.form->RadiosenderTimerTimer(nullptr);
        Answer(bytes);
    }

    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (int i = 0; i < h.form->Adressliste->Count(); ++i)
            names.push_back(h.form->Adressliste->Item(i).toStdString());
        return names;
    }
    std::vector<std::string> Addresses() const { return h.form->Addresses(); }

    std::unique_ptr<LoopbackServer> server = std::make_unique<LoopbackServer>();
    testsupport::MainWindowHarness h;
    std::string url;
    std::string request;
};

} // namespace

TEST_F(DirectoryQuery, RequestIsSentByteForByteToTheHostAndPortOfTheUrl)
{
    Start();
    Answer(kHead);
    EXPECT_EQ(request, ExpectedRequest());
    EXPECT_TRUE(h.messages.empty());
}

TEST_F(DirectoryQuery, StationsAppearInReverseOrderWithTheirAddressesAtTheSameIndex)
{
    Start();
    Answer(kHead + "10.0.0.1:6565,Alpha\r\n10.0.0.2:6565,Beta\r\n");
    EXPECT_EQ(Names(), (std::vector<std::string>{"Beta", "Alpha"}));
    EXPECT_EQ(Addresses(), (std::vector<std::string>{"10.0.0.2:6565", "10.0.0.1:6565"}));
    EXPECT_TRUE(h.form->Adressliste->Text().isEmpty()) << "a rebuild left a station selected";
}

TEST_F(DirectoryQuery, OnlyAddressesWithThreeDotsCountAndNamesStayUnchanged)
{
    Start();
    Answer("HTTP/1.0 200 OK\r\nX-Note: 1.2.3.4,head line\r\n\r\n"
           "no comma at all 1.2.3.4\r\n"
           "1.2.3:80,two dots\r\n"
           "1.2.3.4.5:80,four dots\r\n"
           " a.b.c.d ,Name,with,commas \r\n"
           "5.6.7.8:9,\r\n");
    EXPECT_EQ(Names(), (std::vector<std::string>{"", "Name,with,commas "}));
    EXPECT_EQ(Addresses(), (std::vector<std::string>{"5.6.7.8:9", " a.b.c.d "}));
}

TEST_F(DirectoryQuery, ScanStopsAtTheLastEmptyLine)
{
    Start();
    Answer(kHead + "1.1.1.1:1,Above\r\n\r\n2.2.2.2:2,Below\r\n");
    EXPECT_EQ(Names(), (std::vector<std::string>{"Below"}));

    QueryAndAnswer(kHead + "1.1.1.1:1,Alpha\r\n\r\n");
    EXPECT_TRUE(Names().empty()) << "a body ending with an empty line gave stations";
    EXPECT_TRUE(Addresses().empty());
}

TEST_F(DirectoryQuery, LinesEndAtCrLfLfOrCrAndANulEndsTheText)
{
    Start();
    Answer("HTTP/1.0 200 OK\n\n1.1.1.1:1,A\r2.2.2.2:2,B\n3.3.3.3:3,C");
    EXPECT_EQ(Names(), (std::vector<std::string>{"C", "B", "A"}));

    QueryAndAnswer(kHead + "1.1.1.1:1,First\r\n2.2.2.2:2,Cut" + std::string(1, '\0') + "here\r\n3.3.3.3:3,Gone\r\n");
    EXPECT_EQ(Names(), (std::vector<std::string>{"Cut", "First"}));
}

TEST_F(DirectoryQuery, EachRebuildTakesTheLastAnswerAndAnEmptyAnswerKeepsThePreviousList)
{
    Start();
    Answer(kHead + "1.1.1.1:1,Old\r\n");
    QueryAndAnswer(kHead + "2.2.2.2:2,New\r\n");
    EXPECT_EQ(Names(), (std::vector<std::string>{"New"}));

    QueryAndAnswer("");
    EXPECT_EQ(Names(), (std::vector<std::string>{"New"}));
    EXPECT_EQ(Addresses(), (std::vector<std::string>{"2.2.2.2:2"}));

    // After an answer with a NUL, later answers are still read.
    QueryAndAnswer(kHead + "3.3.3.3:3,Nul" + std::string(1, '\0'));
    QueryAndAnswer(kHead + "4.4.4.4:4,After\r\n");
    EXPECT_EQ(Names(), (std::vector<std::string>{"After"}));
}

TEST_F(DirectoryQuery, CollectedAnswerStaysBoundedOverManyQueries)
{
    Start();
    const std::string answer = kHead + "1.1.1.1:1,Alpha\r\n2.2.2.2:2,Beta\r\n";
    Answer(answer);
    for (int i = 0; i < 20; ++i)
        QueryAndAnswer(answer);
    EXPECT_LE(h.form->DirectoryText().size(), answer.size());
    EXPECT_EQ(Names(), (std::vector<std::string>{"Beta", "Alpha"}));
}

TEST_F(DirectoryQuery, ManualEntriesAreGoneAfterTheNextRebuild)
{
    Start();
    Answer(kHead + "1.1.1.1:1,Alpha\r\n");
    h.form->Image2DblClick(nullptr);
    ASSERT_EQ(Names().size(), 2u);
    QueryAndAnswer(kHead + "1.1.1.1:1,Alpha\r\n");
    EXPECT_EQ(Names(), (std::vector<std::string>{"Alpha"}));
    EXPECT_EQ(Addresses().size(), 1u);
}

TEST_F(DirectoryQuery, StreamDisconnectRestartsTheTimerAndQueriesAtOnce)
{
    Start();
    Answer(kHead + "1.1.1.1:1,Alpha\r\n");
    h.form->RadiosenderTimer->SetEnabled(false); // as while a stream plays
    h.form->CSocketDisconnect(h.form.get(), nullptr);
    EXPECT_TRUE(h.form->RadiosenderTimer->Enabled());
    Answer(kHead + "2.2.2.2:2,Beta\r\n");
    EXPECT_EQ(Names(), (std::vector<std::string>{"Beta"}));
}

TEST_F(DirectoryQuery, RefusedDirectoryKeepsThePreviousListAndTheProgramRuns)
{
    Start();
    Answer(kHead + "1.1.1.1:1,Alpha\r\n");
    server.reset(); // nothing listens on the directory's port any more
    h.form->RadiosenderTimerTimer(nullptr);
    ASSERT_TRUE(WaitUntil([&] { return h.form->HTTPWSocket->State() == net::wsClosed; }));
    EXPECT_EQ(Names(), (std::vector<std::string>{"Alpha"}));
    EXPECT_TRUE(h.messages.empty());
    EXPECT_TRUE(h.form->isVisible());
}

TEST_F(DirectoryQuery, MissingServerIniShowsTheErrorRightAfterStartAndClosesTheWindow)
{
    h.RemoveServerIni();
    h.Create().show();
    ASSERT_EQ(h.messages.size(), 1u);
    EXPECT_EQ(h.messages[0].caption, QStringLiteral("Sendolin Client"));
    EXPECT_EQ(h.messages[0].text, QStringLiteral("Keine Verbindung zur Datenbank \"0\"\r\n"
                                                 "Überprüfen Sie die Internetverbindung und gegebenenfalls Firewall"));
    EXPECT_TRUE(WaitUntil([&] { return !h.form->isVisible(); })) << "the window stayed open";
}

TEST_F(DirectoryQuery, QueryWhileThePreviousOneIsStillOpenTakesTheErrorPath)
{
    Start();
    LoopbackPeer silent = server->Accept();
    ASSERT_TRUE(WaitUntil([&] { return h.form->HTTPWSocket->State() == net::wsConnected; }));
    h.form->RadiosenderTimerTimer(nullptr);
    ASSERT_EQ(h.messages.size(), 1u);
    EXPECT_TRUE(h.messages[0].text.startsWith(QStringLiteral("Keine Verbindung zur Datenbank \"")));
    EXPECT_TRUE(WaitUntil([&] { return !h.form->isVisible(); })) << "the window stayed open";
}

TEST_F(DirectoryQuery, UrlWithoutPortConnectsToPort80OfTheHost)
{
    h.WriteServerIni("http://127.0.0.1/p");
    TfmMain& form = h.Create();
    form.RadiosenderTimerTimer(nullptr);
    EXPECT_EQ(form.HTTPWSocket->Addr(), "127.0.0.1");
    EXPECT_EQ(form.HTTPWSocket->Port(), "80");
    form.HTTPWSocket->Close();
}

TEST(DirectoryQueryStation, StationDirectoryFillsTheList)
{
    testsupport::StationProcess station({"--name", "Radio Gr\xC3\xBCn", "--directory", "127.0.0.1:0", "--list",
                                         "10.1.2.3:6565,Zweiter, mit Komma"});
    ASSERT_TRUE(station.Start());
    testsupport::MainWindowHarness h;
    h.WriteServerIni("http://127.0.0.1:" + std::to_string(station.DirectoryPort()) + "/\n");
    TfmMain& form = h.Create();
    form.show();
    ASSERT_TRUE(WaitUntil([&] { return form.Adressliste->Count() == 2; }, 10000)) << station.Log().toStdString();
    EXPECT_EQ(form.Adressliste->Item(0), QStringLiteral("Zweiter, mit Komma"));
    EXPECT_EQ(form.Adressliste->Item(1), QStringLiteral("Radio Grün"));
    EXPECT_EQ(form.Addresses(), (std::vector<std::string>{"10.1.2.3:6565",
                                                          "127.0.0.1:" + std::to_string(station.StreamPort())}));
    EXPECT_TRUE(h.messages.empty());
}
