#include "tests/support/PacedAlsaRoute.h"

#include <QFile>

namespace testsupport {

PacedAlsaRoute::PacedAlsaRoute(qint64 captureLimit)
    : m_previous(qgetenv("ALSA_CONFIG_PATH")), m_hadPrevious(qEnvironmentVariableIsSet("ALSA_CONFIG_PATH"))
{
    QByteArray text = "pcm_type.sendolin_realtime { lib \"" SENDOLIN_REALTIME_SINK "\" }\n"
                      "pcm.!default {\n  type sendolin_realtime\n  capture \""
                      + QFile::encodeName(CapturePath()) + "\"\n";
    if (captureLimit >= 0)
        text += "  capture_limit " + QByteArray::number(captureLimit) + "\n";
    text += "}\npcm.null { type null }\n";
    QFile config(m_dir.filePath(QStringLiteral("asound.conf")));
    if (!config.open(QIODevice::WriteOnly) || config.write(text) < 0)
        qFatal("cannot write the paced ALSA configuration");
    config.close();
    qputenv("ALSA_CONFIG_PATH", QFile::encodeName(config.fileName()));
}

PacedAlsaRoute::~PacedAlsaRoute()
{
    if (m_hadPrevious)
        qputenv("ALSA_CONFIG_PATH", m_previous);
    else
        qunsetenv("ALSA_CONFIG_PATH");
}

QString PacedAlsaRoute::CapturePath() const
{
    return m_dir.filePath(QStringLiteral("speaker.raw"));
}

QByteArray PacedAlsaRoute::Captured() const
{
    QFile file(CapturePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace testsupport
