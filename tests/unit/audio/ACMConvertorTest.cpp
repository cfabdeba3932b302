// SPDX-License-Identifier: GPL-3.0-or-later
// TACMConvertor: the stored format bytes, the guarded setters, and Open /
// Close with their error texts (against the real conversion-stream layer
// and a failing stand-in).
#include "audio/ACMConvertor.h"
#include "audio/ACMOut.h"
#include "audio/AudioClasses.h"
#include "platform/toolkit/FormReader.h"
#include "platform/toolkit/FormWriter.h"
#include "tests/support/PackedField.h"

#include <QVariant>
#include <gtest/gtest.h>
#include <memory>

using testsupport::ByValue;
using namespace platform;

namespace {

QByteArray FromHex(const char* hex, int total)
{
    QByteArray bytes = QByteArray::fromHex(hex);
    bytes.append(QByteArray(total - bytes.size(), '\0'));
    return bytes;
}

// The two values the main window's layout resource stores.
const QByteArray StoredIn = FromHex("81000000550002001"
                                    "12B0000B80B000001000000"
                                    "0C00010002000000" "9C0001007105", 133);
const QByteArray StoredOut = FromHex("8100000001000200112B0000225600000200080081" "00", 133);

QString MessageOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const EACMConvertor& error) {
        return error.Message();
    }
    return QStringLiteral("<nothing raised>");
}

} // namespace

TEST(ACMConvertor, StoredFormatsLoadToTheirFieldsAndWriteBackByteForByte)
{
    TACMConvertor acmc;
    ASSERT_TRUE(acmc.setProperty("ACMFormatIn", StoredIn));
    ASSERT_TRUE(acmc.setProperty("ACMFormatOut", StoredOut));
    const TWaveFormatEx& in = acmc.FormatIn.Format;
    EXPECT_EQ(ByValue(in.wFormatTag), 0x55);
    EXPECT_EQ(ByValue(in.nChannels), 2);
    EXPECT_EQ(ByValue(in.nSamplesPerSec), 11025u);
    EXPECT_EQ(ByValue(in.nAvgBytesPerSec), 3000u);
    EXPECT_EQ(ByValue(in.cbSize), 12);
    TMpegLayer3Extra mp3;
    std::memcpy(&mp3, acmc.FormatIn.Extra, sizeof mp3);
    EXPECT_EQ(ByValue(mp3.wID), 1);
    EXPECT_EQ(ByValue(mp3.fdwFlags), 2u);
    EXPECT_EQ(ByValue(mp3.nBlockSize), 156);
    EXPECT_EQ(ByValue(mp3.nFramesPerBlock), 1);
    EXPECT_EQ(ByValue(mp3.nCodecDelay), 1393);
    const TWaveFormatEx& out = acmc.FormatOut.Format;
    EXPECT_EQ(ByValue(out.wFormatTag), 1);
    EXPECT_EQ(ByValue(out.nAvgBytesPerSec), 22050u);
    EXPECT_EQ(ByValue(out.wBitsPerSample), 8);
    EXPECT_EQ(ByValue(out.cbSize), 129); // kept as stored, never "corrected"

    EXPECT_EQ(acmc.property("ACMFormatIn").toByteArray(), StoredIn);
    EXPECT_EQ(acmc.property("ACMFormatOut").toByteArray(), StoredOut);
}

TEST(ACMConvertor, DamagedStoredFormatsNeverReadPastTheRecordOrTheValue)
{
    TACMConvertor acmc;
    const TACMWaveFormat before = acmc.FormatIn;
    ASSERT_EQ(ByValue(before.Format.cbSize), 129); // the default record's odd cbSize is kept
    acmc.LoadFormatIn(QByteArray("\x81", 1));
    EXPECT_EQ(std::memcmp(&before, &acmc.FormatIn, sizeof before), 0);

    // Too long a length: the record is filled, the rest skipped.
    QByteArray tooLong = StoredIn + QByteArray(1000, '\xEE');
    tooLong[0] = char(0xFF);
    tooLong[1] = char(0xFF);
    acmc.LoadFormatIn(tooLong);
    EXPECT_EQ(acmc.StoredFormatIn(), StoredIn);

    // Cut short: only the bytes present are taken.
    acmc.LoadFormatOut(StoredIn.left(4 + 6)); // tag, channels and half the rate
    EXPECT_EQ(ByValue(acmc.FormatOut.Format.wFormatTag), 0x55);
    EXPECT_EQ(acmc.FormatOut.Format.nSamplesPerSec & 0xFFFF, 11025u);
    EXPECT_EQ(ByValue(acmc.FormatOut.Format.nAvgBytesPerSec), 22050u); // untouched default
}

