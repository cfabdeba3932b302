// SPDX-License-Identifier: GPL-3.0-or-later
// sendolin-station: serves the stream and info channels of one station (from
// its command line) or of every station of a stations file and, optionally,
// the station directory that lists them. Single-threaded: one io_context runs
// every socket, timer and broadcast clock; SIGINT and SIGTERM stop it.
#include "Log.h"
#include "Options.h"
#include "StationGroup.h"
#include "StationsFile.h"

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

// The stations to run. A stations file's stations take the process-wide
// options of the command line (the greeting timeout) as their defaults.
std::vector<station::StationPlan> Plans(const station::Options& options)
{
    if (options.stationsFile.empty())
        return {{options, "", ""}};
    station::StationSettings defaults;
    defaults.greetingTimeoutSeconds = options.greetingTimeoutSeconds;
    return station::ReadStationsFile(options.stationsFile, defaults, options.directory);
}

} // namespace

int main(int argc, char** argv)
{
    station::Options options;
    try {
        options = station::ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const station::UsageError& e) {
        station::LogFatal(std::string("sendolin-station: ") + e.what());
        std::cerr << "Try 'sendolin-station --help' for more information.\n";
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
        station::StationGroup group(io, Plans(options), options.directory, options.listed);

        asio::signal_set signals(io, SIGINT, SIGTERM);
        signals.async_wait([&](asio::error_code ec, int signal) {
            if (ec)
                return;
            station::LogLine(std::string("stopping on ") + (signal == SIGINT ? "SIGINT" : "SIGTERM"));
            group.Stop();
            io.stop();
        });

        group.Start();
        for (const auto& station : group.Stations())
            std::cout << "stream " << EndpointText(station->StreamEndpoint()) << "\n";
        if (const auto directory = group.DirectoryEndpoint())
            std::cout << "directory " << EndpointText(*directory) << "\n";
        std::cout.flush();
        io.run();
    } catch (const std::exception& e) {
        station::LogFatal(std::string("sendolin-station: ") + e.what());
        return 1;
    }
    return 0;
}
