// SPDX-License-Identifier: GPL-3.0-or-later
// Source benchmark: the CPU share of one core and the resident memory of a
// station relaying an icecast2 stream (128 kbit/s 44.1 kHz MP3, fed by ffmpeg
// from a generated file) at 0, 100 and 1,000 listeners on 127.0.0.1, once
// passed through frame for frame and once transcoded to 24 kbit/s 11025 Hz,
// and of one process running 10 stations from a stations file that all pass
// the same mount through, with 100 listeners each. The figure at 0 listeners
// is what the source itself costs; the rest is the listeners'.
// Usage: source_bench [SECONDS]
#include "tests/support/IcecastServer.h"
#include "tests/support/LoopbackSocket.h"
#include "tests/support/Vitals.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace {

// CPU time of every thread of a process so far, in seconds, from the
// scheduler's nanosecond counts (the clock ticks of /proc/PID/stat are too
// coarse for a fraction of a per cent).
double CpuSecondsOf(qint64 pid)
{
    double seconds = 0;
    const QString tasks = QString("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream in((tasks + "/" + task + "/schedstat").toStdString());
        unsigned long long runNs = 0;
        if (in >> runNs)
            seconds += double(runNs) / 1e9;
    }
    return seconds;
}

constexpr std::string_view Greeting = "KT-SendolinClient v40-Daten";

// Reads every listener's bytes, in passes with a pause between, so that the
// readers' wake-ups are not charged to the station's sends.
void ReadAll(const std::vector<int>& fds, const std::atomic<bool>& stop)
{
    const int epoll = epoll_create1(0);
    for (int fd : fds) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event);
    }
    epoll_event events[256];
    char buffer[65536];
    while (!stop) {
        const int n = epoll_wait(epoll, events, 256, 0);
        for (int i = 0; i < n; ++i) {
            if (::recv(events[i].data.fd, buffer, sizeof buffer, MSG_DONTWAIT) == 0)
                epoll_ctl(epoll, EPOLL_CTL_DEL, events[i].data.fd, nullptr);
        }
        if (n < 256)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::close(epoll);
}

struct Mode {
    const char* name;
    QStringList format;
};

// Starts the station with `arguments` and reads the ports of its `stations`
// "stream HOST:PORT" lines; empty when it did not start.
std::vector<unsigned short> StartStation(QProcess& station, const QStringList& arguments, int stations)
{
    station.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    station.start(QStringLiteral(SENDOLIN_STATION_BINARY), arguments);
    std::vector<unsigned short> ports;
    while (int(ports.size()) < stations && (station.canReadLine() || station.waitForReadyRead(15000))) {
        const QByteArray line = station.readLine();
        if (line.startsWith("stream "))
            ports.push_back(static_cast<unsigned short>(line.mid(line.lastIndexOf(':') + 1).trimmed().toUInt()));
    }
    if (int(ports.size()) < stations)
        ports.clear();
    return ports;
}

// A station process started with `arguments`, running `stations` stations
// with `listeners` on each: its CPU share and resident memory.
bool Measure(const char* name, const QStringList& arguments, int stations, int listeners, int seconds)
{
    QProcess station;
    const std::vector<unsigned short> ports = StartStation(station, arguments, stations);
    if (ports.empty()) {
        std::fprintf(stderr, "the station did not start\n");
        return false;
    }
    std::vector<int> fds;
    for (unsigned short port : ports) {
        for (int i = 0; i < listeners; ++i) {
            if (const int fd = testsupport::ConnectLoopback(port, testsupport::ConnectOptions().Greeting(Greeting)); fd >= 0)
                fds.push_back(fd);
            if (i % 200 == 199)
                std::this_thread::sleep_for(std::chrono::milliseconds(50)); // within the listen queue
        }
    }
    std::atomic<bool> stop{false};
    std::thread reader([&] { ReadAll(fds, stop); });
    std::this_thread::sleep_for(std::chrono::seconds(3)); // connected, burst sent, queue filled

    const double before = CpuSecondsOf(station.processId());
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu = CpuSecondsOf(station.processId()) - before;
    const std::size_t kib = testsupport::ResidentKib(station.processId());
    stop = true;
    reader.join();
    for (int fd : fds)
        ::close(fd);
    std::printf("%-13s %2d x %4d listeners (%5zu connected): %6.2f %% of one core, %7.1f MiB resident\n", name,
                stations, listeners, fds.size(), 100.0 * cpu / seconds, kib / 1024.0);
    station.terminate();
    station.waitForFinished(5000);
    return true;
}

// A stations file of `count` stations passing `url` through, for one process.
QString WriteStations(const QTemporaryDir& dir, const QString& url, int count)
{
    const QString path = dir.filePath("stations.conf");
    std::ofstream out(path.toStdString());
    for (int i = 0; i < count; ++i) {
        out << "[s" << i << "]\nname = Bench " << i << "\nsource = " << url.toStdString()
            << "\nlisten = 127.0.0.1:0\nrate = 44100\nchannels = 2\nbitrate = 128\nmax-listeners = 20000\n";
    }
    return path;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);

    QTemporaryDir dir;
    const QString mp3 = dir.filePath("radio.mp3");
    if (QProcess::execute("ffmpeg", {"-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
                                     "sine=frequency=440:sample_rate=44100:duration=20", "-f", "lavfi", "-i",
                                     "anoisesrc=sample_rate=44100:amplitude=0.1:duration=20", "-filter_complex",
                                     "amix=inputs=2", "-ac", "2", "-b:a", "128k", mp3}) != 0) {
        std::fprintf(stderr, "ffmpeg could not make the test radio\n");
        return 1;
    }
    testsupport::IcecastServer icecast;
    if (!icecast.Start() || !icecast.Feed("radio", mp3)) {
        std::fprintf(stderr, "icecast2 did not come up:\n%s\n", qPrintable(icecast.Log()));
        return 1;
    }
    const Mode modes[] = {{"pass-through", {"--rate", "44100", "--channels", "2", "--bitrate", "128"}},
                          {"transcoding", {"--rate", "11025", "--channels", "2", "--bitrate", "24"}}};
    std::printf("measured %d s each; targets: the source alone (0 listeners) < 0.5 %% of a core passed through,"
                " < 3 %% transcoded\n", seconds);
    const QStringList single{"--source", icecast.ListenUrl("radio"), "--listen", "127.0.0.1:0", "--name", "Bench",
                             "--max-listeners", "20000"};
    for (const Mode& mode : modes) {
        for (int listeners : {0, 100, 1000}) {
            if (!Measure(mode.name, single + mode.format, 1, listeners, seconds))
                return 1;
        }
    }
    const QString stations = WriteStations(dir, icecast.ListenUrl("radio"), 10);
    return Measure("10 stations", {"--stations", stations}, 10, 100, seconds) ? 0 : 1;
}
