// SPDX-License-Identifier: GPL-3.0-or-later
// The station's text conversion, command line, log lines and stream header
// record.
#include "Log.h"
#include "Options.h"
#include "StreamHeaderBuilder.h"
#include "Text.h"
#include "wire/Win1252.h"
#include "tests/support/PackedField.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <regex>
#include <sstream>

#include <sys/stat.h>

using testsupport::ByValue;
using namespace station;

namespace {

TEST(StationTextTest, Utf8BecomesWindows1252WithQuestionMarksForTheRest)
{
    EXPECT_EQ(Utf8ToCp1252("Grüße €5 – “x”"), "Gr\xFC\xDF" "e \x80" "5 \x96 \x93x\x94");
    EXPECT_EQ(Utf8ToCp1252("中"), "?");
    EXPECT_EQ(Utf8ToCp1252("a\xC3"), "a?");         // cut-off sequence
    EXPECT_EQ(Utf8ToCp1252("\xC3(x"), "?(x");        // bad continuation
    EXPECT_EQ(Utf16ToCp1252(std::string("\xFF\xFEG\0\xFC\0", 6), true), "G\xFC");
    EXPECT_EQ(Utf16ToCp1252(std::string("\0G\0\xFC", 4), true), "G\xFC");
}

// The station once had a code page table of its own that turned the five
// undefined bytes into '?' while the client keeps them: a name typed on the
// station's command line must come back as the very bytes the client decodes.
TEST(StationTextTest, EveryByteTheClientDecodesTheStationEncodesBack)
{
    for (int byte = 1; byte <= 0xFF; ++byte) {
        const char32_t cp = wire::Cp1252ToCodePoint(static_cast<unsigned char>(byte));
        std::string utf8;
        if (cp < 0x80) {
            utf8 += char(cp);
        } else if (cp < 0x800) {
            utf8 += char(0xC0 | (cp >> 6));
            utf8 += char(0x80 | (cp & 0x3F));
        } else {
            utf8 += char(0xE0 | (cp >> 12));
            utf8 += char(0x80 | ((cp >> 6) & 0x3F));
            utf8 += char(0x80 | (cp & 0x3F));
        }
        EXPECT_EQ(Utf8ToCp1252(utf8), std::string(1, char(byte))) << std::hex << byte;
        const std::string utf16le{char(cp & 0xFF), char(cp >> 8)};
        EXPECT_EQ(Utf16ToCp1252(utf16le, false), std::string(1, char(byte))) << std::hex << byte;
    }
}

TEST(StationOptionsTest, DefaultsAndRepeatedOptions)
{
    const Options defaults = ParseOptions({});
    EXPECT_EQ(defaults.listen.Text(), "0.0.0.0:6565");
    EXPECT_EQ(defaults.source, "tone");
    EXPECT_FALSE(defaults.directory);

    const Options o = ParseOptions({"--listen", "127.0.0.1:0", "--info", "a", "--info", "b", "--list",
                                    "10.0.0.1:1,x,y", "--name", "Zürich", "--burst", "0.5"});
    EXPECT_EQ(o.listen.port, 0);
    EXPECT_EQ(o.infoTexts, (std::vector<std::string>{"a", "b"}));
    ASSERT_EQ(o.listed.size(), 1u);
    EXPECT_EQ(o.listed[0].address, "10.0.0.1:1");
    EXPECT_EQ(o.listed[0].name, "x,y");
    EXPECT_EQ(o.name, "Z\xFCrich");
    EXPECT_DOUBLE_EQ(o.burstSeconds, 0.5);
    EXPECT_EQ(ParseOptions({"--source", "/music/Song.MP3"}).source, "/music/Song.MP3");
    EXPECT_EQ(ParseOptions({"--listen", "[::1]:7000"}).listen.host, "::1");
}

TEST(StationOptionsTest, BadValuesAreUsageErrors)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--listen", "6565"}, {"--listen", ":6565"}, {"--listen", "h:"}, {"--listen", "h:-1"},
        {"--listen", "h:65536"}, {"--queue", "0"}, {"--burst", "-1"}, {"--burst", "nan"},
        {"--name", std::string(300, 'n')}, {"--info", "two\nlines"}, {"--list", ",x"}, {"--list", "a,"},
        {"--max-listeners", "many"}, {"stray"}, {"--name"}, {"--source", ""}, {"--source", "ftp://host/a.mp3"}};
    for (const auto& args : bad)
        EXPECT_THROW(ParseOptions(args), UsageError) << args[0] << " " << (args.size() > 1 ? args[1] : "");
}

