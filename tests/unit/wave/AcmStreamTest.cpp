// SPDX-License-Identifier: GPL-3.0-or-later
// The conversion-stream calls: which pairs open, how the destination size
// follows the formats, and the header bookkeeping.
#include "platform/wave/MSAcm.h"
#include "tests/support/WaveFormats.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

TACMWaveFormat Pcm(unsigned channels, unsigned rate, unsigned bits)
{
    return testsupport::PcmFormat(rate, channels, bits, 129);
}

TACMWaveFormat Mp3()
{
    return testsupport::MpegFormat();
}

} // namespace

TEST(AcmStream, OnlyDecodingAndPcmConversionArePossible)
{
    const TACMWaveFormat mp3 = Mp3(), pcm = Pcm(2, 11025, 8);
    EXPECT_EQ(acmStreamOpen(nullptr, nullptr, &mp3, &pcm, nullptr, 0, 0, ACM_STREAMOPENF_QUERY), 0u);
    EXPECT_EQ(acmStreamOpen(nullptr, nullptr, &pcm, &pcm, nullptr, 0, 0, ACM_STREAMOPENF_QUERY), 0u);
    HACMSTREAM h = nullptr;
    EXPECT_EQ(acmStreamOpen(&h, nullptr, &pcm, &mp3, nullptr, 0, 0, 0), ACMERR_NOTPOSSIBLE);
    TACMWaveFormat adpcm = Mp3();
    adpcm.Format.wFormatTag = 2;
    EXPECT_EQ(acmStreamOpen(&h, nullptr, &adpcm, &pcm, nullptr, 0, 0, 0), ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(acmStreamOpen(&h, nullptr, &mp3, &pcm, nullptr, 0, 0, ACM_STREAMOPENF_ASYNC), MMSYSERR_INVALFLAG);
}

TEST(AcmStream, PreparedHeaderKeepsTheStreamBusyUntilUnprepared)
{
    const TACMWaveFormat pcm = Pcm(1, 22050, 8);
    HACMSTREAM h = nullptr;
    ASSERT_EQ(acmStreamOpen(&h, nullptr, &pcm, &pcm, nullptr, 0, 0, 0), 0u);
    std::uint8_t src[16], dst[16];
    ACMSTREAMHEADER header{};
    header.cbStruct = sizeof header;
    header.pbSrc = src;
    header.cbSrcLength = sizeof src;
    header.pbDst = dst;
    header.cbDstLength = sizeof dst;
    EXPECT_EQ(acmStreamUnprepareHeader(h, &header, 0), ACMERR_UNPREPARED);
    ASSERT_EQ(acmStreamPrepareHeader(h, &header, 0), 0u);
    EXPECT_EQ(acmStreamClose(h, 0), ACMERR_BUSY);
    EXPECT_EQ(acmStreamUnprepareHeader(h, &header, 0), 0u);
    EXPECT_EQ(acmStreamClose(h, 0), 0u);
}
