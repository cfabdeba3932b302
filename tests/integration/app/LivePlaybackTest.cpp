// SPDX-License-Identifier: GPL-3.0-or-later
// A live stream heard on a device that plays in real time, as a sound card
// does: a peer that sends at the stream's own rate after a lead of 0, 512
// bytes or 2 s, and the real station with and without its burst. Once the
// first sound is heard the device must never run dry, and with seconds of
// audio queued ahead the stream must still be read in batches, not at every
// arrival. Each case is a process of its own under CTest, so the cases
// run side by side.
#include "app/Demo2Client.h"

#include "audio/ACMOut.h"
#include "platform/toolkit/TComboBox.h"
#include "platform/toolkit/TImage.h"
#include "tests/support/AlsaRoute.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/MainWindowHarness.h"
#include "tests/support/Mp3Encoder.h"
#include "tests/support/PlayStation.h"
#include "tests/support/StationProcess.h"
#include "tests/support/WaveFormats.h"

#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <iostream>

using Clock = std::chrono::steady_clock;
using testsupport::AlsaRoute;
using testsupport::WaitUntil;

namespace {

constexpr auto Listened = std::chrono::seconds(20);

// Two seconds of lead are a little less than two seconds of audio (the
// encoder's delay and its tag frame), so reads may batch there or not; with
// three seconds they must.
struct Case {
    const char* name;
    int peerLead;     // bytes a paced peer sends at once; -1: the real station
    int stationBurst; // seconds, for the station
    bool ample;       // more than two seconds of audio end up queued ahead
};

std::ostream& operator<<(std::ostream& out, const Case& c)
{
    return out << c.name;
}

std::string HeaderBytes()
{
    TStreamHeader header{};
    header.StationName[0] = 5;
    std::memcpy(header.StationName + 1, "Tempo", 5);
    header.FormatIn = testsupport::MpegFormat();
    header.FormatOut = testsupport::PcmFormat(11025, 2, 8, 129);
    return std::string(reinterpret_cast<const char*>(&header), sizeof header);
}

class LivePlayback : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        form = &h.Create();
        form->CSocket->OnRead = [this, inner = form->CSocket->OnRead](QObject* s, TCustomWinSocket* w) {
            reads.push_back(Clock::now());
            inner(s, w);
        };
    }

    // The first start of the device, and every underrun after it.
    std::size_t UnderrunsAfterFirstSound(Clock::time_point& firstSound) const
    {
        const std::vector<AlsaRoute::Event> events = route.Events();
        const auto start = std::find_if(events.begin(), events.end(),
                                        [](const AlsaRoute::Event& e) { return e.kind == AlsaRoute::Event::Start; });
        if (start == events.end())
            return 0;
        firstSound = start->at;
        return std::size_t(std::count_if(start, events.end(), [&](const AlsaRoute::Event& e) {
            return e.kind == AlsaRoute::Event::Underrun && e.at < stopped;
        }));
    }

    // Plays against a peer that sends the lead at once, then every 100 ms
    // what has fallen due at the stream's byte rate.
    void ListenToPacedPeer(int lead)
    {
        testsupport::LoopbackServer server;
        h.directory.body = QStringLiteral("127.0.0.1:%1,Tempo\r\n").arg(server.Port()).toLatin1();
        form->show();
        testsupport::LoopbackPeer info;
        testsupport::LoopbackPeer stream = testsupport::PressPlay(*form, server, info);
        const double bytesPerSecond = testsupport::MpegFormat().Format.nAvgBytesPerSec;
        const std::vector<std::uint8_t> mp3 = testsupport::EncodeMp3({11025, 2, 24, 30.0});
        ASSERT_TRUE(stream.Send(HeaderBytes()));
        const Clock::time_point start = Clock::now();
        std::size_t sent = 0;
        while (Clock::now() - start < Listened + std::chrono::seconds(2)) {
            const double due = std::chrono::duration<double>(Clock::now() - start).count() * bytesPerSecond;
            const std::size_t upTo = std::min(mp3.size(), std::size_t(lead + due));
            ASSERT_TRUE(stream.Send(std::string(mp3.begin() + long(sent), mp3.begin() + long(upTo))));
            sent = upTo;
            Sample();
            testsupport::Pump(100);
        }
        Stop();
    }

    void ListenToStation(int burst)
    {
        testsupport::StationProcess station({"--source", "melody", "--name", "Tempo", "--burst", QString::number(burst)});
        ASSERT_TRUE(station.Start());
        testsupport::Pump(1000 * burst + 500); // a burst of audio the station has already sent
        h.directory.body = QStringLiteral("127.0.0.1:%1,Tempo\r\n").arg(station.StreamPort()).toLatin1();
        form->show();
        ASSERT_TRUE(WaitUntil([&] { return form->Adressliste->Count() == 1 && form->btnconnect->isEnabled(); }));
        form->Adressliste->setCurrentIndex(0);
        QTest::mouseClick(form->btnconnect, Qt::LeftButton, {}, QPoint(5, 5));
        const Clock::time_point start = Clock::now();
        while (Clock::now() - start < Listened + std::chrono::seconds(2)) {
            Sample();
            testsupport::Pump(100);
        }
        Stop();
    }

    void Sample()
    {
        if (form->ACMO->Active())
            queued.emplace_back(Clock::now(), form->ACMO->QueuedMilliseconds());
    }

    void Stop()
    {
        stopped = Clock::now();
        QTest::mouseClick(form->btndisconnect, Qt::LeftButton, {}, QPoint(5, 5));
        ASSERT_TRUE(WaitUntil([&] { return !form->ACMO->Active(); }));
    }

    testsupport::MainWindowHarness h;
    AlsaRoute route{AlsaRoute::Card, 4096}; // after the harness: this test listens to the device
    TfmMain* form = nullptr;
    std::vector<Clock::time_point> reads;
    std::vector<std::pair<Clock::time_point, std::uint32_t>> queued;
    Clock::time_point stopped = Clock::time_point::max();

};

} // namespace

