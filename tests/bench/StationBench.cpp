// SPDX-License-Identifier: GPL-3.0-or-later
// Station load benchmark: starts sendolin-station with its default format
// (24 kbit/s) as a child process, connects N stream listeners on 127.0.0.1
// (default 10,000) from this process, which read everything, and prints the
// station's CPU share of one core, its resident memory per listener and how
// closely every listener is paced to the stream's byte rate, each beside its
// target. The listeners and the station each need a descriptor per listener,
// so the soft descriptor limit is raised to the hard one (the station inherits
// it). Usage: station_bench [LISTENERS] [SECONDS]
//
// The readers run on a thread per core, and each listener's rate is taken
// from the kernel's arrival times of its bytes (SO_TIMESTAMPNS), not from when
// a reader got round to them: on a busy machine a late reader would otherwise
// count its own delay against the station's pacing. Connections are made no
// faster than the station takes them, so none waits out a SYN retransmission,
// and the measured window opens once every listener has had its burst.
#include "LoopbackSocket.h"
#include "StationProcess.h"

#include <QCoreApplication>

#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::string_view Greeting = "KT-SendolinClient v40-Daten";
// The station's default format: 24 kbit/s.
constexpr double StreamBytesPerSecond = 24000.0 / 8;
constexpr long long HeaderBytes = 514;

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

double RealtimeSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// What one listener received, and where its measured window starts and ends:
// the byte count after the first and the last read whose bytes arrived in it.
struct Listener {
    int fd = -1;
    // Also read by the main thread while it connects the rest.
    std::atomic<long long> bytes{0};
    std::atomic<bool> closed{false};
    double firstArrival = 0, lastArrival = 0;
    long long bytesAtFirst = 0, bytesAtLast = 0;

    double Rate() const
    {
        return lastArrival > firstArrival ? double(bytesAtLast - bytesAtFirst) / (lastArrival - firstArrival) : 0;
    }
};

// Reads its share of the listeners until told to stop. The window is set
// (realtime seconds) by the main thread once every listener streams.
class Reader {
public:
    Reader() : epoll_(epoll_create1(0)) {}
    ~Reader() { ::close(epoll_); }

    void Add(Listener* listener)
    {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.ptr = listener;
        epoll_ctl(epoll_, EPOLL_CTL_ADD, listener->fd, &event);
    }
    void Run(const std::atomic<bool>& stop, const std::atomic<double>& windowStart, const std::atomic<double>& windowEnd)
    {
        // Passes over what is ready, with a pause once nothing is: a reader
        // asleep in epoll_wait would be woken by each of the station's writes,
        // and on loopback that wake-up is charged to the station's send, a
        // cost a listener across the network never puts on it.
        epoll_event events[256];
        while (!stop.load()) {
            const int n = epoll_wait(epoll_, events, 256, 0);
            for (int i = 0; i < n; ++i)
                Read(*static_cast<Listener*>(events[i].data.ptr), windowStart.load(), windowEnd.load());
            if (n < 256)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

private:
    void Read(Listener& listener, double windowStart, double windowEnd)
    {
        char buffer[65536];
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
        iovec io{buffer, sizeof buffer};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t got = ::recvmsg(listener.fd, &message, MSG_DONTWAIT);
        if (got <= 0) {
            if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                epoll_ctl(epoll_, EPOLL_CTL_DEL, listener.fd, nullptr);
                listener.closed = true;
            }
            return;
        }
        listener.bytes += got;
        const double arrival = Arrival(message);
        if (arrival < windowStart || arrival > windowEnd)
            return;
        if (listener.firstArrival == 0) {
            listener.firstArrival = arrival;
            listener.bytesAtFirst = listener.bytes;
        }
        listener.lastArrival = arrival;
        listener.bytesAtLast = listener.bytes;
    }
    // The kernel's time of the last segment the read took.
    static double Arrival(msghdr& message)
    {
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                timespec at{};
                std::memcpy(&at, CMSG_DATA(c), sizeof at);
                return double(at.tv_sec) + double(at.tv_nsec) * 1e-9;
            }
        }
        return RealtimeSeconds();
    }

    const int epoll_;
};

bool RaiseDescriptorLimit(int listeners)
{
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    std::printf("descriptor limit:          raised to %llu (listeners + their station need %d each)\n",
                static_cast<unsigned long long>(limit.rlim_cur), listeners + 64);
    if (limit.rlim_cur < rlim_t(listeners + 64)) {
        std::fprintf(stderr, "the hard descriptor limit is too low: ulimit -Hn %d or more\n", listeners + 64);
        return false;
    }
    return true;
}

