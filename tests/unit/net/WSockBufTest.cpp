// SPDX-License-Identifier: GPL-3.0-or-later
// The send-queue block: partial appends when full, draining, reuse and resize.
#include "net/WSockBuf.h"

#include <gtest/gtest.h>
#include <string>

using net::TBuffer;

namespace {
std::string Peek(const TBuffer& buffer)
{
    int len = -1;
    const char* data = buffer.PeekData(len);
    return data ? std::string(data, static_cast<size_t>(len)) : std::string();
}
} // namespace

TEST(TBuffer, AppendStopsAtCapacityAndReportsWhatFit)
{
    EXPECT_EQ(TBuffer(0).Capacity(), 1514);
    TBuffer buffer(8);
    EXPECT_EQ(buffer.AppendData("abcde", 5), 5);
    EXPECT_EQ(buffer.AppendData("fghij", 5), 3) << "overfilled the block";
    EXPECT_EQ(buffer.AppendData("k", 1), 0);
    EXPECT_EQ(Peek(buffer), "abcdefgh");
}

TEST(TBuffer, RemoveTakesFromTheFrontAndADrainedBlockIsReusable)
{
    TBuffer buffer(6);
    buffer.AppendData("abcdef", 6);
    EXPECT_EQ(buffer.RemoveData(2), 2);
    EXPECT_EQ(Peek(buffer), "cdef");
    EXPECT_EQ(buffer.AppendData("x", 1), 0) << "space before the unread bytes must not be reused yet";
    EXPECT_EQ(buffer.RemoveData(100), 4) << "removed more than was left";
    int len = -1;
    EXPECT_EQ(buffer.PeekData(len), nullptr);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(buffer.AppendData("uvwxyz", 6), 6) << "a drained block did not start over";
    EXPECT_EQ(Peek(buffer), "uvwxyz");
}

TEST(TBuffer, ResizeKeepsTheBytesWrittenSoFar)
{
    TBuffer buffer(4);
    buffer.AppendData("abcd", 4);
    buffer.RemoveData(1);
    buffer.Resize(16);
    EXPECT_EQ(buffer.AppendData("efg", 3), 3);
    EXPECT_EQ(Peek(buffer), "bcdefg");
}
