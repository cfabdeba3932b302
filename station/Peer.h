// SPDX-License-Identifier: GPL-3.0-or-later
// One greeted connection the station only sends to: a stream listener or an
// info reader. What such a peer sends after its greeting is read and thrown
// away so it never backs up, and its close, or a failed send, ends it once
// through Ended(). Closing it ourselves ends nothing: the cancelled reads and
// writes report no reason. Lives in a shared_ptr (its handlers keep it alive)
// and runs on the station's one io_context thread.
#pragma once

#include <asio.hpp>

#include <functional>
#include <memory>
#include <string>

namespace station {

// The remote address as log lines name a connection, "?" once it is gone.
std::string PeerName(const asio::ip::tcp::socket& socket);

// Reads and discards until the peer closes or the socket fails, then calls
// onClosed with the reason for the log. onClosed must keep the socket's owner
// alive (capture its shared_ptr); a cancelled read (socket closed by us)
// calls nothing.
void DrainUntilClosed(asio::ip::tcp::socket& socket, std::function<void(const std::string&)> onClosed);

class Peer : public std::enable_shared_from_this<Peer> {
public:
    // `name` starts the peer's log lines.
    Peer(asio::ip::tcp::socket socket, std::string name);
    virtual ~Peer() = default;
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    const std::string& Name() const { return name_; }
    // Starts draining what the peer sends.
    void Start();
    void Close();

protected:
    // The peer went away or a send to it failed; `reason` is for the log.
    virtual void Ended(const std::string& reason) = 0;
    // For a finished write: false when it failed, and Ended() has been told
    // unless the failure was our own close.
    bool Sent(const asio::error_code& ec);
    template <class Derived>
    std::shared_ptr<Derived> Self()
    {
        return std::static_pointer_cast<Derived>(shared_from_this());
    }

    asio::ip::tcp::socket socket_;

private:
    const std::string name_;
};

} // namespace station
