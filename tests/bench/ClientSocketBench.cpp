// SPDX-License-Identifier: GPL-3.0-or-later
// Receive benchmark of the client connection: a loopback peer thread writes
// MEGABYTES (default 256) as fast as it can; TClientSocket reads it on the GUI
// thread through its read notices. Prints throughput, read notices per
// second and the GUI thread's CPU time per megabyte.
// Usage: client_socket_bench [MEGABYTES]
#include "net/ScktComp.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <ctime>
#include <string>
#include <thread>

#include "tests/support/LoopbackServer.h"

namespace {

double ThreadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long long megabytes = argc > 1 ? std::stoll(argv[1]) : 256;
    const long long total = megabytes << 20;

    testsupport::LoopbackServer server;
    TClientSocket socket;
    long long received = 0;
    long long notices = 0;
    socket.OnRead = [&](QObject*, TCustomWinSocket* s) {
        ++notices;
        received += static_cast<long long>(s->ReceiveString().size());
    };
    socket.SetHost("127.0.0.1");
    socket.SetPort(server.Port());
    socket.OpenConnection();
    testsupport::LoopbackPeer peer = server.Accept();

    std::thread writer([&] {
        const std::string block(1 << 16, 'x');
        for (long long sent = 0; sent < total; sent += static_cast<long long>(block.size()))
            if (!peer.Send(block))
                break;
    });
    QElapsedTimer clock;
    clock.start();
    const double cpuStart = ThreadCpuSeconds();
    while (received < total)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const double cpu = ThreadCpuSeconds() - cpuStart;
    writer.join();

    std::printf("received %lld MiB in %.2f s: %.1f MiB/s\n", megabytes, seconds, static_cast<double>(megabytes) / seconds);
    std::printf("read notices: %lld (%.0f per second, %.1f KiB per notice)\n", notices,
                static_cast<double>(notices) / seconds, static_cast<double>(total) / 1024.0 / static_cast<double>(notices));
    std::printf("GUI thread CPU: %.3f s, %.2f ms per MiB\n", cpu, cpu * 1000.0 / static_cast<double>(megabytes));
    return 0;
}
