// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/WSockBuf.h"

#include <algorithm>
#include <cstring>

namespace net {

namespace {
constexpr int kDefaultCapacity = 1514;
}

TBuffer::TBuffer(int capacity) : Storage(capacity > 0 ? capacity : kDefaultCapacity) {}

int TBuffer::AppendData(const void* data, int len)
{
    const int count = std::clamp(len, 0, Capacity() - Filled);
    if (count > 0) {
        std::memcpy(Storage.data() + Filled, data, static_cast<size_t>(count));
        Filled += count;
    }
    return count;
}

const char* TBuffer::PeekData(int& len) const
{
    len = Filled - Consumed;
    return len > 0 ? Storage.data() + Consumed : nullptr;
}

int TBuffer::RemoveData(int len)
{
    const int count = std::clamp(len, 0, Filled - Consumed);
    Consumed += count;
    if (Consumed == Filled)
        Filled = Consumed = 0;
    return count;
}

void TBuffer::Resize(int newCapacity)
{
    // Shrinking below what was written keeps only what still fits.
    const int capacity = newCapacity > 0 ? newCapacity : kDefaultCapacity;
    Storage.resize(static_cast<size_t>(capacity));
    Filled = std::min(Filled, capacity);
    Consumed = std::min(Consumed, Filled);
}

} // namespace net
