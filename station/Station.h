// SPDX-License-Identifier: GPL-3.0-or-later
// One running station: the listening socket of the stream and info channels,
// the greeting every new connection must send, the broadcast clock and the
// info board. The directory that lists it is apart (StationGroup owns both).
// Everything runs on the one io_context thread that owns the Station; nothing
// here takes a lock.
#pragma once

#include "AcceptLoop.h"
#include "AudioSource.h"
#include "Broadcaster.h"
#include "InfoBoard.h"
#include "Options.h"

#include <asio.hpp>

#include <memory>

namespace station {

// The address to bind for HOST:PORT; throws asio's system_error for a host
// that does not resolve.
asio::ip::tcp::endpoint ResolvePassive(asio::io_context& io, const HostPort& where);

class Station {
public:
    // Binds every socket; throws std::runtime_error (or asio's system_error)
    // when a source or an address cannot be used.
    // `label` starts the station's log lines, so that those of many stations
    // in one log can be told apart; empty for a station alone.
    Station(asio::io_context& io, const StationSettings& settings, std::unique_ptr<AudioSource> source,
            const std::string& label = {});

    void Start();
    void Stop();

    asio::ip::tcp::endpoint StreamEndpoint() const { return acceptor_.LocalEndpoint(); }
    // The address a directory lists for this station: the announce address,
    // else the one it listens on, with 127.0.0.1 for a wildcard host.
    HostPort Announced() const;
    const StationSettings& Settings() const { return settings_; }
    const std::string& LogPrefix() const { return logPrefix_; }

    // Where the greeting of a new connection leads.
    enum class Greeting { Incomplete, Stream, Info, Wrong };
    static Greeting Classify(std::string_view received);

private:
    friend class Greeter;
    void Accepted(asio::ip::tcp::socket socket);
    void Greeted(asio::ip::tcp::socket socket, const std::string& peer, Greeting kind);
    // The peer as the station's log lines name it.
    std::string Peer(const asio::ip::tcp::socket& socket) const;

    const StationSettings settings_;
    const std::string logPrefix_;
    std::unique_ptr<AudioSource> source_;
    AcceptLoop acceptor_;
    Broadcaster broadcaster_;
    InfoBoard info_;
    std::size_t greeting_ = 0; // connections that have not greeted yet
};

} // namespace station
