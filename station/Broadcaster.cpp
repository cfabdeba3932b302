// SPDX-License-Identifier: GPL-3.0-or-later
#include "Broadcaster.h"

#include "Log.h"
#include "Peer.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace station {

namespace {

using Clock = std::chrono::steady_clock;

// Frames are released in batches rather than one wake-up per frame, and each
// batch is one socket write per listener. A small audience gets a batch every
// 100 ms; a large one less often, so that the writes stay at a number per
// second one core sends in well under half its time (a batch every 250 ms
// from 10,000 listeners on), but never so rarely that a listener's rate
// readout stumbles.
constexpr std::chrono::milliseconds ShortestTick{100};
constexpr std::chrono::milliseconds LongestTick{250};
constexpr double WritesPerSecond = 40000;

Clock::duration TickInterval(std::size_t listeners)
{
    const auto wanted = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(double(listeners) / WritesPerSecond));
    return std::clamp<Clock::duration>(wanted, ShortestTick, LongestTick);
}
// After a stall longer than this (a suspended machine) the clock restarts
// instead of sending everything it missed at once.
constexpr auto MaxLag = std::chrono::seconds(2);

} // namespace

class StreamListener : public Peer {
public:
    StreamListener(asio::ip::tcp::socket socket, std::string name, Broadcaster& owner)
        : Peer(std::move(socket), std::move(name)), owner_(owner)
    {
        // Writes are tried at once and must never block the broadcast clock.
        asio::error_code ignored;
        socket_.non_blocking(true, ignored);
    }

    // Queues a frame without writing; false when the unsent audio now exceeds
    // the bound. Flush() then sends everything queued in one write.
    bool Push(const AudioFrame& frame, double bound)
    {
        queue_.push_back(frame);
        queuedSeconds_ += frame.seconds;
        return queuedSeconds_ <= bound;
    }

    void Flush()
    {
        if (inFlight_.empty() && !queue_.empty())
            WriteMore();
    }

private:
    void Ended(const std::string& reason) override { owner_.Remove(this, reason); }

    void WriteMore()
    {
        inFlight_.assign(queue_.begin(), queue_.end());
        queue_.clear();
        buffers_.clear();
        for (const AudioFrame& f : inFlight_)
            buffers_.push_back(asio::buffer(*f.bytes));
        // Nearly every write fits the socket's buffer whole, so it is tried at
        // once; only what is left waits for the socket through the reactor,
        // which with thousands of listeners costs a quarter of the station.
        asio::error_code ec;
        const std::size_t sent = socket_.write_some(buffers_, ec);
        if (ec && ec != asio::error::would_block && ec != asio::error::try_again) {
            // Reported from the event loop, as a failed wait is: the
            // broadcaster may be walking its listeners right now.
            asio::post(socket_.get_executor(), [self = Self<StreamListener>(), ec] { self->Written(ec); });
            return;
        }
        if (DropSent(sent)) {
            Written({});
            return;
        }
        asio::async_write(socket_, buffers_, [self = Self<StreamListener>()](asio::error_code ec, std::size_t) {
            self->Written(ec);
        });
    }

    // Takes the first `sent` bytes off buffers_; true when nothing is left.
    bool DropSent(std::size_t sent)
    {
        auto first = buffers_.begin();
        while (first != buffers_.end() && sent >= first->size()) {
            sent -= first->size();
            ++first;
        }
        buffers_.erase(buffers_.begin(), first);
        if (buffers_.empty())
            return true;
        buffers_.front() += sent;
        return false;
    }

    void Written(asio::error_code ec)
    {
        if (!Sent(ec))
            return;
        for (const AudioFrame& f : inFlight_)
            queuedSeconds_ -= f.seconds;
        inFlight_.clear();
        if (!queue_.empty())
            WriteMore();
    }

    Broadcaster& owner_;
    std::deque<AudioFrame> queue_;
    std::vector<AudioFrame> inFlight_;
    std::vector<asio::const_buffer> buffers_; // inFlight_'s bytes, kept for the next write
    double queuedSeconds_ = 0;
};

Broadcaster::Broadcaster(asio::io_context& io, AudioSource& source, std::string header, BroadcastSettings settings)
    : timer_(io)
    , source_(source)
    , header_(std::make_shared<const std::string>(std::move(header)))
    , settings_(settings)
{
}

Broadcaster::~Broadcaster()
{
    Stop();
}

void Broadcaster::Start()
{
    due_ = Clock::now();
    Tick();
}

void Broadcaster::Stop()
{
    timer_.cancel();
    listeners_.CloseAll();
}

void Broadcaster::AddListener(asio::ip::tcp::socket socket, const std::string& peer)
{
    // A small kernel buffer keeps the unsent audio in our queue, where the
    // bound can see it, instead of hiding megabytes of it in the socket.
    asio::error_code ignored;
    socket.set_option(asio::socket_base::send_buffer_size(std::max(4096, source_.AverageBytesPerSecond())), ignored);

    auto listener = std::make_shared<StreamListener>(std::move(socket), peer, *this);
    listeners_.Add(listener);
    LogLine(peer + " stream listener connected (" + std::to_string(listeners_.Size()) + " listening)");
    listener->Start();
    listener->Push({header_, 0}, settings_.queueSeconds);
    for (const AudioFrame& f : burst_)
        listener->Push(f, settings_.queueSeconds + settings_.burstSeconds);
    listener->Flush();
}

void Broadcaster::Tick()
{
    const auto now = Clock::now();
    if (now - due_ > MaxLag)
        due_ = now;
    batch_.clear();
    while (due_ <= now) {
        const AudioFrame frame = source_.Next();
        if (source_.Title() != title_) {
            title_ = source_.Title();
            if (OnTitle)
                OnTitle(title_);
        }
        batch_.push_back(frame);
        due_ += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(frame.seconds));
    }
    if (!batch_.empty())
        Release(batch_);
    timer_.expires_at(std::max(due_, now + TickInterval(listeners_.Size())));
    timer_.async_wait([this](asio::error_code ec) {
        if (!ec)
            Tick();
    });
}

void Broadcaster::Release(const std::vector<AudioFrame>& frames)
{
    for (const AudioFrame& frame : frames) {
        burst_.push_back(frame);
        burstHeld_ += frame.seconds;
    }
    while (!burst_.empty() && burstHeld_ > settings_.burstSeconds) {
        burstHeld_ -= burst_.front().seconds;
        burst_.pop_front();
    }

    // One write per listener for the whole batch: with thousands of listeners
    // the socket writes are most of the station's work.
    std::vector<StreamListener*> overdue;
    listeners_.ForEach([&](StreamListener& listener) {
        // The burst a listener got on connecting counts on top of the bound.
        bool within = true;
        for (const AudioFrame& frame : frames)
            within = listener.Push(frame, settings_.queueSeconds + settings_.burstSeconds) && within;
        if (within)
            listener.Flush();
        else
            overdue.push_back(&listener);
    });
    for (StreamListener* raw : overdue) {
        char reason[96];
        std::snprintf(reason, sizeof reason, "dropped: more than %.1f s of audio unsent",
                      settings_.queueSeconds + settings_.burstSeconds);
        Remove(raw, reason);
    }
}

void Broadcaster::Remove(const StreamListener* listener, const std::string& reason)
{
    if (const std::shared_ptr<StreamListener> removed = listeners_.Remove(listener))
        LogLine(removed->Name() + " stream listener " + reason + " (" + std::to_string(listeners_.Size()) + " listening)");
}

} // namespace station
