// CPU cost of the client's audio path: TACMOut plus the wave layer (libmpg123
// decoding, ALSA output) playing to ALSA's null device, in CPU seconds per
// minute of audio, beside the mpg123 command-line player on the same bytes.
//
// Both play through ALSA to the null device ("mpg123 -q -o alsa -a null"),
// so both pay for decoding and the ALSA write path and neither waits for
// real time; the null device consumes as fast as it is fed. Writing to
// /dev/null with -w would skip ALSA and flatter the player.
//
// Usage: audio_path_bench [seconds of audio, default 60]
#include "audio/ACMOut.h"
#include "tests/support/AlsaRoute.h"
#include "tests/support/EventLoop.h"
#include "tests/support/Mp3Encoder.h"
#include "tests/support/WaveFormats.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <ctime>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace {

double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

TACMWaveFormat MpegFormat(const testsupport::Mp3Params& p)
{
    return testsupport::MpegFormat(unsigned(p.rate), unsigned(p.channels), unsigned(p.kbps));
}

// Plays the bytes in network-sized blocks, as the stream channel hands them.
double ClientCpu(const std::vector<std::uint8_t>& mp3, const testsupport::Mp3Params& p)
{
    const double start = ProcessCpuSeconds();
    TACMOut out;
    out.SetNumBuffers(4);
    out.Open(MpegFormat(p));
    constexpr std::size_t block = 1460;
    for (std::size_t at = 0; at < mp3.size(); at += block) {
        // Faster than real time, but never beyond the queue's bound: a drop
        // would leave audio undecoded and flatter the figure.
        while (out.HeldBytes() + block > out.QueueLimit()) {
            QCoreApplication::processEvents();
            QThread::msleep(1); // waiting costs no CPU time
        }
        out.Play(mp3.data() + at, std::uint32_t(std::min(block, mp3.size() - at)));
        QCoreApplication::processEvents(); // let done notices in, as the GUI loop would
    }
    if (!testsupport::WaitUntil([&] { return out.LiveCount() == 0; }, 600000))
        std::fprintf(stderr, "warning: %zu blocks never finished\n", out.LiveCount());
    if (out.DroppedBytes() > 0)
        std::fprintf(stderr, "warning: %llu bytes dropped\n", static_cast<unsigned long long>(out.DroppedBytes()));
    out.Close();
    return ProcessCpuSeconds() - start;
}

double PlayerCpu(const QString& file)
{
    const QByteArray path = file.toLocal8Bit();
    char* argv[] = {const_cast<char*>("mpg123"), const_cast<char*>("-q"), const_cast<char*>("-o"),
                    const_cast<char*>("alsa"), const_cast<char*>("-a"), const_cast<char*>("null"),
                    const_cast<char*>(path.constData()), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "mpg123", nullptr, nullptr, argv, environ) != 0)
        return -1;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void Measure(const char* name, testsupport::Mp3Params p, const QTemporaryDir& dir)
{
    const std::vector<std::uint8_t> mp3 = testsupport::EncodeMp3(p);
    const QString file = dir.filePath(QStringLiteral("%1-%2.mp3").arg(p.rate).arg(p.kbps));
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return;
    }
    out.write(reinterpret_cast<const char*>(mp3.data()), qint64(mp3.size()));
    out.close();

    const double minutes = p.seconds / 60.0;
    const double client = ClientCpu(mp3, p) / minutes;
    const double player = PlayerCpu(file) / minutes;
    std::printf("%-28s client %.3f s/min   mpg123 %.3f s/min   ratio %.2f\n", name, client, player,
                player > 0 ? client / player : 0.0);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    testsupport::AlsaRoute route(testsupport::AlsaRoute::Null);
    QTemporaryDir dir;
    std::printf("CPU seconds per minute of audio, %.0f s of audio each, to ALSA's null device\n", seconds);
    Measure("11025 Hz stereo 24 kbit/s", {11025, 2, 24, seconds}, dir);
    Measure("44100 Hz stereo 128 kbit/s", {44100, 2, 128, seconds}, dir);
    return 0;
}
