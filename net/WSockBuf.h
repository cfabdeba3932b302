// SPDX-License-Identifier: GPL-3.0-or-later
// TBuffer: one fixed-size block of a socket's send queue.
//
// A block is filled at its end and drained from its front; once everything
// written has been taken out it starts over empty, so a lone block in a queue
// can be reused without reallocating. Used on the GUI thread only.
#pragma once

#include <vector>

namespace net {

class TBuffer {
public:
    // A capacity of 0 or less gives the default block size of 1514 bytes.
    explicit TBuffer(int capacity);

    int Capacity() const { return static_cast<int>(Storage.size()); }

    // Copies as much of Data as still fits; returns the count (0 when full).
    int AppendData(const void* data, int len);
    // The first unread byte and how many follow; nullptr and 0 when empty.
    const char* PeekData(int& len) const;
    // Takes up to len bytes out of the front; returns the count taken.
    int RemoveData(int len);
    // Gives the block a new capacity, keeping what was written.
    void Resize(int newCapacity);

private:
    std::vector<char> Storage;
    int Filled = 0;
    int Consumed = 0;
};

} // namespace net
