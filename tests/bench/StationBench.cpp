// Station load benchmark: starts sendolin-station with its default format
// (24 kbit/s) as a child process, connects N stream listeners on 127.0.0.1
// (default 10,000) from this process, which read everything, and prints the
// station's CPU share of one core, its resident memory per listener and how
// closely every listener is paced to the stream's byte rate, each beside its
// target. The listeners and the station each need a descriptor per listener,
// so the soft descriptor limit is raised to the hard one (the station inherits
// it). Usage: station_bench [LISTENERS] [SECONDS]
#include "StationProcess.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <unordered_map>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::string_view Greeting = "KT-SendolinClient v40-Daten";
// The station's default format: 24 kbit/s.
constexpr double StreamBytesPerSecond = 24000.0 / 8;

// utime + stime of a process, in seconds.
double CpuSeconds(qint64 pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

long ResidentKiB(qint64 pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return 0;
}

int ConnectListener(unsigned short port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::send(fd, Greeting.data(), Greeting.size(), MSG_NOSIGNAL) != ssize_t(Greeting.size())) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

// Reads from every listener for `duration` (a zero duration: until nothing
// is waiting), adding what each one received to `perListener` (by
// descriptor); returns the bytes received.
long long Drain(int epoll, std::chrono::seconds duration, std::unordered_map<int, long long>& perListener)
{
    long long total = 0;
    char buffer[65536];
    epoll_event events[256];
    const bool untilEmpty = duration.count() == 0;
    const auto end = std::chrono::steady_clock::now() + duration;
    while (untilEmpty || std::chrono::steady_clock::now() < end) {
        const int n = epoll_wait(epoll, events, 256, untilEmpty ? 0 : 100);
        if (untilEmpty && n <= 0)
            break;
        for (int i = 0; i < n; ++i) {
            const ssize_t got = ::recv(events[i].data.fd, buffer, sizeof buffer, 0);
            if (got > 0) {
                total += got;
                perListener[events[i].data.fd] += got;
            } else {
                epoll_ctl(epoll, EPOLL_CTL_DEL, events[i].data.fd, nullptr);
            }
        }
    }
    return total;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int listeners = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 30;

    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    std::printf("descriptor limit:          raised to %llu (listeners + their station need %d each)\n",
                static_cast<unsigned long long>(limit.rlim_cur), listeners + 64);
    if (limit.rlim_cur < rlim_t(listeners + 64)) {
        std::fprintf(stderr, "the hard descriptor limit is too low: ulimit -Hn %d or more\n", listeners + 64);
        return 1;
    }

    testsupport::StationProcess station({"--max-listeners", QString::number(listeners + 10)});
    if (!station.Start()) {
        std::fprintf(stderr, "station did not start\n");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const qint64 pid = station.ProcessId();
    const long idleKiB = ResidentKiB(pid);

    const int epoll = epoll_create1(0);
    std::vector<int> sockets;
    std::unordered_map<int, long long> warmUp;
    for (int i = 0; i < listeners; ++i) {
        const int fd = ConnectListener(station.StreamPort());
        if (fd < 0) {
            std::fprintf(stderr, "listener %d could not connect\n", i);
            return 1;
        }
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event);
        sockets.push_back(fd);
        // Connecting them all takes seconds: keep the early ones read meanwhile.
        if (i % 100 == 99)
            Drain(epoll, std::chrono::seconds(0), warmUp);
    }
    Drain(epoll, std::chrono::seconds(5), warmUp); // the last ones' header and burst

    std::unordered_map<int, long long> perListener;
    const double cpuBefore = CpuSeconds(pid);
    const long long bytes = Drain(epoll, std::chrono::seconds(seconds), perListener);
    const double cpu = CpuSeconds(pid) - cpuBefore;
    const long busyKiB = ResidentKiB(pid);

    // Pacing: each listener's rate over the window against the stream's rate.
    // A listener that got nothing at all counts as the worst deviation.
    double worst = 0;
    int withinOnePercent = 0;
    for (const int fd : sockets) {
        const double rate = double(perListener[fd]) / seconds;
        const double deviation = std::fabs(rate / StreamBytesPerSecond - 1.0);
        worst = std::max(worst, deviation);
        if (deviation <= 0.01)
            ++withinOnePercent;
    }

    const double share = 100.0 * cpu / seconds;
    const double perListenerKiB = double(busyKiB - idleKiB) / listeners;
    std::printf("listeners:                 %d\n", listeners);
    std::printf("measured:                  %d s\n", seconds);
    std::printf("received per listener:     %.0f bytes/s (stream %.0f bytes/s)\n", double(bytes) / listeners / seconds,
                StreamBytesPerSecond);
    std::printf("station CPU:               %.3f s, %.1f %% of one core   (target < 50 %% at 10,000)\n", cpu, share);
    std::printf("CPU per listener-hour:     %.3f s\n", cpu * 3600.0 / (double(seconds) * listeners));
    std::printf("station memory idle:       %ld KiB\n", idleKiB);
    std::printf("station memory loaded:     %ld KiB\n", busyKiB);
    std::printf("memory per listener:       %.1f KiB   (target < 20 KiB; kernel socket buffers not included)\n",
                perListenerKiB);
    std::printf("dropped by the station:    %lld listeners (too far behind)\n",
                static_cast<long long>(station.Log().count(QStringLiteral(" dropped: "))));
    std::printf("paced within 1 %%:          %d of %d listeners, worst %.2f %%   (target: all)\n", withinOnePercent,
                listeners, 100.0 * worst);

    for (const int fd : sockets)
        ::close(fd);
    ::close(epoll);
    return station.Stop() == 0 ? 0 : 1;
}
