// SPDX-License-Identifier: GPL-3.0-or-later
// Runs on the device's helper thread only (Open on the GUI thread, before the
// thread exists).
#include "platform/wave/AlsaPcm.h"

#include "platform/wave/WaveLog.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <alsa/asoundlib.h>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform::wave {

namespace {

// ALSA prints its complaints to stderr; route them to our log instead.
void AlsaErrorHandler(const char* file, int line, const char* function, int err, const char* fmt, ...)
{
    char text[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    qCDebug(lcWave, "alsa %s: %s (%d)", function, text, err);
}

void InstallErrorHandler()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(AlsaErrorHandler); });
}

MMRESULT OpenError(int error)
{
    switch (-error) {
    case ENOENT:
        return MMSYSERR_BADDEVICEID; // no such PCM defined
    case EBUSY:
        return MMSYSERR_ALLOCATED;
    case ENOMEM:
        return MMSYSERR_NOMEM;
    default:
        return MMSYSERR_NODRIVER;
    }
}

// A device that never signals room must not hang its writer for good.
constexpr int MaxWaitMs = 1000;
// A writer waiting for room wakes when this much is left to play.
constexpr unsigned WakeLeftMs = 250;

} // namespace

AlsaPcm::Interruption::Interruption() : fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

AlsaPcm::Interruption::~Interruption()
{
    if (fd >= 0)
        close(fd);
}

AlsaPcm::~AlsaPcm()
{
    if (m_pcm)
        snd_pcm_close(m_pcm);
}

