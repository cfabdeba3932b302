// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/AlsaRoute.h"

#include <QFile>
#include <cstdlib>

namespace testsupport {

namespace {

QString EventsPath(const QString& capturePath)
{
    return capturePath + QStringLiteral(".events");
}

QByteArray ConfigText(AlsaRoute::Kind kind, const QString& capturePath, qint64 captureLimit)
{
    const QByteArray null = "pcm.null { type null }\n";
    switch (kind) {
    case AlsaRoute::Capture:
        return "pcm.!default {\n"
               "  type file\n"
               "  slave.pcm \"null\"\n"
               "  file \"" + capturePath.toUtf8() + "\"\n"
               "  format \"raw\"\n"
               "}\n" + null;
    case AlsaRoute::NoDevice:
        return "# no playback device at all\n";
    case AlsaRoute::Null:
        return "pcm.!default { type null }\n" + null;
    case AlsaRoute::Card: {
        QByteArray text = "pcm_type.sendolin_realtime { lib \"" SENDOLIN_REALTIME_SINK "\" }\n"
                          "pcm.!default {\n"
                          "  type sendolin_realtime\n"
                          "  capture \"" + capturePath.toUtf8() + "\"\n"
                          "  events \"" + EventsPath(capturePath).toUtf8() + "\"\n";
        if (captureLimit >= 0)
            text += "  capture_limit " + QByteArray::number(captureLimit) + "\n";
        return text + "}\n" + null;
    }
    }
    return {};
}

} // namespace

AlsaRoute::AlsaRoute(Kind kind, qint64 captureLimit)
    : m_previous(qgetenv("ALSA_CONFIG_PATH")), m_hadPrevious(qEnvironmentVariableIsSet("ALSA_CONFIG_PATH"))
{
    QFile config(ConfigPath());
    if (!config.open(QIODevice::WriteOnly) || config.write(ConfigText(kind, CapturePath(), captureLimit)) < 0)
        qFatal("cannot write the test ALSA configuration %s", qPrintable(ConfigPath()));
    config.close();
    qputenv("ALSA_CONFIG_PATH", ConfigPath().toUtf8());
}

AlsaRoute::~AlsaRoute()
{
    if (m_hadPrevious)
        qputenv("ALSA_CONFIG_PATH", m_previous);
    else
        qunsetenv("ALSA_CONFIG_PATH");
}

QString AlsaRoute::ConfigPath() const
{
    return m_dir.filePath(QStringLiteral("asound.conf"));
}

QString AlsaRoute::CapturePath() const
{
    return m_dir.filePath(QStringLiteral("capture.raw"));
}

QByteArray AlsaRoute::Captured() const
{
    QFile file(CapturePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::vector<AlsaRoute::Event> AlsaRoute::Events() const
{
    std::vector<Event> events;
    QFile file(EventsPath(CapturePath()));
    if (!file.open(QIODevice::ReadOnly))
        return events;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 3)
            continue;
        const auto at = std::chrono::steady_clock::time_point(std::chrono::nanoseconds(fields[1].toLongLong()));
        events.push_back({fields[0] == "start" ? Event::Start : Event::Underrun, at, fields[2].toULongLong()});
    }
    return events;
}

} // namespace testsupport
