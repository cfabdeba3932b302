// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/PacedListener.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

PacedListener::~PacedListener()
{
    Stop();
}

void PacedListener::Start(const QString& path, unsigned bytesPerSecond)
{
    // A device still writing after Stop must get an error, not end the test.
    std::signal(SIGPIPE, SIG_IGN);
    const QByteArray name = path.toLocal8Bit();
    if (::mkfifo(name.constData(), 0600) != 0)
        throw std::runtime_error("cannot make the capture FIFO");
    // Open before the device does, so that its open does not block.
    m_fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        throw std::runtime_error("cannot open the capture FIFO");
    // The smallest pipe buffer: what the writer is ahead of us stays small.
    ::fcntl(m_fd, F_SETPIPE_SZ, 4096);
    m_thread = std::thread([this, bytesPerSecond] { Run(bytesPerSecond); });
}

void PacedListener::Stop()
{
    if (!m_thread.joinable())
        return;
    m_stop = true;
    m_thread.join();
    ::close(m_fd);
    m_fd = -1;
}

std::vector<PacedListener::Chunk> PacedListener::Heard() const
{
    std::lock_guard guard(m_lock);
    return m_heard;
}

void PacedListener::Run(unsigned bytesPerSecond)
{
    // Credit for reading builds up with time, but at most a quarter of a
    // second of it: after a gap the card plays on, it does not rush.
    const double maxCredit = bytesPerSecond / 4.0;
    double credit = 0;
    Clock::time_point last = Clock::now();
    char buffer[16384];
    for (;;) {
        const bool stopping = m_stop.load();
        const Clock::time_point now = Clock::now();
        credit = std::min(maxCredit, credit + std::chrono::duration<double>(now - last).count() * bytesPerSecond);
        last = now;
        const std::size_t want = stopping ? sizeof buffer : std::min(sizeof buffer, std::size_t(credit));
        const ssize_t n = want > 0 ? ::read(m_fd, buffer, want) : -1;
        if (n > 0) {
            credit = std::max(0.0, credit - double(n));
            std::lock_guard guard(m_lock);
            m_heard.push_back({Clock::now(), QByteArray(buffer, int(n))});
            continue;
        }
        // Nothing there (EAGAIN), or no writer at the moment (0).
        if (stopping)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace testsupport
