// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's stream channel against the real sendolin-station.
#include "app/Demo2Client.h"

#include "StationProcess.h"
#include "platform/toolkit/TComboBox.h"
#include "platform/toolkit/TImage.h"
#include "platform/toolkit/TLabel.h"
#include "platform/toolkit/TTimer.h"
#include "tests/support/EventLoop.h"
#include "tests/support/MainWindowHarness.h"
#include "tests/support/PackedField.h"

#include <QTest>
#include <gtest/gtest.h>

using testsupport::ByValue;
using testsupport::MainWindowHarness;
using testsupport::StationProcess;
using testsupport::WaitUntil;

TEST(StreamChannelStation, PlayReceivesStationHeaderAndCountsAudioUntilStop)
{
    StationProcess station({"--name", "Sendolin Testwelle"});
    ASSERT_TRUE(station.Start());
    MainWindowHarness h;
    TfmMain& form = h.Create();
    form.show();
    ASSERT_TRUE(WaitUntil([&] { return h.QueriesDone(1); })) << "the first directory query did not end";
    h.inputAnswers.push_back({true, QStringLiteral("localhost:%1").arg(station.StreamPort())});
    form.Image2DblClick(form.Image2);
    form.Adressliste->setCurrentIndex(0);

    QTest::mouseClick(form.btnconnect, Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_TRUE(WaitUntil([&] { return form.StreamHeader().StationName[0] != 0; }, 10000))
        << form.lblstatus->Caption().toStdString();
    const TStreamHeader& header = form.StreamHeader();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(header.StationName + 1), header.StationName[0]),
              "Sendolin Testwelle");
    EXPECT_EQ(ByValue(header.FormatIn.Format.wFormatTag), 0x0055);
    form.KBPSTimer->SetEnabled(false);
    EXPECT_TRUE(WaitUntil([&] { return form.BytesSinceReadout() > 0; }, 10000)) << "no audio after the header";

    QTest::mouseClick(form.btndisconnect, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(form.lblstatus->Caption(), "Disconnected");
    EXPECT_TRUE(form.btnconnect->isEnabled());
    EXPECT_FALSE(form.CSocket->Active());
}
