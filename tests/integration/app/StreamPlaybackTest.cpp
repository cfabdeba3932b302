// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's audio path end to end: a scripted station on 127.0.0.1
// sends the header and MP3 audio; what reaches ALSA's file plugin must be
// the reference decode of those audio bytes.
#include "app/Demo2Client.h"

#include "audio/ACMConvertor.h"
#include "audio/ACMOut.h"
#include "platform/toolkit/TComboBox.h"
#include "platform/toolkit/TImage.h"
#include "tests/support/AlsaRoute.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/MainWindowHarness.h"
#include "tests/support/PlayStation.h"
#include "tests/support/Mp3Encoder.h"
#include "tests/support/ReferenceDecode.h"
#include "tests/support/WaveFormats.h"
#include "tests/support/PackedField.h"

#include <QTest>
#include <cstring>
#include <gtest/gtest.h>

using testsupport::ByValue;
using testsupport::LoopbackPeer;
using testsupport::WaitUntil;

namespace {


std::string HeaderBytes(const TACMWaveFormat& in)
{
    TStreamHeader header{};
    const std::string name = "Testsender";
    header.StationName[0] = std::uint8_t(name.size());
    std::memcpy(header.StationName + 1, name.data(), name.size());
    header.FormatIn = in;
    header.FormatOut = testsupport::PcmFormat(11025, 2, 8, 129);
    return std::string(reinterpret_cast<const char*>(&header), sizeof header);
}

class StreamPlaybackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The directory lists the scripted station; every disconnect asks again.
        h.directory.body = QStringLiteral("127.0.0.1:%1,Testsender\r\n").arg(server.Port()).toLatin1();
        form = &h.Create();
        form->show();
        // Counts every byte the stream channel's reads find waiting.
        form->CSocket->OnRead = [this, inner = form->CSocket->OnRead](QObject* s, TCustomWinSocket* w) {
            bytesRead += std::size_t(std::max(w->BytesWaiting(), 0));
            inner(s, w);
        };
    }

    // Clicks Play and returns the stream channel's peer once it has greeted.
    LoopbackPeer Connect()
    {
        return testsupport::PressPlay(*form, server, info);
    }

    testsupport::MainWindowHarness h;
    testsupport::AlsaRoute route; // after the harness: this test listens to the device
    testsupport::LoopbackServer server;
    TfmMain* form = nullptr;
    LoopbackPeer info;
    std::size_t bytesRead = 0;
};

} // namespace

TEST_F(StreamPlaybackTest, StationAudioReachesTheDeviceDecodedExactly)
{
    const testsupport::Mp3Params station;
    const std::vector<std::uint8_t> mp3 = testsupport::EncodeMp3(station);
    const QByteArray reference = testsupport::ReferenceDecode(mp3);

    LoopbackPeer stream = Connect();
    ASSERT_TRUE(stream.Send(HeaderBytes(testsupport::MpegFormat())));
    ASSERT_TRUE(WaitUntil([&] { return form->ACMC->FormatIn.Format.wFormatTag == 0x55; }));
    // In several sends, so the pre-roll of four reads is passed.
    const std::size_t piece = mp3.size() / 16 + 1;
    for (std::size_t at = 0; at < mp3.size(); at += piece) {
        ASSERT_TRUE(stream.Send(std::string(reinterpret_cast<const char*>(mp3.data()) + at,
                                            std::min(piece, mp3.size() - at))));
        testsupport::Pump(20);
    }
    ASSERT_TRUE(WaitUntil([&] { return bytesRead >= sizeof(TStreamHeader) + mp3.size(); }));
    ASSERT_TRUE(WaitUntil([&] { return form->ACMO->LiveCount() == 0; }, 20000)) << "blocks never played";

    QTest::mouseClick(form->btndisconnect, Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_TRUE(WaitUntil([&] { return !form->ACMO->Active(); }));
    EXPECT_EQ(route.Captured(), reference);
    EXPECT_TRUE(h.errors.empty());
}

TEST_F(StreamPlaybackTest, ServerClosingTheStreamClosesTheOutputAndTheNextConnectionOpensOnItsOwnFormat)
{
    const std::vector<std::uint8_t> mp3 = testsupport::EncodeMp3({11025, 2, 24, 0.5});
    qsizetype queries = 0;
    {
        LoopbackPeer stream = Connect();
        queries = h.directory.requests.size();
        ASSERT_TRUE(stream.Send(HeaderBytes(testsupport::MpegFormat())));
        ASSERT_TRUE(stream.Send(std::string(mp3.begin(), mp3.end())));
        ASSERT_TRUE(WaitUntil([&] { return form->ACMO->Active(); }));
        stream.Close();
        info.Close();
    }
    ASSERT_TRUE(WaitUntil([&] { return !form->ACMO->Active(); }));
    EXPECT_EQ(form->ACMO->LiveCount(), 0u);

    // The next connection opens the output on its own header's format, once
    // the directory query that the disconnect started has rebuilt the list.
    ASSERT_TRUE(WaitUntil([&] { return h.directory.requests.size() > queries; }));
    testsupport::Pump(100);
    const std::vector<std::uint8_t> other = testsupport::EncodeMp3({44100, 1, 64, 0.5});
    LoopbackPeer stream = Connect();
    ASSERT_TRUE(stream.Send(HeaderBytes(testsupport::MpegFormat(44100, 1, 64))));
    ASSERT_TRUE(stream.Send(std::string(other.begin(), other.end())));
    ASSERT_TRUE(WaitUntil([&] { return form->ACMO->Active(); }));
    EXPECT_EQ(ByValue(form->ACMO->Format().Format.nSamplesPerSec), 44100u);
    EXPECT_TRUE(h.errors.empty());
}

TEST_F(StreamPlaybackTest, ClosingTheWindowWhilePlayingStopsTheOutput)
{
    const std::vector<std::uint8_t> mp3 = testsupport::EncodeMp3({11025, 2, 24, 1.0});
    LoopbackPeer stream = Connect();
    ASSERT_TRUE(stream.Send(HeaderBytes(testsupport::MpegFormat())));
    for (std::size_t at = 0; at < mp3.size(); at += 500) {
        ASSERT_TRUE(stream.Send(std::string(mp3.begin() + long(at), mp3.begin() + long(std::min(at + 500, mp3.size())))));
        testsupport::Pump(5);
    }
    ASSERT_TRUE(WaitUntil([&] { return form->ACMO->Active(); }));
    form->close();
    EXPECT_FALSE(form->ACMO->Active());
    EXPECT_EQ(form->ACMO->LiveCount(), 0u);
    EXPECT_FALSE(form->ACMC->Active());
    EXPECT_TRUE(h.errors.empty());
}
