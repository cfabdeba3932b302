// SPDX-License-Identifier: GPL-3.0-or-later
// The level bars of the live window while a station plays a tone, left
// louder than right, through a device that plays in real time: the bars must
// show the peaks of what is played, drop to 0 once the sound stops, and
// show 0 after Stop.
#include "app/Demo2Client.h"

#include "audio/ACMConvertor.h"
#include "audio/ACMOut.h"
#include "platform/toolkit/TComboBox.h"
#include "platform/toolkit/TImage.h"
#include "platform/toolkit/TProgressBar.h"
#include "tests/support/AlsaRoute.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/MainWindowHarness.h"
#include "tests/support/PlayStation.h"
#include "tests/support/Mp3Encoder.h"
#include "tests/support/ReferenceDecode.h"
#include "tests/support/WaveFormats.h"

#include <QTest>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

using testsupport::LoopbackPeer;
using testsupport::WaitUntil;

namespace {

constexpr int kRate = 11025;

// A steady 440 Hz tone at 60 % on the left and 25 % on the right.
std::vector<std::int16_t> Tone(double seconds)
{
    std::vector<std::int16_t> pcm(std::size_t(kRate * seconds) * 2);
    for (std::size_t i = 0; i < pcm.size() / 2; ++i) {
        const double s = std::sin(2 * M_PI * 440.0 * double(i) / kRate);
        pcm[2 * i] = std::int16_t(0.60 * 32767 * s);
        pcm[2 * i + 1] = std::int16_t(0.25 * 32767 * s);
    }
    return pcm;
}

// The peak per channel of a decode, over its middle (away from the encoder's
// start-up and tail).
std::pair<int, int> MiddlePeaks(const QByteArray& decoded)
{
    const auto* samples = reinterpret_cast<const std::int16_t*>(decoded.constData());
    const std::size_t frames = std::size_t(decoded.size()) / 4;
    int left = 0, right = 0;
    for (std::size_t i = frames / 4; i < frames * 3 / 4; ++i) {
        left = std::max(left, std::abs(int(samples[2 * i])));
        right = std::max(right, std::abs(int(samples[2 * i + 1])));
    }
    return {left, right};
}

std::string HeaderBytes()
{
    TStreamHeader header{};
    header.StationName[0] = 4;
    std::memcpy(header.StationName + 1, "Tone", 4);
    header.FormatIn = testsupport::MpegFormat(kRate, 2, 64);
    header.FormatOut = testsupport::PcmFormat(kRate, 2, 8, 129);
    return std::string(reinterpret_cast<const char*>(&header), sizeof header);
}

int Median(std::vector<int> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

class LevelMeterPlaybackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        h.directory.body = QStringLiteral("127.0.0.1:%1,Tone\r\n").arg(server.Port()).toLatin1();
        form = &h.Create();
        form->show();
    }

    LoopbackPeer Connect()
    {
        return testsupport::PressPlay(*form, server, info);
    }

    // Sends the MP3 in pieces, so the pre-roll of four reads is passed.
    void SendAudio(LoopbackPeer& stream, const std::vector<std::uint8_t>& mp3)
    {
        const std::size_t piece = mp3.size() / 20 + 1;
        for (std::size_t at = 0; at < mp3.size(); at += piece) {
            ASSERT_TRUE(stream.Send(std::string(reinterpret_cast<const char*>(mp3.data()) + at,
                                                std::min(piece, mp3.size() - at))));
            testsupport::Pump(20);
        }
    }

    testsupport::MainWindowHarness h;
    testsupport::AlsaRoute speaker{testsupport::AlsaRoute::Card}; // after the harness: this test listens
    testsupport::LoopbackServer server;
    TfmMain* form = nullptr;
    LoopbackPeer info;
};

} // namespace

TEST_F(LevelMeterPlaybackTest, BarsFollowTheTonesPeaksAndDropToZeroWhenItStopsAndAfterStop)
{
    ASSERT_TRUE(form->MetersEnabled());
    ASSERT_EQ(form->Ledmeter1->maximum(), 32767);
    const testsupport::Mp3Params params{kRate, 2, 64, 0};
    const std::vector<std::uint8_t> mp3 = testsupport::EncodeMp3(params, Tone(4.0));
    const auto [expectLeft, expectRight] = MiddlePeaks(testsupport::ReferenceDecode(mp3));
    ASSERT_NEAR(expectLeft, 0.60 * 32767, 0.1 * 32767) << "the encoded tone is not the one generated";
    ASSERT_NEAR(expectRight, 0.25 * 32767, 0.1 * 32767);

    LoopbackPeer stream = Connect();
    ASSERT_TRUE(stream.Send(HeaderBytes()));
    SendAudio(stream, mp3);
    // The bars start once the device plays; then sample for two seconds of the tone.
    ASSERT_TRUE(WaitUntil([&] { return form->Ledmeter1->Position() > 0; }, 10000)) << "the bars never moved";
    testsupport::Pump(300);
    std::vector<int> left, right;
    for (int i = 0; i < 40; ++i) {
        left.push_back(form->Ledmeter1->Position());
        right.push_back(form->Ledmeter2->Position());
        testsupport::Pump(50);
    }
    EXPECT_NEAR(Median(left), expectLeft, 0.1 * expectLeft);
    EXPECT_NEAR(Median(right), expectRight, 0.1 * expectRight);
    EXPECT_GT(form->ACMO->LiveCount(), 0u) << "the tone ended before sampling did: the device is not paced";

    // The station goes quiet while connected: once the device has played
    // out, the bars fall to 0.
    ASSERT_TRUE(WaitUntil([&] { return form->ACMO->LiveCount() == 0; }, 15000));
    EXPECT_TRUE(WaitUntil([&] { return form->Ledmeter1->Position() == 0 && form->Ledmeter2->Position() == 0; }, 2000));

    // Playing again, then Stop: both bars at 0, and they stay there.
    SendAudio(stream, testsupport::EncodeMp3(params, Tone(3.0)));
    ASSERT_TRUE(WaitUntil([&] { return form->Ledmeter1->Position() > 0; }, 10000));
    QTest::mouseClick(form->btndisconnect, Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_TRUE(WaitUntil([&] { return !form->ACMO->Active(); }));
    testsupport::Pump(200);
    EXPECT_EQ(form->Ledmeter1->Position(), 0);
    EXPECT_EQ(form->Ledmeter2->Position(), 0);
    EXPECT_TRUE(h.errors.empty());
}
