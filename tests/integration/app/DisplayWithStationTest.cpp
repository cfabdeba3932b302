// SPDX-License-Identifier: GPL-3.0-or-later
// The display panel against a real sendolin-station: the station name and the
// info text arrive over their channels and scroll, and the counter runs while
// the stream is connected and keeps its value after Stop.
#include "app/Demo2Client.h"
#include "platform/toolkit/TComboBox.h"
#include "platform/toolkit/TImage.h"
#include "platform/toolkit/TLabel.h"
#include "platform/toolkit/TTimer.h"
#include "tests/support/EventLoop.h"
#include "tests/support/MainWindowHarness.h"
#include "tests/support/StationProcess.h"

#include <gtest/gtest.h>

using testsupport::MainWindowHarness;
using testsupport::StationProcess;
using testsupport::WaitUntil;

TEST(DisplayWithStation, NameAndInfoScrollCounterRunsWhileConnectedAndKeepsItsValueAfterStop)
{
    const QString name = QStringLiteral("Mein Sender € 1");
    const QString info = QStringLiteral("Guten Abend „Welt“ …");
    StationProcess station({"--name", name, "--info", info, "--source", "tone"});
    ASSERT_TRUE(station.Start()) << station.Log().toStdString();

    MainWindowHarness h;
    TfmMain& form = h.Create();
    form.show();
    ASSERT_TRUE(WaitUntil([&] { return h.QueriesDone(1); })) << "the first directory query did not end";
    h.inputAnswers.push_back({true, QStringLiteral("127.0.0.1:%1").arg(station.StreamPort())});
    form.Label3DblClick(form.Label3);
    form.Image2DblClick(form.Image2);
    form.Adressliste->setCurrentIndex(form.Adressliste->Count() - 1);
    form.btnConnectClick(form.btnconnect);

    ASSERT_TRUE(WaitUntil([&] { return form.Radioname->OriginalCaption() == name; }, 10000))
        << form.Radioname->OriginalCaption().toStdString() << "\n" << station.Log().toStdString();
    ASSERT_TRUE(WaitUntil([&] { return form.Info->OriginalCaption() == info; }, 10000))
        << form.Info->OriginalCaption().toStdString();

    // Both lines move under the window's scroll timer.
    const QString nameShown = form.Radioname->Caption();
    const QString infoShown = form.Info->Caption();
    EXPECT_TRUE(WaitUntil([&] {
        return form.Radioname->Caption() != nameShown && form.Info->Caption() != infoShown;
    })) << "the display does not scroll";

    // Fixed-width captions compare like the times they show.
    EXPECT_TRUE(WaitUntil([&] { return form.Zeit->Caption() >= "00:00:02"; }, 8000))
        << "the counter does not run while connected: " << form.Zeit->Caption().toStdString();

    form.btnDisconnectClick(form.btndisconnect);
    EXPECT_EQ(form.lblstatus->Caption(), "Disconnected");
    EXPECT_FALSE(form.Zeit->StepTimer().Enabled());
    const QString stoppedAt = form.Zeit->Caption();
    EXPECT_GE(stoppedAt, "00:00:02") << "Stop lost the elapsed time";
    testsupport::Pump(1200);
    EXPECT_EQ(form.Zeit->Caption(), stoppedAt) << "the counter kept counting after Stop";
    EXPECT_EQ(form.Info->OriginalCaption(), info) << "Stop cleared the last info text";
    EXPECT_TRUE(h.errors.empty());
}
