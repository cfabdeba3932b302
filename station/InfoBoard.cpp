// SPDX-License-Identifier: GPL-3.0-or-later
#include "InfoBoard.h"

#include "DrainReader.h"
#include "Log.h"

#include <array>
#include <chrono>

namespace station {

class InfoReader : public std::enable_shared_from_this<InfoReader> {
public:
    InfoReader(asio::ip::tcp::socket socket, std::string peer, InfoBoard& owner)
        : socket_(std::move(socket)), peer_(std::move(peer)), owner_(owner) {}

    const std::string& Peer() const { return peer_; }

    void Start() { ReadMore(); }

    void Send(std::shared_ptr<const std::string> text)
    {
        if (text->empty())
            return;
        pending_ = std::move(text);
        if (!sending_)
            WriteMore();
    }

    void Close()
    {
        asio::error_code ignored;
        socket_.close(ignored);
    }

private:
    void WriteMore()
    {
        sending_ = std::move(pending_);
        asio::async_write(socket_, asio::buffer(*sending_), [self = shared_from_this()](asio::error_code ec, std::size_t) {
            self->sending_.reset();
            if (ec) {
                if (ec != asio::error::operation_aborted)
                    self->owner_.Remove(self.get(), "send failed: " + ec.message());
            } else if (self->pending_) {
                self->WriteMore();
            }
        });
    }

    void ReadMore()
    {
        DrainUntilClosed(socket_, [self = shared_from_this()](const std::string& reason) {
            self->owner_.Remove(self.get(), reason);
        });
    }

    asio::ip::tcp::socket socket_;
    const std::string peer_;
    InfoBoard& owner_;
    std::shared_ptr<const std::string> sending_;
    std::shared_ptr<const std::string> pending_;
};

InfoBoard::InfoBoard(asio::io_context& io, std::vector<std::string> texts, double intervalSeconds)
    : timer_(io)
    , texts_(std::move(texts))
    , intervalSeconds_(intervalSeconds)
    , current_(std::make_shared<const std::string>())
{
}

InfoBoard::~InfoBoard()
{
    Stop();
}

void InfoBoard::Start()
{
    if (!texts_.empty())
        Rotate();
}

void InfoBoard::Stop()
{
    timer_.cancel();
    for (auto& [raw, reader] : readers_)
        reader->Close();
    readers_.clear();
}

void InfoBoard::SetTitle(const std::string& title)
{
    if (texts_.empty())
        Publish(title);
}

void InfoBoard::AddReader(asio::ip::tcp::socket socket, const std::string& peer)
{
    auto reader = std::make_shared<InfoReader>(std::move(socket), peer, *this);
    readers_.emplace(reader.get(), reader);
    LogLine(peer + " info reader connected");
    reader->Start();
    reader->Send(current_);
}

void InfoBoard::Rotate()
{
    Publish(texts_[next_]);
    next_ = (next_ + 1) % texts_.size();
    if (texts_.size() < 2)
        return;
    timer_.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(intervalSeconds_)));
    timer_.async_wait([this](asio::error_code ec) {
        if (!ec)
            Rotate();
    });
}

void InfoBoard::Publish(const std::string& text)
{
    if (text == *current_)
        return;
    current_ = std::make_shared<const std::string>(text);
    for (auto& [raw, reader] : readers_)
        reader->Send(current_);
}

void InfoBoard::Remove(InfoReader* reader, const std::string& reason)
{
    const auto it = readers_.find(reader);
    if (it == readers_.end())
        return;
    const std::shared_ptr<InfoReader> keep = it->second;
    readers_.erase(it);
    keep->Close();
    LogLine(keep->Peer() + " info reader " + reason);
}

} // namespace station
