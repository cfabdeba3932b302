// SPDX-License-Identifier: GPL-3.0-or-later
// A real icecast2 on 127.0.0.1 for tests, on a free port with its config and
// logs in a temporary folder, and ffmpeg processes feeding its mounts in real
// time. icecast2 refuses to run as root, so as root the config tells it to
// drop to nobody once its socket is bound. A server may instead be a relay
// of another's mount, pulling it as icecast's own relays do. Everything runs
// as child processes; Stop() and the destructor end them. Used from the
// test's thread only.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace testsupport {

class IcecastServer {
public:
    IcecastServer();
    ~IcecastServer();
    IcecastServer(const IcecastServer&) = delete;
    IcecastServer& operator=(const IcecastServer&) = delete;

    // Before Start(): this server relays `mount` of the server on
    // `masterPort` under the same name, all the time (not on demand).
    void RelayOf(quint16 masterPort, const QString& mount);
    // False when icecast2 did not come up; Log() then says why. After a
    // Stop() it comes up again on the same port.
    bool Start(int timeoutMs = 10000);
    // Ends the feeders and icecast2, as a crash or an operator would.
    void Stop();
    // True once `mount` is served with 200 within `timeoutMs` (0: asks once).
    bool WaitForMount(const QString& mount, int timeoutMs = 10000) const;
    quint16 Port() const { return port_; }
    // http://127.0.0.1:PORT/mount, as a listener opens it.
    QString ListenUrl(const QString& mount) const;
    // Feeds `file` (looped, in real time) to `mount` through ffmpeg with
    // `codecArguments` (by default the file's frames as they are), and waits
    // until icecast serves the mount.
    bool Feed(const QString& mount, const QString& file,
              const QStringList& codecArguments = {"-c:a", "copy"}, int timeoutMs = 10000);
    // Sets the mount's ICY title through icecast's admin interface.
    bool SetTitle(const QString& mount, const QString& title);
    QString Log() const;

private:
    // The status line of one GET of `path` on the server ("" when it does not answer).
    QString StatusOf(const QString& pathAndQuery, bool asAdmin) const;

    QTemporaryDir dir_;
    QProcess icecast_;
    std::vector<std::unique_ptr<QProcess>> feeders_;
    quint16 port_ = 0;
    QString relay_; // the <relay> block of the config, if any
};

} // namespace testsupport
