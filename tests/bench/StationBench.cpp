// Station load benchmark: starts sendolin-station with its default format,
// connects N stream listeners on 127.0.0.1 (default 1000) that read
// everything, and prints the station's CPU time per listener-hour and its
// resident memory per listener. Usage: station_bench [LISTENERS] [SECONDS]
#include "StationProcess.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::string_view Greeting = "KT-SendolinClient v40-Daten";

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

// Reads from every listener for `duration`; returns the bytes received.
long long Drain(int epoll, std::chrono::seconds duration)
{
    long long total = 0;
    char buffer[65536];
    epoll_event events[256];
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
        const int n = epoll_wait(epoll, events, 256, 100);
        for (int i = 0; i < n; ++i) {
            const ssize_t got = ::recv(events[i].data.fd, buffer, sizeof buffer, 0);
            if (got > 0)
                total += got;
            else
                epoll_ctl(epoll, EPOLL_CTL_DEL, events[i].data.fd, nullptr);
        }
    }
    return total;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int listeners = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 20;

    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);

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
    }
    Drain(epoll, std::chrono::seconds(3)); // header and burst

    const double cpuBefore = CpuSeconds(pid);
    const long long bytes = Drain(epoll, std::chrono::seconds(seconds));
    const double cpu = CpuSeconds(pid) - cpuBefore;
    const long busyKiB = ResidentKiB(pid);

    std::printf("listeners:                 %d\n", listeners);
    std::printf("measured:                  %d s\n", seconds);
    std::printf("received per listener:     %.0f bytes/s\n", double(bytes) / listeners / seconds);
    std::printf("station CPU:               %.3f s (%.1f %% of one core)\n", cpu, 100.0 * cpu / seconds);
    std::printf("CPU per listener-hour:     %.3f s\n", cpu * 3600.0 / (double(seconds) * listeners));
    std::printf("station memory idle:       %ld KiB\n", idleKiB);
    std::printf("station memory loaded:     %ld KiB\n", busyKiB);
    std::printf("memory per listener:       %.1f KiB\n", double(busyKiB - idleKiB) / listeners);

    for (const int fd : sockets)
        ::close(fd);
    ::close(epoll);
    return station.Stop() == 0 ? 0 : 1;
}
