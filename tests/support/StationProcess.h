// SPDX-License-Identifier: GPL-3.0-or-later
// Runs sendolin-station as a child process for a test. The station is started
// on 127.0.0.1 with port 0 unless the arguments say otherwise (or name a
// stations file); Start() waits for its `streams` "stream HOST:PORT" lines
// (and, with --directory, "directory HOST:PORT"). Its log (stderr) goes to a temporary file that Log() reads back.
// The destructor stops the station with SIGTERM.
#pragma once

#include <QProcess>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace testsupport {

class StationProcess {
public:
    explicit StationProcess(QStringList arguments = {}, int streams = 1);
    ~StationProcess();
    StationProcess(const StationProcess&) = delete;
    StationProcess& operator=(const StationProcess&) = delete;

    // False when the station exited or did not report its ports in time.
    bool Start(int timeoutMs = 15000);
    // SIGTERM, then waits; the exit code, or -1 when it did not exit normally.
    int Stop(int timeoutMs = 5000);

    quint16 StreamPort() const { return streamPorts_.empty() ? 0 : streamPorts_.front(); }
    // Every station's, in the order the station printed them.
    const QList<quint16>& StreamPorts() const { return streamPorts_; }
    quint16 DirectoryPort() const { return directoryPort_; }
    QString Log() const;
    QString Stdout() const { return stdout_; }
    qint64 ProcessId() const { return process_.processId(); }

    static QString BinaryPath();

private:
    void ReadLines();

    QStringList arguments_;
    QProcess process_;
    QTemporaryDir logDir_;
    QString stdout_;
    const int streams_;
    QList<quint16> streamPorts_;
    quint16 directoryPort_ = 0;
};

} // namespace testsupport
