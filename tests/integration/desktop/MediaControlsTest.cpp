// SPDX-License-Identifier: GPL-3.0-or-later
// The window's media controls as a desktop sees them: playerctl and
// dbus-send on the session's private bus drive the window in this process,
// playing a real sendolin-station, and a listener of the test's own on the
// bus records every PropertiesChanged the player sends.
#include "app/Demo2Client.h"
#include "net/WSocket.h"
#include "platform/mpris/MprisService.h"
#include "platform/toolkit/TComboBox.h"
#include "platform/toolkit/TImage.h"
#include "platform/toolkit/TLabel.h"
#include "platform/core/TextCodec.h"
#include "tests/integration/desktop/BusClient.h"
#include "tests/support/EventLoop.h"
#include "tests/support/MainWindowHarness.h"
#include "tests/support/StationProcess.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QObject>
#include <gtest/gtest.h>
#include <functional>

using testsupport::Playerctl;
using testsupport::WaitUntil;

namespace {

const QString kStation = QStringLiteral("Radio Süd");
const QString kFirstText = QStringLiteral("Erste Nachricht");
const QString kSecondText = QStringLiteral("Zweite Nachricht");

// Every PropertiesChanged of the player's Player interface, in order.
class ChangeRecorder : public QObject {
    Q_OBJECT

public:
    bool Listen()
    {
        return QDBusConnection::sessionBus().connect(
            platform::MprisService::ServiceName(), platform::MprisService::ObjectPath(),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"), this,
            SLOT(Changed(QString, QVariantMap, QStringList)));
    }

    QStringList statuses;
    QStringList metadata; // "title|artist" of each Metadata sent

public Q_SLOTS:
    void Changed(const QString& interface, const QVariantMap& changed, const QStringList&)
    {
        if (interface != u"org.mpris.MediaPlayer2.Player")
            return;
        if (changed.contains(QStringLiteral("PlaybackStatus")))
            statuses << changed.value(QStringLiteral("PlaybackStatus")).toString();
        if (changed.contains(QStringLiteral("Metadata"))) {
            const auto map = qdbus_cast<QVariantMap>(changed.value(QStringLiteral("Metadata")));
            metadata << map.value(QStringLiteral("xesam:title")).toString() + u'|'
                            + qdbus_cast<QStringList>(map.value(QStringLiteral("xesam:artist"))).join(u',');
        }
    }
};

class MediaControls : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(station.Start()) << station.Log().toStdString();
        ASSERT_TRUE(media.OwnsName()) << "the player did not get its name on the session bus";
        ASSERT_TRUE(recorder.Listen());
        h.directory.body = QByteArray::fromStdString(
            platform::ToWin1252(QStringLiteral("127.0.0.1:%1,%2\r\n").arg(station.StreamPort()).arg(kStation)));
        form = &h.Create();
        form->AttachMediaControls(media);
        form->show();
    }

    // Every directory answer empties the selection: waits for the queries
    // made so far to end, then picks the station again.
    void SelectStation()
    {
        ASSERT_TRUE(WaitUntil([&] {
            return h.directory.requests.size() >= queries && form->HTTPWSocket->State() == net::TCustomWSocket::wsClosed
                && form->Adressliste->Count() == 1;
        }, 10000)) << "the directory query did not end";
        form->Adressliste->setCurrentIndex(0);
    }

    bool StatusBecomes(const QString& status)
    {
        return WaitUntil([&] { return Playerctl({QStringLiteral("status")}) == status; }, 15000);
    }

    QString NowPlaying() { return Playerctl({QStringLiteral("metadata"), QStringLiteral("--format"), QStringLiteral("{{title}}|{{artist}}")}); }

    testsupport::StationProcess station{{"--name", kStation, "--info", kFirstText, "--info", kSecondText,
                                         "--info-interval", "1", "--source", "tone"}};
    platform::MprisService media; // outlives the window, as in the program
    testsupport::MainWindowHarness h;
    ChangeRecorder recorder;
    TfmMain* form = nullptr;
    qsizetype queries = 1; // the one the first showing makes; one more per disconnect
};

} // namespace

