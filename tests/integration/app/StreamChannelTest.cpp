// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's stream channel against scripted loopback stations:
// Play and Stop, the greeting, the header, the audio count, the rate readout,
// the status line and the faults a station can cause.
#include "app/Demo2Client.h"

#include "audio/ACMOut.h"
#include "platform/toolkit/Exception.h"
#include "platform/toolkit/TComboBox.h"
#include "platform/toolkit/TImage.h"
#include "platform/toolkit/TLabel.h"
#include "platform/toolkit/TProgressBar.h"
#include "platform/toolkit/TTimer.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/MainWindowHarness.h"
#include "tests/support/PackedField.h"
#include "tests/support/WaveFormats.h"

#include <QLocale>
#include <QTest>
#include <gtest/gtest.h>
#include <chrono>
#include <cstring>
#include <sys/socket.h>

using testsupport::ByValue;
using testsupport::LoopbackPeer;
using testsupport::LoopbackServer;
using testsupport::MainWindowHarness;
using testsupport::WaitUntil;

void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

const std::string kGreeting = "KT-SendolinClient v40-Daten";

std::string HeaderBytes(const std::string& stationName, std::uint32_t claimedBytesPerSecond = 0)
{
    TStreamHeader header{};
    header.FormatIn.Format.nAvgBytesPerSec = claimedBytesPerSecond;
    header.StationName[0] = static_cast<std::uint8_t>(stationName.size());
    std::memcpy(header.StationName + 1, stationName.data(), stationName.size());
    header.FormatIn.Format.wFormatTag = 0x0055;
    header.FormatOut.Format.wFormatTag = 0x0001;
    return std::string(reinterpret_cast<const char*>(&header), sizeof header);
}

// A header whose input format the wave output opens (3000 bytes a second).
std::string PlayableHeaderBytes(const std::string& stationName)
{
    std::string bytes = HeaderBytes(stationName);
    auto* header = reinterpret_cast<TStreamHeader*>(bytes.data());
    header->FormatIn = testsupport::MpegFormat();
    return bytes;
}

std::string NameOf(const TStreamHeader& header)
{
    return std::string(reinterpret_cast<const char*>(header.StationName + 1), header.StationName[0]);
}

class StreamChannelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        form = &h.Create();
        form->show();
        ASSERT_TRUE(WaitUntil([&] { return h.QueriesDone(1); })) << "the first directory query did not end";
        RecordStatuses();
    }

    // Wraps the handlers that change the status line so that every text it
    // shows is recorded, in order.
    void RecordStatuses()
    {
        const auto wrap = [this](TSocketNotifyEvent& handler) {
            handler = [this, inner = handler](QObject* s, TCustomWinSocket* w) {
                inner(s, w);
                Record();
            };
        };
        wrap(form->CSocket->OnLookup);
        wrap(form->CSocket->OnConnecting);
        wrap(form->CSocket->OnConnect);
        wrap(form->CSocket->OnDisconnect);
        form->CSocket->OnError = [this, inner = form->CSocket->OnError](QObject* s, TCustomWinSocket* w,
                                                                         TErrorEvent e, int& c) {
            inner(s, w, e, c);
            Record();
        };
        form->KBPSTimer->OnTimer = [this, inner = form->KBPSTimer->OnTimer](QObject* s) {
            inner(s);
            Record();
        };
    }

    void Record() { statuses.push_back(form->lblstatus->Caption()); }

    // The statuses with runs of rate readouts folded into one "Received".
    std::vector<QString> Sequence() const
    {
        std::vector<QString> folded;
        for (const QString& status : statuses) {
            const QString entry = status.startsWith(QStringLiteral("Received ")) ? QStringLiteral("Received") : status;
            if (folded.empty() || folded.back() != entry || entry != QStringLiteral("Received"))
                folded.push_back(entry);
        }
        return folded;
    }

    void AddStation(const QString& address)
    {
        h.inputAnswers.push_back({true, address});
        form->Image2DblClick(form->Image2);
        form->Adressliste->setCurrentIndex(form->Adressliste->Count() - 1);
    }
    void AddStation() { AddStation(QStringLiteral("127.0.0.1:%1").arg(server.Port())); }

    void Play() { QTest::mouseClick(form->btnconnect, Qt::LeftButton, {}, QPoint(5, 5)); }
    void Stop() { QTest::mouseClick(form->btndisconnect, Qt::LeftButton, {}, QPoint(5, 5)); }

    // Accepts both channels; the stream channel is the one that sends the
    // stream greeting (the info channel's is one byte shorter).
    bool AcceptChannels()
    {
        LoopbackPeer a = server.Accept();
        LoopbackPeer b = server.Accept();
        if (!a.Valid() || !b.Valid())
            return false;
        if (!WaitUntil([&] { return a.Waiting() >= kGreeting.size() || b.Waiting() >= kGreeting.size(); }))
            return false;
        const bool aIsStream = a.Waiting() >= kGreeting.size();
        stream = std::move(aIsStream ? a : b);
        info = std::move(aIsStream ? b : a);
        greeting = stream.Receive(kGreeting.size());
        return true;
    }

    bool WaitForStatus(const QString& text, int timeoutMs = 5000)
    {
        return WaitUntil([&] { return form->lblstatus->Caption() == text; }, timeoutMs);
    }

    bool HeaderTaken(const std::string& name)
    {
        return WaitUntil([&] { return NameOf(form->StreamHeader()) == name; });
    }

    MainWindowHarness h;
    LoopbackServer server;
    TfmMain* form = nullptr;
    LoopbackPeer stream;
    LoopbackPeer info;
    std::string greeting;
    std::vector<QString> statuses;
};

} // namespace

