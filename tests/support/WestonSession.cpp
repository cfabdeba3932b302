// SPDX-License-Identifier: GPL-3.0-or-later
// Runs on the test's thread; the compositor is a child process that ends
// with the session. A screenshot is weston-screenshooter's file, written
// into a folder of its own and read back at once.
#include "tests/support/WestonSession.h"

#include "tests/support/EventLoop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>

namespace testsupport {

WestonSession::~WestonSession()
{
    if (m_weston.state() == QProcess::NotRunning)
        return;
    m_weston.terminate();
    if (!m_weston.waitForFinished(5000)) {
        m_weston.kill();
        m_weston.waitForFinished(5000);
    }
}

bool WestonSession::Start(int timeoutMs)
{
    if (!m_runtime.isValid())
        return false;
    QFile::setPermissions(m_runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    m_weston.setProcessEnvironment(env);
    m_weston.setProcessChannelMode(QProcess::MergedChannels);
    m_weston.setStandardOutputFile(QDir(m_runtime.path()).filePath(QStringLiteral("weston.log")));
    // --debug offers the screenshot protocol; the idle time 0 keeps the
    // screen from blanking half-way through a test.
    m_weston.start(QStringLiteral("weston"),
                   {QStringLiteral("--backend=headless-backend.so"), QStringLiteral("--use-pixman"),
                    QStringLiteral("--width=1024"), QStringLiteral("--height=768"),
                    QStringLiteral("--shell=desktop-shell.so"), QStringLiteral("--socket=") + Socket(),
                    QStringLiteral("--no-config"), QStringLiteral("--idle-time=0"), QStringLiteral("--debug")});
    if (!m_weston.waitForStarted(10000))
        return false;
    const QString socket = QDir(m_runtime.path()).filePath(Socket());
    const bool answers = WaitUntil([&] {
        if (m_weston.state() != QProcess::Running)
            return true;
        QLocalSocket probe;
        probe.connectToServer(socket);
        return probe.waitForConnected(100);
    }, timeoutMs);
    // The first screenshot that comes back is taken once the shell has
    // drawn the desktop: before that the output has nothing to show.
    return answers && m_weston.state() == QProcess::Running
        && WaitUntil([&] { return !Screenshot().isNull(); }, timeoutMs);
}

QString WestonSession::Log() const
{
    QFile log(QDir(m_runtime.path()).filePath(QStringLiteral("weston.log")));
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

QProcessEnvironment WestonSession::Environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), Socket());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    env.remove(QStringLiteral("DISPLAY"));
    return env;
}

void WestonSession::Export() const
{
    qputenv("XDG_RUNTIME_DIR", m_runtime.path().toLocal8Bit());
    qputenv("WAYLAND_DISPLAY", Socket().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "wayland");
    qunsetenv("DISPLAY");
}

QImage WestonSession::Screenshot() const
{
    QTemporaryDir shots;
    QProcess shooter;
    shooter.setProcessEnvironment(Environment());
    shooter.setWorkingDirectory(shots.path());
    shooter.start(QStringLiteral("weston-screenshooter"), QStringList());
    if (!shooter.waitForFinished(15000) || shooter.exitCode() != 0)
        return {};
    const QStringList files = QDir(shots.path()).entryList({QStringLiteral("*.png")}, QDir::Files);
    if (files.size() != 1)
        return {};
    return QImage(QDir(shots.path()).filePath(files.first())).convertToFormat(QImage::Format_RGB32);
}

} // namespace testsupport