TEST_F(MediaControls, PlayAndEveryStopRequestWorkTheControlsAndEachStatusChangeIsSignalledOnce)
{
    // Nothing selected: Play says so as the control does, and nothing plays.
    ASSERT_TRUE(WaitUntil([&] { return h.QueriesDone(1); }));
    EXPECT_EQ(Playerctl({QStringLiteral("play")}), QString());
    ASSERT_TRUE(WaitUntil([&] { return !h.messages.empty(); })) << "Play with no station showed no box";
    EXPECT_EQ(h.messages.front().text, QStringLiteral("Wählen Sie einen Radiosender aus der Liste"));
    EXPECT_EQ(Playerctl({QStringLiteral("status")}), QStringLiteral("Stopped"));

    // A live stream cannot pause: each of these ends it. PlayPause starts it
    // too. playerctl sends no Pause to a player that cannot pause; a desktop
    // may, so that one goes out as a bare call.
    const auto playerctl = [](const char* command) { return [command] { Playerctl({QLatin1String(command)}); }; };
    struct Case {
        const char* what;
        std::function<void()> start;
        std::function<void()> stop;
    };
    const Case cases[] = {
        {"play, stop", playerctl("play"), playerctl("stop")},
        {"play, Pause", playerctl("play"),
         [] { testsupport::CallPlayer(QStringLiteral("org.mpris.MediaPlayer2.Player.Pause")); }},
        {"play-pause twice", playerctl("play-pause"), playerctl("play-pause")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SelectStation();
        c.start();
        ASSERT_TRUE(StatusBecomes(QStringLiteral("Playing"))) << form->lblstatus->Caption().toStdString();
        EXPECT_FALSE(form->btnconnect->isEnabled());
        EXPECT_TRUE(form->btndisconnect->isEnabled());
        EXPECT_TRUE(TfmMain::LatchOn(form->btnconnect)) << "Play's face is not the one a click leaves";
        c.stop();
        ASSERT_TRUE(StatusBecomes(QStringLiteral("Stopped")));
        EXPECT_EQ(form->lblstatus->Caption(), QStringLiteral("Disconnected"));
        EXPECT_TRUE(form->btnconnect->isEnabled());
        EXPECT_FALSE(form->btndisconnect->isEnabled());
        ++queries;
    }

    // A station that goes away stops the player as well.
    SelectStation();
    Playerctl({QStringLiteral("play")});
    ASSERT_TRUE(StatusBecomes(QStringLiteral("Playing")));
    station.Stop();
    EXPECT_TRUE(StatusBecomes(QStringLiteral("Stopped"))) << "a dropped station still plays";

    // The signals come back through the bus daemon, which a loaded machine
    // may hold up well past the property reads: all eight first, then a
    // while for any that came twice.
    WaitUntil([&] { return recorder.statuses.size() >= 8; }, 15000);
    testsupport::Pump(200);
    EXPECT_EQ(recorder.statuses, QStringList({"Playing", "Stopped", "Playing", "Stopped", "Playing", "Stopped",
                                              "Playing", "Stopped"}));
    EXPECT_EQ(h.messages.size(), 1u);
    EXPECT_TRUE(h.errors.empty());
}

TEST_F(MediaControls, MetadataFollowsTheInfoTextAndTheStationOnceForEachChange)
{
    SelectStation();
    Playerctl({QStringLiteral("play")});
    const QString first = kFirstText + u'|' + kStation;
    const QString second = kSecondText + u'|' + kStation;
    ASSERT_TRUE(WaitUntil([&] { return NowPlaying() == first; }, 15000)) << NowPlaying().toStdString();
    ASSERT_TRUE(WaitUntil([&] { return NowPlaying() == second; }, 15000)) << NowPlaying().toStdString();
    const QString trackid = Playerctl({QStringLiteral("metadata"), QStringLiteral("mpris:trackid")});
    EXPECT_TRUE(trackid.contains(u'/') && !trackid.contains(u"NoTrack")) << trackid.toStdString();

    WaitUntil([&] { return recorder.metadata.contains(second); }, 15000);
    testsupport::Pump(200);
    ASSERT_FALSE(recorder.metadata.isEmpty());
    EXPECT_EQ(recorder.metadata.last(), second) << "the last change was not signalled";
    EXPECT_TRUE(recorder.metadata.contains(first));
    for (qsizetype i = 1; i < recorder.metadata.size(); ++i)
        EXPECT_NE(recorder.metadata[i], recorder.metadata[i - 1]) << "signalled twice: " << i;
}

TEST_F(MediaControls, RaiseBringsTheHiddenWindowBackAsItsIconDoes)
{
    ASSERT_TRUE(WaitUntil([&] { return h.QueriesDone(1); }));
    form->hide();
    EXPECT_EQ(testsupport::CallPlayer(QStringLiteral("org.mpris.MediaPlayer2.Raise")).left(13),
              QStringLiteral("method return"));
    EXPECT_TRUE(WaitUntil([&] { return form->isVisible() && !form->isMinimized(); })) << "Raise left it hidden";
    EXPECT_TRUE(WaitUntil([&] { return h.directory.requests.size() == 2; }))
        << "coming back did not run the window's show steps";
}

#include "MediaControlsTest.moc"
