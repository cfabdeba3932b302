#include "tests/support/PacedAlsaRoute.h"

#include <QFile>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

PacedAlsaRoute::PacedAlsaRoute(unsigned bytesPerSecond)
    : m_previous(qgetenv("ALSA_CONFIG_PATH")), m_hadPrevious(qEnvironmentVariableIsSet("ALSA_CONFIG_PATH")),
      m_rate(bytesPerSecond)
{
    const QByteArray fifo = QFile::encodeName(m_dir.filePath(QStringLiteral("speaker.fifo")));
    if (mkfifo(fifo.constData(), 0600) != 0)
        qFatal("cannot create %s", fifo.constData());
    // Opened before ALSA opens it for writing, so that open never blocks; the
    // small pipe keeps what is "played" close to what has been drained.
    m_fd = open(fifo.constData(), O_RDONLY | O_NONBLOCK);
    if (m_fd < 0)
        qFatal("cannot open %s", fifo.constData());
    fcntl(m_fd, F_SETPIPE_SZ, 4096);
    QFile config(m_dir.filePath(QStringLiteral("asound.conf")));
    if (!config.open(QIODevice::WriteOnly))
        qFatal("cannot write the paced ALSA configuration");
    config.write("pcm.!default {\n  type file\n  slave.pcm \"null\"\n  file \"" + fifo
                 + "\"\n  format \"raw\"\n}\npcm.null { type null }\n");
    config.close();
    qputenv("ALSA_CONFIG_PATH", QFile::encodeName(config.fileName()));
    m_thread = std::thread([this] { Drain(); });
}

PacedAlsaRoute::~PacedAlsaRoute()
{
    m_stop = true;
    m_thread.join();
    close(m_fd);
    if (m_hadPrevious)
        qputenv("ALSA_CONFIG_PATH", m_previous);
    else
        qunsetenv("ALSA_CONFIG_PATH");
}

QByteArray PacedAlsaRoute::Captured() const
{
    std::lock_guard guard(m_lock);
    return m_captured;
}

void PacedAlsaRoute::Drain()
{
    using Clock = std::chrono::steady_clock;
    // The clock restarts whenever the writer paused, so a pause is never
    // made up for by draining faster afterwards.
    Clock::time_point start = Clock::now();
    std::uint64_t drained = 0;
    char buffer[256];
    while (!m_stop) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const auto due = static_cast<std::int64_t>(elapsed * m_rate) - static_cast<std::int64_t>(drained);
        if (due <= 0) {
            usleep(2000);
            continue;
        }
        const ssize_t n = read(m_fd, buffer, std::min<std::size_t>(sizeof buffer, std::size_t(due)));
        if (n > 0) {
            drained += std::uint64_t(n);
            std::lock_guard guard(m_lock);
            m_captured.append(buffer, n);
        } else {
            start = Clock::now();
            drained = 0;
            usleep(2000);
        }
    }
}

} // namespace testsupport
