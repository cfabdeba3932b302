// The info channel and the display against a scripted peer on 127.0.0.1:
// greeting bytes, how waiting text becomes the info line, swallowed errors,
// and the station name and counter driven by the stream channel.
#include "app/Demo2Client.h"
#include "platform/toolkit/TComboBox.h"
#include "platform/toolkit/TImage.h"
#include "platform/toolkit/TLabel.h"
#include "platform/toolkit/TTimer.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/MainWindowHarness.h"
#include "wire/StreamRecords.h"

#include <cstring>
#include <gtest/gtest.h>

using testsupport::LoopbackPeer;
using testsupport::LoopbackServer;
using testsupport::MainWindowHarness;
using testsupport::WaitUntil;

void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

const QString Gap(10, QLatin1Char(' '));

void OpenInfoChannel(TfmMain& form, unsigned short port)
{
    form.ISocket->SetHost("127.0.0.1");
    form.ISocket->SetPort(port);
    form.ISocket->OpenConnection();
}

bool InfoShows(TfmMain& form, const QString& text)
{
    return WaitUntil([&] { return form.Info->OriginalCaption() == text; });
}

// A header record whose station name is `name` (at most 255 bytes).
std::string Header(const std::string& name)
{
    TStreamHeader header{};
    header.StationName[0] = static_cast<std::uint8_t>(name.size());
    std::memcpy(header.StationName + 1, name.data(), name.size());
    header.FormatIn.Format.wFormatTag = wire::WAVE_FORMAT_MPEGLAYER3;
    header.FormatOut.Format.wFormatTag = wire::WAVE_FORMAT_PCM;
    return std::string(reinterpret_cast<const char*>(&header), sizeof header);
}

// Play on a manually entered station at the loopback server, with both
// channels accepted and told apart by their greetings.
struct PlayingStation {
    LoopbackPeer stream;
    LoopbackPeer info;
};

PlayingStation Play(MainWindowHarness& h, LoopbackServer& server)
{
    TfmMain& form = *h.form;
    h.inputAnswers.push_back({true, QStringLiteral("127.0.0.1:%1").arg(server.Port())});
    form.Label3DblClick(form.Label3);
    form.Image2DblClick(form.Image2);
    form.Adressliste->setCurrentIndex(form.Adressliste->Count() - 1);
    form.btnConnectClick(form.btnconnect);

    PlayingStation station;
    for (int i = 0; i < 2; ++i) {
        LoopbackPeer peer = server.Accept();
        const std::string greeting = peer.Receive(wire::InfoGreeting.size());
        if (greeting == wire::InfoGreeting) {
            station.info = std::move(peer);
        } else {
            EXPECT_EQ(greeting + peer.Receive(1), wire::StreamGreeting);
            station.stream = std::move(peer);
        }
    }
    EXPECT_TRUE(station.stream.Valid() && station.info.Valid());
    return station;
}

} // namespace

TEST(InfoChannel, GreetsOnceAndEveryReadReplacesTheWholeInfoText)
{
    MainWindowHarness h;
    TfmMain& form = h.Create();
    LoopbackServer server;
    OpenInfoChannel(form, server.Port());
    LoopbackPeer peer = server.Accept();
    ASSERT_TRUE(peer.Valid());
    EXPECT_EQ(peer.Receive(wire::InfoGreeting.size()), wire::InfoGreeting);

    peer.Send("Eins");
    ASSERT_TRUE(InfoShows(form, "Eins"));
    EXPECT_EQ(form.Info->Caption(), "Eins" + Gap) << "a new text must start at its first character";

    // Two messages waiting together are one text.
    peer.Send("Zwei");
    peer.Send("Drei");
    EXPECT_TRUE(InfoShows(form, "ZweiDrei"));

    // A message in two segments shows as two texts, the second replacing the first.
    peer.Send("Vier");
    ASSERT_TRUE(InfoShows(form, "Vier"));
    peer.Send("F\xFCnf");
    EXPECT_TRUE(InfoShows(form, QStringLiteral("Fünf")));

    // Windows-1252's own characters in 0x80–0x9F.
    peer.Send("\x80 5 \x84Hallo\x93 \x85");
    EXPECT_TRUE(InfoShows(form, QStringLiteral("€ 5 „Hallo“ …")));

    EXPECT_EQ(form.Info->Intervall(), 100);
    EXPECT_FALSE(form.Info->StepTimer()->Enabled()) << "the window's timer alone steps the info line";

    // The last text outlives the channel.
    peer.Close();
    ASSERT_TRUE(WaitUntil([&] { return !form.ISocket->Active(); }));
    EXPECT_EQ(form.Info->OriginalCaption(), QStringLiteral("€ 5 „Hallo“ …"));
    EXPECT_TRUE(h.errors.empty());
}

