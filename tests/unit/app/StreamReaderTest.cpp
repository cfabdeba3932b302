// SPDX-License-Identifier: GPL-3.0-or-later
// The stream reader's framing and pacing without a socket: the header split
// at every byte, a new Play dropping a partial header, and the read portion
// at the edges of its rule.
#include "app/StreamReader.h"

#include <gtest/gtest.h>
#include <cstring>
#include <limits>
#include <string>

namespace {

std::string HeaderBytes(char seed)
{
    std::string bytes(sizeof(TStreamHeader), '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = char(seed + i * 7);
    return bytes;
}

bool HeaderIs(const StreamReader& reader, const std::string& bytes)
{
    return std::memcmp(&reader.Header(), bytes.data(), bytes.size()) == 0;
}

} // namespace

TEST(StreamReader, TheHeaderSplitAtEveryByteIsTakenWholeAndOnlyThen)
{
    const std::string header = HeaderBytes(3);
    for (std::size_t cut = 0; cut <= header.size(); ++cut) {
        StreamReader reader;
        reader.AwaitHeader();
        EXPECT_EQ(reader.AddHeaderBytes(header.data(), cut), cut == header.size()) << cut;
        if (cut == header.size())
            continue;
        EXPECT_EQ(reader.HeaderBytesMissing(), header.size() - cut) << cut;
        EXPECT_TRUE(reader.ExpectingHeader()) << cut;
        ASSERT_TRUE(reader.AddHeaderBytes(header.data() + cut, header.size() - cut)) << cut;
        EXPECT_FALSE(reader.ExpectingHeader()) << cut;
        EXPECT_TRUE(HeaderIs(reader, header)) << cut;
    }
}

TEST(StreamReader, APlayDuringAHeaderDropsWhatOfItHadCome)
{
    StreamReader reader;
    reader.AwaitHeader();
    const std::string first = HeaderBytes(1);
    ASSERT_FALSE(reader.AddHeaderBytes(first.data(), 100));
    reader.AwaitHeader();
    const std::string second = HeaderBytes(9);
    EXPECT_FALSE(reader.AddHeaderBytes(second.data(), second.size() - 1)) << "the old bytes still counted";
    ASSERT_TRUE(reader.AddHeaderBytes(second.data() + second.size() - 1, 1));
    EXPECT_TRUE(HeaderIs(reader, second));
}

TEST(StreamReader, ReadsWaitForTwiceTheLastSecondOnlyWithSecondsQueued)
{
    struct Case {
        std::uint32_t queuedMs;
        std::int32_t lastSecond;
        int portion;
    };
    const Case cases[] = {
        {0, 16000, 1},
        {1999, 16000, 1},
        {2000, 16000, 32000},
        {2000, 0, 1},                        // a silent second still reads
        {2000, 40000, 64 * 1024},            // capped
        {std::numeric_limits<std::uint32_t>::max(), std::numeric_limits<std::int32_t>::max(), 64 * 1024},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StreamReader::ReadPortion(c.queuedMs, c.lastSecond), c.portion)
            << c.queuedMs << " ms, " << c.lastSecond << " bytes";
}
