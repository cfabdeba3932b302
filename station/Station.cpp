// SPDX-License-Identifier: GPL-3.0-or-later
#include "Station.h"

#include "Log.h"
#include "Peer.h"
#include "StreamHeaderBuilder.h"

#include "wire/StreamRecords.h"

#include <array>

namespace station {

asio::ip::tcp::endpoint ResolvePassive(asio::io_context& io, const HostPort& where)
{
    asio::ip::tcp::resolver resolver(io);
    const auto results = resolver.resolve(where.host, std::to_string(where.port),
                                          asio::ip::resolver_base::passive | asio::ip::resolver_base::numeric_service);
    return results.begin()->endpoint();
}

// Waits for the greeting of one new connection, within the greeting timeout.
class Greeter : public std::enable_shared_from_this<Greeter> {
public:
    Greeter(asio::ip::tcp::socket socket, Station& station)
        : socket_(std::move(socket)), timer_(socket_.get_executor()), station_(station), peer_(station.Peer(socket_)) {}

    void Start(double timeoutSeconds)
    {
        timer_.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(timeoutSeconds)));
        timer_.async_wait([self = shared_from_this()](asio::error_code ec) {
            if (!ec)
                self->Fail("no greeting in time, closed");
        });
        ReadMore();
    }

private:
    void ReadMore()
    {
        socket_.async_read_some(asio::buffer(received_.data() + size_, received_.size() - size_),
                                [self = shared_from_this()](asio::error_code ec, std::size_t n) {
                                    self->Received(ec, n);
                                });
    }

    void Received(asio::error_code ec, std::size_t n)
    {
        if (done_)
            return;
        if (ec) {
            Fail(ec == asio::error::eof ? "closed before greeting" : "closed before greeting: " + ec.message());
            return;
        }
        size_ += n;
        const auto kind = Station::Classify(std::string_view(received_.data(), size_));
        if (kind == Station::Greeting::Incomplete) {
            ReadMore();
        } else if (kind == Station::Greeting::Wrong) {
            Fail("wrong greeting, closed");
        } else {
            Finish();
            station_.Greeted(std::move(socket_), peer_, kind);
        }
    }

    void Fail(const std::string& reason)
    {
        if (done_)
            return;
        LogLine(peer_ + " " + reason);
        Finish();
        asio::error_code ignored;
        socket_.close(ignored);
    }

    void Finish()
    {
        done_ = true;
        timer_.cancel();
        --station_.greeting_;
    }

    asio::ip::tcp::socket socket_;
    asio::steady_timer timer_;
    Station& station_;
    const std::string peer_;
    std::array<char, wire::StreamGreeting.size()> received_{};
    std::size_t size_ = 0;
    bool done_ = false;
};

Station::Station(asio::io_context& io, const StationSettings& settings, std::unique_ptr<AudioSource> source,
                 const std::string& label)
    : settings_(settings)
    , logPrefix_(label.empty() ? std::string() : "[" + label + "] ")
    , source_(std::move(source))
    , acceptor_(io, ResolvePassive(io, settings.listen), logPrefix_)
    , broadcaster_(io, *source_,
                   HeaderBytes(BuildStreamHeader(settings.name, source_->Format(), source_->AverageBytesPerSecond())),
                   {settings.burstSeconds, settings.queueSeconds})
    , info_(io, settings.infoTexts, settings.infoIntervalSeconds)
{
    broadcaster_.OnTitle = [this](const std::string& title) { info_.SetTitle(title); };
}

std::string Station::Peer(const asio::ip::tcp::socket& socket) const
{
    return logPrefix_ + PeerName(socket);
}

HostPort Station::Announced() const
{
    HostPort announce = settings_.announce.value_or(HostPort{settings_.listen.host, StreamEndpoint().port()});
    if (announce.host == "0.0.0.0" || announce.host == "::")
        announce.host = "127.0.0.1";
    return announce;
}

void Station::Start()
{
    broadcaster_.Start();
    info_.Start();
    acceptor_.Start([this](asio::ip::tcp::socket socket) { Accepted(std::move(socket)); });
}

void Station::Stop()
{
    acceptor_.Stop();
    broadcaster_.Stop();
    info_.Stop();
}

Station::Greeting Station::Classify(std::string_view received)
{
    const std::string_view stream = wire::StreamGreeting;
    const std::string_view info = wire::InfoGreeting;
    if (received.size() >= info.size() && received.substr(0, info.size()) == info)
        return Greeting::Info;
    if (received.size() >= stream.size())
        return received.substr(0, stream.size()) == stream ? Greeting::Stream : Greeting::Wrong;
    const bool mayBeStream = stream.substr(0, received.size()) == received;
    const bool mayBeInfo = received.size() < info.size() && info.substr(0, received.size()) == received;
    return mayBeStream || mayBeInfo ? Greeting::Incomplete : Greeting::Wrong;
}

void Station::Accepted(asio::ip::tcp::socket socket)
{
    if (greeting_ >= settings_.maxListeners) {
        LogLine(Peer(socket) + " refused: too many connections waiting to greet");
        return;
    }
    ++greeting_;
    std::make_shared<Greeter>(std::move(socket), *this)->Start(settings_.greetingTimeoutSeconds);
}

void Station::Greeted(asio::ip::tcp::socket socket, const std::string& peer, Greeting kind)
{
    if (kind == Greeting::Stream) {
        if (broadcaster_.ListenerCount() >= settings_.maxListeners) {
            LogLine(peer + " refused: " + std::to_string(settings_.maxListeners) + " listeners already");
            return;
        }
        broadcaster_.AddListener(std::move(socket), peer);
    } else {
        if (info_.ReaderCount() >= settings_.maxListeners) {
            LogLine(peer + " refused: " + std::to_string(settings_.maxListeners) + " info readers already");
            return;
        }
        info_.AddReader(std::move(socket), peer);
    }
}

} // namespace station