TEST(InfoChannel, ErrorsAreSwallowedWithoutTouchingStatusButtonsOrText)
{
    MainWindowHarness h;
    TfmMain& form = h.Create();
    form.Info->SetOriginalCaption("alt");
    form.Info->StartScroll();
    const auto handler = form.ISocket->OnError;
    ASSERT_TRUE(handler) << "no error handler on the info channel";
    std::vector<int> codes;
    form.ISocket->OnError = [&](QObject* s, TCustomWinSocket* w, TErrorEvent e, int& code) {
        const int reported = code;
        handler(s, w, e, code);
        codes.push_back(reported);
        EXPECT_EQ(code, 0) << "error " << reported << " would raise an exception";
    };

    OpenInfoChannel(form, LoopbackServer::ClosedPort());
    ASSERT_TRUE(WaitUntil([&] { return !codes.empty(); }));
    EXPECT_EQ(codes[0], 10061);
    testsupport::Pump(50);
    EXPECT_EQ(form.lblstatus->Caption(), "Ready");
    EXPECT_TRUE(form.btnconnect->isEnabled());
    EXPECT_FALSE(form.btndisconnect->isEnabled());
    EXPECT_EQ(form.Info->OriginalCaption(), "alt");
    EXPECT_TRUE(h.errors.empty()) << "an info channel error reached the error box";
    EXPECT_TRUE(h.messages.empty());
}

TEST(StationName, HeaderNameScrollsAsWindows1252AndAnEmptyNameScrollsBlanks)
{
    struct Case {
        const char* what;
        std::string name;
        QString shown;
    };
    const Case cases[] = {
        {"0x80-0x9F", "\x80 \x84Sender\x93 \x85 \x8A\x9F", QStringLiteral("€ „Sender“ … ŠŸ")},
        {"length 0", "", QString()},
        {"255 bytes", std::string(255, 'x'), QString(255, QLatin1Char('x'))},
    };
    for (const Case& c : cases) {
        MainWindowHarness h;
        TfmMain& form = h.Create();
        LoopbackServer server;
        PlayingStation station = Play(h, server);
        station.stream.Send(Header(c.name));
        ASSERT_TRUE(WaitUntil([&] { return !form.Radioname->Caption().isEmpty(); })) << c.what;
        EXPECT_EQ(form.Radioname->OriginalCaption(), c.shown) << c.what;
        EXPECT_EQ(form.Radioname->Caption(), c.shown + Gap) << c.what;
        EXPECT_EQ(form.Radioname->Intervall(), 100) << c.what;
        EXPECT_TRUE(h.errors.empty()) << c.what;
    }
}

TEST(ElapsedTime, ConnectResetsAndRunsTheCounterDisconnectStopsItKeepingTheValue)
{
    MainWindowHarness h;
    TfmMain& form = h.Create();
    // A value left over from an earlier stream.
    form.Zeit->SetRunMode(TCasseteContador::rmRealTime);
    for (int i = 0; i < 5; ++i)
        form.Zeit->Tick();
    form.Zeit->SetRunMode(TCasseteContador::rmStopped);
    ASSERT_EQ(form.Zeit->Caption(), "00:00:05");

    LoopbackServer server;
    PlayingStation station = Play(h, server);
    EXPECT_EQ(form.Zeit->Caption(), "00:00:00") << "connect did not reset the counter";
    EXPECT_EQ(form.Zeit->RunMode(), TCasseteContador::rmRealTime);
    EXPECT_TRUE(form.Zeit->StepTimer().Enabled());
    EXPECT_EQ(form.Zeit->StepTimer().Interval(), 1000);

    form.Zeit->Tick();
    form.Zeit->Tick();
    station.stream.Close(); // the server ends the stream
    ASSERT_TRUE(WaitUntil([&] { return form.lblstatus->Caption() == "Disconnected"; }));
    EXPECT_EQ(form.Zeit->RunMode(), TCasseteContador::rmStopped);
    EXPECT_FALSE(form.Zeit->StepTimer().Enabled());
    // Fixed-width captions compare like the times they show.
    EXPECT_GE(form.Zeit->Caption(), "00:00:02") << "disconnect lost the elapsed time";
    EXPECT_TRUE(form.ISocket->Active()) << "the stream's end must leave the info channel alone";
}
