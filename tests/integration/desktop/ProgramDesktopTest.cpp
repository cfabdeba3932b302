// SPDX-License-Identifier: GPL-3.0-or-later
// The real program on a desktop: its player name on the session bus outlives
// no instance (a killed one leaves none that blocks the next), Quit ends it,
// it starts without a bus, and its window reads back from the X server with
// its name, icon and class. Each run is a copy of the program in a folder of
// its own, whose Server.ini names a directory stub of the test.
#include "platform/mpris/MprisService.h"
#include "tests/integration/desktop/BusClient.h"
#include "tests/support/DirectoryStub.h"
#include "tests/support/EventLoop.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>
#include <csignal>
#include <memory>

using testsupport::RunBusClient;
using testsupport::WaitUntil;

namespace {

class Program : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        program = QDir(home.path()).filePath(QStringLiteral("SendolinClient"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(SENDOLIN_CLIENT), program));
        QFile ini(QDir(home.path()).filePath(QStringLiteral("Server.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write((directory.BaseUrl() + u'\n').toUtf8());
        environment.insert(QStringLiteral("SENDOLIN_DIALOG_TRANSCRIPT"),
                           QDir(home.path()).filePath(QStringLiteral("dialogs.txt")));
    }

    std::unique_ptr<QProcess> Start()
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(environment);
        process->start(program, {});
        EXPECT_TRUE(process->waitForStarted(10000));
        return process;
    }

    static qint64 NameOwner()
    {
        const auto pid = QDBusConnection::sessionBus().interface()->servicePid(platform::MprisService::ServiceName());
        return pid.isValid() ? qint64(pid.value()) : 0;
    }

    // The program's one shown window, or an empty text.
    static QString ShownWindow(const QProcess& process)
    {
        QString window;
        WaitUntil([&] {
            window = RunBusClient(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                               QStringLiteral("--pid"),
                                                               QString::number(process.processId())});
            return !window.isEmpty() && !window.contains(u'\n');
        }, 20000);
        return window;
    }

    static bool Ends(QProcess& process)
    {
        return WaitUntil([&] { return process.state() == QProcess::NotRunning; }, 20000);
    }

    QTemporaryDir home;
    QString program;
    testsupport::DirectoryStub directory;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
};

} // namespace

TEST_F(Program, AKilledInstanceLeavesNoNameThatBlocksTheNextAndQuitEndsIt)
{
    auto first = Start();
    ASSERT_TRUE(WaitUntil([&] { return NameOwner() == first->processId(); }, 20000))
        << "the first instance never took the player's name";
    ::kill(pid_t(first->processId()), SIGKILL);
    ASSERT_TRUE(Ends(*first));

    auto next = Start();
    ASSERT_TRUE(WaitUntil([&] { return NameOwner() == next->processId(); }, 20000))
        << "the next instance did not get the name; owner " << NameOwner() << '\n'
        << next->readAllStandardError().toStdString();
    const QUrl art(testsupport::Playerctl({QStringLiteral("metadata"), QStringLiteral("mpris:artUrl")}));
    EXPECT_TRUE(art.isLocalFile() && QFileInfo(art.toLocalFile()).isFile()) << art.toString().toStdString();

    EXPECT_TRUE(testsupport::CallPlayer(QStringLiteral("org.mpris.MediaPlayer2.Quit")).startsWith(u"method return"));
    ASSERT_TRUE(Ends(*next)) << "Quit did not end the program";
    EXPECT_EQ(next->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(next->exitCode(), 0);
}

TEST_F(Program, WindowIsNamedAsItsTitleStripWithTheApplicationIconAndTheDesktopEntrysClass)
{
    auto client = Start();
    const QString window = ShownWindow(*client);
    ASSERT_FALSE(window.isEmpty()) << "no single shown window";
    const QString props = RunBusClient(QStringLiteral("xprop"), {QStringLiteral("-id"), window, QStringLiteral("WM_CLASS"),
                                                                  QStringLiteral("_NET_WM_NAME"),
                                                                  QStringLiteral("_NET_WM_ICON")});
    // The instance part is the name the program was started by.
    EXPECT_TRUE(props.contains(QStringLiteral("WM_CLASS(STRING) = \"SendolinClient\", \"sendolin-client\"")))
        << props.left(300).toStdString();
    EXPECT_TRUE(props.contains(QStringLiteral("_NET_WM_NAME(UTF8_STRING) = \"Sendolin\""))) << props.left(300).toStdString();
    const QRegularExpression picture(QStringLiteral("Icon \\((\\d+) x (\\d+)\\)"));
    int pictures = 0;
    for (auto match = picture.globalMatch(props); match.hasNext(); ++pictures) {
        const auto m = match.next();
        EXPECT_EQ(m.captured(1), m.captured(2));
        EXPECT_TRUE(QFile::exists(QStringLiteral(SENDOLIN_ICON_DIR "/%1x%1/apps/sendolin.png").arg(m.captured(1))))
            << "a picture of no artwork size: " << m.captured(0).toStdString();
    }
    EXPECT_GT(pictures, 0) << "the window has no icon";
    client->terminate();
    EXPECT_TRUE(Ends(*client));
}

TEST_F(Program, RunsWithoutASessionBusAndSaysSoOnce)
{
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       QStringLiteral("unix:path=") + QDir(home.path()).filePath(QStringLiteral("no-bus")));
    auto client = Start();
    EXPECT_FALSE(ShownWindow(*client).isEmpty()) << "no window without a bus";
    client->terminate();
    ASSERT_TRUE(Ends(*client));
    const QString log = QString::fromUtf8(client->readAllStandardError());
    EXPECT_EQ(log.count(QStringLiteral("no session bus")), 1) << log.toStdString();
}