TEST(ACMConvertor, OpenOnceCloseOnceAndSettersFrozenWhileOpen)
{
    TACMConvertor acmc;
    acmc.SetActive(false); // closed: nothing happens, nothing raised
    acmc.SetInputBufferSize(4096);
    EXPECT_EQ(acmc.InputBufferSize(), 4096u);
    ASSERT_TRUE(acmc.setProperty("ACMFormatIn", StoredIn)); // MPEG in, PCM out
    acmc.SetActive(true);
    ASSERT_TRUE(acmc.Active());
    const HACMSTREAM stream = acmc.StreamHandle();
    acmc.SetActive(true);
    EXPECT_EQ(acmc.StreamHandle(), stream);
    EXPECT_GT(acmc.OutputBufferSize(), acmc.InputBufferSize());
    EXPECT_EQ(MessageOf([&] { acmc.SetInputBufferSize(1); }), "You cannot change the buffer size while active.");
    EXPECT_EQ(MessageOf([&] { acmc.SetUseRealTime(true); }), "You cannot change the real time flag while active.");
    EXPECT_EQ(acmc.InputBufferSize(), 4096u);
    EXPECT_FALSE(acmc.UseRealTime());
    acmc.SetActive(false);
    EXPECT_FALSE(acmc.Active());
    EXPECT_EQ(acmc.StreamHandle(), nullptr);
}

TEST(ACMConvertor, ErrorTextsIncludingCodesOnlyTheWaveOutputKnows)
{
    TACMConvertor acmc;
    MMRESULT openResult = 2;
    int closes = 0;
    acmc.Calls.StreamOpen = [&](HACMSTREAM* h, void*, const TACMWaveFormat*, const TACMWaveFormat*, void*,
                                DWORD_PTR, DWORD_PTR, DWORD) {
        *h = reinterpret_cast<HACMSTREAM>(&openResult);
        return openResult;
    };
    acmc.Calls.StreamClose = [&](HACMSTREAM, DWORD) { ++closes; return MMRESULT(0); };
    EXPECT_EQ(MessageOf([&] { acmc.SetActive(true); }), "acmStreamOpen: raised an unknown error (code #2)");
    openResult = 32;
    EXPECT_EQ(MessageOf([&] { acmc.SetActive(true); }), "acmStreamOpen: raised an unknown error (code #32)");
    openResult = 512;
    EXPECT_EQ(MessageOf([&] { acmc.SetActive(true); }),
              "acmStreamOpen: The requested operation cannot be performed.");

    openResult = 0;
    acmc.Calls.StreamSize = [](HACMSTREAM, DWORD in, DWORD* out, DWORD) { *out = in * 8; return MMRESULT(0); };
    acmc.Calls.PrepareHeader = [](HACMSTREAM, ACMSTREAMHEADER*, DWORD) { return MMRESULT(7); };
    EXPECT_EQ(MessageOf([&] { acmc.SetActive(true); }),
              "acmStreamPrepareHeader: The system is unable to allocate resources.");
    EXPECT_FALSE(acmc.Active());
    EXPECT_EQ(closes, 1); // nothing left open behind the failure

    acmc.Calls.PrepareHeader = [](HACMSTREAM, ACMSTREAMHEADER*, DWORD) { return MMRESULT(0); };
    acmc.Calls.UnprepareHeader = [](HACMSTREAM, ACMSTREAMHEADER*, DWORD) { return MMRESULT(514); };
    acmc.SetActive(true);
    EXPECT_EQ(MessageOf([&] { acmc.SetActive(false); }),
              "acmStreamUnPrepareHeader: Cannot perform this action on a header that has not been prepared.");
    EXPECT_TRUE(acmc.Active()); // a failed close leaves it open
    acmc.Calls.UnprepareHeader = [](HACMSTREAM, ACMSTREAMHEADER*, DWORD) { return MMRESULT(0); };
}

TEST(ACMConvertor, LayoutResourceCreatesTheAudioComponentsAndWritesTheFormatsBack)
{
    RegisterAudioClasses();
    const QByteArray text = "object ACMC: TACMConvertor\n"
                            "  InputBufferSize = 2048\n"
                            "  ACMFormatIn = {" + StoredIn.toHex() + "}\n"
                            "  ACMFormatOut = {" + StoredOut.toHex() + "}\n"
                            "end\n";
    std::unique_ptr<QObject> read(FormReader::Read(text, QStringLiteral("audio.form"), QString()));
    auto* acmc = qobject_cast<TACMConvertor*>(read.get());
    ASSERT_NE(acmc, nullptr);
    EXPECT_EQ(ByValue(acmc->FormatIn.Format.wFormatTag), 0x55);

    // What the writer stores reads back to the very same bytes.
    std::unique_ptr<QObject> again(FormReader::Read(FormWriter::Write(*acmc), QStringLiteral("again.form"), QString()));
    auto* copy = qobject_cast<TACMConvertor*>(again.get());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->StoredFormatIn(), StoredIn);
    EXPECT_EQ(copy->StoredFormatOut(), StoredOut);

    std::unique_ptr<QObject> acmo(FormReader::Read("object ACMO: TACMOut\n  NumBuffers = 4\nend\n",
                                                   QStringLiteral("acmo.form"), QString()));
    ASSERT_NE(qobject_cast<TACMOut*>(acmo.get()), nullptr);
    EXPECT_EQ(qobject_cast<TACMOut*>(acmo.get())->NumBuffers(), 4);
}
