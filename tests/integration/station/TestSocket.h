// SPDX-License-Identifier: GPL-3.0-or-later
// A blocking TCP client on 127.0.0.1 for station tests: connect, send, and
// receive with deadlines, so a misbehaving station fails a test instead of
// hanging it. Owns its descriptor.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

class TestSocket {
public:
    // receiveBuffer > 0 shrinks the kernel's receive buffer before connecting.
    explicit TestSocket(unsigned short port, int receiveBuffer = 0);
    ~TestSocket();
    TestSocket(TestSocket&& other) noexcept;
    TestSocket(const TestSocket&) = delete;
    TestSocket& operator=(const TestSocket&) = delete;

    bool Connected() const { return fd_ >= 0; }
    bool Send(std::string_view bytes);
    // Greets as the client's stream channel does and receives the stream
    // header into `header`; false when the greeting or the whole header failed.
    bool ListenForStream(std::string& header, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Appends up to `count` bytes to `out`, waiting at most `timeout`; stops early at end of stream.
    std::size_t ReceiveExactly(std::string& out, std::size_t count, std::chrono::milliseconds timeout);
    // Appends everything that arrives during `duration`.
    std::size_t ReceiveFor(std::string& out, std::chrono::milliseconds duration);
    // Reads and discards until the peer closes; false if it is still open after `timeout`.
    bool WaitForClose(std::chrono::milliseconds timeout);
    // Receives until the peer closes (or `timeout`), returning everything.
    std::string ReceiveAll(std::chrono::milliseconds timeout);

private:
    // One recv after waiting for data until `deadline`: bytes read, 0 at end
    // of stream or error, -1 when the deadline passed.
    long ReceiveSome(std::string& out, std::size_t max, std::chrono::steady_clock::time_point deadline);

    int fd_ = -1;
    bool closedByPeer_ = false;
};
