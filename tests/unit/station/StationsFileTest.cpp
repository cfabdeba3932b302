// SPDX-License-Identifier: GPL-3.0-or-later
// What a well-formed stations file gives each station; its faults are tested
// on the real process (tests/integration/station/ManyStationsTest.cpp).
#include "StationsFile.h"

#include <gtest/gtest.h>

using namespace station;

namespace {

TEST(StationsFileTest, KeysLeftOutKeepTheDefaultsAndInfoTextsAddUp)
{
    StationSettings defaults;
    defaults.greetingTimeoutSeconds = 1.5;
    const auto plans = ParseStations("\xEF\xBB\xBF[relay]\n"
                                     "name = Zürich Relay\n"
                                     "source = https://icecast.example:8443/live\n"
                                     "listen = [::1]:7000\n"
                                     "rate = 44100\n"
                                     "bitrate = copy\n"
                                     "shuffle = yes\n"
                                     "info = eins\n"
                                     "info = zwei\n"
                                     "max-listeners = 50\n"
                                     "[plain]\n"
                                     "name = Plain\n"
                                     "source = /srv/music\n"
                                     "listen = 127.0.0.1:7000\n",
                                     "f.conf", defaults);
    ASSERT_EQ(plans.size(), 2u);
    const StationSettings& relay = plans[0].settings;
    EXPECT_EQ(plans[0].origin, "f.conf:1");
    EXPECT_EQ(relay.name, "Z\xFCrich Relay");
    EXPECT_EQ(relay.listen.host, "::1");
    EXPECT_EQ(relay.format.sampleRate, 44100);
    EXPECT_TRUE(relay.format.copyBitrate);
    EXPECT_TRUE(relay.play.shuffle);
    EXPECT_EQ(relay.infoTexts, (std::vector<std::string>{"eins", "zwei"}));
    EXPECT_EQ(relay.maxListeners, 50u);
    EXPECT_DOUBLE_EQ(relay.greetingTimeoutSeconds, 1.5);

    const StationSettings& plain = plans[1].settings;
    EXPECT_EQ(plans[1].origin, "f.conf:11");
    EXPECT_EQ(plain.format.sampleRate, 11025);
    EXPECT_EQ(plain.format.bitrateKbps, 24);
    EXPECT_FALSE(plain.format.copyBitrate || plain.play.shuffle);
    EXPECT_TRUE(plain.infoTexts.empty());
    EXPECT_DOUBLE_EQ(plain.burstSeconds, 2);
}

} // namespace
