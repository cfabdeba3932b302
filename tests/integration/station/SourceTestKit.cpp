// SPDX-License-Identifier: GPL-3.0-or-later
#include "SourceTestKit.h"

#include "tests/support/LoopbackSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace sourcetest {

using Clock = std::chrono::steady_clock;

StderrCapture::StderrCapture()
{
    char name[] = "/tmp/sendolin-source-log-XXXXXX";
    const int fd = ::mkstemp(name);
    path_ = name;
    std::fflush(stderr);
    saved_ = ::dup(2);
    ::dup2(fd, 2);
    ::close(fd);
}

StderrCapture::~StderrCapture()
{
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
    ::unlink(path_.c_str());
}

std::string StderrCapture::Text() const
{
    std::fflush(stderr);
    std::ifstream in(path_);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

Pulled Pull(station::AudioSource& source, double seconds, const std::function<bool(const Pulled&)>& stop)
{
    Pulled pulled;
    const auto start = Clock::now();
    double due = 0;
    while (due < seconds && !(stop && stop(pulled))) {
        std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(
                                                  std::chrono::duration<double>(due)));
        const auto before = Clock::now();
        station::AudioFrame frame = source.Next();
        pulled.longestCall = std::max(pulled.longestCall,
                                      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - before));
        pulled.titles.push_back(source.Title());
        due += frame.seconds;
        pulled.frames.push_back(std::move(frame));
    }
    return pulled;
}

std::string AudioOf(const std::vector<station::AudioFrame>& frames, const std::string& silence)
{
    std::string audio;
    for (const station::AudioFrame& f : frames) {
        if (*f.bytes != silence)
            audio += *f.bytes;
    }
    return audio;
}

ScriptedUpstream::ScriptedUpstream(std::vector<Step> script)
    : script_(std::move(script))
{
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 16);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { Serve(); });
}

ScriptedUpstream::~ScriptedUpstream()
{
    stop_ = true;
    acceptor_.join();
    std::lock_guard lock(mutex_);
    for (std::thread& t : workers_)
        t.join();
    ::close(listener_);
}

std::string ScriptedUpstream::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void ScriptedUpstream::Serve()
{
    while (!stop_) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0)
            continue;
        const std::size_t index = std::min<std::size_t>(std::size_t(connections_++), script_.size() - 1);
        std::lock_guard lock(mutex_);
        workers_.emplace_back([this, fd, step = script_[index]] {
            std::string request;
            char buffer[2048];
            while (request.find("\r\n\r\n") == std::string::npos) {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 2000) <= 0)
                    break;
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                request.append(buffer, std::size_t(n));
            }
            const auto space = request.find(' ');
            const std::string path = request.substr(space + 1, request.find(' ', space + 1) - space - 1);
            step(fd, path, stop_);
            ::close(fd);
        });
    }
}

using testsupport::SendAll;

ScriptedUpstream::Step ScriptedUpstream::Answer(std::string statusAndHeaders, std::string body)
{
    return [=](int fd, const std::string&, const std::atomic<bool>&) {
        SendAll(fd, statusAndHeaders + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    };
}

ScriptedUpstream::Step ScriptedUpstream::Stream(std::string mp3, int bytesPerSecond, double seconds, bool holdOpen)
{
    return [=](int fd, const std::string&, const std::atomic<bool>& stop) {
        if (!SendAll(fd, "HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n"))
            return;
        const auto start = Clock::now();
        const std::size_t total = std::size_t(seconds * bytesPerSecond);
        std::size_t sent = 0;
        while (sent < total && !stop) {
            // A second's worth at once, then in step with the clock.
            const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
            const std::size_t due = std::min(total, std::size_t((elapsed + 1) * bytesPerSecond));
            while (sent < due) {
                const std::size_t at = sent % mp3.size();
                const std::size_t chunk = std::min(due - sent, mp3.size() - at);
                if (!SendAll(fd, std::string_view(mp3).substr(at, chunk)))
                    return;
                sent += chunk;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        while (holdOpen && !stop)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    };
}

} // namespace sourcetest
