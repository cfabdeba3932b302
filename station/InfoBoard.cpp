// SPDX-License-Identifier: GPL-3.0-or-later
#include "InfoBoard.h"

#include "Log.h"
#include "Peer.h"

#include <chrono>

namespace station {

class InfoReader : public Peer {
public:
    InfoReader(asio::ip::tcp::socket socket, std::string name, InfoBoard& owner)
        : Peer(std::move(socket), std::move(name)), owner_(owner) {}

    void Send(std::shared_ptr<const std::string> text)
    {
        if (text->empty())
            return;
        pending_ = std::move(text);
        if (!sending_)
            WriteMore();
    }

private:
    void Ended(const std::string& reason) override { owner_.Remove(this, reason); }

    void WriteMore()
    {
        sending_ = std::move(pending_);
        asio::async_write(socket_, asio::buffer(*sending_), [self = Self<InfoReader>()](asio::error_code ec, std::size_t) {
            self->sending_.reset();
            if (self->Sent(ec) && self->pending_)
                self->WriteMore();
        });
    }

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
    readers_.CloseAll();
}

void InfoBoard::SetTitle(const std::string& title)
{
    if (texts_.empty())
        Publish(title);
}

void InfoBoard::AddReader(asio::ip::tcp::socket socket, const std::string& peer)
{
    auto reader = std::make_shared<InfoReader>(std::move(socket), peer, *this);
    readers_.Add(reader);
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
    readers_.ForEach([this](InfoReader& reader) { reader.Send(current_); });
}

void InfoBoard::Remove(const InfoReader* reader, const std::string& reason)
{
    if (const std::shared_ptr<InfoReader> removed = readers_.Remove(reader))
        LogLine(removed->Name() + " info reader " + reason);
}

} // namespace station
