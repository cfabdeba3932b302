// SPDX-License-Identifier: GPL-3.0-or-later
// A scripted TCP peer on 127.0.0.1 for socket tests.
//
// Everything runs on the test's (GUI) thread: each wait polls the descriptor
// briefly and pumps the event loop in between, so the component under test
// keeps receiving its notices while the script waits for it. The header is
// free of system socket headers, so tests of the WinSock layer can include it.
#pragma once

#include <string>

namespace testsupport {

class LoopbackPeer {
public:
    explicit LoopbackPeer(int fd = -1) : m_fd(fd) {}
    LoopbackPeer(LoopbackPeer&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    LoopbackPeer& operator=(LoopbackPeer&& other) noexcept;
    ~LoopbackPeer() { Close(); }

    bool Valid() const { return m_fd >= 0; }
    // For a script that sends from a thread of its own (Send pumps the GUI loop).
    int Descriptor() const { return m_fd; }

    bool Send(const std::string& bytes);
    // Bytes that have arrived and not been read yet.
    size_t Waiting() const;
    // Reads until `count` bytes have arrived, the peer closed, or the time is up.
    std::string Receive(size_t count, int timeoutMs = 5000);
    // True once the other side has closed its end (discarding what it sent).
    bool WaitForClose(int timeoutMs = 5000);
    void Close();
    // Closes with a reset instead of an orderly close.
    void Reset();

private:
    int m_fd;
};

class LoopbackServer {
public:
    LoopbackServer();
    ~LoopbackServer();

    unsigned short Port() const { return m_port; }
    LoopbackPeer Accept(int timeoutMs = 5000);

    // A port on which nothing listens: bound once, then released.
    static unsigned short ClosedPort();

private:
    int m_fd = -1;
    unsigned short m_port = 0;
};

} // namespace testsupport
