// SPDX-License-Identifier: GPL-3.0-or-later
// An ALSA playback device for tests and benchmarks that behaves like a sound
// card: once started it plays what was written at its configured rate, in
// real time; a writer that is ahead gets EAGAIN and, when it polls, sleeps
// until the card has made room for the application's avail_min, just as a
// driver lets it sleep until its interrupt; a card that runs dry reports an
// underrun. Played audio can be copied to a capture file, all of it or only
// its first bytes. Each start and each underrun can be logged to an events
// file, one line each: "start <ns> <frame>" (CLOCK_MONOTONIC; the frame, of
// all frames ever written, that is heard first from then on) and
// "underrun <ns> <frame>" (the frame it ran dry at).
//
// Loaded by alsa-lib from a configuration such as
//   pcm_type.sendolin_realtime { lib "/path/libasound_module_pcm_sendolin_realtime.so" }
//   pcm.!default { type sendolin_realtime capture "/path/speaker.raw" capture_limit 4096
//                  events "/path/events.log" }
//
// Threading: alsa-lib calls every callback with the PCM's own lock held, so
// the state needs no lock of its own. One timerfd is the poll descriptor; it
// is armed for the moment the wait should end, which only a write, a start
// or a change of avail_min can move.
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

struct Sink {
    snd_pcm_ioplug_t io{};
    int timer = -1;
    int capture = -1;
    long long captureLeft = -1; // bytes still to copy; negative: everything
    bool running = false;
    std::int64_t startedAt = 0;      // CLOCK_MONOTONIC, nanoseconds
    std::uint64_t written = 0;       // frames since prepare
    std::uint64_t total = 0;         // frames ever written
    snd_pcm_uframes_t availMin = 1;
    int events = -1;
    bool dryLogged = false; // this run's underrun is in the events file
};

std::int64_t Now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

Sink& Of(snd_pcm_ioplug_t* io)
{
    return *static_cast<Sink*>(io->private_data);
}

// Frames the card has taken since it started (it may have run dry).
std::uint64_t Elapsed(const Sink& s)
{
    if (!s.running)
        return 0;
    return std::uint64_t(Now() - s.startedAt) * s.io.rate / 1000000000;
}

void LogEvent(const Sink& s, const char* kind, std::uint64_t frame)
{
    if (s.events < 0)
        return;
    char line[96];
    const int n = std::snprintf(line, sizeof line, "%s %lld %llu\n", kind, (long long)Now(), (unsigned long long)frame);
    (void)!write(s.events, line, std::size_t(n));
}

bool RanDry(Sink& s)
{
    const bool dry = s.running && Elapsed(s) > s.written;
    if (dry && !s.dryLogged) {
        s.dryLogged = true;
        LogEvent(s, "underrun", s.total);
    }
    return dry;
}

std::uint64_t Played(const Sink& s)
{
    return std::min(Elapsed(s), s.written);
}

// Arms the timer for when room for avail_min frames will be there, or at
// once when it is there now; a stopped card with no room never wakes.
void ArmTimer(Sink& s)
{
    itimerspec when{};
    const std::uint64_t buffer = s.io.buffer_size;
    const std::uint64_t room = buffer - std::min<std::uint64_t>(buffer, s.written - Played(s));
    if (room >= s.availMin || RanDry(s)) {
        when.it_value.tv_nsec = 1; // now
    } else if (s.running) {
        const std::uint64_t target = s.written + s.availMin - buffer; // frames played by then
        // Rounded up, so that the card has played `target` frames when it fires.
        const std::int64_t at = s.startedAt + std::int64_t((target * 1000000000 + s.io.rate - 1) / s.io.rate);
        when.it_value = {time_t(at / 1000000000), long(at % 1000000000)};
        timerfd_settime(s.timer, TFD_TIMER_ABSTIME, &when, nullptr);
        return;
    }
    timerfd_settime(s.timer, 0, &when, nullptr);
}

int Start(snd_pcm_ioplug_t* io)
{
    Sink& s = Of(io);
    s.running = true;
    s.startedAt = Now();
    s.dryLogged = false;
    LogEvent(s, "start", s.total - s.written);
    ArmTimer(s);
    return 0;
}

int Stop(snd_pcm_ioplug_t* io)
{
    Sink& s = Of(io);
    s.running = false;
    ArmTimer(s);
    return 0;
}

int Prepare(snd_pcm_ioplug_t* io)
{
    Sink& s = Of(io);
    s.running = false;
    s.written = 0;
    ArmTimer(s);
    return 0;
}

// Plays out what was written, then stops, as a card does.
int Drain(snd_pcm_ioplug_t* io)
{
    Sink& s = Of(io);
    if (s.running && s.written > Played(s)) {
        const std::int64_t left = std::int64_t((s.written - Played(s)) * 1000000000 / io->rate);
        const timespec pause{time_t(left / 1000000000), long(left % 1000000000)};
        nanosleep(&pause, nullptr);
    }
    s.running = false;
    ArmTimer(s);
    return snd_pcm_ioplug_set_state(io, SND_PCM_STATE_SETUP);
}

snd_pcm_sframes_t Pointer(snd_pcm_ioplug_t* io)
{
    Sink& s = Of(io);
    if (RanDry(s))
        return -EPIPE;
    return snd_pcm_sframes_t(Played(s) % io->buffer_size);
}

void Capture(Sink& s, const char* data, std::size_t bytes)
{
    if (s.capture < 0 || s.captureLeft == 0)
        return;
    if (s.captureLeft > 0) {
        bytes = std::min<std::size_t>(bytes, std::size_t(s.captureLeft));
        s.captureLeft -= (long long)bytes;
    }
    while (bytes > 0) {
        const ssize_t n = write(s.capture, data, bytes);
        if (n <= 0)
            return;
        data += n;
        bytes -= std::size_t(n);
    }
}

