// SPDX-License-Identifier: GPL-3.0-or-later
// The real window playing a real station that passes an icecast2 stream
// through frame for frame. The test sits between window and station as a
// tap on 127.0.0.1: it greets the station as the window would, hands every
// byte on to the window and keeps them, so what reaches ALSA's file plugin
// can be held against the reference decode of exactly the station's frames.
// GUI thread only; the tap forwards between event-loop pumps.
#include "app/Demo2Client.h"

#include "MpegFrame.h"
#include "audio/ACMOut.h"
#include "tests/support/AlsaRoute.h"
#include "tests/support/EventLoop.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/LoopbackSocket.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/MainWindowHarness.h"
#include "tests/support/PlayStation.h"
#include "tests/support/ReferenceDecode.h"
#include "tests/support/StationProcess.h"
#include "tests/support/TonePower.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using testsupport::LoopbackPeer;
using testsupport::WaitUntil;

namespace {

// The length of the whole MPEG frames at the start of `audio`.
std::size_t WholeFrames(const std::string& audio)
{
    std::size_t at = 0;
    while (at + 4 <= audio.size()) {
        const auto h = station::ParseFrameHeader(reinterpret_cast<const std::uint8_t*>(audio.data() + at));
        if (!h || at + std::size_t(h->frameBytes) > audio.size())
            break;
        at += std::size_t(h->frameBytes);
    }
    return at;
}

} // namespace

TEST(RelayedPlaybackTest, RelayedIcecastStreamReachesTheDeviceAsTheReferenceDecodeOfTheStationsFrames)
{
    QTemporaryDir dir;
    const QString tone = dir.filePath("tone.mp3");
    ASSERT_EQ(QProcess::execute("ffmpeg", {"-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
                                           "sine=frequency=440:sample_rate=44100:duration=10", "-ac", "2",
                                           "-b:a", "128k", tone}),
              0);
    testsupport::IcecastServer icecast;
    ASSERT_TRUE(icecast.Start()) << icecast.Log().toStdString();
    ASSERT_TRUE(icecast.Feed("radio", tone)) << icecast.Log().toStdString();
    testsupport::StationProcess station({"--source", icecast.ListenUrl("radio"), "--name", "Relais", "--rate",
                                         "44100", "--channels", "2", "--bitrate", "128"});
    ASSERT_TRUE(station.Start()) << station.Log().toStdString();

    testsupport::MainWindowHarness h;
    testsupport::AlsaRoute route; // after the harness: this test listens to the device
    testsupport::LoopbackServer tap;
    h.directory.body = QStringLiteral("127.0.0.1:%1,Relais\r\n").arg(tap.Port()).toLatin1();
    TfmMain* form = &h.Create();
    std::size_t bytesRead = 0;
    form->CSocket->OnRead = [&, inner = form->CSocket->OnRead](QObject* s, TCustomWinSocket* w) {
        bytesRead += std::size_t(std::max(w->BytesWaiting(), 0));
        inner(s, w);
    };
    form->show();
    LoopbackPeer info;
    LoopbackPeer window = testsupport::PressPlay(*form, tap, info);
    LoopbackPeer upstream = LoopbackPeer(testsupport::ConnectLoopback(station.StreamPort()));
    ASSERT_TRUE(upstream.Valid());
    ASSERT_TRUE(upstream.Send(std::string(wire::StreamGreeting)));

    // Three seconds of the station's frames, handed on as they come; the
    // window gets whole frames only, so the reference decode ends where its does.
    std::string header = upstream.Receive(sizeof(TStreamHeader));
    ASSERT_EQ(header.size(), sizeof(TStreamHeader));
    ASSERT_TRUE(window.Send(header));
    std::string pending, forwarded;
    while (forwarded.size() < 3 * 128000 / 8) {
        ASSERT_TRUE(WaitUntil([&] { return upstream.Waiting() > 0; }, 5000)) << station.Log().toStdString();
        pending += upstream.Receive(upstream.Waiting());
        const std::size_t whole = WholeFrames(pending);
        ASSERT_TRUE(window.Send(pending.substr(0, whole)));
        forwarded += pending.substr(0, whole);
        pending.erase(0, whole);
        testsupport::Pump(20);
    }
    upstream.Close();
    ASSERT_TRUE(WaitUntil([&] { return bytesRead >= header.size() + forwarded.size(); }, 10000));
    ASSERT_TRUE(WaitUntil([&] { return form->ACMO->LiveCount() == 0; }, 20000)) << "blocks never played";
    QTest::mouseClick(form->btndisconnect, Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_TRUE(WaitUntil([&] { return !form->ACMO->Active(); }));

    const QByteArray reference = testsupport::ReferenceDecode({forwarded.begin(), forwarded.end()});
    const QByteArray captured = route.Captured();
    ASSERT_GT(reference.size(), 2 * 44100 * 4); // two seconds and more of 16-bit stereo
    EXPECT_TRUE(captured == reference) << captured.size() << " bytes captured, " << reference.size() << " decoded";
    // The station passed the programme on, not silence in its place.
    const auto* pcm = reinterpret_cast<const std::int16_t*>(reference.constData());
    const std::size_t frames = std::size_t(reference.size()) / 4;
    EXPECT_GT(testsupport::TonePower(pcm, frames, 44100, 440), 100 * testsupport::TonePower(pcm, frames, 44100, 1000));
    EXPECT_TRUE(h.errors.empty());
}
