// SPDX-License-Identifier: GPL-3.0-or-later
#include "StationProcess.h"

#include <QDeadlineTimer>
#include <QFile>

namespace testsupport {

namespace {

quint16 PortOf(const QString& line, const QString& prefix)
{
    if (!line.startsWith(prefix))
        return 0;
    return line.section(':', -1).trimmed().toUShort();
}

} // namespace

StationProcess::StationProcess(QStringList arguments, int streams)
    : arguments_(std::move(arguments))
    , streams_(streams)
{
    if (!arguments_.contains("--listen") && !arguments_.contains("--stations"))
        arguments_ << "--listen" << "127.0.0.1:0";
    process_.setStandardErrorFile(logDir_.filePath("station.log"));
}

StationProcess::~StationProcess()
{
    if (process_.state() != QProcess::NotRunning)
        Stop();
}

QString StationProcess::BinaryPath()
{
    return QStringLiteral(SENDOLIN_STATION_BINARY);
}

bool StationProcess::Start(int timeoutMs)
{
    process_.start(BinaryPath(), arguments_);
    if (!process_.waitForStarted(timeoutMs))
        return false;
    const bool wantDirectory = arguments_.contains("--directory");
    QDeadlineTimer deadline(timeoutMs);
    while (streamPorts_.size() < streams_ || (wantDirectory && directoryPort_ == 0)) {
        if (deadline.hasExpired() || process_.state() != QProcess::Running)
            return false;
        process_.waitForReadyRead(100);
        ReadLines();
    }
    return true;
}

void StationProcess::ReadLines()
{
    while (process_.canReadLine()) {
        const QString line = QString::fromUtf8(process_.readLine());
        stdout_ += line;
        if (const quint16 p = PortOf(line, "stream "))
            streamPorts_.append(p);
        if (const quint16 p = PortOf(line, "directory "))
            directoryPort_ = p;
    }
}

int StationProcess::Stop(int timeoutMs)
{
    if (process_.state() == QProcess::Running) {
        process_.terminate(); // SIGTERM
        if (!process_.waitForFinished(timeoutMs)) {
            process_.kill();
            process_.waitForFinished(timeoutMs);
            return -1;
        }
    }
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

QString StationProcess::Log() const
{
    QFile file(logDir_.filePath("station.log"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

} // namespace testsupport