TEST_F(StreamChannelTest, PlayStreamStopCycleShowsStatusesAndSendsOnlyTheGreeting)
{
    AddStation();
    Play();
    EXPECT_FALSE(form->btnconnect->isEnabled());
    EXPECT_TRUE(form->btndisconnect->isEnabled());
    ASSERT_TRUE(AcceptChannels());
    EXPECT_EQ(greeting, kGreeting);
    ASSERT_TRUE(WaitForStatus(QStringLiteral("Connected")));
    EXPECT_TRUE(form->KBPSTimer->Enabled());
    EXPECT_TRUE(form->VUTimer->Enabled());
    EXPECT_FALSE(form->RadiosenderTimer->Enabled());

    ASSERT_TRUE(stream.Send(HeaderBytes("Testfunk") + std::string(1000, '\x55')));
    ASSERT_TRUE(HeaderTaken("Testfunk"));
    EXPECT_EQ(ByValue(form->StreamHeader().FormatIn.Format.wFormatTag), 0x0055);
    form->KBPSTimer->OnTimer(form->KBPSTimer);

    Stop(); // the press turns the Stop latch on
    EXPECT_EQ(form->lblstatus->Caption(), "Disconnected") << "the disconnect steps run inside Stop";
    EXPECT_TRUE(stream.WaitForClose());
    EXPECT_TRUE(stream.Receive(1, 100).empty());

    EXPECT_EQ(Sequence(), (std::vector<QString>{"Finding host", "Connecting...", "Connected", "Received",
                                                "Disconnected"}));
    EXPECT_TRUE(form->btnconnect->isEnabled());
    EXPECT_FALSE(form->btndisconnect->isEnabled());
    EXPECT_FALSE(form->KBPSTimer->Enabled());
    EXPECT_FALSE(form->VUTimer->Enabled());
    EXPECT_TRUE(form->RadiosenderTimer->Enabled());
    EXPECT_EQ(form->Ledmeter1->Position(), 0);
    EXPECT_EQ(form->btnconnect->Picture().toImage(), form->Play1->Picture().toImage());
    EXPECT_FALSE(TfmMain::LatchOn(form->btnconnect));
    EXPECT_TRUE(TfmMain::LatchOn(form->btndisconnect)) << "a Stop that closed a connection keeps its latch";
}

TEST_F(StreamChannelTest, HeaderIsNotCountedAndBytesAfterItAreTheFirstAudio)
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    AddStation();
    Play();
    ASSERT_TRUE(AcceptChannels());
    ASSERT_TRUE(WaitForStatus(QStringLiteral("Connected")));
    form->KBPSTimer->SetEnabled(false); // the test reads the counter itself

    ASSERT_TRUE(stream.Send(HeaderBytes("Sechshundert") + std::string(86, '\x01')));
    ASSERT_TRUE(HeaderTaken("Sechshundert"));
    ASSERT_TRUE(WaitUntil([&] { return form->BytesSinceReadout() == 86; }));

    form->KBPSTimer->OnTimer(form->KBPSTimer);
    EXPECT_EQ(form->lblstatus->Caption(), "Received 0,08 KB/s");
    form->KBPSTimer->OnTimer(form->KBPSTimer);
    EXPECT_EQ(form->lblstatus->Caption(), "Received 0,00 KB/s") << "a second without audio reads zero";
    QLocale::setDefault(previous);
}

