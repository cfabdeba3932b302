// SPDX-License-Identifier: GPL-3.0-or-later
// CPU cost of the client's audio path: TACMOut plus the wave layer (libmpg123
// decoding, ALSA output) playing to ALSA's null device, in CPU seconds per
// minute of audio, beside the mpg123 command-line player on the same bytes.
//
// Both play through ALSA to the null device ("mpg123 -q -o alsa -a null"),
// so both pay for decoding and the ALSA write path and neither waits for
// real time; the null device consumes as fast as it is fed. Writing to
// /dev/null with -w would skip ALSA and flatter the player.
//
// The figure is the cost of playing, not of starting: each side also plays
// a short clip, and what the long run costs beyond it is divided by the
// extra minutes. Otherwise the player's process start (exec, linking, ALSA
// configuration) would count against it and the client's would not. The
// client's feeding loop stands for the socket: it costs no polling and no
// event-loop turn per block of its own, and waits for done notices the way
// the GUI loop does, blocked. The times a thread blocked
// and was woken again (voluntary context switches, every thread's) are
// printed beside the time, per minute; being preempted by other load does
// not count.
//
// Usage: audio_path_bench [seconds of audio, default 60]
#include "audio/ACMOut.h"
#include "tests/support/AlsaRoute.h"
#include "tests/support/Mp3Encoder.h"
#include "tests/support/WaveFormats.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace {

struct Cost {
    double cpu = -1; // seconds, user and system; negative: the run failed
    double waits = 0; // voluntary context switches: a thread blocked and was woken

    Cost operator-(const Cost& other) const { return {cpu - other.cpu, waits - other.waits}; }
};

Cost FromUsage(const rusage& usage)
{
    return {double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6,
            double(usage.ru_nvcsw)};
}

// This process, every thread included (the device threads have been joined
// when it is read, and their time stays counted).
Cost ProcessCost()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return FromUsage(usage);
}

TACMWaveFormat MpegFormat(const testsupport::Mp3Params& p)
{
    return testsupport::MpegFormat(unsigned(p.rate), unsigned(p.channels), unsigned(p.kbps));
}

// Runs the event loop, blocked between events, until done() holds.
bool WaitForNotices(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    QTimer watchdog; // wakes the loop so that a timeout is noticed
    watchdog.start(500);
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Plays the bytes in network-sized blocks, as the stream channel hands them.
Cost ClientCost(const std::vector<std::uint8_t>& mp3, const testsupport::Mp3Params& p)
{
    const Cost start = ProcessCost();
    TACMOut out;
    out.SetNumBuffers(4);
    out.Open(MpegFormat(p));
    constexpr std::size_t block = 1460;
    for (std::size_t at = 0; at < mp3.size(); at += block) {
        // Faster than real time, but never beyond the queue's bound: a drop
        // would leave audio undecoded and flatter the figure.
        if (out.HeldBytes() + block > out.QueueLimit())
            WaitForNotices([&] { return out.HeldBytes() + block <= out.QueueLimit(); }, 600000);
        // No event-loop turn per block: in the client that turn is the
        // socket's, and the done notices are taken in when the loop waits.
        out.Play(mp3.data() + at, std::uint32_t(std::min(block, mp3.size() - at)));
    }
    if (!WaitForNotices([&] { return out.LiveCount() == 0; }, 600000))
        std::fprintf(stderr, "warning: %zu blocks never finished\n", out.LiveCount());
    if (out.DroppedBytes() > 0)
        std::fprintf(stderr, "warning: %llu bytes dropped\n", static_cast<unsigned long long>(out.DroppedBytes()));
    out.Close();
    return ProcessCost() - start;
}

Cost PlayerCost(const QString& file)
{
    const QByteArray path = file.toLocal8Bit();
    char* argv[] = {const_cast<char*>("mpg123"), const_cast<char*>("-q"), const_cast<char*>("-o"),
                    const_cast<char*>("alsa"), const_cast<char*>("-a"), const_cast<char*>("null"),
                    const_cast<char*>(path.constData()), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "mpg123", nullptr, nullptr, argv, environ) != 0)
        return {};
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};
    return FromUsage(usage);
}

// The bytes of one clip, and the same bytes in a file for the player.
struct Clip {
    std::vector<std::uint8_t> mp3;
    QString file;
};

bool MakeClip(testsupport::Mp3Params p, const QTemporaryDir& dir, Clip& clip)
{
    clip.mp3 = testsupport::EncodeMp3(p);
    clip.file = dir.filePath(QStringLiteral("%1-%2-%3.mp3").arg(p.rate).arg(p.kbps).arg(p.seconds));
    QFile out(clip.file);
    if (!out.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(clip.file));
        return false;
    }
    out.write(reinterpret_cast<const char*>(clip.mp3.data()), qint64(clip.mp3.size()));
    return true;
}

void Measure(const char* name, testsupport::Mp3Params p, const QTemporaryDir& dir)
{
    constexpr double ShortSeconds = 2;
    testsupport::Mp3Params shortParams = p;
    shortParams.seconds = ShortSeconds;
    Clip full, brief;
    if (!MakeClip(p, dir, full) || !MakeClip(shortParams, dir, brief))
        return;
    const double minutes = (p.seconds - ShortSeconds) / 60.0;
    // The short clip first: the process's one-time set-up (decoder tables,
    // ALSA configuration) then falls in it, as the player's does in each run.
    const Cost briefClient = ClientCost(brief.mp3, shortParams);
    const Cost client = ClientCost(full.mp3, p) - briefClient;
    const Cost fullPlayer = PlayerCost(full.file), briefPlayer = PlayerCost(brief.file);
    if (fullPlayer.cpu < 0 || briefPlayer.cpu < 0) {
        std::fprintf(stderr, "mpg123 failed\n");
        return;
    }
    const Cost player = fullPlayer - briefPlayer;
    std::printf("%-28s client %.3f s/min %5.0f wakes/min   mpg123 %.3f s/min %5.0f wakes/min   ratio %.2f\n",
                name, client.cpu / minutes, client.waits / minutes, player.cpu / minutes, player.waits / minutes,
                player.cpu > 0 ? client.cpu / player.cpu : 0.0);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    testsupport::AlsaRoute route(testsupport::AlsaRoute::Null);
    QTemporaryDir dir;
    if (seconds <= 10) {
        std::fprintf(stderr, "give more than 10 seconds of audio\n");
        return 1;
    }
    std::printf("CPU seconds and wake-ups per minute of audio, %.0f s of audio each "
                "(less a 2 s clip's), to ALSA's null device\n", seconds);
    Measure("11025 Hz stereo 24 kbit/s", {11025, 2, 24, seconds}, dir);
    Measure("44100 Hz stereo 128 kbit/s", {44100, 2, 128, seconds}, dir);
    return 0;
}
