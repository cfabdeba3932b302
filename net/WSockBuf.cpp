#include "net/WSockBuf.h"

#include <algorithm>
#include <cstring>

namespace net {

namespace {
constexpr int kDefaultCapacity = 1514;
}

TBuffer::TBuffer(int capacity) : m_storage(capacity > 0 ? capacity : kDefaultCapacity) {}

int TBuffer::AppendData(const void* data, int len)
{
    const int count = std::clamp(len, 0, Capacity() - m_filled);
    if (count > 0) {
        std::memcpy(m_storage.data() + m_filled, data, static_cast<size_t>(count));
        m_filled += count;
    }
    return count;
}

const char* TBuffer::PeekData(int& len) const
{
    len = m_filled - m_consumed;
    return len > 0 ? m_storage.data() + m_consumed : nullptr;
}

int TBuffer::RemoveData(int len)
{
    const int count = std::clamp(len, 0, m_filled - m_consumed);
    m_consumed += count;
    if (m_consumed == m_filled)
        m_filled = m_consumed = 0;
    return count;
}

void TBuffer::Resize(int newCapacity)
{
    // Shrinking below what was written keeps only what still fits.
    const int capacity = newCapacity > 0 ? newCapacity : kDefaultCapacity;
    m_storage.resize(static_cast<size_t>(capacity));
    m_filled = std::min(m_filled, capacity);
    m_consumed = std::min(m_consumed, m_filled);
}

} // namespace net
