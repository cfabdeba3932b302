// SPDX-License-Identifier: GPL-3.0-or-later
// The info channel: every connected reader gets the current text at once and
// each new text as it changes. The texts are either the configured ones in
// rotation or the title of what the station plays. Only the newest text
// matters, so a reader that cannot keep up has older unsent texts replaced,
// never piled up. Runs on the station's single Asio thread.
#pragma once

#include "PeerSet.h"

#include <asio.hpp>

#include <memory>
#include <string>
#include <vector>

namespace station {

class InfoReader;

class InfoBoard {
public:
    // `texts` are Windows-1252; with none, the board shows the titles given to SetTitle.
    InfoBoard(asio::io_context& io, std::vector<std::string> texts, double intervalSeconds);
    ~InfoBoard();

    void Start();
    void Stop();
    void SetTitle(const std::string& title);
    void AddReader(asio::ip::tcp::socket socket, const std::string& peer);
    std::size_t ReaderCount() const { return readers_.Size(); }

private:
    friend class InfoReader;
    void Rotate();
    void Publish(const std::string& text);
    void Remove(const InfoReader* reader, const std::string& reason);

    asio::steady_timer timer_;
    const std::vector<std::string> texts_;
    const double intervalSeconds_;
    std::size_t next_ = 0;
    std::shared_ptr<const std::string> current_;
    PeerSet<InfoReader> readers_;
};

} // namespace station
