// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop's side of the media controls for tests: playerctl and
// dbus-send run as child processes on the session's bus. Each runs to its
// end while this process's event loop goes on, so a player living in the
// test process can answer it. GUI thread.
#pragma once

#include "platform/mpris/MprisService.h"
#include "tests/support/EventLoop.h"

#include <QProcess>
#include <QString>
#include <QStringList>

namespace testsupport {

// The client's standard output, trimmed; a text in angle brackets when it
// did not start or did not end.
inline QString RunBusClient(const QString& program, const QStringList& arguments)
{
    QProcess client;
    client.start(program, arguments);
    if (!client.waitForStarted(10000))
        return QStringLiteral("<%1 did not start>").arg(program);
    if (!WaitUntil([&] { return client.state() == QProcess::NotRunning; }, 30000)) {
        client.kill();
        client.waitForFinished(5000);
        return QStringLiteral("<%1 did not end>").arg(program);
    }
    return QString::fromUtf8(client.readAllStandardOutput()).trimmed();
}

// playerctl on the player: "status", "play", {"metadata", "--format", …}.
inline QString Playerctl(const QStringList& arguments)
{
    return RunBusClient(QStringLiteral("playerctl"), QStringList{QStringLiteral("--player=sendolin")} + arguments);
}

// A method of the player object that playerctl has no command for (Raise, Quit).
inline QString CallPlayer(const QString& interfaceAndMethod)
{
    return RunBusClient(QStringLiteral("dbus-send"),
                        {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                         QStringLiteral("--dest=") + platform::MprisService::ServiceName(),
                         platform::MprisService::ObjectPath(), interfaceAndMethod});
}

} // namespace testsupport
