// SPDX-License-Identifier: GPL-3.0-or-later
// The info channel and the display against a scripted peer on 127.0.0.1:
// greeting bytes, how waiting text becomes the info line, swallowed errors,
// the window under a flood of long texts, and the station name and counter
// driven by the stream channel.
#include "app/Demo2Client.h"
#include "platform/toolkit/TComboBox.h"
#include "platform/toolkit/TImage.h"
#include "platform/toolkit/TLabel.h"
#include "platform/toolkit/TTimer.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/MainWindowHarness.h"
#include "tests/support/Vitals.h"
#include "wire/StreamRecords.h"

#include <QElapsedTimer>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>

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

// However long the texts and however fast they come, the ticker's cost must
// not grow with them: the window keeps answering, and Stop and closing stay
// quick. Texts of printable ASCII scroll from the label's kept glyphs; all
// bytes of the code page (controls, soft hyphen, undefined bytes) are left
// to QLabel, which must get no more of them than it can show.
TEST(InfoChannel, LongTextsNeverKeepTheWindowFromAnsweringStopOrClosing)
{
    const auto letters = [](std::size_t i) { return i % 7 == 6 ? ' ' : char('a' + i % 26); };
    const auto codePage = [](std::size_t i) { return char(0x20 + i % 0xE0); };
    const struct {
        std::size_t size;
        int texts; // one a second
        char (*fill)(std::size_t);
        bool close; // ended by closing the window rather than Stop
    } cases[] = {
        {1 << 10, 1, +letters, false},
        {64 << 10, 1, +codePage, false},
        {1 << 20, 1, +letters, true}, // arrives in many reads, each a new text
        {64 << 10, 3, +letters, false},
        {1 << 20, 2, +codePage, true},
    };
    for (const auto& c : cases) {
        const std::string what = std::to_string(c.size >> 10) + " KiB x" + std::to_string(c.texts);
        MainWindowHarness h;
        TfmMain& form = h.Create();
        form.show();
        LoopbackServer server;
        PlayingStation station = Play(h, server);
        std::string text(c.size, ' ');
        for (std::size_t i = 0; i < c.size; ++i)
            text[i] = c.fill(i);
        const std::string last = "Ende";
        testsupport::LatencyProbe probe(&form);
        std::thread peer([&, fd = station.info.Descriptor()] {
            for (int t = 0; t < c.texts; ++t) {
                if (t > 0)
                    std::this_thread::sleep_for(std::chrono::seconds(1));
                const std::string bytes = t + 1 == c.texts ? text + last : text;
                for (std::size_t at = 0; at < bytes.size();) {
                    const ssize_t n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
                    if (n <= 0)
                        return;
                    at += std::size_t(n);
                }
            }
        });
        const bool shown =
            WaitUntil([&] { return form.Info->OriginalCaption().endsWith(QLatin1String("Ende")); }, 5000 * c.texts);
        testsupport::Pump(300); // steps of the long text
        peer.join();
        probe.Stop();
        ASSERT_TRUE(shown) << what << ": the last text never showed";
        // Instrumented builds run everything a few times slower, the window's
        // answer included; the stall this guards against was seconds long.
        const double bound = qEnvironmentVariableIsSet("ASAN_OPTIONS") ? 150.0 : 50.0;
        EXPECT_LT(probe.WorstMs(), bound) << what << ": the window did not answer a posted call meanwhile";
        EXPECT_GT(probe.Answered(), 0) << what;

        QElapsedTimer clock;
        clock.start();
        if (c.close)
            form.close();
        else
            form.btnDisconnectClick(form.btndisconnect);
        const qint64 took = clock.elapsed();
        EXPECT_LE(took, c.close ? 1000 : 100) << what << (c.close ? ": closing" : ": Stop") << " took " << took << " ms";
    }
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