// Waits until every listener so far has its header, so the station has
// accepted and greeted them all; false when one closed or it took too long.
bool WaitForHeaders(const std::vector<std::unique_ptr<Listener>>& listeners)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (const auto& listener : listeners) {
        while (listener->bytes.load() < HeaderBytes) {
            if (listener->closed || std::chrono::steady_clock::now() > giveUp)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 30;
    if (!RaiseDescriptorLimit(count))
        return 1;

    testsupport::StationProcess station({"--max-listeners", QString::number(count + 10)});
    if (!station.Start()) {
        std::fprintf(stderr, "station did not start\n");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const qint64 pid = station.ProcessId();
    const long idleKiB = ResidentKiB(pid);

    std::atomic<bool> stop{false};
    std::atomic<double> windowStart{1e300}, windowEnd{1e300};
    std::vector<std::unique_ptr<Reader>> readers;
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < std::max(1u, std::thread::hardware_concurrency()); ++i)
        readers.push_back(std::make_unique<Reader>());
    for (auto& reader : readers)
        threads.emplace_back([&, r = reader.get()] { r->Run(stop, windowStart, windowEnd); });

    // In steps the listen queue holds, each taken and greeted before the next.
    std::vector<std::unique_ptr<Listener>> listeners;
    bool connected = true;
    for (int i = 0; i < count && connected; ++i) {
        auto listener = std::make_unique<Listener>();
        listener->fd = testsupport::ConnectLoopback(station.StreamPort(), testsupport::ConnectOptions().ArrivalTimes().Greeting(Greeting));
        if (listener->fd < 0) {
            std::fprintf(stderr, "listener %d could not connect\n", i);
            connected = false;
            break;
        }
        readers[i % readers.size()]->Add(listener.get());
        listeners.push_back(std::move(listener));
        if (i % 500 == 499 && !WaitForHeaders(listeners))
            connected = false;
    }
    connected = connected && WaitForHeaders(listeners);
    // The burst (two seconds of audio) goes at once; the window opens after it.
    std::this_thread::sleep_for(std::chrono::seconds(3));

    const double cpuBefore = CpuSeconds(pid);
    windowStart = RealtimeSeconds();
    windowEnd = windowStart + seconds;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu = CpuSeconds(pid) - cpuBefore;
    const long busyKiB = ResidentKiB(pid);
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // the window's last reads
    stop = true;
    for (auto& thread : threads)
        thread.join();

    // Each listener's rate against the stream's. A listener that got nothing
    // in the window, or was closed, counts as the worst deviation.
    double worst = 0, totalRate = 0;
    int withinOnePercent = 0, closed = 0;
    for (const auto& listener : listeners) {
        const double rate = listener->Rate();
        const double deviation = std::fabs(rate / StreamBytesPerSecond - 1.0);
        worst = std::max(worst, deviation);
        totalRate += rate;
        closed += listener->closed;
        if (deviation <= 0.01 && !listener->closed)
            ++withinOnePercent;
    }

    const double share = 100.0 * cpu / seconds;
    const double perListenerKiB = double(busyKiB - idleKiB) / count;
    std::printf("listeners:                 %d (%zu connected%s), read by %zu threads\n", count, listeners.size(),
                connected ? "" : ", NOT all streaming", readers.size());
    std::printf("measured:                  %d s\n", seconds);
    std::printf("received per listener:     %.0f bytes/s (stream %.0f bytes/s)\n", totalRate / count,
                StreamBytesPerSecond);
    std::printf("station CPU:               %.3f s, %.1f %% of one core   (target < 50 %% at 10,000)\n", cpu, share);
    std::printf("CPU per listener-hour:     %.3f s\n", cpu * 3600.0 / (double(seconds) * count));
    std::printf("station memory idle:       %ld KiB\n", idleKiB);
    std::printf("station memory loaded:     %ld KiB\n", busyKiB);
    std::printf("memory per listener:       %.1f KiB   (target < 20 KiB; kernel socket buffers not included)\n",
                perListenerKiB);
    std::printf("closed or dropped:         %d listeners (%lld dropped by the station as too far behind)\n", closed,
                static_cast<long long>(station.Log().count(QStringLiteral(" dropped: "))));
    std::printf("paced within 1 %%:          %d of %d listeners, worst %.2f %%   (target: all)\n", withinOnePercent,
                count, 100.0 * worst);

    for (const auto& listener : listeners)
        ::close(listener->fd);
    return station.Stop() == 0 && connected ? 0 : 1;
}
