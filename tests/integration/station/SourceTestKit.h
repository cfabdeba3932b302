// SPDX-License-Identifier: GPL-3.0-or-later
// What the source tests share: a source pulled at the broadcast clock's pace
// in the test's thread, the station's log lines captured from stderr, and a
// scripted HTTP upstream on 127.0.0.1 whose connections each follow the
// next step of a script on a thread of their own.
#pragma once

#include "AudioSource.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sourcetest {

// Everything the process writes to stderr while it lives, readable at any time.
class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    std::string Text() const;

private:
    int saved_ = -1;
    std::string path_;
};

struct Pulled {
    std::vector<station::AudioFrame> frames;
    std::vector<std::string> titles;            // the title after each frame
    std::chrono::microseconds longestCall{0};   // the slowest Next()
};

// Pulls frames as the broadcast clock does, in real time, for `seconds`;
// `stop` may end it early.
Pulled Pull(station::AudioSource& source, double seconds,
            const std::function<bool(const Pulled&)>& stop = {});

// The frames' bytes joined, leaving out those equal to `silence`.
std::string AudioOf(const std::vector<station::AudioFrame>& frames, const std::string& silence);

// A one-thread-per-connection HTTP peer. Each accepted connection gets the
// next step of the script (the last step repeats); a step gets the socket
// and the request's path and writes whatever it likes.
class ScriptedUpstream {
public:
    using Step = std::function<void(int fd, const std::string& path, const std::atomic<bool>& stop)>;
    explicit ScriptedUpstream(std::vector<Step> script);
    ~ScriptedUpstream();
    std::string Url(const std::string& path) const;
    int Connections() const { return connections_; }

    // Steps for the usual scripts.
    static Step Answer(std::string statusAndHeaders, std::string body = {});
    // 200 with audio/mpeg, then `mp3` paced at `bytesPerSecond` (after a first
    // second sent at once), looped until `seconds` have gone out; then, with
    // holdOpen, the connection stays open and silent until the test ends.
    static Step Stream(std::string mp3, int bytesPerSecond, double seconds, bool holdOpen = false);

private:
    void Serve();

    int listener_ = -1;
    unsigned short port_ = 0;
    std::vector<Step> script_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<std::thread> workers_;
};

} // namespace sourcetest
