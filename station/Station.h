// One running station: the listening socket of the stream and info channels,
// the greeting every new connection must send, the broadcast clock, the info
// board and, when asked for, the directory. Everything runs on the one
// io_context thread that owns the Station; nothing here takes a lock.
#pragma once

#include "AcceptLoop.h"
#include "AudioSource.h"
#include "Broadcaster.h"
#include "DirectoryServer.h"
#include "InfoBoard.h"
#include "Options.h"

#include <asio.hpp>

#include <memory>
#include <optional>

namespace station {

class Station {
public:
    // Binds every socket; throws std::runtime_error (or asio's system_error)
    // when a source or an address cannot be used.
    Station(asio::io_context& io, const Options& options, std::unique_ptr<AudioSource> source);

    void Start();
    void Stop();

    asio::ip::tcp::endpoint StreamEndpoint() const { return acceptor_.LocalEndpoint(); }
    std::optional<asio::ip::tcp::endpoint> DirectoryEndpoint() const;

    // Where the greeting of a new connection leads.
    enum class Greeting { Incomplete, Stream, Info, Wrong };
    static Greeting Classify(std::string_view received);

private:
    friend class Greeter;
    void Accepted(asio::ip::tcp::socket socket);
    void Greeted(asio::ip::tcp::socket socket, const std::string& peer, Greeting kind);

    const Options options_;
    std::unique_ptr<AudioSource> source_;
    AcceptLoop acceptor_;
    Broadcaster broadcaster_;
    InfoBoard info_;
    std::unique_ptr<DirectoryServer> directory_;
    std::size_t greeting_ = 0; // connections that have not greeted yet
};

} // namespace station
