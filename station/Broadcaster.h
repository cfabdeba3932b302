// SPDX-License-Identifier: GPL-3.0-or-later
// The station's broadcast clock and its listeners. Frames are taken from the
// source on their real-time schedule and handed to every listener at once;
// each listener has its own queue of shared frames and its own socket writes,
// so a slow listener only ever delays itself, and is dropped when its queue
// outgrows the bound. Runs on the station's single Asio thread.
#pragma once

#include "AudioSource.h"
#include "PeerSet.h"

#include <asio.hpp>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace station {

class StreamListener;

struct BroadcastSettings {
    double burstSeconds = 2.0;   // audio a new listener gets at once
    double queueSeconds = 10.0;  // unsent audio after which a listener is dropped
};

class Broadcaster {
public:
    Broadcaster(asio::io_context& io, AudioSource& source, std::string header, BroadcastSettings settings);
    ~Broadcaster();

    void Start();
    void Stop();
    // Sends the header and the burst, then the live frames.
    void AddListener(asio::ip::tcp::socket socket, const std::string& peer);
    std::size_t ListenerCount() const { return listeners_.Size(); }
    // Called with the source's title whenever it changes (and once at start).
    std::function<void(const std::string&)> OnTitle;

private:
    friend class StreamListener;
    void Tick();
    // Hands the frames that fell due in one tick to every listener.
    void Release(const std::vector<AudioFrame>& frames);
    void Remove(const StreamListener* listener, const std::string& reason);

    asio::steady_timer timer_;
    AudioSource& source_;
    const std::shared_ptr<const std::string> header_;
    const BroadcastSettings settings_;
    std::chrono::steady_clock::time_point due_; // when the next frame goes out
    std::vector<AudioFrame> batch_; // the frames due in the current tick
    std::deque<AudioFrame> burst_;
    double burstHeld_ = 0;
    std::string title_;
    PeerSet<StreamListener> listeners_;
};

} // namespace station