// Whether a file, folder or stream can be played only opening it tells, so
// any path or web stream reaches the sources; other schemes cannot be read.
TEST(StationOptionsTest, SourcesAreLeftToTheSourcesToOpen)
{
    for (const std::string source : {"song.ogg", "noise", "/srv/music", "list.pls", "https://radio.example/live"})
        EXPECT_EQ(ParseOptions({"--source", source}).source, source);
}

// Message fragments name what is wrong, so a user can fix the value.
TEST(StationOptionsTest, FormatAndPlayOptionsParseOrSayWhatIsWrong)
{
    const struct {
        std::vector<std::string> args;
        std::string message; // empty: accepted
    } cases[] = {
        {{"--rate", "22050", "--channels", "1", "--bitrate", "32"}, ""},
        {{"--rate", "44100", "--bitrate", "copy"}, ""},
        {{"--rate", "48000", "--bitrate", "320"}, ""},
        {{"--rate", "8000", "--bitrate", "8"}, ""},
        {{"--shuffle", "--name", "X"}, ""},
        {{"--name", "X", "--shuffle"}, ""},
        {{"--rate", "44000"}, "not an MPEG Layer III rate"},
        {{"--rate", "96000"}, "8000 to 48000"},
        {{"--rate", "11025.5"}, "8000 to 48000"},
        {{"--channels", "3"}, "1 or 2"},
        {{"--channels", "0"}, "1 or 2"},
        {{"--bitrate", "400"}, "8 to 320"},
        {{"--bitrate", "7"}, "8 to 320"},
        {{"--bitrate", "fast"}, "or copy"},
        {{"--rate", "44100"}, "24 kbit/s"},                         // the default bitrate is not MPEG-1's
        {{"--rate", "11025", "--bitrate", "320"}, "320 kbit/s"},
        {{"--shuffle", "yes"}, "unknown argument 'yes'"},           // a switch takes no value
        {{"--stations", "a.conf", "--rate", "22050"}, "--stations"}, // per-station options go into the file
        {{"--stations", ""}, "--stations"},
    };
    for (const auto& c : cases) {
        std::string error;
        try {
            ParseOptions(c.args);
        } catch (const UsageError& e) {
            error = e.what();
        }
        EXPECT_EQ(error.empty(), c.message.empty()) << c.args[0] << " " << error;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.args[0] << ": " << error;
    }
    const Options o = ParseOptions({"--rate", "22050", "--channels", "1", "--bitrate", "copy", "--shuffle"});
    EXPECT_EQ(o.format.sampleRate, 22050);
    EXPECT_EQ(o.format.channels, 1);
    EXPECT_TRUE(o.format.copyBitrate);
    EXPECT_TRUE(o.play.shuffle);
    const Options defaults = ParseOptions({"--stations", "a.conf", "--directory", "127.0.0.1:0", "--greeting-timeout", "1"});
    EXPECT_EQ(defaults.format.sampleRate, 11025);
    EXPECT_EQ(defaults.format.channels, 2);
    EXPECT_EQ(defaults.format.bitrateKbps, 24);
    EXPECT_FALSE(defaults.format.copyBitrate || defaults.play.shuffle);
}

// What ParseOptions throws for args, or empty when it accepts them.
std::string UsageErrorOf(const std::vector<std::string>& args)
{
    try {
        ParseOptions(args);
    } catch (const UsageError& e) {
        return e.what();
    }
    return {};
}

TEST(StationOptionsTest, MistypedOrUnfinishedOptionsAreNamed)
{
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--bogus"}, "unknown option '--bogus'"}, // last on the line: still unknown, not short of a value
        {{"--bogus", "1"}, "unknown option '--bogus'"},
        {{"--name", "X", "--rat", "22050"}, "unknown option '--rat'"},
        {{"--rate"}, "option '--rate' needs a value"},
        {{"--listen", "127.0.0.1:0", "--directory"}, "option '--directory' needs a value"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UsageErrorOf(c.args), c.message) << c.args.back();
}

