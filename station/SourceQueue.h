// SPDX-License-Identifier: GPL-3.0-or-later
// The hand-over between a source's reader thread and the broadcast clock on
// the station's Asio thread. The reader pushes finished frames and blocks
// while the queue holds its capacity, which paces files to the clock; the
// clock pops without ever waiting and gets a silent frame whenever the queue
// is dry, and after running dry until a little audio has gathered again, so
// a jittery upstream costs one gap instead of many. One mutex guards the
// frames and the title; Close() wakes the reader for good.
#pragma once

#include "AudioSource.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

namespace station {

class SourceQueue {
public:
    SourceQueue(double capacitySeconds, double prebufferSeconds, AudioFrame silence);

    // Reader side. Both return false once the queue is closed.
    bool Push(AudioFrame frame);
    bool Sleep(std::chrono::milliseconds duration);
    void SetTitle(const std::string& title);
    // True once the source is going away: the reader's cue to stop.
    bool Closed() const;

    // Clock side.
    AudioFrame Pop();
    std::string Title() const;
    void Close();

private:
    const double capacity_;
    const double prebuffer_;
    const AudioFrame silence_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<AudioFrame> frames_;
    double seconds_ = 0;
    bool dry_ = true;
    bool closed_ = false;
    std::string title_;
};

} // namespace station
