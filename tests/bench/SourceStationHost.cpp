// One station in a given output format, for the source benchmark: what
// sendolin-station runs, with the format given as arguments. Prints
// "stream HOST:PORT" once on the air; SIGTERM ends it.
// Usage: source_station_host SOURCE RATE CHANNELS KBPS|copy
#include "AudioSource.h"
#include "Options.h"
#include "Station.h"

#include <asio.hpp>

#include <csignal>
#include <cstdio>
#include <iostream>

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::cerr << "usage: source_station_host SOURCE RATE CHANNELS KBPS|copy\n";
        return 2;
    }
    station::Options options;
    options.listen = {"127.0.0.1", 0};
    options.name = "Bench";
    options.source = argv[1];
    options.maxListeners = 20000;
    const bool copy = std::string(argv[4]) == "copy";
    const station::StationFormat format{std::atoi(argv[2]), std::atoi(argv[3]), copy ? 0 : std::atoi(argv[4]), copy};
    std::signal(SIGPIPE, SIG_IGN);
    try {
        asio::io_context io;
        station::Station station(io, options, station::MakeSource(options.source, format));
        asio::signal_set signals(io, SIGINT, SIGTERM);
        signals.async_wait([&](asio::error_code, int) {
            station.Stop();
            io.stop();
        });
        station.Start();
        std::cout << "stream 127.0.0.1:" << station.StreamEndpoint().port() << std::endl;
        io.run();
    } catch (const std::exception& e) {
        std::cerr << "source_station_host: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