TEST(StationOptionsTest, EveryOptionTheHelpNamesIsKnown)
{
    std::istringstream help(UsageText());
    int options = 0;
    for (std::string line; std::getline(help, line);) {
        std::smatch m;
        if (!std::regex_search(line, m, std::regex("^  (--[a-z-]+)")) || m[1] == "--help")
            continue;
        ++options;
        const std::string option = m[1];
        const std::string error = UsageErrorOf({option});
        EXPECT_EQ(error.find("unknown"), std::string::npos) << error;
        if (option != "--shuffle")
            EXPECT_EQ(error, "option '" + option + "' needs a value");
    }
    EXPECT_GE(options, 17);
    EXPECT_NE(std::string(UsageText()).find("GPL-3.0-or-later"), std::string::npos);
    EXPECT_NE(std::string(UsageText()).find("NO WARRANTY"), std::string::npos);
}

TEST(StationLogTest, JournalIsRecognisedOnlyByStderrsOwnDeviceAndInode)
{
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    struct stat st{};
    ASSERT_EQ(fstat(fileno(file), &st), 0);
    const std::string dev = std::to_string(st.st_dev), ino = std::to_string(st.st_ino);
    const struct {
        const char* what;
        std::string variable;
        bool journal;
    } cases[] = {
        {"own file", dev + ":" + ino, true},
        {"inherited from another stream", dev + ":" + std::to_string(st.st_ino + 1), false},
        {"other device", std::to_string(st.st_dev + 1) + ":" + ino, false},
        {"empty", "", false},
        {"no inode", dev + ":", false},
        {"trailing text", dev + ":" + ino + "x", false},
        {"out of range", "99999999999999999999999:" + ino, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsJournalStream(c.variable.c_str(), fileno(file)), c.journal) << c.what;
    EXPECT_FALSE(IsJournalStream(nullptr, fileno(file)));
    std::fclose(file);
}

TEST(StationLogTest, JournalLinesCarryPriorityOthersATimestamp)
{
    const struct {
        Severity severity;
        const char* journalLine;
    } cases[] = {
        {Severity::Error, "<3>m\n"},
        {Severity::Warning, "<4>m\n"},
        {Severity::Info, "<6>m\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatLogLine(c.severity, "m", true, 0), c.journalLine);
        const std::string plain = FormatLogLine(c.severity, "m", false, 0);
        EXPECT_TRUE(std::regex_match(plain, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d m\n)"))) << plain;
    }
}

TEST(StationHeaderTest, DefaultFormatMatchesTheClientsStoredInputFormat)
{
    FrameHeader frames;
    frames.version = 25;
    frames.layer = 3;
    frames.bitrate = 24000;
    frames.sampleRate = 11025;
    frames.channels = 2;
    const TStreamHeader h = BuildStreamHeader("Station", frames, frames.bitrate / 8);
    // The record the client's form holds for this format, which it replaces with ours.
    const unsigned char stored[] = {0x55, 0x00, 0x02, 0x00, 0x11, 0x2B, 0x00, 0x00, 0xB8, 0x0B, 0x00, 0x00,
                                    0x01, 0x00, 0x00, 0x00, 0x0C, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00,
                                    0x9C, 0x00, 0x01, 0x00, 0x71, 0x05};
    EXPECT_EQ(std::memcmp(&h.FormatIn, stored, sizeof stored), 0);
    const auto* rest = reinterpret_cast<const unsigned char*>(&h.FormatIn) + sizeof stored;
    EXPECT_TRUE(std::all_of(rest, rest + (sizeof(TACMWaveFormat) - sizeof stored), [](unsigned char b) { return b == 0; }));
}

TEST(StationHeaderTest, LongNamesAreCutToTheLengthByte)
{
    FrameHeader frames;
    frames.layer = 3;
    frames.sampleRate = 11025;
    frames.channels = 2;
    frames.bitrate = 24000;
    const TStreamHeader h = BuildStreamHeader(std::string(300, 'x'), frames, 3000);
    EXPECT_EQ(h.StationName[0], 255);
    EXPECT_EQ(h.StationName[255], 'x');
    EXPECT_EQ(ByValue(h.FormatOut.Format.wFormatTag), wire::WAVE_FORMAT_PCM);
}

} // namespace