TEST_F(StreamChannelTest, HeaderArrivingOneByteAtATimeIsTakenWhole)
{
    AddStation();
    Play();
    ASSERT_TRUE(AcceptChannels());
    ASSERT_TRUE(WaitForStatus(QStringLiteral("Connected")));
    form->KBPSTimer->SetEnabled(false);
    const std::string header = HeaderBytes("Tropfen");
    for (char byte : header) {
        ASSERT_TRUE(stream.Send(std::string(1, byte)));
        testsupport::Pump(1);
    }
    ASSERT_TRUE(HeaderTaken("Tropfen"));
    EXPECT_EQ(form->BytesSinceReadout(), 0);
    ASSERT_TRUE(stream.Send(std::string(10, '\x02')));
    EXPECT_TRUE(WaitUntil([&] { return form->BytesSinceReadout() == 10; }));
}

// Reads batch only while seconds of audio are queued ahead of what is heard
// (the device's answer is forced here); with less, a read that waits for a
// mark lets the device run dry. The faults guarded: a short queue kept
// waiting for a mark, an ample one read at every batch, bytes below the mark
// left unread or uncounted by a readout, a stream that brings more than
// before kept waiting, and a stalled stream's last bytes kept waiting.
TEST_F(StreamChannelTest, StreamReadsWaitForAMarkOnlyWhileSecondsOfAudioAreQueuedAhead)
{
    AddStation();
    Play();
    ASSERT_TRUE(AcceptChannels());
    ASSERT_TRUE(WaitForStatus(QStringLiteral("Connected")));
    form->KBPSTimer->SetEnabled(false); // the test drives the readouts
    platform::DWORD queuedMs = 0;
    form->ACMO->Calls.GetQueuedTime = [&](platform::HWAVEOUT, platform::DWORD* ms) {
        *ms = queuedMs;
        return platform::MMRESULT(0);
    };
    const auto lowWater = [&] { return form->StreamReadPortion(); };
    const auto readout = [&] {
        form->KBPSTimer->OnTimer(form->KBPSTimer);
        return form->lblstatus->Caption().replace(QLocale().decimalPoint(), QStringLiteral("."));
    };

    ASSERT_TRUE(stream.Send(PlayableHeaderBytes("Sparsam") + std::string(2000, '\x03')));
    ASSERT_TRUE(WaitUntil([&] { return form->BytesSinceReadout() == 2000; })) << "before a readout every batch is read";
    queuedMs = 1999;
    EXPECT_EQ(readout(), "Received 1.95 KB/s");
    EXPECT_EQ(lowWater(), 1) << "a mark with less than two seconds queued";
    ASSERT_TRUE(stream.Send(std::string(800, '\x04')));
    ASSERT_TRUE(WaitUntil([&] { return form->BytesSinceReadout() == 800; })) << "a short queue's stream kept waiting";

    queuedMs = 2000;
    EXPECT_EQ(readout(), "Received 0.78 KB/s");
    EXPECT_EQ(lowWater(), 1600);
    ASSERT_TRUE(stream.Send(std::string(800, '\x05')));
    testsupport::Pump(150);
    EXPECT_EQ(form->BytesSinceReadout(), 0) << "read before the readout although less than the mark waited";
    EXPECT_EQ(readout(), "Received 0.78 KB/s") << "the readout must read and count what waited";

    form->hide(); // shown or hidden, the stream is read alike
    EXPECT_EQ(lowWater(), 1600);
    ASSERT_TRUE(stream.Send(std::string(1700, '\x06')));
    ASSERT_TRUE(WaitUntil([&] { return form->BytesSinceReadout() == 1700; }))
        << "a stream bringing more than twice the last second must be read at once";
    EXPECT_EQ(readout(), "Received 1.66 KB/s");
    EXPECT_EQ(readout(), "Received 0.00 KB/s");
    EXPECT_EQ(lowWater(), 1) << "a stalled stream's trickle must be read as it comes";
    form->show();
    ASSERT_TRUE(stream.Send(std::string(10, '\x07')));
    EXPECT_TRUE(WaitUntil([&] { return form->BytesSinceReadout() == 10; }));
}

