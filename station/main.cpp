// sendolin-station: serves one station's stream and info channels and,
// optionally, the station directory. Single-threaded: one io_context runs
// every socket, timer and the broadcast clock; SIGINT and SIGTERM stop it.
#include "AudioSource.h"
#include "Log.h"
#include "Options.h"
#include "Station.h"

#include <asio.hpp>

#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <iostream>

namespace {

// Every listener is a descriptor; take all the process is allowed to have.
void RaiseDescriptorLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

std::string EndpointText(const asio::ip::tcp::endpoint& e)
{
    return e.address().to_string() + ":" + std::to_string(e.port());
}

} // namespace

int main(int argc, char** argv)
{
    station::Options options;
    try {
        options = station::ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const station::UsageError& e) {
        std::cerr << "sendolin-station: " << e.what() << " (see --help)\n";
        return 2;
    }
    if (options.help) {
        std::cout << station::UsageText();
        return 0;
    }

    RaiseDescriptorLimit();
    std::signal(SIGPIPE, SIG_IGN); // a listener that vanishes is an error code, not a signal
    try {
        asio::io_context io;
        const station::StationFormat format;
        station::Station station(io, options, station::MakeSource(options.source, format));

        asio::signal_set signals(io, SIGINT, SIGTERM);
        signals.async_wait([&](asio::error_code ec, int signal) {
            if (ec)
                return;
            station::LogLine(std::string("stopping on ") + (signal == SIGINT ? "SIGINT" : "SIGTERM"));
            station.Stop();
            io.stop();
        });

        station.Start();
        std::cout << "stream " << EndpointText(station.StreamEndpoint()) << "\n";
        if (const auto directory = station.DirectoryEndpoint())
            std::cout << "directory " << EndpointText(*directory) << "\n";
        std::cout.flush();
        station::LogLine("on the air: " + options.source);
        io.run();
    } catch (const std::exception& e) {
        std::cerr << "sendolin-station: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
