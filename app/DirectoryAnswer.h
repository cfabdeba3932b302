// SPDX-License-Identifier: GPL-3.0-or-later
// DirectoryAnswer: the directory query's bytes on both sides. It names the
// server and the request a query sends, collects the answer as it arrives
// and turns it into the station list when the connection closes.
//
// Plain state, no threads: the owner calls it from one thread. Between
// rebuilds the collected text keeps only what a later rebuild may still read
// (the last answer's head's empty line on), so it stays bounded over queries.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class DirectoryAnswer {
public:
    // Where a query connects: the host and port of "http://host[:port]/path".
    struct Server {
        std::string host;
        std::string port;
    };
    // One station line: "a.b.c.d:port" and its name, Windows-1252 bytes.
    struct Station {
        std::string address;
        std::string name;
    };

    static Server ServerOf(const std::string& directoryUrl);
    static std::string Request(const std::string& directoryUrl);

    // One received piece of the answer under way.
    void Collect(const std::string& chunk);
    // The connection closed: the stations of the last answer, its last line
    // first, and the collected text cut back to what a later rebuild reads.
    std::vector<Station> Rebuild();

    const std::string& Text() const { return m_text; }

    // The most of one answer that is kept: its last lines, the only ones a
    // rebuild reads. A directory that sends without end would otherwise grow
    // the client until the next query gives up on it. Cut only at twice the
    // size, so a long answer is not moved at every read.
    static constexpr std::size_t MaxKept = 8u << 20;

private:
    void CutBack();

    std::string m_text;
    // The answer under way has had its NUL byte: what follows it is dropped
    // until the connection closes.
    bool m_ended = false;
    // The query under way has brought bytes, so its answer has replaced the
    // previous one; a query that brings none leaves that one to be read again.
    bool m_started = false;
};