MMRESULT AlsaPcm::Open(std::unique_ptr<AlsaPcm>& out)
{
    InstallErrorHandler();
    std::unique_ptr<AlsaPcm> pcm(new AlsaPcm);
    const int rc = snd_pcm_open(&pcm->m_pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    // The caller retries the open on every block while no device is there;
    // say so once per outage instead of once per block.
    static std::atomic<bool> failing{false};
    if (rc < 0) {
        pcm->m_pcm = nullptr;
        if (!failing.exchange(true))
            qCWarning(lcWave, "cannot open the default PCM: %s", snd_strerror(rc));
        return OpenError(rc);
    }
    failing = false;
    out = std::move(pcm);
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaPcm::Configure(const PcmLayout& layout)
{
    if (snd_pcm_state(m_pcm) != SND_PCM_STATE_OPEN)
        snd_pcm_drop(m_pcm);
    snd_pcm_hw_params_t* hw;
    snd_pcm_hw_params_alloca(&hw);
    unsigned rate = layout.rate;
    unsigned bufferUs = 1000000;
    unsigned periodUs = 50000;
    const snd_pcm_format_t format = layout.bits == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
    int rc = snd_pcm_hw_params_any(m_pcm, hw);
    if (rc >= 0) rc = snd_pcm_hw_params_set_rate_resample(m_pcm, hw, 1);
    if (rc >= 0) rc = snd_pcm_hw_params_set_access(m_pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
    if (rc >= 0) rc = snd_pcm_hw_params_set_format(m_pcm, hw, format);
    if (rc >= 0) rc = snd_pcm_hw_params_set_channels(m_pcm, hw, layout.channels);
    if (rc >= 0) rc = snd_pcm_hw_params_set_rate(m_pcm, hw, rate, 0);
    if (rc >= 0) rc = snd_pcm_hw_params_set_buffer_time_near(m_pcm, hw, &bufferUs, nullptr);
    if (rc >= 0) rc = snd_pcm_hw_params_set_period_time_near(m_pcm, hw, &periodUs, nullptr);
    if (rc >= 0) rc = snd_pcm_hw_params(m_pcm, hw);
    if (rc < 0) {
        qCWarning(lcWave, "device refuses %u Hz, %u channels, %u bit: %s", layout.rate,
                  layout.channels, layout.bits, snd_strerror(rc));
        return WAVERR_BADFORMAT;
    }
    snd_pcm_uframes_t buffer = 0, period = 0;
    snd_pcm_get_params(m_pcm, &buffer, &period);
    snd_pcm_sw_params_t* sw;
    snd_pcm_sw_params_alloca(&sw);
    snd_pcm_sw_params_current(m_pcm, sw);
    // Kick() starts a tail shorter than the threshold.
    const snd_pcm_uframes_t start = std::clamp<snd_pcm_uframes_t>(
        snd_pcm_uframes_t(layout.rate) * StartMs / 1000, 1, std::max<snd_pcm_uframes_t>(buffer, 1));
    snd_pcm_sw_params_set_start_threshold(m_pcm, sw, start);
    snd_pcm_sw_params(m_pcm, sw);
    snd_pcm_sw_params_current(m_pcm, sw);
    snd_pcm_sw_params_get_start_threshold(sw, &m_startFrames);
    m_layout = layout;
    m_bufferFrames = buffer;
    m_periodFrames = period;
    ApplyWakeThreshold();
    m_written = 0;
    m_broken = false;
    return MMSYSERR_NOERROR;
}

bool AlsaPcm::Recover(int error)
{
    const int rc = snd_pcm_recover(m_pcm, error, 1);
    if (rc < 0 && snd_pcm_prepare(m_pcm) < 0) {
        qCWarning(lcWave, "device lost: %s", snd_strerror(rc));
        m_broken = true;
    }
    return !m_broken;
}

bool AlsaPcm::Write(const std::uint8_t* data, std::size_t frames, const std::function<bool()>& stop)
{
    const unsigned frameBytes = m_layout.FrameBytes();
    while (frames > 0) {
        if (stop())
            return false;
        if (m_broken) {
            m_written += frames;
            return true;
        }
        snd_pcm_sframes_t n = snd_pcm_writei(m_pcm, data, frames);
        if (n == -EAGAIN) {
            // Less room than the wake threshold: fill what there is, so that
            // the next wait lasts a whole threshold instead of ending as soon
            // as the rest of this write would fit.
            const snd_pcm_sframes_t room = snd_pcm_avail_update(m_pcm);
            if (room > 0 && std::size_t(room) < frames)
                n = snd_pcm_writei(m_pcm, data, std::size_t(room));
        }
        if (n == -EAGAIN) {
            WaitForRoom();
            continue;
        }
        if (n < 0) {
            Recover(static_cast<int>(n));
            continue;
        }
        data += static_cast<std::size_t>(n) * frameBytes;
        frames -= static_cast<std::size_t>(n);
        m_written += static_cast<std::uint64_t>(n);
    }
    return true;
}

void AlsaPcm::WaitForRoom()
{
    std::array<pollfd, 8> fds{};
    const int count = std::clamp(snd_pcm_poll_descriptors_count(m_pcm), 0, int(fds.size()) - 1);
    const int used = std::max(0, snd_pcm_poll_descriptors(m_pcm, fds.data(), unsigned(count)));
    fds[used] = {m_interrupt.fd, POLLIN, 0};
    for (;;) {
        // A timeout or a signal: the caller simply tries again.
        if (poll(fds.data(), nfds_t(used + 1), MaxWaitMs) <= 0)
            return;
        if (fds[used].revents & POLLIN) {
            std::uint64_t raised = 0;
            (void)!read(m_interrupt.fd, &raised, sizeof raised);
            return;
        }
        unsigned short revents = 0;
        if (snd_pcm_poll_descriptors_revents(m_pcm, fds.data(), unsigned(used), &revents) < 0 ||
            (revents & (POLLOUT | POLLERR | POLLNVAL)))
            return;
    }
}

void AlsaPcm::Interrupt()
{
    const std::uint64_t one = 1;
    (void)!write(m_interrupt.fd, &one, sizeof one);
}

void AlsaPcm::ApplyWakeThreshold()
{
    if (m_bufferFrames == 0)
        return; // not configured yet
    // Room for all but what plays in WakeLeftMs, when the buffer holds more
    // than that and a period; otherwise a period.
    const unsigned long left = std::max<unsigned long>(1, m_layout.rate * WakeLeftMs / 1000);
    unsigned long availMin = m_periodFrames;
    if (m_bufferFrames > left + m_periodFrames)
        availMin = m_bufferFrames - left;
    snd_pcm_sw_params_t* sw;
    snd_pcm_sw_params_alloca(&sw);
    snd_pcm_sw_params_current(m_pcm, sw);
    snd_pcm_sw_params_set_avail_min(m_pcm, sw, availMin);
    snd_pcm_sw_params(m_pcm, sw);
}

std::uint64_t AlsaPcm::Played()
{
    snd_pcm_sframes_t delay = 0;
    if (m_broken)
        return m_written;
    const snd_pcm_state_t state = snd_pcm_state(m_pcm);
    if (state == SND_PCM_STATE_XRUN) {
        Recover(-EPIPE); // ran dry: silence until the next write
        return m_written;
    }
    if (snd_pcm_delay(m_pcm, &delay) < 0 || delay < 0)
        return m_written;
    const auto queued = static_cast<std::uint64_t>(delay);
    return queued >= m_written ? 0 : m_written - queued;
}

bool AlsaPcm::Running()
{
    return snd_pcm_state(m_pcm) == SND_PCM_STATE_RUNNING;
}

void AlsaPcm::Kick()
{
    if (snd_pcm_state(m_pcm) == SND_PCM_STATE_PREPARED && m_written > Played())
        snd_pcm_start(m_pcm);
}

void AlsaPcm::Drop()
{
    snd_pcm_drop(m_pcm);
    snd_pcm_prepare(m_pcm);
    m_written = 0;
}

} // namespace platform::wave