snd_pcm_sframes_t Transfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas, snd_pcm_uframes_t offset,
                           snd_pcm_uframes_t size)
{
    Sink& s = Of(io);
    const char* base = static_cast<const char*>(areas[0].addr) + areas[0].first / 8 + offset * areas[0].step / 8;
    Capture(s, base, size * (areas[0].step / 8));
    s.written += size;
    s.total += size;
    ArmTimer(s);
    return snd_pcm_sframes_t(size);
}

int SwParams(snd_pcm_ioplug_t* io, snd_pcm_sw_params_t* params)
{
    Sink& s = Of(io);
    snd_pcm_uframes_t availMin = 1;
    snd_pcm_sw_params_get_avail_min(params, &availMin);
    s.availMin = std::max<snd_pcm_uframes_t>(1, availMin);
    ArmTimer(s);
    return 0;
}

int PollRevents(snd_pcm_ioplug_t* io, struct pollfd* pfd, unsigned int nfds, unsigned short* revents)
{
    Sink& s = Of(io);
    std::uint64_t expirations = 0;
    if (nfds >= 1 && (pfd[0].revents & POLLIN))
        (void)!read(s.timer, &expirations, sizeof expirations);
    const std::uint64_t buffer = io->buffer_size;
    const std::uint64_t room = buffer - std::min<std::uint64_t>(buffer, s.written - Played(s));
    *revents = 0;
    if (RanDry(s))
        *revents = POLLOUT | POLLERR;
    else if (room >= s.availMin)
        *revents = POLLOUT;
    else
        ArmTimer(s); // woken early: sleep on
    return 0;
}

int Close(snd_pcm_ioplug_t* io)
{
    Sink* s = &Of(io);
    close(s->timer);
    if (s->capture >= 0)
        close(s->capture);
    if (s->events >= 0)
        close(s->events);
    delete s;
    return 0;
}

const snd_pcm_ioplug_callback_t Callbacks = [] {
    snd_pcm_ioplug_callback_t c{};
    c.start = Start;
    c.stop = Stop;
    c.pointer = Pointer;
    c.transfer = Transfer;
    c.close = Close;
    c.sw_params = SwParams;
    c.prepare = Prepare;
    c.drain = Drain;
    c.poll_revents = PollRevents;
    return c;
}();

int SetConstraints(snd_pcm_ioplug_t* io)
{
    static const unsigned accesses[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
    static const unsigned formats[] = {SND_PCM_FORMAT_U8, SND_PCM_FORMAT_S16_LE};
    int rc = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_ACCESS, 1, accesses);
    if (rc >= 0) rc = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_FORMAT, 2, formats);
    if (rc >= 0) rc = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_CHANNELS, 1, 2);
    if (rc >= 0) rc = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_RATE, 8000, 48000);
    if (rc >= 0) rc = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64, 1 << 20);
    if (rc >= 0) rc = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIODS, 2, 1024);
    return rc;
}

// Reads "capture" (a file path) and "capture_limit" (bytes) of the PCM's definition.
int ReadOptions(snd_config_t* conf, Sink& s)
{
    snd_config_iterator_t i, next;
    snd_config_for_each(i, next, conf) {
        snd_config_t* entry = snd_config_iterator_entry(i);
        const char* id = nullptr;
        if (snd_config_get_id(entry, &id) < 0)
            continue;
        if (!std::strcmp(id, "comment") || !std::strcmp(id, "type") || !std::strcmp(id, "hint"))
            continue;
        if (!std::strcmp(id, "capture")) {
            const char* path = nullptr;
            if (snd_config_get_string(entry, &path) < 0)
                return -EINVAL;
            s.capture = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            if (s.capture < 0)
                return -errno;
        } else if (!std::strcmp(id, "events")) {
            const char* path = nullptr;
            if (snd_config_get_string(entry, &path) < 0)
                return -EINVAL;
            s.events = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
            if (s.events < 0)
                return -errno;
        } else if (!std::strcmp(id, "capture_limit")) {
            long limit = 0;
            if (snd_config_get_integer(entry, &limit) < 0)
                return -EINVAL;
            s.captureLeft = limit;
        } else {
            SNDERR("Unknown field %s", id);
            return -EINVAL;
        }
    }
    return 0;
}

} // namespace

extern "C" {

SND_PCM_PLUGIN_DEFINE_FUNC(sendolin_realtime)
{
    (void)root;
    if (stream != SND_PCM_STREAM_PLAYBACK)
        return -EINVAL;
    auto* s = new Sink;
    int rc = ReadOptions(conf, *s);
    s->timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (rc >= 0 && s->timer < 0)
        rc = -errno;
    if (rc < 0) {
        if (s->timer >= 0)
            close(s->timer);
        if (s->capture >= 0)
            close(s->capture);
        if (s->events >= 0)
            close(s->events);
        delete s;
        return rc;
    }
    s->io.version = SND_PCM_IOPLUG_VERSION;
    s->io.name = "Sendolin real-time test sink";
    s->io.flags = SND_PCM_IOPLUG_FLAG_MONOTONIC;
    s->io.poll_fd = s->timer;
    s->io.poll_events = POLLIN;
    s->io.callback = &Callbacks;
    s->io.private_data = s;
    rc = snd_pcm_ioplug_create(&s->io, name, stream, mode);
    if (rc < 0) {
        Close(&s->io);
        return rc;
    }
    rc = SetConstraints(&s->io);
    if (rc < 0) {
        snd_pcm_ioplug_delete(&s->io);
        return rc;
    }
    *pcmp = s->io.pcm;
    return 0;
}

SND_PCM_PLUGIN_SYMBOL(sendolin_realtime);

} // extern "C"
