// SPDX-License-Identifier: GPL-3.0-or-later
// Frame header decoding and the splitter that cuts files and encoder output
// into whole frames.
#include "MpegFrame.h"

#include <gtest/gtest.h>

#include <vector>

using station::FrameSplitter;
using station::ParseFrameHeader;

namespace {

enum Version { Mpeg25 = 0, Mpeg2 = 2, Mpeg1 = 3 };

std::string HeaderBytes(Version version, int layer, int bitrateIndex, int rateIndex, bool padding = false,
                        bool mono = false)
{
    std::string h(4, '\0');
    h[0] = char(0xFF);
    h[1] = char(0xE0 | version << 3 | (4 - layer) << 1 | 1);
    h[2] = char(bitrateIndex << 4 | rateIndex << 2 | (padding ? 2 : 0));
    h[3] = char(mono ? 0xC0 : 0x00);
    return h;
}

int FrameBytes(const std::string& header)
{
    const auto h = ParseFrameHeader(reinterpret_cast<const std::uint8_t*>(header.data()));
    return h ? h->frameBytes : -1;
}

// A whole frame whose payload is filled with `fill`, so frames can be told apart.
std::string MakeFrame(char fill, bool padding = false)
{
    std::string frame = HeaderBytes(Mpeg25, 3, 3, 0, padding); // 24 kbit/s, 11025 Hz
    frame.resize(std::size_t(FrameBytes(frame)), fill);
    return frame;
}

std::vector<std::string> SplitAll(FrameSplitter& splitter)
{
    std::vector<std::string> frames;
    while (auto f = splitter.Next())
        frames.push_back(f->bytes);
    return frames;
}

std::string Id3v2Tag(const std::string& body)
{
    std::string tag = "ID3\x03";
    tag += std::string(2, '\0');
    const std::size_t n = body.size();
    tag += char(n >> 21 & 0x7F);
    tag += char(n >> 14 & 0x7F);
    tag += char(n >> 7 & 0x7F);
    tag += char(n & 0x7F);
    return tag + body;
}

TEST(MpegFrameHeaderTest, FrameLengthFollowsVersionLayerBitrateAndPadding)
{
    // Layer III: 144 (MPEG-1) or 72 (MPEG-2/2.5) * bitrate / rate, plus one padding byte.
    EXPECT_EQ(FrameBytes(HeaderBytes(Mpeg1, 3, 9, 0)), 144 * 128000 / 44100);
    EXPECT_EQ(FrameBytes(HeaderBytes(Mpeg1, 3, 9, 0, true)), 144 * 128000 / 44100 + 1);
    EXPECT_EQ(FrameBytes(HeaderBytes(Mpeg2, 3, 8, 0)), 72 * 64000 / 22050);
    EXPECT_EQ(FrameBytes(HeaderBytes(Mpeg25, 3, 3, 0)), 72 * 24000 / 11025);
    EXPECT_EQ(FrameBytes(HeaderBytes(Mpeg25, 3, 14, 2)), 72 * 160000 / 8000);
    // Layer II is 144 * bitrate / rate in every version.
    EXPECT_EQ(FrameBytes(HeaderBytes(Mpeg1, 2, 10, 1)), 144 * 192000 / 48000);
    EXPECT_EQ(FrameBytes(HeaderBytes(Mpeg2, 2, 8, 1)), 144 * 64000 / 24000);
    // Layer I counts 4-byte slots, padding included.
    EXPECT_EQ(FrameBytes(HeaderBytes(Mpeg1, 1, 12, 0)), 12 * 384000 / 44100 * 4);
    EXPECT_EQ(FrameBytes(HeaderBytes(Mpeg1, 1, 12, 0, true)), 12 * 384000 / 44100 * 4 + 4);
    EXPECT_EQ(FrameBytes(HeaderBytes(Mpeg2, 1, 1, 2)), 12 * 32000 / 16000 * 4);
}

TEST(MpegFrameHeaderTest, DurationAndChannelsComeFromTheHeader)
{
    const std::string bytes = HeaderBytes(Mpeg25, 3, 3, 0, false, true);
    const auto h = ParseFrameHeader(reinterpret_cast<const std::uint8_t*>(bytes.data()));
    ASSERT_TRUE(h);
    EXPECT_EQ(h->sampleRate, 11025);
    EXPECT_EQ(h->channels, 1);
    EXPECT_EQ(h->samplesPerFrame, 576);
    EXPECT_DOUBLE_EQ(h->Seconds(), 576.0 / 11025);

    const std::string mpeg1 = HeaderBytes(Mpeg1, 3, 9, 2);
    EXPECT_EQ(ParseFrameHeader(reinterpret_cast<const std::uint8_t*>(mpeg1.data()))->samplesPerFrame, 1152);
    const std::string layer1 = HeaderBytes(Mpeg2, 1, 9, 2);
    EXPECT_EQ(ParseFrameHeader(reinterpret_cast<const std::uint8_t*>(layer1.data()))->samplesPerFrame, 384);
}

TEST(MpegFrameHeaderTest, ReservedAndFreeFormatValuesAreNoHeader)
{
    EXPECT_EQ(FrameBytes(HeaderBytes(Version(1), 3, 9, 0)), -1);  // reserved version
    EXPECT_EQ(FrameBytes(HeaderBytes(Mpeg1, 4, 9, 0)), -1);       // reserved layer
    EXPECT_EQ(FrameBytes(HeaderBytes(Mpeg1, 3, 0, 0)), -1);       // free format
    EXPECT_EQ(FrameBytes(HeaderBytes(Mpeg1, 3, 15, 0)), -1);      // bad bitrate
    EXPECT_EQ(FrameBytes(HeaderBytes(Mpeg1, 3, 9, 3)), -1);       // reserved rate
    EXPECT_EQ(FrameBytes(std::string("\xFF\x0F\x90\x00", 4)), -1); // incomplete sync
}

TEST(FrameSplitterTest, TagsJunkAndVbrHeaderFramesAreSkipped)
{
    std::string xing = MakeFrame('\0');
    xing.replace(4 + 17, 4, "Xing"); // MPEG-2.5 stereo side info is 17 bytes
    const std::vector<std::string> audio = {MakeFrame('a', true), MakeFrame('b'), MakeFrame('c')};
    std::string tit2 = "TIT2";
    tit2 += std::string("\x00\x00\x00\x06\x00\x00\x00", 7) + "Lied1";
    std::string v1 = "TAG";
    v1.resize(128, '\0');
    const std::string file = Id3v2Tag(tit2) + "\xFF\xFB junk" + xing + audio[0] + "\x01\x02" + audio[1]
                           + audio[2] + v1;

    FrameSplitter splitter;
    splitter.Push(file);
    splitter.Finish();
    EXPECT_EQ(SplitAll(splitter), audio);
    EXPECT_EQ(splitter.Title(), "Lied1");
}

TEST(FrameSplitterTest, FramesSplitAcrossPushesComeOutWhole)
{
    std::string stream;
    std::vector<std::string> expected;
    for (char c = 'a'; c < 'k'; ++c) {
        expected.push_back(MakeFrame(c, c % 2));
        stream += expected.back();
    }
    FrameSplitter splitter;
    std::vector<std::string> frames;
    for (std::size_t i = 0; i < stream.size(); i += 7) {
        splitter.Push(std::string_view(stream).substr(i, 7));
        for (auto& f : SplitAll(splitter))
            frames.push_back(f);
    }
    EXPECT_EQ(frames, expected);
}

TEST(FrameSplitterTest, LoneSyncIsOnlyTakenOnceConfirmedOrAtTheEnd)
{
    // Without a following header a frame could be a false sync inside junk.
    const std::string frame = MakeFrame('a');
    FrameSplitter splitter;
    splitter.Push(frame);
    EXPECT_FALSE(splitter.Next());
    splitter.Finish();
    EXPECT_EQ(SplitAll(splitter), std::vector<std::string>{frame});
}

TEST(FrameSplitterTest, TruncatedLastFrameAndBrokenTagAreDropped)
{
    const std::string whole = MakeFrame('a');
    FrameSplitter splitter;
    splitter.Push("ID3\x09garbage" + whole + MakeFrame('b').substr(0, 50));
    splitter.Finish();
    EXPECT_EQ(SplitAll(splitter), std::vector<std::string>{whole});
}

} // namespace