// The readout is the second's arrivals: bytes that came and wait unread at a
// readout count in that second, and not again in the next one once read.
TEST_F(StreamChannelTest, ReadoutCountsArrivedUnreadBytesInTheirOwnSecondOnce)
{
    AddStation();
    Play();
    ASSERT_TRUE(AcceptChannels());
    ASSERT_TRUE(WaitForStatus(QStringLiteral("Connected")));
    form->KBPSTimer->SetEnabled(false);
    const auto readout = [&] {
        form->KBPSTimer->OnTimer(form->KBPSTimer);
        return form->lblstatus->Caption().replace(QLocale().decimalPoint(), QStringLiteral("."));
    };
    ASSERT_TRUE(stream.Send(HeaderBytes("Zeitig", 3000) + std::string(1024, '\x03')));
    ASSERT_TRUE(WaitUntil([&] { return form->BytesSinceReadout() == 1024; }));
    EXPECT_EQ(readout(), "Received 1.00 KB/s");

    // Sent past the event loop: the read notice is still to come at the readout.
    const std::string batch(512, '\x04');
    ASSERT_EQ(::send(stream.Descriptor(), batch.data(), batch.size(), 0), ssize_t(batch.size()));
    QThread::msleep(50);
    EXPECT_EQ(readout(), "Received 0.50 KB/s") << "arrived bytes not yet read were not counted";
    ASSERT_TRUE(WaitUntil([&] { return form->BytesSinceReadout() == 512; }));
    EXPECT_EQ(readout(), "Received 0.00 KB/s") << "bytes counted while waiting were counted again once read";
}

// A steady stream read out by the window's own timer: each readout after the
// first is what arrived since the one before, to within one network batch,
// whether every batch is read as it comes or reads wait for a mark (the
// device's queue is forced); a stalled stream reads 0.00 within two readouts.
TEST_F(StreamChannelTest, SteadyStreamReadsOutItsArrivalsAndAStallZeroWithinTwoReadouts)
{
    using Clock = std::chrono::steady_clock;
    constexpr std::size_t Batch = 300; // every 100 ms: 2.93 KB/s
    AddStation();
    Play();
    ASSERT_TRUE(AcceptChannels());
    ASSERT_TRUE(WaitForStatus(QStringLiteral("Connected")));
    platform::DWORD queuedMs = 0;
    form->ACMO->Calls.GetQueuedTime = [&](platform::HWAVEOUT, platform::DWORD* ms) {
        *ms = queuedMs;
        return platform::MMRESULT(0);
    };
    std::size_t sent = 0;
    std::vector<std::pair<std::size_t, QString>> readouts; // bytes sent by then, text
    form->KBPSTimer->OnTimer = [&, inner = form->KBPSTimer->OnTimer](QObject* sender) {
        inner(sender);
        readouts.emplace_back(sent, form->lblstatus->Caption().replace(QLocale().decimalPoint(), QStringLiteral(".")));
    };
    ASSERT_TRUE(stream.Send(PlayableHeaderBytes("Gleichmass")));
    const Clock::time_point start = Clock::now();
    for (int batch = 0; batch < 100; ++batch) {
        if (batch == 50)
            queuedMs = 5000; // from here on reads wait for a mark
        while (Clock::now() < start + batch * std::chrono::milliseconds(100))
            testsupport::Pump(2);
        ASSERT_TRUE(stream.Send(std::string(Batch, '\x03')));
        sent += Batch;
    }
    EXPECT_EQ(form->StreamReadPortion(), 6000) << "reads did not wait for a mark with the queue ample";
    const std::size_t beforeStall = readouts.size();
    ASSERT_TRUE(WaitUntil([&] { return readouts.size() >= beforeStall + 2; }, 4000));

    ASSERT_GE(beforeStall, 8u);
    for (std::size_t i = 1; i < beforeStall; ++i) {
        const double arrived = double(readouts[i].first - readouts[i - 1].first);
        const double shown = readouts[i].second.section(QLatin1Char(' '), 1, 1).toDouble() * 1024;
        EXPECT_NEAR(shown, arrived, Batch) << "readout " << i << ": " << readouts[i].second.toStdString();
    }
    EXPECT_EQ(readouts.back().second, "Received 0.00 KB/s") << "a stalled stream still reads out a rate";
}