TEST_P(LivePlayback, DeviceNeverRunsDryAfterTheFirstSoundAndAmpleQueuesAreReadInBatches)
{
    const Case c = GetParam();
    if (c.peerLead >= 0)
        ListenToPacedPeer(c.peerLead);
    else
        ListenToStation(c.stationBurst);
    if (HasFatalFailure())
        return;

    Clock::time_point firstSound;
    const std::size_t underruns = UnderrunsAfterFirstSound(firstSound);
    ASSERT_NE(firstSound, Clock::time_point()) << "the device never started";
    // The second half of the run: past the start, queue settled.
    const Clock::time_point from = firstSound + (stopped - firstSound) / 2;
    const double seconds = std::chrono::duration<double>(stopped - from).count();
    const auto lateReads = std::count_if(reads.begin(), reads.end(), [&](Clock::time_point t) { return t >= from; });
    std::uint32_t least = UINT32_MAX, most = 0;
    for (const auto& [at, ms] : queued)
        if (at >= from) {
            least = std::min(least, ms);
            most = std::max(most, ms);
        }
    std::cout << c.name << ": " << underruns << " underruns after the first sound, "
              << double(lateReads) / seconds << " read notices a second, queued ahead " << least << "-" << most << " ms\n";

    EXPECT_EQ(underruns, 0u) << "the device ran dry";
    if (c.ample) {
        EXPECT_LE(double(lateReads) / seconds, 3.0) << "seconds of audio queued, yet every arrival was read";
    }
    EXPECT_TRUE(h.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(Leads, LivePlayback,
                         ::testing::Values(Case{"PeerWithoutLead", 0, 0, false}, Case{"PeerWith512Bytes", 512, 0, false},
                                           Case{"PeerWithTwoSeconds", 6000, 0, false},
                                           Case{"PeerWithThreeSeconds", 9000, 0, true},
                                           Case{"StationWithoutBurst", -1, 0, false},
                                           Case{"StationWithBurst", -1, 2, false}),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });
