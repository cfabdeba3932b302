// SPDX-License-Identifier: GPL-3.0-or-later
// A real station under 1,600 hostile connections on 127.0.0.1: some never
// greet, some greet one byte a second, some send garbage, some greet and then
// read nothing. Every one the station closes comes back a second later. The
// listeners that were already there must go on getting audio at the stream's
// pace, a listener that joins meanwhile must be served, and the station's
// memory must stay bounded.
//
// One thread drives every socket with poll(); the numbers are what a 2-core
// CI machine stands next to other tests (the descriptor limit is raised).
#include "StationProcess.h"
#include "tests/support/LoopbackSocket.h"
#include "tests/support/Vitals.h"
#include "wire/StreamRecords.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <fcntl.h>
#include <iostream>
#include <poll.h>
#include <random>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int PerKind = 400;
constexpr auto Attack = 15s;
constexpr unsigned BytesPerSecond = 3000; // the default stream: 24 kbit/s

enum class Kind { Silent, Slow, Garbage, Deaf, Good };

struct Peer {
    Kind kind;
    int fd = -1;
    std::size_t greeted = 0;     // greeting bytes sent so far
    Clock::time_point next{};    // the next byte (Slow) or the reopening (closed peers)
    std::size_t received = 0;    // audio bytes (Good), counted from the measurement's start
    Clock::time_point lastRead{};
    double worstGapSeconds = 0;
};

int Open(unsigned short port, Kind kind)
{
    // A deaf peer's small buffer fills at once, so the station's queue for it grows.
    const int fd = testsupport::ConnectLoopback(port, testsupport::ConnectOptions().ReceiveBuffer(kind == Kind::Deaf ? 4096 : 0));
    if (fd < 0)
        return -1;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

void Send(int fd, std::string_view bytes) { ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

// What each kind does when it is (re)opened.
void Begin(Peer& peer, unsigned short port)
{
    peer.fd = Open(port, peer.kind);
    peer.greeted = 0;
    peer.next = Clock::now() + 1s;
    if (peer.fd < 0)
        return;
    if (peer.kind == Kind::Deaf || peer.kind == Kind::Good)
        Send(peer.fd, wire::StreamGreeting);
    if (peer.kind == Kind::Garbage) {
        static std::mt19937 random(14);
        std::string junk(4096, '\0');
        for (char& c : junk)
            c = char(random());
        junk[0] = 'X'; // never the start of a greeting
        Send(peer.fd, junk);
    }
}

// Reads what is waiting; false once the station has closed the connection.
bool Drain(Peer& peer)
{
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(peer.fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            peer.received += std::size_t(n);
            continue;
        }
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

class HostileListeners : public ::testing::Test {
protected:
    void SetUp() override
    {
        rlimit files{};
        ::getrlimit(RLIMIT_NOFILE, &files);
        files.rlim_cur = std::min<rlim_t>(files.rlim_max, 16384);
        ::setrlimit(RLIMIT_NOFILE, &files); // the station inherits it
        ASSERT_GE(files.rlim_cur, rlim_t(4 * PerKind + 200)) << "descriptor limit too low for this test";
        ASSERT_TRUE(station.Start());
    }

    // One round of poll over every peer: reads the good ones, drips the slow
    // ones, notices the closed ones and reopens them a second later.
    void Step(std::vector<Peer>& peers)
    {
        std::vector<pollfd> fds;
        fds.reserve(peers.size());
        for (const Peer& p : peers) {
            const short events = p.kind == Kind::Deaf ? POLLRDHUP : POLLIN | POLLRDHUP;
            fds.push_back({p.fd, p.fd < 0 ? short(0) : events, 0});
        }
        ::poll(fds.data(), fds.size(), 20);
        const Clock::time_point now = Clock::now();
        for (std::size_t i = 0; i < peers.size(); ++i) {
            Peer& p = peers[i];
            if (p.fd < 0) {
                if (now >= p.next && p.kind != Kind::Good)
                    Begin(p, station.StreamPort());
                continue;
            }
            bool open = true;
            if (p.kind == Kind::Good) {
                const std::size_t before = p.received;
                open = !(fds[i].revents & (POLLIN | POLLRDHUP | POLLHUP)) || Drain(p);
                if (p.received > before) {
                    if (p.lastRead != Clock::time_point{})
                        p.worstGapSeconds = std::max(p.worstGapSeconds, std::chrono::duration<double>(now - p.lastRead).count());
                    p.lastRead = now;
                }
            } else if (fds[i].revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR)) {
                open = p.kind != Kind::Deaf && Drain(p);
            }
            if (p.kind == Kind::Slow && open && now >= p.next && p.greeted < wire::StreamGreeting.size()) {
                Send(p.fd, wire::StreamGreeting.substr(p.greeted++, 1));
                p.next = now + 1s;
            }
            if (!open) {
                ::close(p.fd);
                p.fd = -1;
                p.next = now + 1s;
                ++closedByStation[std::size_t(p.kind)];
            }
        }
    }

    Peer GoodListener()
    {
        Peer p{Kind::Good};
        Begin(p, station.StreamPort());
        EXPECT_GE(p.fd, 0);
        return p;
    }

    // A short queue, so that the listeners that read nothing are dropped
    // (and come back) within the attack.
    testsupport::StationProcess station{{"--greeting-timeout", "3", "--queue", "3"}};
    std::array<std::size_t, 5> closedByStation{}; // by Kind
};

} // namespace

TEST_F(HostileListeners, GoodListenersStayPacedAndMemoryStaysBounded)
{
    std::vector<Peer> peers;
    for (int i = 0; i < 3; ++i)
        peers.push_back(GoodListener());
    // Past the header and the opening burst before the attack begins.
    const Clock::time_point warm = Clock::now() + 3s;
    while (Clock::now() < warm)
        Step(peers);
    const std::size_t residentBefore = testsupport::ResidentKib(station.ProcessId());
    for (Peer& p : peers)
        p = Peer{p.kind, p.fd};

    for (Kind kind : {Kind::Silent, Kind::Slow, Kind::Garbage, Kind::Deaf})
        for (int i = 0; i < PerKind; ++i) {
            peers.push_back(Peer{kind});
            Begin(peers.back(), station.StreamPort());
        }
    const Clock::time_point start = Clock::now();
    std::size_t residentPeak = residentBefore;
    bool joined = false;
    std::size_t joinedAt = 0;
    Clock::time_point lastSample = start;
    while (Clock::now() - start < Attack) {
        Step(peers);
        if (!joined && Clock::now() - start > Attack / 2) {
            joinedAt = peers.size();
            peers.push_back(GoodListener());
            joined = true;
        }
        if (Clock::now() - lastSample > 250ms) {
            residentPeak = std::max(residentPeak, testsupport::ResidentKib(station.ProcessId()));
            lastSample = Clock::now();
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    int open = 0;
    for (const Peer& p : peers)
        open += p.fd >= 0 && p.kind != Kind::Good;
    std::cout << "hostile connections open at the end " << open << "; closed by the station: " << closedByStation[0]
              << " silent, " << closedByStation[1] << " slow, " << closedByStation[2] << " garbage, "
              << station.Log().count(QStringLiteral("dropped: more than")) << " deaf; station resident " << residentBefore << " KiB before, peak " << residentPeak << " KiB\n";
    for (std::size_t i = 0; i < 3; ++i) {
        const double rate = peers[i].received / seconds;
        std::cout << "good listener " << i << ": " << rate << " bytes/s, longest gap " << peers[i].worstGapSeconds
                  << " s\n";
        EXPECT_GT(rate, 0.8 * BytesPerSecond) << "listener " << i << " fell behind";
        EXPECT_LT(peers[i].worstGapSeconds, 2.0) << "listener " << i << " waited too long for audio";
    }
    EXPECT_GT(peers[joinedAt].received, sizeof(TStreamHeader) + BytesPerSecond) << "a listener joining meanwhile was not served";
    for (Kind kind : {Kind::Silent, Kind::Slow, Kind::Garbage})
        EXPECT_GE(closedByStation[std::size_t(kind)], std::size_t(PerKind)) << "kind " << int(kind) << " kept its connections";
    // A deaf peer never sees its close (the FIN waits behind the unread
    // audio), so the station's log tells.
    EXPECT_GE(station.Log().count(QStringLiteral("dropped: more than")), PerKind) << "listeners that read nothing were kept";
    EXPECT_LT(residentPeak - std::min(residentPeak, residentBefore), 32u * 1024) << "station memory grew by more than 32 MiB";
    for (Peer& p : peers)
        if (p.fd >= 0)
            ::close(p.fd);
    EXPECT_EQ(station.Stop(), 0) << "the station did not survive";
}