TEST_F(StreamChannelTest, ServerClosingAfterHeaderRunsDisconnectStepsAndLeavesStopEnabled)
{
    AddStation();
    Play();
    ASSERT_TRUE(AcceptChannels());
    ASSERT_TRUE(stream.Send(HeaderBytes("Kurz")));
    ASSERT_TRUE(HeaderTaken("Kurz"));
    stream.Close();
    ASSERT_TRUE(WaitForStatus(QStringLiteral("Disconnected")));
    EXPECT_TRUE(form->btnconnect->isEnabled());
    EXPECT_TRUE(form->btndisconnect->isEnabled());
    EXPECT_FALSE(form->KBPSTimer->Enabled());
    EXPECT_TRUE(form->RadiosenderTimer->Enabled());
    EXPECT_FALSE(form->CSocket->Active());
}

TEST_F(StreamChannelTest, PeerResetShowsErrorAndKeepsTimersUntilStop)
{
    AddStation();
    Play();
    ASSERT_TRUE(AcceptChannels());
    ASSERT_TRUE(stream.Send(HeaderBytes("Abbruch") + std::string(100, '\x03')));
    ASSERT_TRUE(HeaderTaken("Abbruch"));
    ASSERT_TRUE(WaitUntil([&] { return form->BytesSinceReadout() > 0 || statuses.back().startsWith("Received"); }));
    stream.Reset();
    ASSERT_TRUE(WaitUntil([&] { return !statuses.empty() && statuses.back() == "Error: 10054"; }));
    EXPECT_TRUE(form->btnconnect->isEnabled());
    EXPECT_TRUE(form->KBPSTimer->Enabled());
    EXPECT_TRUE(form->VUTimer->Enabled());
    EXPECT_TRUE(form->CSocket->Active());

    Stop();
    EXPECT_EQ(form->lblstatus->Caption(), "Disconnected");
    EXPECT_FALSE(form->KBPSTimer->Enabled());
}

TEST_F(StreamChannelTest, RefusedConnectionShowsErrorAndEnablesPlayAgain)
{
    AddStation(QStringLiteral("127.0.0.1:%1").arg(LoopbackServer::ClosedPort()));
    Play();
    ASSERT_TRUE(WaitForStatus(QStringLiteral("Error: 10061")));
    EXPECT_EQ(Sequence(), (std::vector<QString>{"Finding host", "Connecting...", "Error: 10061"}));
    EXPECT_TRUE(form->btnconnect->isEnabled());
    EXPECT_TRUE(form->btndisconnect->isEnabled());
    EXPECT_FALSE(form->KBPSTimer->Enabled());

    // Stop while not connected drops the latch its press turned on and closes nothing.
    Stop();
    EXPECT_FALSE(TfmMain::LatchOn(form->btndisconnect));
    EXPECT_FALSE(form->btndisconnect->isEnabled());
    EXPECT_EQ(form->lblstatus->Caption(), "Error: 10061");
}

TEST_F(StreamChannelTest, UnknownHostShowsLookupErrorThenDisconnected)
{
    AddStation(QStringLiteral("no-such-host.invalid:6565"));
    Play();
    ASSERT_TRUE(WaitForStatus(QStringLiteral("Disconnected"), 15000));
    ASSERT_EQ(statuses.size(), 3u);
    EXPECT_EQ(statuses[0], "Finding host");
    EXPECT_TRUE(statuses[1].startsWith(QStringLiteral("Error: 110"))) << statuses[1].toStdString();
    EXPECT_TRUE(form->btnconnect->isEnabled());
}

TEST_F(StreamChannelTest, EmptyHostShowsError1110ThenDisconnected)
{
    AddStation(QStringLiteral(":6565"));
    Play();
    EXPECT_EQ(statuses, (std::vector<QString>{"Finding host", "Error: 1110", "Disconnected"}));
    EXPECT_TRUE(form->btnconnect->isEnabled());
}

TEST_F(StreamChannelTest, RefusedPlayClicksShowTheirMessagesAndReleaseTheButtons)
{
    form->btndisconnect->SetPicture(form->stop3->Picture());
    form->btndisconnect->SetTag(-1);
    Play();
    ASSERT_EQ(h.messages.size(), 1u);
    EXPECT_EQ(h.messages[0].text, QStringLiteral("Wählen Sie einen Radiosender aus der Liste"));
    EXPECT_FALSE(TfmMain::LatchOn(form->btnconnect));
    EXPECT_FALSE(TfmMain::LatchOn(form->btndisconnect));
    EXPECT_EQ(form->btndisconnect->Picture().toImage(), form->stop1->Picture().toImage());

    AddStation(QStringLiteral("localhost"));
    Play();
    ASSERT_EQ(h.messages.size(), 2u);
    EXPECT_EQ(h.messages[1].text, QStringLiteral("Geben Sie eine korrekte Adresse ein: Host:Port"));
    EXPECT_FALSE(TfmMain::LatchOn(form->btnconnect));
    EXPECT_TRUE(form->btnconnect->isEnabled());
    EXPECT_TRUE(statuses.empty()) << "nothing was opened";
}

