// SPDX-License-Identifier: GPL-3.0-or-later
#include "DirectoryServer.h"

#include "Log.h"
#include "Peer.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>

namespace station {

namespace {

constexpr auto RequestTimeout = std::chrono::seconds(10);
// After answering, the rest of what the client sends is read and dropped until
// it closes, so that closing our end never resets the connection while the
// answer is still on its way.
constexpr auto LingerTimeout = std::chrono::seconds(5);
constexpr std::string_view QueryTarget = "index.php?action=queryuser";

std::string Answer(std::string_view status, std::string_view body)
{
    std::string answer = "HTTP/1.0 ";
    answer += status;
    answer += "\r\nContent-Type: text/plain; charset=windows-1252\r\nContent-Length: ";
    answer += std::to_string(body.size());
    answer += "\r\nConnection: close\r\n\r\n";
    answer += body;
    return answer;
}

std::string ErrorAnswer(std::string_view status)
{
    return Answer(status, std::string(status) + "\r\n");
}

// The request line as it may appear in the log: short, and printable only.
std::string RequestLine(std::string_view head)
{
    std::string line(head.substr(0, std::min<std::size_t>(head.find_first_of("\r\n"), 120)));
    for (char& c : line) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F)
            c = '?';
    }
    return line;
}

class DirectorySession : public std::enable_shared_from_this<DirectorySession> {
public:
    DirectorySession(asio::ip::tcp::socket socket, const std::vector<DirectoryEntry>& entries)
        : socket_(std::move(socket)), timer_(socket_.get_executor()), entries_(entries), peer_(PeerName(socket_)) {}

    void Start()
    {
        CloseAfter(RequestTimeout, "no complete request in time, closed");
        ReadRequest();
    }

private:
    void ReadRequest()
    {
        socket_.async_read_some(asio::buffer(chunk_), [self = shared_from_this()](asio::error_code ec, std::size_t n) {
            if (ec) {
                if (ec != asio::error::operation_aborted)
                    LogLine(self->peer_ + " directory: connection ended before a complete request");
                self->Close();
                return;
            }
            self->Received(n);
        });
    }

    void Received(std::size_t n)
    {
        request_.append(chunk_.data(), n);
        const std::size_t end = DirectoryServer::HeadEnd(request_);
        if (end != std::string::npos && end <= DirectoryServer::MaxRequestBytes) {
            const std::string_view head = std::string_view(request_).substr(0, end);
            Reply(DirectoryServer::Respond(head, entries_), RequestLine(head));
        } else if (request_.size() > DirectoryServer::MaxRequestBytes) {
            Reply(DirectoryServer::Oversized(),
                  "request larger than " + std::to_string(DirectoryServer::MaxRequestBytes) + " bytes");
        } else {
            ReadRequest();
        }
    }

    // `what` names the request in the log line.
    void Reply(std::string answer, std::string_view what)
    {
        answer_ = std::move(answer);
        LogLine(peer_ + " directory: " + answer_.substr(9, answer_.find('\r') - 9) + " for " + std::string(what));
        asio::async_write(socket_, asio::buffer(answer_), [self = shared_from_this()](asio::error_code ec, std::size_t) {
            if (ec) {
                self->Close();
                return;
            }
            asio::error_code ignored;
            self->socket_.shutdown(asio::socket_base::shutdown_send, ignored);
            self->CloseAfter(LingerTimeout, "");
            self->Drain();
        });
    }

    // Replaces any earlier deadline.
    void CloseAfter(std::chrono::seconds timeout, std::string reason)
    {
        timer_.expires_after(timeout);
        timer_.async_wait([self = shared_from_this(), reason = std::move(reason)](asio::error_code ec) {
            if (ec)
                return;
            if (!reason.empty())
                LogLine(self->peer_ + " directory: " + reason);
            self->Close();
        });
    }

    void Drain()
    {
        DrainUntilClosed(socket_, [self = shared_from_this()](const std::string&) { self->Close(); });
    }

    void Close()
    {
        asio::error_code ignored;
        timer_.cancel();
        socket_.close(ignored);
    }

    asio::ip::tcp::socket socket_;
    asio::steady_timer timer_;
    const std::vector<DirectoryEntry>& entries_;
    const std::string peer_;
    std::array<char, 1024> chunk_{};
    std::string request_;
    std::string answer_;
};

} // namespace

DirectoryServer::DirectoryServer(asio::io_context& io, const asio::ip::tcp::endpoint& endpoint,
                                 std::vector<DirectoryEntry> entries)
    : acceptor_(io, endpoint, "directory: ")
    , entries_(std::move(entries))
{
}

void DirectoryServer::Start()
{
    acceptor_.Start([this](asio::ip::tcp::socket socket) {
        std::make_shared<DirectorySession>(std::move(socket), entries_)->Start();
    });
}

void DirectoryServer::Stop()
{
    acceptor_.Stop();
}

std::size_t DirectoryServer::HeadEnd(std::string_view received)
{
    const std::size_t crlf = received.find("\r\n\r\n");
    const std::size_t lf = received.find("\n\n");
    if (crlf == std::string_view::npos && lf == std::string_view::npos)
        return std::string_view::npos;
    return crlf < lf ? crlf + 4 : lf + 2;
}

std::string DirectoryServer::Respond(std::string_view head, const std::vector<DirectoryEntry>& entries)
{
    const std::string_view line = head.substr(0, head.find_first_of("\r\n"));
    const std::size_t firstSpace = line.find(' ');
    const std::size_t lastSpace = line.rfind(' ');
    if (firstSpace == std::string_view::npos || firstSpace == lastSpace || firstSpace == 0)
        return ErrorAnswer("400 Bad Request");
    const std::string_view method = line.substr(0, firstSpace);
    const std::string_view target = line.substr(firstSpace + 1, lastSpace - firstSpace - 1);
    const std::string_view version = line.substr(lastSpace + 1);
    if (target.empty() || target.find(' ') != std::string_view::npos || !version.starts_with("HTTP/1."))
        return ErrorAnswer("400 Bad Request");
    if (method != "GET")
        return ErrorAnswer("405 Method Not Allowed");
    if (!target.ends_with(QueryTarget))
        return ErrorAnswer("404 Not Found");

    std::string body;
    for (const DirectoryEntry& e : entries)
        body += e.address + "," + e.name + "\r\n";
    return Answer("200 OK", body);
}

std::string DirectoryServer::Oversized()
{
    return ErrorAnswer("400 Bad Request");
}

} // namespace station
