// SPDX-License-Identifier: GPL-3.0-or-later
#include "SourceQueue.h"

namespace station {

SourceQueue::SourceQueue(double capacitySeconds, double prebufferSeconds, AudioFrame silence)
    : capacity_(capacitySeconds)
    , prebuffer_(prebufferSeconds)
    , silence_(std::move(silence))
{
}

bool SourceQueue::Push(AudioFrame frame)
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return closed_ || seconds_ < capacity_; });
    if (closed_)
        return false;
    seconds_ += frame.seconds;
    frames_.push_back(std::move(frame));
    return true;
}

bool SourceQueue::Sleep(std::chrono::milliseconds duration)
{
    std::unique_lock lock(mutex_);
    return !changed_.wait_for(lock, duration, [&] { return closed_; });
}

void SourceQueue::SetTitle(const std::string& title)
{
    std::lock_guard lock(mutex_);
    title_ = title;
}

bool SourceQueue::Closed() const
{
    std::lock_guard lock(mutex_);
    return closed_;
}

AudioFrame SourceQueue::Pop()
{
    std::lock_guard lock(mutex_);
    if (dry_ && seconds_ < prebuffer_)
        return silence_;
    if (frames_.empty()) {
        dry_ = true;
        return silence_;
    }
    dry_ = false;
    AudioFrame frame = std::move(frames_.front());
    frames_.pop_front();
    seconds_ -= frame.seconds;
    if (frames_.empty())
        seconds_ = 0; // no drift from summing and subtracting durations
    changed_.notify_all();
    return frame;
}

std::string SourceQueue::Title() const
{
    std::lock_guard lock(mutex_);
    return title_;
}

void SourceQueue::Close()
{
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
}

} // namespace station