TEST_F(StreamChannelTest, PortThatIsNoIntegerReachesTheErrorBoxAndChangesNothing)
{
    AddStation(QStringLiteral("127.0.0.1:80x"));
    Play();
    ASSERT_EQ(h.errors.size(), 1u);
    EXPECT_EQ(h.errors[0].text, QStringLiteral("'80x' is not a valid integer value"));
    EXPECT_EQ(form->CSocket->Host(), "");
    EXPECT_EQ(form->CSocket->Port(), 6565);
    EXPECT_TRUE(form->btnconnect->isEnabled());
    EXPECT_TRUE(statuses.empty());
}

TEST_F(StreamChannelTest, SplitHostPortUsesLastColonAndTheRuntimeConversion)
{
    std::string host = "unchanged";
    std::int32_t port = -1;
    EXPECT_FALSE(form->SplitHostPort("", host, port));
    EXPECT_FALSE(form->SplitHostPort("localhost", host, port));
    EXPECT_EQ(host, "unchanged");
    EXPECT_EQ(port, -1);
    ASSERT_TRUE(form->SplitHostPort("a:b:6565", host, port));
    EXPECT_EQ(host, "a:b");
    EXPECT_EQ(port, 6565);
    ASSERT_TRUE(form->SplitHostPort("radio:$1F", host, port));
    EXPECT_EQ(port, 31);
    ASSERT_TRUE(form->SplitHostPort("radio: 80", host, port));
    EXPECT_EQ(port, 80);
    ASSERT_TRUE(form->SplitHostPort(":6565", host, port));
    EXPECT_EQ(host, "");
    try {
        form->SplitHostPort("radio:", host, port);
        ADD_FAILURE() << "an empty port converted";
    } catch (const platform::EConvertError& error) {
        EXPECT_EQ(error.Message(), QStringLiteral("'' is not a valid integer value"));
    }
}

TEST_F(StreamChannelTest, StopWhileConnectingLetsTheAttemptStartTheStream)
{
    AddStation();
    Play();
    Stop();
    EXPECT_TRUE(form->btnconnect->isEnabled());
    EXPECT_FALSE(form->btndisconnect->isEnabled());
    ASSERT_TRUE(AcceptChannels());
    EXPECT_EQ(greeting, kGreeting);
    ASSERT_TRUE(WaitForStatus(QStringLiteral("Connected")));
    EXPECT_TRUE(form->KBPSTimer->Enabled());
    ASSERT_TRUE(stream.Send(HeaderBytes("Trotzdem")));
    EXPECT_TRUE(HeaderTaken("Trotzdem"));
}

TEST_F(StreamChannelTest, PlayAgainAfterServerEndedOnlyTheStreamKeepsTheInfoConnection)
{
    AddStation();
    Play();
    ASSERT_TRUE(AcceptChannels());
    ASSERT_TRUE(WaitForStatus(QStringLiteral("Connected")));
    ASSERT_TRUE(WaitUntil([&] { return form->ISocket->Active(); }));
    // The disconnect queries the directory at once; it lists the same station.
    h.directory.body = QStringLiteral("127.0.0.1:%1,Nochmal\r\n").arg(server.Port()).toLatin1();
    stream.Close();
    ASSERT_TRUE(WaitForStatus(QStringLiteral("Disconnected")));
    ASSERT_TRUE(WaitUntil([&] { return form->Adressliste->Count() == 1 && form->Adressliste->Item(0) == "Nochmal"; }));
    form->Adressliste->setCurrentIndex(0);

    Play();
    LoopbackPeer again = server.Accept();
    ASSERT_TRUE(again.Valid());
    EXPECT_EQ(again.Receive(kGreeting.size()), kGreeting);
    ASSERT_TRUE(WaitForStatus(QStringLiteral("Connected")));
    EXPECT_TRUE(h.errors.empty());
    EXPECT_TRUE(form->ISocket->Active());
    EXPECT_FALSE(server.Accept(200).Valid()) << "the info channel was opened a second time";
}
