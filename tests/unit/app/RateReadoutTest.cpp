// SPDX-License-Identifier: GPL-3.0-or-later
// The stream channel's transfer counter and its once-a-second readout.
#include "app/Demo2Client.h"
#include "platform/toolkit/TLabel.h"
#include "platform/toolkit/TTimer.h"
#include "tests/support/MainWindowHarness.h"

#include <QLocale>
#include <gtest/gtest.h>
#include <limits>

using testsupport::MainWindowHarness;

namespace {

QString Readout(const char* number)
{
    return QStringLiteral("Received %1 KB/s").arg(QString::fromLatin1(number).replace('.', QLocale().decimalPoint()));
}

} // namespace

TEST(RateReadout, CountsExactlyAndReadsZeroAfterEachReadout)
{
    MainWindowHarness h;
    TfmMain& form = h.Create();
    form.CountReceived(1000);
    form.CountReceived(24);
    form.CountReceived(-1); // a failed query of the waiting bytes counts nothing
    EXPECT_EQ(form.BytesSinceReadout(), 1024);
    form.KBPSTimerTimer(form.KBPSTimer);
    EXPECT_EQ(form.lblstatus->Caption(), Readout("1.00"));
    form.KBPSTimerTimer(form.KBPSTimer);
    EXPECT_EQ(form.lblstatus->Caption(), Readout("0.00"));
}

TEST(RateReadout, MoreThanTwoGibibytesInOneSecondNeverWrapsTheReadoutNegative)
{
    MainWindowHarness h;
    TfmMain& form = h.Create();
    constexpr int Gib = 1 << 30;
    for (int read = 0; read < 5; ++read) // 5 GiB within one readout interval
        form.CountReceived(Gib);
    form.CountReceived(std::numeric_limits<int>::max());
    EXPECT_EQ(form.BytesSinceReadout(), std::numeric_limits<std::int32_t>::max());
    form.KBPSTimerTimer(form.KBPSTimer);
    EXPECT_EQ(form.lblstatus->Caption(), Readout("2097152.00")) << "the count stops at its largest value";
    EXPECT_EQ(form.BytesSinceReadout(), 0);
    form.CountReceived(2048);
    form.KBPSTimerTimer(form.KBPSTimer);
    EXPECT_EQ(form.lblstatus->Caption(), Readout("2.00")) << "the next second counts afresh";
}
